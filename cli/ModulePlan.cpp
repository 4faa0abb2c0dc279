#include "cli/ModulePlan.h"
#include "cli/PortFilter.h"

namespace
{
    bool SamePort (const MidiPortInfo& a, const MidiPortInfo& b)
    {
        return a.name == b.name && a.identifier == b.identifier && a.backend == b.backend;
    }

    juce::String Describe (const MidiPortInfo& p)
    {
        return p.identifier.isEmpty() || p.identifier == p.name ? p.name : p.name + " (" + p.identifier + ")";
    }

    std::vector<MidiPortInfo> Selected (const juce::String& text, const std::vector<MidiPortInfo>& ports)
    {
        std::vector<MidiPortInfo> kept;
        for (auto& p : ports)
            if (PortFilter::Selects (text, p))
                kept.push_back (p);
        return kept;
    }

    /** Whether `text` selects the module's input and output alone. */
    bool SelectsAlone (const juce::String& text, const MidiPortList& listing, const ModuleTarget& t)
    {
        const auto inputs = Selected (text, listing.inputs);
        const auto outputs = Selected (text, listing.outputs);
        return inputs.size() == 1 && SamePort (inputs[0], t.input) && outputs.size() == 1 && SamePort (outputs[0], t.output);
    }

    /** Finds the text that selects the module's input and one output alone
        (its own, when the reply named it); false when no text does. */
    bool NameAlone (const MidiPortList& listing, ModuleTarget& t)
    {
        const bool outputKnown = t.output.name.isNotEmpty();
        for (const auto& text : { t.input.identifier, t.output.identifier, t.input.name, t.output.name })
        {
            if (text.isEmpty())
                continue;
            const auto inputs = Selected (text, listing.inputs);
            const auto outputs = Selected (text, listing.outputs);
            if (inputs.size() != 1 || ! SamePort (inputs[0], t.input) || outputs.size() != 1)
                continue;
            if (outputKnown && ! SamePort (outputs[0], t.output))
                continue;
            t.output = outputs[0];
            t.port = text;
            // A card may come back under another number when the module restarts into its loader.
            const auto& location = t.input.location;
            t.processPort = location.isNotEmpty() && SelectsAlone (location, listing, t) ? location : text;
            return true;
        }
        return false;
    }
}

juce::String ModuleTarget::Label() const
{
    if (port.isEmpty() || port == input.name)
        return Describe (input);
    return input.name + " (" + port + ")";
}

std::vector<ModuleTarget> PlanModules (const MidiPortList& listing, const std::vector<PortWatch::Answer>& answers)
{
    std::vector<ModuleTarget> targets;
    for (const auto& a : answers)
    {
        ModuleTarget t;
        t.input = a.input;
        t.output = a.output;
        t.mode = a.mode;
        if (! NameAlone (listing, t))
            t.refusal = "its ports cannot be named apart from others' (--port selects more than its input and output)";
        // The same module answering again (another probe cycle) is one module;
        // a reply in the other mode is another module.
        const auto same = [&t] (const ModuleTarget& o)
        {
            return o.mode == t.mode && SamePort (o.input, t.input) && SamePort (o.output, t.output);
        };
        if (std::none_of (targets.begin(), targets.end(), same))
            targets.push_back (t);
    }

    // Two modules on one port: whatever one process sent, the other module would hear or answer.
    for (size_t i = 0; i < targets.size(); ++i)
        for (size_t j = i + 1; j < targets.size(); ++j)
        {
            auto& a = targets[i];
            auto& b = targets[j];
            const bool input = SamePort (a.input, b.input);
            const bool output = a.output.name.isNotEmpty() && SamePort (a.output, b.output);
            if (! input && ! output)
                continue;
            const auto why = "it shares its " + juce::String (input ? "input " + Describe (a.input) : "output " + Describe (a.output))
                             + " with another module";
            for (auto* t : { &a, &b })
                if (t->refusal.isEmpty())
                    t->refusal = why;
        }
    return targets;
}

juce::String SharedSelection (const juce::StringArray& texts, const MidiPortList& listing)
{
    for (int i = 0; i < texts.size(); ++i)
        for (int j = i + 1; j < texts.size(); ++j)
            for (const auto* side : { &listing.inputs, &listing.outputs })
                for (const auto& p : *side)
                    if (PortFilter::Selects (texts[i], p) && PortFilter::Selects (texts[j], p))
                        return "--port '" + texts[i] + "' and --port '" + texts[j] + "' both select " + Describe (p);
    return {};
}

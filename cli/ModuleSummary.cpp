#include "cli/ModuleSummary.h"
#include <algorithm>
#include <cmath>
#include "cli/ExitStatus.h"
#include "cli/ProgressMeter.h"

namespace
{
    juce::String CodeText (const ModuleResult& r)
    {
        return r.code > 0 ? juce::String (r.code) : juce::String ("-");
    }

    juce::String TimeText (const ModuleResult& r)
    {
        return r.refused ? juce::String ("-") : ProgressMeter::Minutes ((int) (r.seconds + 0.5));
    }
}

int OverallStatus (const std::vector<ModuleResult>& results)
{
    const ModuleResult* first = nullptr;
    for (auto& r : results)
        if (r.status != CliExit::kOk && (first == nullptr || r.endOrder < first->endOrder))
            first = &r;
    return first == nullptr ? CliExit::kOk : first->status;
}

juce::String ResultWord (const ModuleResult& r)
{
    if (r.refused)
        return "refused";
    switch (r.status)
    {
        case CliExit::kOk:          return "completed";
        case CliExit::kDifferent:   return "different";
        case CliExit::kNoModule:    return "no module";
        case CliExit::kInterrupted: return "interrupted";
        default:                    return "failed";
    }
}

juce::String SummarySentence (const std::vector<ModuleResult>& results)
{
    const auto total = (int) results.size();
    const auto holding = (int) std::count_if (results.begin(), results.end(), [] (const ModuleResult& r) { return r.status == CliExit::kOk; });
    if (holding == total)
        return total == 1 ? "The module holds the image." : "All " + juce::String (total) + " modules hold the image.";

    juce::StringArray failed;
    for (auto& r : results)
        if (r.status != CliExit::kOk)
        {
            auto why = r.reason.isNotEmpty() ? r.reason.trimCharactersAtEnd (".") : ResultWord (r);
            if (r.refused)
                why = "refused: " + why;
            failed.add (r.label + " (" + why + ")");
        }
    return juce::String (holding) + " of " + juce::String (total) + " modules hold the image. Failed: "
           + failed.joinIntoString (", ") + ".";
}

juce::StringArray SummaryLines (const std::vector<ModuleResult>& results)
{
    int width = 4;
    for (auto& r : results)
        width = std::max (width, r.label.length());
    const auto row = [width] (const juce::String& port, const juce::String& result, const juce::String& code, const juce::String& time)
    {
        return port.paddedRight (' ', width) + "  " + result.paddedRight (' ', 11) + "  " + code.paddedLeft (' ', 10)
               + "  " + time.paddedLeft (' ', 5);
    };
    juce::StringArray lines;
    lines.add (row ("Port", "Result", "Error code", "Time"));
    for (auto& r : results)
        lines.add (row (r.label, ResultWord (r), CodeText (r), TimeText (r)));
    lines.add (SummarySentence (results));
    return lines;
}

juce::NamedValueSet SummaryFields (const std::vector<ModuleResult>& results)
{
    juce::Array<juce::var> modules;
    for (auto& r : results)
    {
        auto* m = new juce::DynamicObject();
        m->setProperty ("port", r.port);
        m->setProperty ("label", r.label);
        m->setProperty ("result", ResultWord (r));
        m->setProperty ("status", r.status);
        m->setProperty ("code", r.code > 0 ? juce::var (r.code) : juce::var());
        m->setProperty ("seconds", r.refused ? juce::var() : juce::var (std::round (r.seconds * 10.0) / 10.0));
        if (r.reason.isNotEmpty())
            m->setProperty ("reason", r.reason);
        modules.add (juce::var (m));
    }
    juce::NamedValueSet fields;
    fields.set ("status", OverallStatus (results));
    fields.set ("text", SummarySentence (results));
    fields.set ("modules", modules);
    return fields;
}

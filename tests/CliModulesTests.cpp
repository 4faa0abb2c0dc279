// kestrava-cli --all, its logic without processes: which modules the replies
// of a probe stand for and the --port text each process gets, the ports
// refused before anything is sent, the exit status and the summary, and the
// port every event carries; a port followed when its card comes back under
// another number.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <gtest/gtest.h>
#include "cli/EventReplay.h"
#include "cli/ModulePlan.h"
#include "cli/ModuleSummary.h"
#include "cli/PortFilter.h"

namespace
{
    MidiPortInfo Port (const char* name, const char* identifier, const char* location = "")
    {
        return { name, identifier, "rawmidi", location };
    }

    /** Three identical USB-MIDI cards, a synthesizer on a card of its own, and two Windows-like devices
        whose inputs and outputs differ in identifier. */
    MidiPortList Listing()
    {
        MidiPortList l;
        for (auto [id, location] : { std::pair { "hw:1,0,0", "usb1/1-1,0,0" }, { "hw:2,0,0", "usb1/1-2,0,0" },
                                     { "hw:3,0,0", "usb1/1-3,0,0" } })
        {
            l.inputs.push_back (Port ("USB MIDI Interface MIDI 1", id, location));
            l.outputs.push_back (Port ("USB MIDI Interface MIDI 1", id, location));
        }
        l.inputs.push_back (Port ("Synth", "hw:4,0,0"));
        l.outputs.push_back (Port ("Synth", "hw:4,0,0"));
        l.inputs.push_back (Port ("Pod", "in-5"));
        l.outputs.push_back (Port ("Pod", "out-5"));
        l.inputs.push_back (Port ("Pod", "in-6"));
        l.outputs.push_back (Port ("Pod", "out-6"));
        return l;
    }

    PortWatch::Answer Loader (const MidiPortInfo& in, const MidiPortInfo& out) { return { in, out, "loader" }; }
    PortWatch::Answer Application (const MidiPortInfo& in) { return { in, {}, "application" }; }

    std::string Describe (const std::vector<ModuleTarget>& targets)
    {
        juce::String s;
        for (auto& t : targets)
            s << "[" << t.Label() << " -> " << t.port << (t.refusal.isNotEmpty() ? " refused: " + t.refusal : juce::String()) << "] ";
        return s.toStdString();
    }

    /** What a printer with a port printed on its output for a few of a child's events. */
    juce::String Replayed (EventPrinter::Style style, const juce::StringArray& events)
    {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        {
            EventPrinter printer (style, false, false, out, err);
            printer.SetPort ("hw:2,0,0", "USB MIDI Interface MIDI 1 (hw:2,0,0)");
            for (auto& e : events)
                EXPECT_TRUE (ReplayEvent (juce::JSON::parse (e), printer)) << e;
        }
        std::rewind (out);
        juce::MemoryBlock text;
        char buffer[4096];
        for (size_t n; (n = std::fread (buffer, 1, sizeof (buffer), out)) > 0;)
            text.append (buffer, n);
        std::fclose (out);
        std::fclose (err);
        return text.toString();
    }
}

TEST (CliModules, EachModuleGetsTheTextThatSelectsItsPortsAloneAndSharedPortsAreRefused)
{
    const auto l = Listing();
    const auto& in = l.inputs;
    const auto& out = l.outputs;
    struct Case
    {
        const char* what;
        std::vector<PortWatch::Answer> answers;
        const char* expected;   // Describe() of the plan
    };
    const Case cases[] = {
        { "identical cards are named by their identifiers; a second reply of the same module is no second module",
          { Loader (in[0], out[0]), Loader (in[1], out[1]), Application (in[2]), Loader (in[0], out[0]) },
          "[USB MIDI Interface MIDI 1 (hw:1,0,0) -> hw:1,0,0] [USB MIDI Interface MIDI 1 (hw:2,0,0) -> hw:2,0,0] "
          "[USB MIDI Interface MIDI 1 (hw:3,0,0) -> hw:3,0,0] " },
        { "one output reaches two modules (a MIDI thru)", { Loader (in[0], out[0]), Loader (in[3], out[0]) },
          "[USB MIDI Interface MIDI 1 (hw:1,0,0) -> hw:1,0,0 refused: it shares its output USB MIDI Interface MIDI 1 (hw:1,0,0) "
          "with another module] [Synth (hw:4,0,0) ->  refused: its ports cannot be named apart from others' (--port selects more "
          "than its input and output)] " },
        { "two modules answer through one input (a merger)", { Loader (in[3], out[3]), Application (in[3]) },
          "[Synth (hw:4,0,0) -> hw:4,0,0 refused: it shares its input Synth (hw:4,0,0) with another module] "
          "[Synth (hw:4,0,0) -> hw:4,0,0 refused: it shares its input Synth (hw:4,0,0) with another module] " },
        { "no text selects one input and its output alone", { Loader (in[4], out[4]), Application (in[5]) },
          "[Pod (in-5) ->  refused: its ports cannot be named apart from others' (--port selects more than its input and output)] "
          "[Pod (in-6) ->  refused: its ports cannot be named apart from others' (--port selects more than its input and output)] " },
    };
    for (const auto& c : cases)
        EXPECT_EQ (Describe (PlanModules (l, c.answers)), c.expected) << c.what;

    // The plan's texts select exactly the module's two ports in the process that gets them:
    // by their location when they have one (a card comes back under another number).
    for (const auto& t : PlanModules (l, { Loader (in[1], out[1]), Loader (in[3], out[3]) }))
        for (const auto& text : { t.port, t.processPort })
        {
            EXPECT_TRUE (PortFilter::Selects (text, t.input) && PortFilter::Selects (text, t.output));
            EXPECT_FALSE (PortFilter::Selects (text, in[0]) || PortFilter::Selects (text, in[2]));
            EXPECT_EQ (t.processPort, t.input.location.isNotEmpty() ? t.input.location : t.port);
        }
}

TEST (CliModules, APortNamedByItsIdentifierIsFollowedWhereverItsCardComesBack)
{
    // Two identical cards restart; each comes back under the other's number, then a third card takes hw:1.
    struct Renumbering : MidiPortSource
    {
        std::vector<MidiPortList> listings;
        size_t next = 0;
        MidiPortList listPorts() override { return listings[std::min (next++, listings.size() - 1)]; }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo&, MidiInHandler*) override { return nullptr; }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo&) override { return nullptr; }
    };
    const auto card = [] (const char* id, const char* location) { return Port ("USB MIDI Interface MIDI 1", id, location); };
    const auto both = [] (std::vector<MidiPortInfo> ports) { return MidiPortList { ports, ports }; };
    auto source = std::make_shared<Renumbering>();
    source->listings = { both ({ card ("hw:1,0,0", "usb1/1-1,0,0"), card ("hw:2,0,0", "usb1/1-2,0,0"), Port ("Synth", "hw:4,0,0") }),
                         both ({ card ("hw:1,0,0", "usb1/1-2,0,0"), card ("hw:2,0,0", "usb1/1-1,0,0"), Port ("Synth", "hw:4,0,0") }),
                         both ({ card ("hw:1,0,0", "usb1/1-3,0,0"), card ("hw:3,0,0", "usb1/1-1,0,0") }) };
    struct Case { juce::StringArray texts; std::vector<juce::StringArray> identifiers; };
    const Case cases[] = {
        { { "hw:1,0,0" }, { { "hw:2,0,0" }, { "hw:3,0,0" } } },
        { { "usb1/1-2,0,0" }, { { "hw:1,0,0" }, {} } },
        // A port without a location is still taken by its identifier, and names select as they did.
        { { "hw:4,0,0", "SYNTH" }, { { "hw:4,0,0" }, {} } },
    };
    for (const auto& c : cases)
    {
        source->next = 0;
        PortFilter filter (source, c.texts);   // takes the first listing; the later ones follow
        for (const auto& expected : c.identifiers)
        {
            const auto kept = filter.listPorts();
            juce::StringArray ids;
            for (auto& p : kept.inputs)
                ids.add (p.identifier);
            EXPECT_EQ (ids, expected) << c.texts.joinIntoString (" ") << " at listing " << source->next;
        }
    }
}

TEST (CliModules, PortTextsThatSelectACommonPortAreRefusedAndIdentifiersMatchWhole)
{
    const auto l = Listing();
    struct Case { juce::StringArray texts; const char* why; };
    const Case cases[] = {
        { { "hw:1,0,0", "hw:2,0,0", "synth" }, "" },
        { { "USB", "hw:2,0,0" }, "--port 'USB' and --port 'hw:2,0,0' both select USB MIDI Interface MIDI 1 (hw:2,0,0)" },
        { { "SYNTH", "synth" }, "--port 'SYNTH' and --port 'synth' both select Synth (hw:4,0,0)" },
        // An identifier selects only the port it is: hw:1 is no part of hw:1,0,0's identifier rule.
        { { "hw:1", "hw:1,0,0" }, "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (SharedSelection (c.texts, l), c.why) << c.texts.joinIntoString (" ");
    EXPECT_FALSE (PortFilter::Selects ("bus:1", { "Module", "bus:12", "bus" }));
    EXPECT_TRUE (PortFilter::Selects ("odu", { "Module", "bus:12", "bus" }));
}

TEST (CliModules, TheExitStatusIsThatOfTheFirstModuleToFailAndTheSummaryNamesEveryFailure)
{
    const auto result = [] (const char* label, int status, int code, int endOrder, const char* reason = "", bool refused = false)
    {
        ModuleResult r;
        r.label = label;
        r.port = label;
        r.status = status;
        r.code = code;
        r.endOrder = endOrder;
        r.reason = reason;
        r.refused = refused;
        r.seconds = 12.4;
        return r;
    };
    struct Case { const char* what; std::vector<ModuleResult> results; int status; const char* sentence; };
    const Case cases[] = {
        { "every module holds the image", { result ("A", 0, 0, 1), result ("B", 0, 0, 2) }, 0, "All 2 modules hold the image." },
        { "the first to fail, not the first listed",
          { result ("A", 19, 19, 3, "Error Code 19"), result ("B", 0, 0, 1), result ("C", 7, 7, 2, "Error Code 7") }, 7,
          "1 of 3 modules hold the image. Failed: A (Error Code 19), C (Error Code 7)." },
        { "a refused module failed before anything ran",
          { result ("A", 7, 7, 1, "Error Code 7"), result ("B", 70, 0, 0, "it shares its input X with another module", true) }, 70,
          "0 of 2 modules hold the image. Failed: A (Error Code 7), B (refused: it shares its input X with another module)." },
        { "a verify that differs", { result ("A", 1, 0, 1, "The module differs from the image, first at byte 0x10 of the image.") }, 1,
          "0 of 1 modules hold the image. Failed: A (The module differs from the image, first at byte 0x10 of the image)." },
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ (OverallStatus (c.results), c.status) << c.what;
        const auto lines = SummaryLines (c.results);
        EXPECT_EQ (lines[lines.size() - 1], c.sentence) << c.what;
        EXPECT_EQ ((int) SummaryFields (c.results)["status"], c.status) << c.what;
    }

    // One row per module: port, result, error code, time.
    const auto lines = SummaryLines (cases[1].results);
    ASSERT_EQ (lines.size(), 5);
    EXPECT_EQ (lines[0], "Port  Result       Error code   Time");
    EXPECT_EQ (lines[1], "A     failed               19   0:12");
    EXPECT_EQ (lines[2], "B     completed             -   0:12");
}

TEST (CliModules, EveryEventOfAModuleCarriesItsPort)
{
    const juce::StringArray events {
        R"({"event": "phase", "phase": "update"})",
        R"({"event": "step", "index": 0, "count": 2, "kind": "send driver", "file": "/d/QVM410_KV29F064.bin"})",
        R"({"event": "progress", "phase": "update", "activity": "writing", "done": 4096, "total": 8192, "percent": 50})",
        R"({"event": "error", "code": 7, "text": "Error Code 7"})",
        R"({"event": "done", "image": "/i.bin", "status": 7, "result": "failed"})",
    };

    juce::StringArray json;
    json.addLines (Replayed (EventPrinter::Style::Json, events).trimEnd());
    ASSERT_EQ (json.size(), events.size());
    for (int i = 0; i < json.size(); ++i)
    {
        const auto again = juce::JSON::parse (json[i]);
        const auto sent = juce::JSON::parse (events[i]);
        EXPECT_EQ (again["port"].toString(), "hw:2,0,0") << json[i];
        for (const auto& p : sent.getDynamicObject()->getProperties())
            EXPECT_EQ (again[p.name].toString(), p.value.toString()) << json[i];
    }

    const auto lines = Replayed (EventPrinter::Style::Lines, events);
    EXPECT_TRUE (lines.contains ("USB MIDI Interface MIDI 1 (hw:2,0,0): Updating...\n")) << lines;
    EXPECT_TRUE (lines.contains ("USB MIDI Interface MIDI 1 (hw:2,0,0): update: 50% (4.0 KiB of 8.0 KiB)\n")) << lines;
}

#include "cli/EventReplay.h"
#include "jobs/JobRunner.h"

namespace
{
    int StepKindFromName (const juce::String& name)
    {
        for (int kind = kStepSendDriver; kind <= kStepCheck; ++kind)
            if (name == StepKindName (kind))
                return kind;
        return 0;
    }

    int64_t Number (const juce::var& event, const char* field)
    {
        const auto v = event[field];
        return v.isVoid() ? -1 : (int64_t) (juce::int64) v;
    }
}

FlowPhase FlowPhaseFromName (const juce::String& name)
{
    for (int p = (int) FlowPhase::Idle; p <= (int) FlowPhase::Verify; ++p)
        if (name == FlowPhaseName ((FlowPhase) p))
            return (FlowPhase) p;
    return FlowPhase::Idle;
}

bool ReplayEvent (const juce::var& event, EventPrinter& printer)
{
    const auto kind = event["event"].toString();
    const auto text = event["text"].toString();
    if (kind == "connected")
        printer.Connected ((bool) event["fs"]);
    else if (kind == "phase")
        printer.Phase (FlowPhaseFromName (event["phase"].toString()));
    else if (kind == "step")
        printer.Step ((int) event["index"], (int) event["count"], StepKindFromName (event["kind"].toString()),
                      event["file"].toString(), (int) Number (event, "page"), Number (event, "offset"), Number (event, "length"));
    else if (kind == "progress")
        printer.Progress (event["activity"].toString().toRawUTF8(), (int64_t) (juce::int64) event["done"], (int64_t) (juce::int64) event["total"]);
    else if (kind == "pace")
    {
        PaceReport report;
        const auto what = event["what"].toString();
        report.what = what == "slower" ? PaceReport::What::Slower : what == "floor" ? PaceReport::What::Floor
                    : what == "stopped" ? PaceReport::What::Stopped : PaceReport::What::Start;
        report.pace = ParseSysExPace (event["pace"].toString()).value_or (SysExPace {});
        report.port = event["for_port"].toString();
        report.remembered = (bool) event["remembered"];
        report.code = (int) event["code"];
        printer.Pace (report);
    }
    else if (kind == "log")
        printer.Log (text);
    else if (kind == "warning")
        printer.Warning (text);
    else if (kind == "error")
    {
        // The child's explanation is a row of the same table.
        const Trouble* why = nullptr;
        size_t count = 0;
        const auto* rows = AllTroubles (count);
        for (size_t i = 0; i < count && event.hasProperty ("cause"); ++i)
            if (event["cause"].toString() == juce::String::fromUTF8 (rows[i].cause))
                why = &rows[i];
        if (event["cause"].toString() == juce::String::fromUTF8 (LossAtSlowestPace().cause))
            why = &LossAtSlowestPace();
        printer.Error ((int) event["code"], text, why);
    }
    else if (kind == "done")
    {
        juce::NamedValueSet fields;
        if (auto* object = event.getDynamicObject())
            for (const auto& p : object->getProperties())
                if (p.name.toString() != "event" && p.name.toString() != "status" && p.name.toString() != "result"
                    && p.name.toString() != "text" && p.name.toString() != "port")
                    fields.set (p.name, p.value);
        printer.Done ((int) event["status"], event["result"].toString(), text, fields);
    }
    else
        return false;
    return true;
}

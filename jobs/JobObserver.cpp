#include "jobs/JobObserver.h"
#include "jobs/JobRunner.h"

const char* FlowPhaseName (FlowPhase phase)
{
    switch (phase)
    {
        case FlowPhase::Idle:         return "idle";
        case FlowPhase::Loader:       return "loader";
        case FlowPhase::DriverSearch: return "driver search";
        case FlowPhase::DriverFound:  return "driver found";
        case FlowPhase::EraseChip1:   return "erase chip 1";
        case FlowPhase::ProgramChip1: return "program chip 1";
        case FlowPhase::EraseChip2:   return "erase chip 2";
        case FlowPhase::ProgramChip2: return "program chip 2";
        case FlowPhase::Update:       return "update";
        case FlowPhase::Read:         return "read";
        case FlowPhase::Verify:       return "verify";
    }
    return "";
}

const char* StepKindName (int kind)
{
    switch (kind)
    {
        case kStepSendDriver:   return "send driver";
        case kStepCheckFlash:   return "check flash";
        case kStepEraseProgram: return "erase and program";
        case kStepRead:         return "read";
        case kStepCompare:      return "compare";
        case kStepProgramZero:  return "program zeros";
        case kStepProgram:      return "program";
        case kStepErase:        return "erase";
        case kStepCheck:        return "check";
        default:                return "";
    }
}

namespace
{
    juce::String Size (int64_t bytes)
    {
        const auto shortest = [] (double v, const char* unit)
        {
            auto text = juce::String (v, 1);
            if (text.endsWith (".0"))
                text = text.dropLastCharacters (2);
            return text + " " + unit;
        };
        if (bytes >= (1 << 20))
            return shortest ((double) bytes / (1 << 20), "MiB");
        if (bytes >= 1024)
            return shortest ((double) bytes / 1024, "KiB");
        return juce::String (bytes) + " bytes";
    }
}

juce::String OnlyChangedSummary (int64_t inPlaceBytes, int64_t writtenBytes)
{
    return Size (inPlaceBytes) + " of " + Size (inPlaceBytes + writtenBytes) + " already in place, "
         + Size (writtenBytes) + " written.";
}

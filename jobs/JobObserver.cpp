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
        default:                return "";
    }
}

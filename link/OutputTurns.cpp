#include "link/OutputTurns.h"

std::timed_mutex& OutputTurns()
{
    static std::timed_mutex turns;
    return turns;
}

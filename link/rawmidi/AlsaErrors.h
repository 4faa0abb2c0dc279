#pragma once
// alsa-lib's error output, routed through the program: nothing goes to
// standard error. The first failure to reach the sequencer (and the first
// failure of each other kind) is kept, to be written once to the log.
#include <string>

/** Routes alsa-lib's errors to the program's handler (once per process; later calls do nothing). */
void InstallAlsaErrorHandler();

/** Problems that alsa-lib reported and nobody was told of yet, one line each; empty for none. */
std::string TakeAlsaNotice();

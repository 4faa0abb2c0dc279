#pragma once
// Whether the program runs under Wine, for the few places where Wine's
// windowing differs from Windows' in a way the program has to work around.

/** True when the Windows build runs under Wine; false on Windows and on every other system. */
bool RunningUnderWine();

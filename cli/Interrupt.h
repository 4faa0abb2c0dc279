#pragma once
// Ctrl-C and SIGTERM (and Ctrl-Break on Windows): the first asks the program to quit as the window's close
// button does (the device link's timer closes the ports and quits); a second
// one ends the process at once.

/** Catches SIGINT and SIGTERM (and SIGBREAK where there is one); ignores SIGPIPE. */
void InstallInterruptHandler();
/** Whether an interrupt arrived. */
bool WasInterrupted();

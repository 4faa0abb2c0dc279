#pragma once
// Ctrl-C and SIGTERM: the first asks the program to quit as the window's close
// button does (the device link's timer closes the ports and quits); a second
// one ends the process at once.

/** Catches SIGINT and SIGTERM. */
void InstallInterruptHandler();
/** Whether an interrupt arrived. */
bool WasInterrupted();

#pragma once
// Moved: the box and quit seams are the whole program's, not the application's.
// This path stays for code that still includes it (tests outside this repository).
#include "store/shared/ProgramHooks.h"

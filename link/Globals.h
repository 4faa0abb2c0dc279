#pragma once
// Moved: the shared globals are the whole program's, not the link's. This path
// stays for code that still includes it (tests outside this repository).
#include "store/shared/ProgramGlobals.h"

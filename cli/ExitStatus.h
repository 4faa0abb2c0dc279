#pragma once
// The exit statuses of kestrava-cli (CliExit::kOk and the others), defined
// with the table of what can go wrong. A failure the program reports as
// "Error Code N" (N from 2 to 26) exits with N itself.
#include "store/shared/Troubles.h"

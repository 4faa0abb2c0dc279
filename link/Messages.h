#pragma once
// Moved: the notifications are the whole program's, not the link's. This path
// stays for code that still includes it.
#include "store/shared/Notifications.h"

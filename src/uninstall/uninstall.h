#pragma once
#include "platform/win32.h"

// Removes printer, driver, monitor, their keys and the Add/Remove entry.
// is_upgrade TRUE: called by the upgrade guard, no closing messages.
void UninstallPrinter(BOOL is_upgrade);

#pragma once
#include "platform/win32.h"

// The product's entry in Add/Remove Programs.
BOOL WriteUninstallEntry();
BOOL DeleteUninstallEntry();

// The entry of the harness's view programs, built with mingw-w64 (under
// Wine) and over the simulated machine that WINSIM_ROOT names.
#pragma once

#include <cstdio>

#include "platform/win32.h"
#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

// Runs `view`; over the simulated machine with one lock of the machine for
// the whole run (the views don't wait, so each sees one state throughout),
// a machine file that can't be used being one line naming it and exit 2.
inline int RunView(const char* name, int (*view)()) {
#ifdef _WIN32
  (void)name;
  return view();
#else
  try {
    winsim::KeepLockBetweenCalls();
    winsim::Machine::Get();
    return view();
  } catch (const winsim::MachineError& error) {
    fprintf(stderr, "%s: %s\n", name, error.what());
    return 2;
  }
#endif
}

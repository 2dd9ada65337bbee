// The service control manager of the simulated machine, and the spooler's
// service: its state across programs and boots.
#pragma once

#include "platform/sim/core/machine.h"

namespace winsim {

// --- the spooler service (services.cpp; state.ini [spooler]) ------------------

enum class ServiceState { kStopped, kStopPending, kRunning };

// The state of the spooler now. On the NT family it is the service "Spooler":
// as the last stop or start by a program left it, else as machine.ini's
// `spooler` has it at boot; a stop under way ends here once its time has
// passed (machine.ini [spooler] stop_ms), and *stop_left_ms tells how long
// it has still to go. On 9x the spooler is part of the system and always runs.
ServiceState SpoolerState(DWORD* stop_left_ms = nullptr);
// Running or still stopping: the spooler answers calls.
bool SpoolerRunning();
void SetSpoolerRunning(bool running);
// Sleep lets time pass on the machine: a stop under way on the virtual clock
// comes that much nearer its end.
void SpoolerTimePassed(DWORD milliseconds);
// Forgets what programs did to the service, so that machine.ini's state
// holds again (the machine boots).
void ForgetSpoolerState();

}  // namespace winsim

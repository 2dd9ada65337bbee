// The process entry of the POSIX build: the program over the simulated
// machine that WINSIM_ROOT names.
#include <cstdio>

#include "app/outcome.h"
#include "app/setup_app.h"
#include "platform/sim/core/machine.h"
#include "platform/sim/processes/processes.h"
#include "platform/sim/profile/profile_mapping.h"

int main(int argc, char** argv) {
  // The traces end in line feeds: flushing each line keeps them in step with
  // the message boxes on standard error, also when the output is a pipe.
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  try {
    // The program runs alone between its waits: one lock of the machine for
    // each such stretch rather than one per call.
    winsim::KeepLockBetweenCalls();
    winsim::Machine::Get();
    winsim::SetProcessCommandLine(argc, argv);
    winsim::LoadIniFileMappings();
    // The application object lives in the program's library; naming it here
    // also links it in.
    if (AfxGetApp() != &theApp) return outcome::kFailure;
    return SetupProcessEntry();
  } catch (const winsim::MachineError& error) {
    // A machine file that can't be used: one line naming the file and line.
    fprintf(stderr, "setup: %s\n", error.what());
    return 2;
  }
}

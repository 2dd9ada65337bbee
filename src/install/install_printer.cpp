// The install action: phases A to H, strictly in order. A phase that ends
// setup stops the sequence at once; nothing done before is undone.
#include "app/outcome.h"
#include "install/install_context.h"

void InstallPrinter() {
  InstallContext context;
  bool (*const phases[])(InstallContext&) = {
      DetectEnvironment,  // A
      GuardUpgrade,       // B
      StageFiles,         // C
      RegisterMonitor,    // D
      RegisterDriver,     // E
      CreatePrinter,      // F
      ConfigurePrinter,   // G
      CompleteInstallation,  // H
  };
  for (auto phase : phases) {
    if (!phase(context)) return;
  }
  outcome::Set(context.printer_in_place ? outcome::kSuccess : outcome::kFailure);
}

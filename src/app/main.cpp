// The process entry of the Windows build.
#include "app/outcome.h"
#include "app/setup_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The argument text is taken from GetCommandLineA by the framework's own
  // start-up. The application object lives in the program's library; naming
  // it here also links it in.
  if (AfxGetApp() != &theApp) return outcome::kFailure;
  return SetupProcessEntry();
}

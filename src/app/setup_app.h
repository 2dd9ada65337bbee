// The application object of the setup program: it looks at the argument
// text once and runs one action (install, uninstall or a hidden command line).
#pragma once

#include "platform/afx.h"

class SetupApp : public CWinApp {
 public:
  SetupApp() : CWinApp(nullptr) {}  // no name: message boxes are captioned with the executable's name
  ~SetupApp() override = default;
  // Runs the action the argument text asks for; returns FALSE, so the
  // application ends at once.
  BOOL InitInstance() override;
  // The exit code: how the action ended (app/outcome.h).
  int ExitInstance() override;
};

// The one application object.
extern SetupApp theApp;

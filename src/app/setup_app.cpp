#include "app/setup_app.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "app/texts.h"
#include "install/install_context.h"
#include "uninstall/uninstall.h"

SetupApp theApp;

namespace {

// Starts `command_line` as a program of its own: hidden, in a new process
// group, with this process's environment; not awaited.
void RunHidden(const char* command_line);

}  // namespace

BOOL SetupApp::InitInstance() {
  const char* arguments = m_lpCmdLine != nullptr ? m_lpCmdLine : "";
  if (arguments[0] == '\0') {
    InstallPrinter();
    return FALSE;
  }

  // Only the exact text counts: other capitals, quotes or a trailing blank
  // make it a command line to start instead.
  std::string text = arguments;
  if (MbsCmp(text.c_str(), "uninstall") == 0) {
    if (AfxMessageBox(texts::kAskUninstall, MB_YESNO, 0) == IDYES)
      UninstallPrinter(FALSE);
    else
      outcome::Set(outcome::kCancelled);
    return FALSE;
  }

  RunHidden(text.c_str());
  return FALSE;
}

int SetupApp::ExitInstance() { return outcome::Get(); }

namespace {

void RunHidden(const char* command_line) {
  LPCH environment = GetEnvironmentStrings();

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;

  // CreateProcessA may write into its command line, so it gets a copy.
  std::vector<char> writable(command_line, command_line + strlen(command_line) + 1);
  PROCESS_INFORMATION process = {};
  // The result isn't looked at: a command line that can't start goes unreported.
  if (CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, environment,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (environment != nullptr) FreeEnvironmentStringsA(environment);
}

}  // namespace

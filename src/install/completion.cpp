// Phase H: lists the product among the installed programs, opens the readme
// page with the program associated with HTML files (unless the configuration
// file asks for one quiet install), and warns about an outdated editor. When
// the spooler's RPC service was out of reach, the user is told to configure
// the printer by hand and gets the instructions page instead.
#include <cstdio>
#include <cstdlib>

#include "app/names.h"
#include "app/texts.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/editor_check.h"
#include "support/uninstall_entry.h"

namespace {

// The Quiet value as a decimal integer (atoi: anything but a number reads 0).
int ReadQuiet() {
  char quiet[80] = {};
  GetPrivateProfileStringA(names::kConfigSection, names::kConfigKeyQuiet, names::kQuietDefault, quiet,
                           sizeof(quiet), names::kConfigFile);
  return atoi(quiet);
}

}  // namespace

bool CompleteInstallation(InstallContext& context) {
  printf("%s", texts::kTraceCompleting);

  LPCH environment = GetEnvironmentStrings();
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.wShowWindow = SW_SHOWNORMAL;  // dwFlags 0: the system ignores it

  std::string command = names::kReadmeCommand;
  if (context.rpc_inaccessible) {
    AfxMessageBox(texts::kRpcInaccessible, MB_OK, 0);
    // The page ships under another name; a later run finds it renamed already.
    try {
      CFile::Rename(names::kRpcPageShipped, names::kRpcPageOpened);
    } catch (const CFileException&) {
    }
    command = names::kRpcInstructionsCommand;
    // No Add/Remove Programs entry: the printer isn't set up yet.
  } else {
    WriteUninstallEntry();
  }

  // A nonzero Quiet silences this one launch; it is reset below.
  if (ReadQuiet() == 0) {
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, environment, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  WritePrivateProfileStringA(names::kConfigSection, names::kConfigKeyQuiet, names::kQuietDefault, names::kConfigFile);
  if (environment != nullptr) FreeEnvironmentStringsA(environment);

  CheckEditorVersion(4.2f);
  return true;
}

// Phase E: registers "ZENTAQ Printer Driver", the system's PostScript driver
// with the product's description files (and, on NT, its user-interface
// library). On 9x the PostScript driver Pscript.drv must already be in the
// driver directory; without it the user is guided to install it and setup ends.
#include <cstdio>

#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/setup_log.h"

namespace {

// Starts a command line in a new process group without waiting for it.
void Launch(const char* command_line, LPVOID environment, STARTUPINFOA* startup) {
  std::string command = command_line;  // CreateProcessA may write into it
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, environment, nullptr,
                     startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

// The download help page, then, after a pause, the Add Printer wizard.
void GuideToPostScriptDriver(LPVOID environment, STARTUPINFOA* startup) {
  AfxMessageBox(texts::kInstallPostScriptDriver, MB_OK, 0);
  Launch(names::kDownloadCommand, environment, startup);
  Sleep(5000);
  Launch(names::kAddPrinterWizardCommand, environment, startup);
}

}  // namespace

bool RegisterDriver(InstallContext& context) {
  LPCH environment = GetEnvironmentStrings();
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.wShowWindow = SW_SHOWNORMAL;  // dwFlags 0: the system ignores it

  const bool is_9x = context.Is9xBranch();
  const std::string directory = context.driver_directory;
  if (is_9x) {
    CFileStatus status;
    if (!CFile::GetStatus((directory + "\\" + names::kPscriptDrv).c_str(), status)) {
      GuideToPostScriptDriver(environment, &startup);
      if (environment != nullptr) FreeEnvironmentStringsA(environment);
      outcome::Set(outcome::kFailure);
      return false;
    }
  }
  if (environment != nullptr) FreeEnvironmentStringsA(environment);

  printf("%s", texts::kTraceAddingDriver);

  // The record points into these strings until AddPrinterDriverA returns.
  std::string name = names::kDriver;
  std::string env;
  std::string driver_path;
  std::string data_file;
  std::string config_file;
  std::string help_file;
  std::string data_type = names::kDefaultDataType;
  std::string dependent_files;
  DRIVER_INFO_3A info = {};
  info.cVersion = 2;
  if (!is_9x) {
    env = names::kEnvironmentNt;
    driver_path = directory + names::kDriverPathNt;
    config_file = directory + names::kConfigFileNt;
    data_file = directory + names::kDataFileNt;
    help_file = directory + names::kHelpFileNt;
    info.pDependentFiles = nullptr;
  } else {
    // The 9x spooler takes bare names and finds them in the driver directory.
    env = names::kEnvironment9x;
    driver_path = names::kPscriptDrv;
    printf(texts::kTraceDriverDirectory, directory.c_str());
    Sleep(1000);
    config_file = names::kPscriptDrv;
    data_file = names::kDriverDataFile9x;
    help_file = names::kPscriptHelp;
    // The multi-string with its final NUL (the literal's own terminator).
    dependent_files.assign(names::kDependentFiles9x, sizeof(names::kDependentFiles9x));
    info.pDependentFiles = &dependent_files[0];
  }
  info.pEnvironment = &env[0];
  info.pDriverPath = &driver_path[0];
  info.pDataFile = &data_file[0];
  info.pConfigFile = &config_file[0];
  info.pHelpFile = &help_file[0];
  info.pName = &name[0];
  info.pDefaultDataType = &data_type[0];
  info.pMonitorName = nullptr;
  context.rpc_inaccessible = FALSE;

  if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info))) {
    DWORD code = GetLastError();
    WriteSetupLog(TextWithCode(texts::kLogAddPrinterDriver, code));
    // The spooler's RPC service is out of reach: completion tells the user
    // to configure the printer by hand.
    if (code == RPC_S_SERVER_UNAVAILABLE) context.rpc_inaccessible = TRUE;
    Sleep(1000);
  }
  return true;
}

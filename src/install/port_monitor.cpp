// Phase D: registers the port monitor with the spooler and writes the record
// of its port "ZENTAQPORT". The monitor library reads the record to learn
// which program runs each print job: Ghostscript's console program from the
// product's folder, with the pdfwrite response file, reading the job from
// standard input.
#include <cstdio>

#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/setup_log.h"

namespace {

// Strings are single-byte text whose length counts the terminating NUL.
void SetString(HKEY key, const char* name, const std::string& data) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD* variable, DWORD data) {
  *variable = data;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(variable), sizeof(*variable));
}

// The twelve values, in this order.
void WritePortValues(HKEY port, const std::string& module_folder) {
  DWORD number = 0;
  SetString(port, names::kPortArguments, "@" + module_folder + names::kArgumentsTail);
  SetString(port, names::kPortCommand, module_folder + names::kCommandSuffix);
  SetDword(port, names::kPortDelay, &number, 300);
  SetString(port, names::kPortDescriptionValue, names::kPortDescription);
  SetDword(port, names::kPortLogFileDebug, &number, 0);
  SetString(port, names::kPortLogFileName, "");
  SetDword(port, names::kPortLogFileUse, &number, 0);
  SetDword(port, names::kPortOutput, &number, 1);
  SetString(port, names::kPortPrinter, names::kPrinter);
  SetDword(port, names::kPortPrintError, &number, 0);
  SetDword(port, names::kPortRunUser, &number, 0);
  SetDword(port, names::kPortShowWindow, &number, SW_SHOWMINIMIZED);
}

// A key that can't be opened or created skips the rest of the record silently.
void WritePortRecord(const std::string& module_folder) {
  HKEY monitor = OpenOrCreateMachineKey(names::kMonitorKey);
  if (monitor == nullptr) return;
  HKEY ports = nullptr;
  if (RegCreateKeyA(monitor, names::kPortsSubkey, &ports) != ERROR_SUCCESS) {
    RegCloseKey(monitor);
    return;
  }
  HKEY port = nullptr;
  if (RegCreateKeyA(ports, names::kPort, &port) != ERROR_SUCCESS) {
    RegCloseKey(ports);
    RegCloseKey(monitor);
    return;
  }
  WritePortValues(port, module_folder);
  RegCloseKey(port);
  RegCloseKey(ports);
  RegCloseKey(monitor);
}

}  // namespace

bool RegisterMonitor(InstallContext& context) {
  const bool is_9x = context.Is9xBranch();
  if (!is_9x) {
    // The NT spooler needs a moment after the files land before it takes a monitor.
    printf("%s", texts::kTraceInitializingSpooler);
    Sleep(3000);
  }

  std::string name = names::kMonitor;
  std::string environment = is_9x ? names::kEnvironment9x : names::kEnvironmentNt;
  std::string library = context.monitor_library;
  MONITOR_INFO_2A info = {};
  info.pName = &name[0];
  info.pEnvironment = &environment[0];
  info.pDLLName = &library[0];
  if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
    DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED) {
      AfxMessageBox(texts::kNoAdminRights, MB_OK, 0);
      outcome::Set(outcome::kFailure);
      return false;
    }
    // 3006 (already installed) lands here too; the port record is still written.
    WriteSetupLog(TextWithCode(texts::kLogAddMonitor, code));
    Sleep(1000);
  }
  Sleep(1000);

  WritePortRecord(context.module_folder);
  return true;
}

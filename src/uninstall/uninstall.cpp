// The uninstall sequence: printer, driver and monitor through the spooler,
// their registry keys, and the Add/Remove Programs entry. No file is deleted.
// Every step is tried whatever the earlier ones gave.
//
// On 9x the spooler keeps the monitor library loaded until the next boot, so
// an uninstall takes two runs: the first asks for a reboot and keeps the
// Add/Remove entry, the next one (after the reboot) finishes. The key
// "Uninstall" of the configuration file tells the runs apart: the install
// empties it, each uninstall run writes "1".
#include "uninstall/uninstall.h"

#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/setup_log.h"
#include "support/spooler_restart.h"
#include "support/uninstall_entry.h"

namespace {

// Logs a call's error code, taken right after the call (before any log write
// could change the thread's last error); a code of 0 is not logged.
void LogCode(const char* format, DWORD code) {
  if (code != 0) WriteSetupLog(TextWithCode(format, code));
}

void DeletePrinterZentaq() {
  PRINTER_DEFAULTSA defaults = {};
  defaults.pDatatype = nullptr;
  defaults.pDevMode = nullptr;
  defaults.DesiredAccess = PRINTER_ALL_ACCESS;
  HANDLE printer = nullptr;
  if (!OpenPrinterA(const_cast<LPSTR>(names::kPrinter), &printer, &defaults)) return;
  SetLastError(ERROR_SUCCESS);
  DeletePrinter(printer);
  DWORD code = GetLastError();
  LogCode(texts::kLogStartRpc, code);
  ClosePrinter(printer);
}

// The 9x driver key with its subkeys.
void DeleteDriverKey9x() {
  SetLastError(ERROR_SUCCESS);
  HKEY drivers = OpenMachineKey(names::kDrivers9xKey);
  DWORD code = GetLastError();
  if (drivers != nullptr) {
    SetLastError(ERROR_SUCCESS);
    DWORD result = SHDeleteKeyA(drivers, names::kDriver);
    code = GetLastError();
    RegCloseKey(drivers);
    // Written whatever the result, 0 included.
    WriteSetupLog(TextWithCode(texts::kLogRegDeleteWin40, result));
  }
  LogCode(texts::kLogRegDelete40Driver, code);
}

// Steps of the 9x branch after the common removals. Returns the exit status
// of an interactive run.
outcome::Status Finish9x(BOOL is_upgrade) {
  DeleteDriverKey9x();

  char done[512] = {};
  GetPrivateProfileStringA(names::kConfigSection, names::kConfigKeyUninstall, "", done, sizeof(done),
                           names::kConfigFile);
  outcome::Status status = outcome::kSuccess;
  if (!is_upgrade) {
    if (MbsCmp(done, "") == 0) {
      // First run since the install: the library is still loaded.
      AfxMessageBox(texts::kUninstallReboot, MB_OK, 0);
      status = outcome::kRebootRequired;
    } else {
      AfxMessageBox(texts::kUninstallFinal, MB_OK, 0);
      DeleteUninstallEntry();
    }
  }
  WritePrivateProfileStringA(names::kConfigSection, names::kConfigKeyUninstall, names::kUninstallDone,
                             names::kConfigFile);
  return status;
}

void FinishNt(BOOL is_upgrade) {
  DeleteSubkey(names::kDriversNtKey, names::kDriver);
  RestartSpooler();
  if (!is_upgrade) AfxMessageBox(texts::kUninstallFinal, MB_OK, 0);
  DeleteUninstallEntry();
}

}  // namespace

void UninstallPrinter(BOOL is_upgrade) {
  DeletePrinterZentaq();

  BOOL is_winnt = FALSE;
  BOOL is_win4 = FALSE;
  ReadPlatformFlags(&is_winnt, &is_win4);
  const bool is_9x = !is_winnt && is_win4;
  std::string environment = is_9x ? names::kEnvironment9x : names::kEnvironmentNt;
  std::string driver = names::kDriver;
  std::string monitor = names::kMonitor;

  // The NT spooler lets go of the driver's files only after a restart.
  if (!is_9x) RestartSpooler();

  SetLastError(ERROR_SUCCESS);
  DeletePrinterDriverA(nullptr, &environment[0], &driver[0]);
  LogCode(texts::kLogDeletePrinterDriver, GetLastError());

  SetLastError(ERROR_SUCCESS);
  DeleteMonitorA(nullptr, &environment[0], &monitor[0]);
  LogCode(texts::kLogDeleteMonitor, GetLastError());

  DeleteSubkey(names::kPrintersKey, names::kPrinter);
  DeleteSubkey(names::kMonitorsKey, names::kMonitor);

  outcome::Status status = outcome::kSuccess;
  if (is_9x) {
    status = Finish9x(is_upgrade);
  } else {
    FinishNt(is_upgrade);
  }
  // The upgrade guard's call is part of an install, which sets its own status.
  if (!is_upgrade) outcome::Set(status);
}

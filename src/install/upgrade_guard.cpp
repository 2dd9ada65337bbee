// Phase B: the monitor library of an earlier installation. A library that
// can be deleted is deleted. One that can't is held by the spooler, which
// loads a registered monitor's library: on 9x an old release of another size
// is cleared away and the user must reboot; on NT a quiet uninstall makes the
// spooler let go of it, and only a library still held then needs a reboot.
#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "platform/afx.h"
#include "support/setup_log.h"
#include "uninstall/uninstall.h"

namespace {

// A held, read-only or protected file stays where it is.
void RemoveQuietly(const std::string& path) {
  try {
    CFile::Remove(path.c_str());
  } catch (const CFileException&) {
  }
}

// Printer, monitor and the three registry keys of an old 9x installation.
void ClearOld9xInstallation() {
  HANDLE printer = nullptr;
  if (OpenPrinterA(const_cast<LPSTR>(names::kPrinter), &printer, nullptr)) {
    if (!DeletePrinter(printer)) AfxMessageBox(texts::kUpgradeDeletePrinter, MB_OK, 0);
    ClosePrinter(printer);
  }
  DeleteMonitorA(nullptr, const_cast<LPSTR>(names::kEnvironment9x), const_cast<LPSTR>(names::kMonitor));
  DeleteSubkey(names::kPrintersKey, names::kPrinter);
  DeleteSubkey(names::kMonitorsKey, names::kMonitor);
  LONG result = 0;
  if (DeleteSubkey(names::kDrivers9xKey, names::kDriver, &result))
    WriteSetupLog(TextWithCode(texts::kLogRegDeleteWin40, static_cast<unsigned long>(result)));
}

bool Guard9x(const std::string& installed, const std::string& staged) {
  RemoveQuietly(installed);
  CFileStatus status;
  if (!CFile::GetStatus(installed.c_str(), status)) return true;
  LONG installed_size = status.m_size;
  // A staged library that can't be examined counts as one of the same size.
  LONG staged_size = installed_size;
  CFileStatus staged_status;
  if (CFile::GetStatus(staged.c_str(), staged_status)) staged_size = staged_status.m_size;
  // Same release: phase C tries to overwrite the held library and logs its failure.
  if (installed_size == staged_size) return true;

  ClearOld9xInstallation();
  AfxMessageBox(texts::kUpgradeReboot9x, MB_OK, 0);
  outcome::Set(outcome::kRebootRequired);
  return false;
}

// Registry records of an earlier installation, cleared on every NT install.
void ClearOldNtRecords() {
  HKEY printers = OpenMachineKey(names::kPrintersKey);
  if (printers != nullptr) {
    RegDeleteKeyA(printers, names::kPrinter);
    RegDeleteKeyA(printers, names::kPrinterSecondKey);
    RegCloseKey(printers);
  }
  DeleteSubkey(names::kMonitorsKey, names::kMonitor);
  DeleteSubkey(names::kDriversNtKey, names::kDriver);
}

bool GuardNt(const std::string& installed) {
  RemoveQuietly(installed);
  CFileStatus status;
  if (CFile::GetStatus(installed.c_str(), status)) {
    // Held: removing printer, driver and monitor and restarting the spooler
    // makes it release the library.
    UninstallPrinter(TRUE);
    RemoveQuietly(installed);
    if (CFile::GetStatus(installed.c_str(), status)) {
      AfxMessageBox(texts::kUpgradeRebootNt, MB_OK, 0);
      outcome::Set(outcome::kRebootRequired);
      return false;
    }
  }
  ClearOldNtRecords();
  return true;
}

}  // namespace

bool GuardUpgrade(InstallContext& context) {
  std::string installed = context.system_directory + context.monitor_library;
  if (context.Is9xBranch()) return Guard9x(installed, context.StagingFolder() + context.monitor_library);
  return GuardNt(installed);
}

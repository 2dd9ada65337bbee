// The fault matrix of the interactive uninstall on XP and on 98, each right
// after an install, the question answered Yes. How to read the rows:
// fault_matrix.h.
//
// What the rows hold, by the uninstall's failure rules: no failure stops the
// sequence or shows a message of its own. The spooler calls' failures are
// logged with their codes ("startrpc", "DeletePrinterDriver", "DeleteMonitor");
// a printer that can't be opened or deleted keeps its driver (3001) and its
// port's monitor (3008). A spooler that can't be started again makes the
// later spooler calls fail with 1722; a status that can't be asked ends the
// restart's waits at once. Registry and profile failures are silent. A
// failing message box gives no Yes: nothing is done (1602).
#include "fault_matrix.h"

namespace matrix {

const std::vector<Row>& UninstallRows() {
  static const std::vector<Row> rows = {
      {"uninstall-xp", "-", "", kOk, "-", "ask,final", ""},
      {"uninstall-xp", "GetModuleHandleA", "126@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "GetModuleHandleA", "126", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "GetModuleFileNameA", "8@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "GetModuleFileNameA", "8", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "MessageBoxA", "8@1", kCancelled, "-", "", "="},
      {"uninstall-xp", "MessageBoxA", "8", kCancelled, "-", "", "="},
      {"uninstall-xp", "OpenPrinterA", "1722@1", kOk, "-", "ask,final",
          "DeletePrinterDriver: 3001|DeleteMonitor: 3008"},
      {"uninstall-xp", "OpenPrinterA", "1722", kOk, "-", "ask,final",
          "DeletePrinterDriver: 3001|DeleteMonitor: 3008"},
      {"uninstall-xp", "DeletePrinter", "1722@1", kOk, "-", "ask,final",
          "startrpc: 1722|DeletePrinterDriver: 3001|DeleteMonitor: 3008"},
      {"uninstall-xp", "DeletePrinter", "1722", kOk, "-", "ask,final",
          "startrpc: 1722|DeletePrinterDriver: 3001|DeleteMonitor: 3008"},
      {"uninstall-xp", "ClosePrinter", "6@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "ClosePrinter", "6", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "OpenSCManagerA", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "OpenSCManagerA", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "OpenServiceA", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "OpenServiceA", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "ControlService", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "ControlService", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "StartServiceA", "5@1", kOk, "-", "ask,final",
          "DeletePrinterDriver: 1722|DeleteMonitor: 1722"},
      {"uninstall-xp", "StartServiceA", "5", kOk, "-", "ask,final", "DeletePrinterDriver: 1722|DeleteMonitor: 1722"},
      {"uninstall-xp", "QueryServiceStatus", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "QueryServiceStatus", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "CloseServiceHandle", "6@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "CloseServiceHandle", "6", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "DeletePrinterDriverA", "1722@1", kOk, "-", "ask,final", "DeletePrinterDriver: 1722"},
      {"uninstall-xp", "DeletePrinterDriverA", "1722", kOk, "-", "ask,final", "DeletePrinterDriver: 1722"},
      {"uninstall-xp", "DeleteMonitorA", "1722@1", kOk, "-", "ask,final", "DeleteMonitor: 1722"},
      {"uninstall-xp", "DeleteMonitorA", "1722", kOk, "-", "ask,final", "DeleteMonitor: 1722"},
      {"uninstall-xp", "RegOpenKeyExA", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "RegOpenKeyExA", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "RegDeleteKeyA", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "RegDeleteKeyA", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "RegCloseKey", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "RegCloseKey", "5", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "SHChangeNotify", "5@1", kOk, "-", "ask,final", "="},
      {"uninstall-xp", "SHChangeNotify", "5", kOk, "-", "ask,final", "="},

      {"uninstall-98", "-", "", kReboot, "-", "ask,reboot", "RegDeleteKey Windows 4.0 return: 2"},
      {"uninstall-98", "GetModuleHandleA", "126@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "GetModuleHandleA", "126", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "GetModuleFileNameA", "8@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "GetModuleFileNameA", "8", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "MessageBoxA", "8@1", kCancelled, "-", "", ""},
      {"uninstall-98", "MessageBoxA", "8", kCancelled, "-", "", ""},
      {"uninstall-98", "OpenPrinterA", "1722@1", kReboot, "-", "ask,reboot",
          "DeletePrinterDriver: 3001|DeleteMonitor: 3008|RegDeleteKey Windows 4.0 return: 0"},
      {"uninstall-98", "OpenPrinterA", "1722", kReboot, "-", "ask,reboot",
          "DeletePrinterDriver: 3001|DeleteMonitor: 3008|RegDeleteKey Windows 4.0 return: 0"},
      {"uninstall-98", "DeletePrinter", "1722@1", kReboot, "-", "ask,reboot",
          "startrpc: 1722|DeletePrinterDriver: 3001|DeleteMonitor: 3008|RegDeleteKey Windows 4.0 return: 0"},
      {"uninstall-98", "DeletePrinter", "1722", kReboot, "-", "ask,reboot",
          "startrpc: 1722|DeletePrinterDriver: 3001|DeleteMonitor: 3008|RegDeleteKey Windows 4.0 return: 0"},
      {"uninstall-98", "ClosePrinter", "6@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "ClosePrinter", "6", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "DeletePrinterDriverA", "1722@1", kReboot, "-", "ask,reboot",
          "DeletePrinterDriver: 1722|RegDeleteKey Windows 4.0 return: 0"},
      {"uninstall-98", "DeletePrinterDriverA", "1722", kReboot, "-", "ask,reboot",
          "DeletePrinterDriver: 1722|RegDeleteKey Windows 4.0 return: 0"},
      {"uninstall-98", "DeleteMonitorA", "1722@1", kReboot, "-", "ask,reboot",
          "DeleteMonitor: 1722|RegDeleteKey Windows 4.0 return: 2"},
      {"uninstall-98", "DeleteMonitorA", "1722", kReboot, "-", "ask,reboot",
          "DeleteMonitor: 1722|RegDeleteKey Windows 4.0 return: 2"},
      {"uninstall-98", "RegOpenKeyExA", "5@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "RegOpenKeyExA", "5", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "RegDeleteKeyA", "5@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "RegDeleteKeyA", "5", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "RegCloseKey", "5@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "RegCloseKey", "5", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "SHDeleteKeyA", "5@1", kReboot, "-", "ask,reboot", "RegDeleteKey Windows 4.0 return: 5"},
      {"uninstall-98", "SHDeleteKeyA", "5", kReboot, "-", "ask,reboot", "RegDeleteKey Windows 4.0 return: 5"},
      {"uninstall-98", "CreateFileA", "5@1", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "CreateFileA", "5", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "SetFilePointer", "5@1", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "SetFilePointer", "5", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "WriteFile", "112@1", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "WriteFile", "112", kReboot, "-", "ask,reboot", ""},
      {"uninstall-98", "CloseHandle", "6@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "CloseHandle", "6", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "GetPrivateProfileStringA", "5@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "GetPrivateProfileStringA", "5", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "WritePrivateProfileStringA", "5@1", kReboot, "-", "ask,reboot", "="},
      {"uninstall-98", "WritePrivateProfileStringA", "5", kReboot, "-", "ask,reboot", "="},
  };
  return rows;
}

}  // namespace matrix

// Phase F: adds the local printer "ZENTAQ" on the port "ZENTAQPORT" with the
// driver "ZENTAQ Printer Driver" and the standard print processor. Its
// default settings reach it through the registry in phase G, not here.
#include <cstdio>

#include "app/names.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "support/setup_log.h"

namespace {

// A trace only: whether the product's port heads the spooler's list.
void TracePorts() {
  printf("%s", texts::kTraceEnumeratingPorts);
  alignas(void*) BYTE ports[4096];
  DWORD needed = 0;
  DWORD count = 0;
  if (!EnumPortsA(nullptr, 2, ports, sizeof(ports), &needed, &count)) {
    printf("%s", texts::kTraceEnumPortsFailed);
    return;
  }
  const PORT_INFO_2A* first = reinterpret_cast<const PORT_INFO_2A*>(ports);
  if (count > 0 && first->pPortName != nullptr && MbsCmp(first->pPortName, names::kPort) == 0)
    printf("%s", texts::kTracePortFound);
}

}  // namespace

bool CreatePrinter(InstallContext& context) {
  std::string printer_name = names::kPrinter;
  std::string port = names::kPort;
  std::string driver = names::kDriver;
  std::string processor = names::kPrintProcessor;
  PRINTER_INFO_2A info = {};
  info.pPrinterName = &printer_name[0];
  info.pPortName = &port[0];
  info.pDriverName = &driver[0];
  info.pPrintProcessor = &processor[0];
  info.Attributes = context.Is9xBranch() ? PRINTER_ATTRIBUTE_LOCAL : 0;

  TracePorts();

  printf("%s", texts::kTraceAddingPrinter);
  HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  if (printer == nullptr) {
    DWORD code = GetLastError();
    WriteSetupLog(TextWithCode(texts::kLogAddPrinter, code));
    // An earlier run added it: the printer is there all the same.
    context.printer_in_place = code == ERROR_PRINTER_ALREADY_EXISTS ? TRUE : FALSE;
    return true;
  }
  context.printer_in_place = TRUE;
  printf("%s", texts::kTraceClosingPrinter);
  if (!ClosePrinter(printer)) printf(texts::kTraceClosePrinterFailed, static_cast<unsigned long>(GetLastError()));
  return true;
}

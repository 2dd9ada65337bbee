// Printers of the simulated spooler: AddPrinterA, OpenPrinterA,
// DeletePrinter, ClosePrinter.
//
// A printer is the key Printers\<name> with the values Windows keeps there
// (Name, Port, Printer Driver, Print Processor, Datatype, Attributes, ...);
// the installer writes its printer data under that key too. A printer
// handle names the printer and carries the access granted when it was opened.
#include "platform/sim/spooler/spooler.h"
#include "platform/sim/services/services.h"

namespace winsim {
namespace spool {
namespace {

constexpr DWORD kPrinterAccessUse = 0x8;  // PRINTER_ACCESS_USE

struct PrinterHandle : Object {
  std::string name;
  DWORD access = 0;
};

// Printer names become key names and are listed comma-separated in places:
// Windows refuses backslashes and commas in them.
bool IsPrinterName(const char* name) {
  return IsKeyName(name) && std::string(name).find(',') == std::string::npos;
}

// A printer is a key that holds the spooler's record of it. A key that only
// holds printer data (written straight into the registry by an installer
// after AddPrinterA failed) is no printer: the spooler knows its printers by
// their records, and adding the printer then takes the key over.
bool IsPrinterRecord(const RegKey* printers, const std::string& name) {
  const RegKey* key = printers ? printers->Child(name) : nullptr;
  return key != nullptr && key->Value("Printer Driver") != nullptr;
}

HANDLE NewPrinterHandle(const std::string& name, DWORD access) {
  auto handle = std::make_unique<PrinterHandle>();
  handle->name = name;
  handle->access = access;
  return NewHandle(std::move(handle));
}

DWORD AddPrinter(DWORD level, LPBYTE info, HANDLE* printer) {
  if (level != 2) return ERROR_INVALID_LEVEL;
  if (!info) return ERROR_INVALID_PARAMETER;
  DWORD error = NeedAdmin();
  if (error) return error;
  const PRINTER_INFO_2A* p = reinterpret_cast<const PRINTER_INFO_2A*>(info);
  if (!IsPrinterName(p->pPrinterName)) return ERROR_INVALID_PRINTER_NAME;
  std::string name = p->pPrinterName;

  ChangeHive([&](Hive& hive) {
    const RegKey* printers = hive.Find(kPrintersKey);
    const RegKey* drivers = hive.Find(DriversKey());
    std::vector<std::string> ports = SplitPortList(p->pPortName ? p->pPortName : "");
    if (IsPrinterRecord(printers, name)) {
      error = ERROR_PRINTER_ALREADY_EXISTS;
    } else if (!p->pDriverName || !drivers || !drivers->Child(p->pDriverName)) {
      error = ERROR_UNKNOWN_PRINTER_DRIVER;
    } else if (ports.empty()) {
      error = ERROR_UNKNOWN_PORT;
    } else if (!p->pPrintProcessor || !EqualNoCase(p->pPrintProcessor, kPrintProcessor)) {
      error = ERROR_UNKNOWN_PRINTPROCESSOR;
    }
    for (const std::string& port : ports)
      if (!error && MonitorOfPort(hive, port).empty()) error = ERROR_UNKNOWN_PORT;
    if (error) return false;
    RegKey* key = hive.Create(std::string(kPrintersKey) + "\\" + name);
    SetText(key, "Name", name);
    SetTextOrEmpty(key, "Share Name", p->pShareName);
    SetText(key, "Port", p->pPortName);
    SetText(key, "Printer Driver", p->pDriverName);
    SetTextOrEmpty(key, "Description", p->pComment);
    SetTextOrEmpty(key, "Location", p->pLocation);
    SetText(key, "Print Processor", p->pPrintProcessor);
    // winprint's default data type.
    SetText(key, "Datatype", p->pDatatype && *p->pDatatype ? p->pDatatype : "RAW");
    SetTextOrEmpty(key, "Parameters", p->pParameters);
    SetTextOrEmpty(key, "Separator File", p->pSepFile);
    SetDword(key, "Attributes", p->Attributes);
    SetDword(key, "Priority", p->Priority);
    SetDword(key, "Default Priority", p->DefaultPriority);
    SetDword(key, "StartTime", p->StartTime);
    SetDword(key, "UntilTime", p->UntilTime);
    SetDword(key, "Status", 0);
    return true;
  });
  // The creator gets a handle with full access.
  if (!error) *printer = NewPrinterHandle(name, PRINTER_ALL_ACCESS);
  return error;
}

DWORD OpenPrinter(const char* name, HANDLE* printer, const PRINTER_DEFAULTSA* defaults) {
  if (!printer) return ERROR_INVALID_PARAMETER;
  *printer = nullptr;
  // The simulation has no print server handle: a NULL name names no printer.
  if (!IsPrinterName(name)) return ERROR_INVALID_PRINTER_NAME;
  // Without defaults, or without an access asked for, the handle may print.
  DWORD access = defaults && defaults->DesiredAccess ? defaults->DesiredAccess : kPrinterAccessUse;
  const RegKey* printers = ReadHive().Find(kPrintersKey);
  if (!IsPrinterRecord(printers, name)) return ERROR_INVALID_PRINTER_NAME;
  // The NT spooler checks the access asked for against the user's rights;
  // 9x has no security and grants everything.
  if (NtFamily() && (access & ~kPrinterAccessUse) && NeedAdmin()) return ERROR_ACCESS_DENIED;
  *printer = NewPrinterHandle(name, access);
  return ERROR_SUCCESS;
}

DWORD DeletePrinterOf(HANDLE handle) {
  PrinterHandle* printer = HandleAs<PrinterHandle>(handle);
  if (!printer) return ERROR_INVALID_HANDLE;
  DWORD error = NeedAdmin();
  if (error) return error;
  // On NT the handle must have been opened for deletion (PRINTER_ALL_ACCESS
  // holds DELETE); a handle opened to print is refused.
  if (NtFamily() && !(printer->access & DELETE)) return ERROR_ACCESS_DENIED;
  std::string name = printer->name;
  ChangeHive([&](Hive& hive) {
    RegKey* printers = hive.Find(kPrintersKey);
    if (!printers || !printers->RemoveChild(name)) {
      error = ERROR_INVALID_PRINTER_NAME;  // deleted meanwhile
      return false;
    }
    return true;  // the key goes with everything under it, the printer data too
  });
  return error;
}

}  // namespace
}  // namespace spool
}  // namespace winsim

HANDLE AddPrinterA(LPSTR server, DWORD level, LPBYTE info) {
  using namespace winsim::spool;
  HANDLE printer = nullptr;
  DWORD error = Enter("AddPrinterA", server);
  if (!error) error = AddPrinter(level, info, &printer);
  Leave(error);
  return printer;
}

BOOL OpenPrinterA(LPSTR name, HANDLE* printer, LPPRINTER_DEFAULTSA defaults) {
  using namespace winsim::spool;
  DWORD error = Enter("OpenPrinterA", nullptr);
  if (error && printer) *printer = nullptr;
  if (!error) error = OpenPrinter(name, printer, defaults);
  return Leave(error);
}

BOOL DeletePrinter(HANDLE printer) {
  using namespace winsim::spool;
  DWORD error = Enter("DeletePrinter", nullptr);
  if (!error) error = DeletePrinterOf(printer);
  return Leave(error);
}

// The handle is released even when the spooler can't be reached: the client
// side lets go of its end in any case.
BOOL ClosePrinter(HANDLE printer) {
  using namespace winsim::spool;
  DWORD error = ERROR_SUCCESS;
  if (!winsim::Fault("ClosePrinter", &error)) {
    if (!winsim::HandleAs<PrinterHandle>(printer)) {
      error = ERROR_INVALID_HANDLE;
    } else {
      winsim::CloseObject(printer);
      if (!winsim::SpoolerRunning()) error = RPC_S_SERVER_UNAVAILABLE;
    }
  }
  return Leave(error);
}

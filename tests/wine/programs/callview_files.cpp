// callview's files: scratch files of its own and the product's files as the
// step left them; and the spooler's hold on them: a port monitor of its own,
// whose library the spooler holds once it is added, and the product's
// printer opened and closed, with the printers that Windows refuses to add
// beside it, a second driver on its files and ports of its monitor. See
// callview.cpp.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/names.h"
#include "callview.h"
#include "platform/win32.h"

namespace callview {
namespace {

const char kScratch[] = "c:\\zentaq\\Probe.tmp";
const char kScratchOtherCase[] = "C:\\ZENTAQ\\PROBE.TMP";

// A printer on the product's driver, with the strings its PRINTER_INFO_2A
// points to kept beside it.
struct PrinterToAdd {
  PrinterToAdd(const char* printer_name, const char* port_name) : name(printer_name), port(port_name) {
    info.pPrinterName = &name[0];
    info.pPortName = &port[0];
    info.pDriverName = &driver[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &datatype[0];
  }
  PrinterToAdd(const PrinterToAdd&) = delete;
  PrinterToAdd& operator=(const PrinterToAdd&) = delete;

  HANDLE Add() {
    SetLastError(kUntouched);
    return AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  }

  std::string name, port;
  std::string driver = names::kDriver;
  std::string processor = names::kPrintProcessor;
  std::string datatype = "RAW";
  PRINTER_INFO_2A info = {};
};

// Printers that Windows refuses to add, each on the product's driver: a name
// with a comma (the spooler lists printer names comma-separated), a port that
// no monitor has, an empty port name. Wine 8.0's AddPrinterW checks neither
// the name's characters nor the port and adds them (call_view.py); one that
// is added is deleted again at once through the handle it came with. (No
// port at all, a NULL pPortName, crashes Wine's AddPrinterW, which takes the
// port's length first.)
void RefusedPrinters() {
  const struct {
    const char* label;
    const char* name;
    const char* port;
  } adds[] = {{"add printer with a comma", "Zentaq,Probe", names::kPort},
              {"add printer on an unknown port", "ZentaqProbe", "ZTQNONE:"},
              {"add printer with an empty port name", "ZentaqProbe", ""}};
  for (const auto& add : adds) {
    PrinterToAdd printer(add.name, add.port);
    HANDLE added = printer.Add();
    Line(add.label, added != nullptr);
    if (added) {
      DeletePrinter(added);
      ClosePrinter(added);
    }
  }
}

// A printer beside the product's, on its driver and port, with values that
// take more than a byte (a start and end time in minutes after midnight, a
// priority), read back from its key by name and deleted again.
void WiderPrinter() {
  const char name[] = "ZentaqProbe";
  PrinterToAdd printer(name, names::kPort);
  printer.info.Priority = 99;
  printer.info.StartTime = 0x2A5;
  printer.info.UntilTime = 0x59F;
  HANDLE added = printer.Add();
  Line("add printer with wider values", added != nullptr);
  if (!added) return;
  HKEY key = nullptr;
  std::string path = std::string(names::kPrintersKey) + "\\" + name;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (const char* value : {"Priority", "StartTime", "UntilTime"}) {
      DWORD data = kUntouched;
      DWORD size = sizeof data;
      LONG status = RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
      Line(std::string("wider printer ") + value, status == ERROR_SUCCESS, Field(status) + Field(data) + Field(size));
    }
    RegCloseKey(key);
  }
  Try("delete printer with wider values", [&] { return DeletePrinter(added); });
  ClosePrinter(added);
}

// A second driver on the product's files, added at level 2 (DRIVER_INFO_2:
// no help file, no dependent files) and deleted again. Wine copies the files
// into the driver directory's version folder, where the product's driver
// already put the same files.
void SecondDriver() {
  char directory[MAX_PATH] = {};
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory), sizeof directory, &needed))
    return;
  std::string name = "ZentaqProbe Driver";
  std::string driver = std::string(directory) + "\\pscript.dll";
  std::string data = std::string(directory) + "\\gs.PPD";
  std::string config = std::string(directory) + "\\Zentaqui.dll";
  DRIVER_INFO_3A info = {};  // its first six fields are DRIVER_INFO_2A
  info.cVersion = 2;
  info.pName = &name[0];
  info.pDriverPath = &driver[0];
  info.pDataFile = &data[0];
  info.pConfigFile = &config[0];
  Try("add driver at level 2", [&] { return AddPrinterDriverA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)); });
  Try("delete that driver", [&] { return DeletePrinterDriverA(nullptr, nullptr, &name[0]); });
}

// Ports of the product's monitor whose records lack a text description:
// none at all, a REG_DWORD one, a REG_EXPAND_SZ one (text, left unexpanded).
// The monitor describes a port by its record's text, by its own name where
// there is none; EnumPortsA level 2 lists each so. They are removed again.
void DescribedPorts() {
  const std::string ports_key = std::string(names::kMonitorsKey) + "\\" + names::kMonitor + "\\Ports";
  HKEY ports = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ports_key.c_str(), 0, KEY_ALL_ACCESS, &ports) != ERROR_SUCCESS) return;
  const DWORD number = 7;
  const char kExpand[] = "%probe%";
  const struct {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;
  } probes[] = {{"ZTQPROBE1:", REG_NONE, nullptr, 0},
                {"ZTQPROBE2:", REG_DWORD, &number, sizeof number},
                {"ZTQPROBE3:", REG_EXPAND_SZ, kExpand, sizeof kExpand}};
  for (const auto& probe : probes) {
    HKEY port = nullptr;
    if (RegCreateKeyA(ports, probe.name, &port) != ERROR_SUCCESS) continue;
    if (probe.data)
      RegSetValueExA(port, "Description", 0, probe.type, static_cast<const BYTE*>(probe.data), probe.size);
    RegCloseKey(port);
  }
  DWORD needed = 0;
  DWORD count = 0;
  EnumPortsA(nullptr, 2, nullptr, 0, &needed, &count);
  std::string buffer(needed, '\0');
  BOOL ok = needed > 0 && EnumPortsA(nullptr, 2, reinterpret_cast<LPBYTE>(&buffer[0]), needed, &needed, &count);
  const PORT_INFO_2A* listed = reinterpret_cast<const PORT_INFO_2A*>(buffer.data());
  for (const auto& probe : probes) {
    std::string found = "\tnot listed";
    for (DWORD i = 0; ok && i < count; ++i) {
      if (listed[i].pPortName && strcmp(listed[i].pPortName, probe.name) == 0)
        found = std::string("\t") + (listed[i].pMonitorName ? listed[i].pMonitorName : "(null)") + "\t" +
                (listed[i].pDescription ? listed[i].pDescription : "(null)");
    }
    printf("port %s\t%d%s\n", probe.name, ok ? 1 : 0, found.c_str());
    RegDeleteKeyA(ports, probe.name);
  }
  RegCloseKey(ports);
}

}  // namespace

void Files() {
  // A name looked up before the file exists, then the file made under
  // another case: the later lookup finds it (names don't differ by case).
  Close(Open("open missing", kScratch, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  Close(Open("open in a missing folder", "c:\\zentaq\\nofolder\\x.tmp", GENERIC_READ, FILE_SHARE_READ,
             OPEN_EXISTING));
  // A disposition outside CREATE_NEW to TRUNCATE_EXISTING.
  Close(Open("open with disposition 0", kScratch, GENERIC_READ, FILE_SHARE_READ, 0));
  Close(Open("open with disposition 6", kScratch, GENERIC_READ, FILE_SHARE_READ, 6));
  HANDLE file = Open("create new", kScratch, GENERIC_WRITE, 0, CREATE_NEW);
  Counted("write", [&](DWORD* n) { return WriteFile(file, "abcde", 5, n, nullptr); });
  // No buffer, on NT: Wine answers as NT does, whatever version it reports.
  if (Nt()) Counted("write from no buffer", [&](DWORD* n) { return WriteFile(file, nullptr, 1, n, nullptr); });
  char buffer[16] = {};
  Counted("read from a handle without read access",
          [&](DWORD* n) { return ReadFile(file, buffer, sizeof buffer, n, nullptr); });
  Close(file);

  Close(Open("create new over a file", kScratch, GENERIC_WRITE, 0, CREATE_NEW));
  file = Open("open in another case", kScratchOtherCase, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE second = Open("open again, sharing refused", kScratch, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  Close(second);
  SetLastError(kUntouched);
  DWORD size = GetFileSize(file, nullptr);
  Line("size", size != INVALID_FILE_SIZE, Field(size));
  DWORD count = kUntouched;
  SetLastError(kUntouched);
  BOOL ok = ReadFile(file, buffer, sizeof buffer, &count, nullptr);
  Line("read", ok, Field(count) + Text(buffer, count <= sizeof buffer ? count : 0));
  Counted("read at the end", [&](DWORD* n) { return ReadFile(file, buffer, sizeof buffer, n, nullptr); });
  if (Nt()) Counted("read into no buffer", [&](DWORD* n) { return ReadFile(file, nullptr, 1, n, nullptr); });
  Counted("write to a handle without write access", [&](DWORD* n) { return WriteFile(file, "x", 1, n, nullptr); });
  SetLastError(kUntouched);
  DWORD position = SetFilePointer(file, 1, nullptr, FILE_BEGIN);
  // A successful seek leaves the last error alone (but at 0xFFFFFFFF).
  DWORD seek_error = GetLastError();
  count = kUntouched;
  ok = ReadFile(file, buffer, 2, &count, nullptr);
  Line("seek and read", ok,
       Field(position) + Field(seek_error) + Field(count) + Text(buffer, count <= 2 ? count : 0));
  Close(file);

  Close(Open("open always over a file", kScratch, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS));
  // CREATE_ALWAYS empties the file it finds.
  file = Open("create always over a file", kScratch, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  SetLastError(kUntouched);
  size = GetFileSize(file, nullptr);
  Line("size after create always", size != INVALID_FILE_SIZE, Field(size));
  Close(file);
  SetLastError(kUntouched);
  DWORD attributes = GetFileAttributesA(kScratchOtherCase);
  Line("attributes", attributes != INVALID_FILE_ATTRIBUTES, Field(attributes));
  Try("delete", [&] { return DeleteFileA(kScratch); });
  Try("delete again", [&] { return DeleteFileA(kScratch); });
  Close(Open("open always, new", kScratch, GENERIC_WRITE, 0, OPEN_ALWAYS));
  Try("delete", [&] { return DeleteFileA(kScratch); });
  Close(Open("create always, new", kScratch, GENERIC_WRITE, 0, CREATE_ALWAYS));
  Try("delete", [&] { return DeleteFileA(kScratch); });

  // Past 4 GiB: the high parts of the position and the size (a sparse file).
  file = Open("create new, large", kScratch, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  LONG high = 1;
  SetLastError(kUntouched);
  position = SetFilePointer(file, 1, &high, FILE_BEGIN);
  Line("seek past 4 GiB", position != INVALID_SET_FILE_POINTER, Field(position) + Field(high) + Field(GetLastError()));
  Counted("write past 4 GiB", [&](DWORD* n) { return WriteFile(file, "z", 1, n, nullptr); });
  DWORD size_high = kUntouched;
  SetLastError(kUntouched);
  size = GetFileSize(file, &size_high);
  Line("size past 4 GiB", size != INVALID_FILE_SIZE, Field(size) + Field(size_high) + Field(GetLastError()));
  high = -1;
  SetLastError(kUntouched);
  position = SetFilePointer(file, -2, &high, FILE_END);
  Line("seek back from the end", position != INVALID_SET_FILE_POINTER, Field(position) + Field(high));
  // Without a high part: 0xFFFFFFFF still fits, and a last error of 0 tells
  // it from a failure; past it Windows fails with ERROR_INVALID_PARAMETER,
  // where Wine returns the low part (call_view.py).
  SetLastError(kUntouched);
  position = SetFilePointer(file, -3, nullptr, FILE_END);
  Line("seek to 0xFFFFFFFF without a high part", true, Field(position) + Field(GetLastError()));
  SetLastError(kUntouched);
  position = SetFilePointer(file, -2, nullptr, FILE_END);
  Line("seek to 4 GiB without a high part", true, Field(position) + Field(GetLastError()));
  Close(file);
  Try("delete", [&] { return DeleteFileA(kScratch); });

  // What the step left: the product's files as setup reads them.
  for (const char* name : {"c:\\zentaq\\res\\drivedir\\gs.PPD", "c:\\zentaq\\res\\drivedir\\ztqmon.dll",
                           "c:\\zentaq\\res\\zentaq.ini"}) {
    SetLastError(kUntouched);
    attributes = GetFileAttributesA(name);
    Line(std::string("attributes of ") + name, attributes != INVALID_FILE_ATTRIBUTES, Field(attributes));
  }
}

// A port monitor of its own: its library is the test monitor that the
// harness staged for the product, copied into the system directory under a
// name with a "~" (a long name, not a short one). The spooler (NT) refuses a
// library that is missing or names a folder (ERROR_MOD_NOT_FOUND, as a
// failed load), and once it has added the monitor it holds the library
// loaded: the file can't be deleted. The copy stays behind: the simulated spooler holds
// it until the service stops, as Windows' does, and the next step's copy
// finds it there.
void Spooler() {
  if (!Nt()) return;
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  std::string library = std::string(system) + "\\ztq~probe.dll";
  HANDLE from = CreateFileA("c:\\zentaq\\res\\drivedir\\ztqmon.dll", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE to = CreateFileA(library.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  char chunk[16384];
  DWORD count = 0;
  DWORD written = 0;
  bool open = from != INVALID_HANDLE_VALUE && to != INVALID_HANDLE_VALUE;
  while (open && ReadFile(from, chunk, sizeof chunk, &count, nullptr) && count > 0 &&
         WriteFile(to, chunk, count, &written, nullptr)) {
  }
  Close(from);
  Close(to);

  char name[] = "ZentaqProbe Monitor";
  // A bare name is a file of the system directory.
  const struct {
    const char* label;
    const char* dll;
  } adds[] = {{"add monitor with a missing library", "ztq~none.dll"},
              {"add monitor with a folder", "c:\\zentaq\\res"},
              {"add monitor", "ztq~probe.dll"}};
  for (const auto& add : adds) {
    MONITOR_INFO_2A info = {name, nullptr, const_cast<char*>(add.dll)};
    SetLastError(kUntouched);
    BOOL ok = AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    Line(add.label, ok, ok ? Field(GetLastError()) : "");
  }
  Try("delete its library", [&] { return DeleteFileA(library.c_str()); });
  // Nor can it be opened for writing while it is loaded.
  Close(Open("open its library for writing", library.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
             OPEN_EXISTING));
  Try("delete monitor", [&] { return DeleteMonitorA(nullptr, nullptr, name); });
  Try("delete monitor again", [&] { return DeleteMonitorA(nullptr, nullptr, name); });

  // The product's printer where the step left it: a handle closed once is gone.
  HANDLE printer = nullptr;
  Try("open printer", [&] { return OpenPrinterA(const_cast<LPSTR>("ZENTAQ"), &printer, nullptr); });
  if (printer) {
    RefusedPrinters();
    WiderPrinter();
    SecondDriver();
    DescribedPorts();
    Try("close printer", [&] { return ClosePrinter(printer); });
    Try("close printer again", [&] { return ClosePrinter(printer); });
  }
}

}  // namespace callview

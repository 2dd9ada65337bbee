// Makes the trouble that a failure scenario starts from, through the same
// calls on both sides: under Wine in the prefix, and over the simulated
// machine that WINSIM_ROOT names. One line per call, as callview prints them.
//
//   trouble printer   a printer "ZENTAQ" on another driver and on LPT1:
//   trouble mapping   a stale IniFileMapping of zentaq.ini (an earlier version's)
//   trouble monitor   a half-done earlier install: the monitor registered and
//                     its port record written, no driver, no printer
//   trouble hold FILE FILE held open without sharing until standard input ends
#include <cstring>
#include <string>

#include "callview.h"
#include "view_main.h"
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using callview::Line;
using callview::Nt;
using callview::Try;

const char kStaging[] = "c:\\zentaq\\res\\drivedir\\";

std::string SystemDirectory() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return folder;
}

std::string DriverDirectory() {
  char folder[MAX_PATH] = {};
  DWORD needed = 0;
  GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(folder), MAX_PATH, &needed);
  return folder;
}

// The staged file into `folder`, read and written whole (the simulated
// machine has no CopyFileA; the setup program copies so too).
void Copy(const std::string& name, const std::string& folder) {
  std::string from = kStaging + name, to = folder + "\\" + name;
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE;
  char buffer[65536];
  for (DWORD got = 0; ok && ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got;) {
    DWORD put = 0;
    ok = WriteFile(out, buffer, got, &put, nullptr) && put == got;
  }
  callview::Close(in);
  callview::Close(out);
  printf("copy %s\t%d\n", name.c_str(), ok ? 1 : 0);
}

// A PostScript driver of another name on the product's files, and the
// printer "ZENTAQ" on it and on the first parallel port.
int Printer() {
  std::string drivers = DriverDirectory();
  for (const char* name : {"Pscript.dll", "gs.PPD", "Zentaqui.dll"}) Copy(name, drivers);
  char name[] = "Other PostScript Driver";
  std::string driver = drivers + "\\Pscript.dll", data = drivers + "\\gs.PPD", config = drivers + "\\Zentaqui.dll";
  DRIVER_INFO_3A info = {};
  info.cVersion = Nt() ? 2 : 0;
  info.pName = name;
  info.pDriverPath = &driver[0];
  info.pDataFile = &data[0];
  info.pConfigFile = &config[0];
  Try("add driver", [&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); });
  char printer[] = "ZENTAQ", port[] = "LPT1:", processor[] = "winprint", datatype[] = "RAW";
  PRINTER_INFO_2A added = {};
  added.pPrinterName = printer;
  added.pPortName = port;
  added.pDriverName = name;
  added.pPrintProcessor = processor;
  added.pDatatype = datatype;
  SetLastError(callview::kUntouched);
  HANDLE handle = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&added));
  Line("add printer", handle != nullptr);
  if (handle) ClosePrinter(handle);
  return handle ? 0 : 1;
}

LONG SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
}

// The mapping an earlier version left: the file's section in the user's hive.
int Mapping() {
  HKEY key = nullptr;
  LONG created = RegCreateKeyA(HKEY_LOCAL_MACHINE,
                               "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\zentaq.ini", &key);
  printf("mapping key\t%d\n", static_cast<int>(created));
  if (created != ERROR_SUCCESS) return 1;
  printf("mapping value\t%d\n", static_cast<int>(SetText(key, "Parameters", "USR:Software\\Zentaq\\Parameters")));
  RegCloseKey(key);
  return 0;
}

// The monitor registered on its library and one value of its port record,
// as an install that stopped before the driver leaves them.
int Monitor() {
  std::string library = Nt() ? "ztqmon.dll" : "ztqmon95.dll";
  Copy(library, SystemDirectory());
  char name[] = "ZENTAQ Monitor";
  MONITOR_INFO_2A info = {};
  info.pName = name;
  info.pDLLName = &library[0];
  Try("add monitor", [&] { return AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)); });
  HKEY port = nullptr;
  LONG created = RegCreateKeyA(
      HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor\\Ports\\ZENTAQPORT",
      &port);
  printf("port record\t%d\n", static_cast<int>(created));
  if (created != ERROR_SUCCESS) return 1;
  printf("port value\t%d\n", static_cast<int>(SetText(port, "Printer", "ZENTAQ")));
  RegCloseKey(port);
  return 0;
}

const char* held_path = nullptr;

// Another program that has the file open and shares nothing, until it is
// told to end (its standard input closed).
int Hold() {
  SetLastError(callview::kUntouched);
  HANDLE file = CreateFileA(held_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  Line("hold", file != INVALID_HANDLE_VALUE);
  fflush(stdout);
  if (file == INVALID_HANDLE_VALUE) return 1;
#ifdef _WIN32
  char byte;
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read) {
  }
#else
  // The machine must stay open to setup meanwhile; the handle keeps its share.
  winsim::KeepLockBetweenCalls(false);
  char byte;
  while (read(0, &byte, 1) > 0) {
  }
#endif
  CloseHandle(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string action = argc > 1 ? argv[1] : "";
  if (action == "hold" && argc > 2) {
    held_path = argv[2];
    return RunView("trouble", Hold);
  }
  int (*make)() = action == "printer" ? Printer : action == "mapping" ? Mapping : action == "monitor" ? Monitor : nullptr;
  if (!make) {
    fprintf(stderr, "trouble: printer, mapping, monitor or hold FILE\n");
    return 2;
  }
  return RunView("trouble", make);
}

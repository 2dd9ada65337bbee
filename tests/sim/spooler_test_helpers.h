// Helpers of the spooler and service tests. Calls are checked the way Wine's
// conformance tests check them: the last error set to 0xdeadbeef first, then
// the result and the last error looked at together.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

struct Outcome {
  bool ok;
  DWORD error;
  bool operator==(const Outcome& o) const { return ok == o.ok && error == o.error; }
};
inline std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << (o.ok ? "success" : "failure") << ", last error " << o.error;
}
inline Outcome Ok() { return {true, 0xdeadbeef}; }  // the last error left alone
inline Outcome Fails(DWORD code) { return {false, code}; }
// AddMonitorA clears the last error once the monitor is added.
inline Outcome Added() { return {true, ERROR_SUCCESS}; }

template <class F>
Outcome Call(F call) {
  SetLastError(0xdeadbeef);
  bool ok = call() != 0;
  return {ok, GetLastError()};
}

using Names = std::vector<std::string>;
inline char* S(const char* text) { return const_cast<char*>(text); }
const char kPrint[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\";
const char kMonitor[] = "ZENTAQ Monitor";
const char kDriver[] = "ZENTAQ Printer Driver";

inline const winsim::OsInfo& Os() { return winsim::Machine::Get().os(); }
inline std::string SystemFile(const std::string& name) { return std::string(Os().system_dir) + "\\" + name; }
inline std::string DriverFile(const std::string& name) { return std::string(Os().driver_dir) + "\\" + name; }
inline const winsim::RegKey* Key(const std::string& path) { return winsim::ReadHive().Find(path); }
inline std::string Bytes(const std::string& key, const std::string& value) {
  const winsim::RegValue* v = Key(key) ? Key(key)->Value(value) : nullptr;
  return v ? std::string(v->data.begin(), v->data.end()) : "<absent>";
}

inline Outcome AddMonitor(const char* name, const char* library, const char* environment = nullptr) {
  MONITOR_INFO_2A info{S(name), S(environment ? environment : Os().environment), S(library)};
  return Call([&] { return AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)); });
}
inline Outcome DeleteMonitor(const char* name) {
  return Call([&] { return DeleteMonitorA(nullptr, S(Os().environment), S(name)); });
}

// The monitor with its library in the system directory, and its port record
// written through the registry as the installer writes it.
inline void RegisterPort(const TestMachine& m) {
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Added());
  HKEY key = nullptr;
  std::string path = std::string(kPrint) + "Monitors\\" + kMonitor + "\\Ports\\ZENTAQPORT";
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), 0);
  RegSetValueExA(key, "Description", 0, REG_SZ, reinterpret_cast<const BYTE*>("Redirected"), 11);
  RegCloseKey(key);
}

// The product's NT driver: its files in the driver directory, named by path.
struct NtDriver {
  std::string driver = DriverFile("pscript.dll"), data = DriverFile("gs.PPD"), config = DriverFile("Zentaqui.dll");
  explicit NtDriver(const TestMachine& m) {
    for (const char* file : {"Pscript.dll", "gs.PPD", "Zentaqui.dll"}) m.Write(DriverFile(file), "placeholder");
  }
  Outcome Add(const char* environment = "Windows NT x86") {
    DRIVER_INFO_3A info{2, S(kDriver), S(environment), S(driver.c_str()), S(data.c_str()), S(config.c_str()),
                        S("Pscript.hlp"), nullptr, nullptr, S("RAW")};
    return Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); });
  }
};

// Adds a printer and closes the handle that AddPrinterA gives.
inline Outcome AddPrinter(const char* name, const char* port, const char* driver = kDriver,
                          const char* processor = "winprint") {
  PRINTER_INFO_2A info{};
  info.pPrinterName = S(name);
  info.pPortName = S(port);
  info.pDriverName = S(driver);
  info.pPrintProcessor = S(processor);
  HANDLE printer = nullptr;
  Outcome outcome = Call([&] { return (printer = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) != nullptr; });
  if (printer) {
    EXPECT_TRUE(ClosePrinter(printer));
  }
  return outcome;
}

// The names that EnumMonitorsA or EnumPortsA (level 1) give in a buffer of
// the size they report.
template <class Info>
Names Enumerate(BOOL (*enumerate)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD)) {
  DWORD needed = 0, count = 0;
  enumerate(nullptr, 1, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  EXPECT_TRUE(enumerate(nullptr, 1, buffer.data(), needed, &needed, &count));
  Names names;
  for (DWORD i = 0; i < count; ++i) names.push_back(reinterpret_cast<Info*>(buffer.data())[i].pName);
  return names;
}
inline Names MonitorNames() { return Enumerate<MONITOR_INFO_1A>(EnumMonitorsA); }
inline Names PortNames() { return Enumerate<PORT_INFO_1A>(EnumPortsA); }

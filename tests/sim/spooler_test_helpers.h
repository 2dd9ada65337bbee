// Helpers of the spooler and service tests: calls checked the way Wine's
// conformance tests check them (the last error set to 0xdeadbeef first, then
// the result and the last error looked at together), and short forms of the
// registrations an install makes.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/hive.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

constexpr DWORD kUntouched = 0xdeadbeef;

struct Outcome {
  bool ok;
  DWORD error;
  bool operator==(const Outcome& o) const { return ok == o.ok && error == o.error; }
};
inline std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << (o.ok ? "success" : "failure") << ", last error " << o.error;
}
// Success that leaves the last error alone, and failure with a code.
inline Outcome Ok() { return {true, kUntouched}; }
inline Outcome Fails(DWORD code) { return {false, code}; }

template <class F>
Outcome Call(F call) {
  SetLastError(kUntouched);
  bool ok = call() != 0;
  return {ok, GetLastError()};
}

inline char* S(const char* text) { return const_cast<char*>(text); }

inline std::string SystemFile(const std::string& name) {
  return std::string(winsim::Machine::Get().os().system_dir) + "\\" + name;
}
inline std::string DriverFile(const std::string& name) {
  return std::string(winsim::Machine::Get().os().driver_dir) + "\\" + name;
}
inline const char* Native() { return winsim::Machine::Get().os().environment; }

const char kPrint[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\";

inline const winsim::RegKey* Key(const std::string& path) { return winsim::ReadHive().Find(path); }
inline std::string TextOf(const std::string& key, const std::string& value) {
  const winsim::RegKey* k = Key(key);
  const winsim::RegValue* v = k ? k->Value(value) : nullptr;
  return v ? std::string(v->data.begin(), v->data.end()) : "<absent>";
}

inline Outcome AddMonitor(const char* name, const char* library, const char* environment = nullptr) {
  MONITOR_INFO_2A info{S(name), S(environment ? environment : Native()), S(library)};
  return Call([&] { return AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)); });
}
inline Outcome DeleteMonitor(const char* name) {
  return Call([&] { return DeleteMonitorA(nullptr, S(Native()), S(name)); });
}

// A port record under the monitor's key, written through the registry as the
// installer writes it.
inline void AddPortRecord(const std::string& monitor, const std::string& port, const std::string& description = "") {
  HKEY key = nullptr;
  std::string path = std::string(kPrint) + "Monitors\\" + monitor + "\\Ports\\" + port;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), 0);
  if (!description.empty())
    RegSetValueExA(key, "Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(description.c_str()),
                   static_cast<DWORD>(description.size() + 1));
  RegCloseKey(key);
}

// The files of a driver in the driver directory; on NT the record names them
// by full path, on 9x by bare name.
struct DriverFiles {
  std::string driver, data, config, help;
  DRIVER_INFO_3A Info(const char* name) {
    DRIVER_INFO_3A info{};
    info.cVersion = 2;
    info.pName = S(name);
    info.pEnvironment = S(Native());
    info.pDriverPath = S(driver.c_str());
    info.pDataFile = S(data.c_str());
    info.pConfigFile = S(config.c_str());
    info.pHelpFile = S(help.c_str());
    info.pDefaultDataType = S("RAW");
    return info;
  }
};

inline DriverFiles StageDriverFiles(const TestMachine& m, bool full_paths) {
  for (const char* file : {"Pscript.dll", "gs.PPD", "Zentaqui.dll"}) m.Write(DriverFile(file), "placeholder");
  auto name = [&](const char* file) { return full_paths ? DriverFile(file) : std::string(file); };
  return {name("pscript.dll"), name("gs.PPD"), name("Zentaqui.dll"), name("Pscript.hlp")};
}

inline Outcome AddDriver(DRIVER_INFO_3A info) {
  return Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); });
}

inline PRINTER_INFO_2A PrinterInfo(const char* name, const char* port, const char* driver) {
  PRINTER_INFO_2A info{};
  info.pPrinterName = S(name);
  info.pPortName = S(port);
  info.pDriverName = S(driver);
  info.pPrintProcessor = S("winprint");
  return info;
}

// Adds a printer and closes the handle AddPrinterA gives.
inline Outcome AddPrinter(PRINTER_INFO_2A info) {
  HANDLE printer = nullptr;
  Outcome outcome = Call([&] { return (printer = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) != nullptr; });
  if (printer) {
    EXPECT_TRUE(ClosePrinter(printer));
  }
  return outcome;
}

// Names listed by EnumMonitorsA (level 1) or EnumPortsA (level 1), asked
// for with a buffer of exactly the size reported.
inline std::vector<std::string> MonitorNames() {
  DWORD needed = 0, count = 0;
  EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  EXPECT_TRUE(EnumMonitorsA(nullptr, 1, buffer.data(), needed, &needed, &count));
  std::vector<std::string> names;
  for (DWORD i = 0; i < count; ++i) names.push_back(reinterpret_cast<MONITOR_INFO_1A*>(buffer.data())[i].pName);
  return names;
}
inline std::vector<std::string> PortNames() {
  DWORD needed = 0, count = 0;
  EnumPortsA(nullptr, 1, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  EXPECT_TRUE(EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &count));
  std::vector<std::string> names;
  for (DWORD i = 0; i < count; ++i) names.push_back(reinterpret_cast<PORT_INFO_1A*>(buffer.data())[i].pName);
  return names;
}

using Names = std::vector<std::string>;

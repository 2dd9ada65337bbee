// Reading back what setup runs left on a test machine: hive values, setup-log
// texts, a compact journal, the product's own files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

namespace checks {

inline const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor";
inline const char kPortKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor\\Ports\\ZENTAQPORT";
inline const char kPrinterKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ";
inline const char kDataKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ\\PrinterDriverData";
inline const char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentaq";
inline const char kNtDriverKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-2\\ZENTAQ Printer Driver";
inline const char k9xDriverKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\ZENTAQ Printer Driver";
inline const char kStaging[] = "c:\\zentaq\\res\\drivedir\\";
inline const char kIni[] = "c:\\zentaq\\res\\zentaq.ini";
inline const char kReadme[] = "Run rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\readme.html 0x200 0x0 1";

// Exit statuses as a POSIX parent sees them: the low byte of 1603 and 3010.
constexpr int kFailed = 1603 & 0xFF;
constexpr int kReboot = 3010 & 0xFF;

inline winsim::Hive HiveOf(const TestMachine& m) { return winsim::Hive::Parse(m.HiveText(), "system.reg"); }
inline bool HasKey(const TestMachine& m, const std::string& path) { return HiveOf(m).Find(path) != nullptr; }

// A value's exact bytes, or "<absent>".
inline std::string Bytes(const winsim::Hive& hive, const std::string& path, const std::string& name) {
  const winsim::RegKey* key = hive.Find(path);
  const winsim::RegValue* value = key == nullptr ? nullptr : key->Value(name);
  return value == nullptr ? "<absent>" : std::string(value->data.begin(), value->data.end());
}
// A string value without the NUL that the spooler may or may not store.
inline std::string Text(const winsim::Hive& hive, const std::string& path, const std::string& name) {
  std::string bytes = Bytes(hive, path, name);
  if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return bytes;
}
inline std::string Dw(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
inline std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

// The setup log's texts, without time stamps and line ends.
inline std::vector<std::string> LogTexts(const TestMachine& m) {
  std::vector<std::string> texts;
  for (std::string line : SplitLines(m.SetupLog())) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    texts.push_back(line.size() >= 15 ? line.substr(15) : line);
  }
  return texts;
}

// The journal, compact: "Sleep 3000", "Box <text>", "Run <command> <flags> <dwFlags> <show>",
// "Restart" for a stop request, 500 ms, a start request, 500 ms; other events as they stand.
inline std::vector<std::string> Summary(const TestMachine& m) {
  std::vector<std::string> events;
  for (const std::string& line : m.JournalLines()) {
    std::vector<std::string> f = winsim::JournalFields(line);
    std::string event = f[0];
    if (f[0] == "MessageBox" && f.size() > 3) {
      event = "Box " + f[3];
    } else if (f[0] == "CreateProcess" && f.size() > 4) {
      event = "Run " + f[1] + " " + f[2] + " " + f[3] + " " + f[4];
    } else {
      for (size_t i = 1; i < f.size(); ++i) event += " " + f[i];
    }
    events.push_back(event);
    size_t n = events.size();
    if (n >= 4 && events[n - 4].rfind("ControlService Spooler 1", 0) == 0 && events[n - 3] == "Sleep 500" &&
        events[n - 2].rfind("StartService Spooler", 0) == 0 && events[n - 1] == "Sleep 500") {
      events.resize(n - 4);
      events.push_back("Restart");
    }
  }
  return events;
}

inline std::string Box(const std::string& text) { return "Box " + text; }
inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}
inline std::vector<std::string> Since(const std::vector<std::string>& all, size_t from) {
  return std::vector<std::string>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
}
inline std::vector<std::string> Boxes(const std::vector<std::string>& events) {
  std::vector<std::string> boxes;
  for (const auto& event : events)
    if (event.rfind("Box ", 0) == 0) boxes.push_back(event);
  return boxes;
}

inline const winsim::OsInfo& Info(const std::string& os) {
  winsim::Os value = winsim::Os::XP;
  winsim::ParseOs(os, &value);
  return winsim::InfoOf(value);
}

// A placeholder product file, relative to product/zentaq.
inline std::string Product(const std::string& relative) {
  std::ifstream in(std::string(PRODUCT_DIR) + "/zentaq/" + relative, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return in ? content.str() : "<missing " + relative + ">";
}

// A string value written straight into the machine's hive, its key created as
// needed: records that an earlier installation or another program left.
inline void Seed(const TestMachine& m, const std::string& path, const std::string& name, const std::string& text) {
  m.Use();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS) << path;
  RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

// A key of the configuration file, "<absent>" when missing.
inline std::string Config(const TestMachine& m, const char* key) {
  m.Use();
  char value[512] = {};
  GetPrivateProfileStringA("Parameters", key, "<absent>", value, sizeof(value), kIni);
  return value;
}

}  // namespace checks

// Reading back what a setup run left on a test machine: hive values, setup
// log texts, journal events, files of the system and driver directories.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/hive.h"
#include "platform/sim/machine.h"

namespace checks {

inline const char kPrint[] = "SYSTEM\\CurrentControlSet\\Control\\Print";
inline const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor";
inline const char kPortKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor\\Ports\\ZENTAQPORT";
inline const char kPrinterKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ";
inline const char kDriverDataKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ\\PrinterDriverData";
inline const char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentaq";
inline const char kNtDriverKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-2\\ZENTAQ Printer "
    "Driver";
inline const char k9xDriverKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\ZENTAQ Printer Driver";
inline const char kStaging[] = "c:\\zentaq\\res\\drivedir\\";
inline const char kReadmeCommand[] = "rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\readme.html";

inline winsim::Hive HiveOf(const TestMachine& machine) {
  return winsim::Hive::Parse(machine.HiveText(), "system.reg");
}

inline bool HasKey(const winsim::Hive& hive, const std::string& path) { return hive.Find(path) != nullptr; }

// The value's bytes, or "<absent>" when the key or the value is missing.
inline std::string Bytes(const winsim::Hive& hive, const std::string& path, const std::string& name) {
  const winsim::RegKey* key = hive.Find(path);
  if (key == nullptr) return "<absent>";
  const winsim::RegValue* value = key->Value(name);
  if (value == nullptr) return "<absent>";
  return std::string(value->data.begin(), value->data.end());
}

// A REG_SZ's text without its terminating NUL (as the spooler may store it either way).
inline std::string Text(const winsim::Hive& hive, const std::string& path, const std::string& name) {
  std::string bytes = Bytes(hive, path, name);
  if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

inline DWORD Type(const winsim::Hive& hive, const std::string& path, const std::string& name) {
  const winsim::RegKey* key = hive.Find(path);
  const winsim::RegValue* value = key == nullptr ? nullptr : key->Value(name);
  return value == nullptr ? REG_NONE : value->type;
}

inline long Dword(const winsim::Hive& hive, const std::string& path, const std::string& name) {
  std::string bytes = Bytes(hive, path, name);
  if (bytes.size() != 4) return -1;
  DWORD value = 0;
  memcpy(&value, bytes.data(), 4);
  return static_cast<long>(value);
}

inline std::string Dw(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
inline std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

// The setup log's texts, time stamps and line ends removed.
inline std::vector<std::string> LogTexts(const TestMachine& machine) {
  std::vector<std::string> texts;
  std::string log = machine.SetupLog();
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    texts.push_back(line.size() >= 15 ? line.substr(15) : line);
    start = end + 2;
  }
  return texts;
}

inline std::string Unescape(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 1 < field.size()) {
      char c = field[++i];
      text += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    } else {
      text += field[i];
    }
  }
  return text;
}

// The journal as events, each a list of unescaped fields.
inline std::vector<std::vector<std::string>> Events(const TestMachine& machine) {
  std::vector<std::vector<std::string>> events;
  for (const std::string& line : machine.JournalLines()) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
      size_t tab = line.find('\t', start);
      fields.push_back(Unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    events.push_back(fields);
  }
  return events;
}

// A compact form of the journal: "Sleep 3000", "Box <text>", "Run <command> <flags> <dwFlags> <show>", ...
inline std::vector<std::string> Summary(const TestMachine& machine) {
  std::vector<std::string> summary;
  for (const auto& event : Events(machine)) {
    const std::string& kind = event[0];
    if (kind == "Sleep") {
      summary.push_back("Sleep " + event[1]);
    } else if (kind == "MessageBox" && event.size() >= 4) {
      summary.push_back("Box " + event[3]);
    } else if (kind == "CreateProcess" && event.size() >= 5) {
      summary.push_back("Run " + event[1] + " " + event[2] + " " + event[3] + " " + event[4]);
    } else {
      std::string line = kind;
      for (size_t i = 1; i < event.size(); ++i) line += " " + event[i];
      summary.push_back(line);
    }
  }
  return summary;
}

inline std::string Readme() { return std::string("Run ") + kReadmeCommand + " 0x200 0x0 1"; }
inline std::string Box(const std::string& text) { return "Box " + text; }

inline const winsim::OsInfo& Info(const std::string& os) {
  winsim::Os value = winsim::Os::XP;
  winsim::ParseOs(os, &value);
  return winsim::InfoOf(value);
}

inline std::string Product(const std::string& relative) {
  std::string path = std::string(PRODUCT_DIR) + "/zentaq/" + relative;
  FILE* file = fopen(path.c_str(), "rb");
  std::string content;
  if (file == nullptr) return "<missing product file " + relative + ">";
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) content.append(buffer, n);
  fclose(file);
  return content;
}

}  // namespace checks

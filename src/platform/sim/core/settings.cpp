// machine.ini: the settings of a simulated machine, and the small text helpers
// of the machine's core.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

std::string LowerAscii(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool SameTextNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::string LastComponent(const std::string& windows_path) {
  size_t slash = windows_path.find_last_of("\\/");
  std::string last = slash == std::string::npos ? windows_path : windows_path.substr(slash + 1);
  if (slash == std::string::npos && last.size() >= 2 && last[1] == ':') last = last.substr(2);
  return last;
}

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* value) {
  std::string digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
    for (char c : digits)
      if (!isxdigit(static_cast<unsigned char>(c))) return false;
  } else if (!AllDigits(digits)) {
    return false;
  }
  if (digits.size() > 10) return false;
  *value = strtoull(digits.c_str(), nullptr, base);
  return *value <= max;
}

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// "YYYY-MM-DD HH:MM:SS", a real date between 1601 and 30827 (SYSTEMTIME's range).
bool ValidTime(const std::string& text) {
  if (text.size() != 19) return false;
  static const char kShape[] = "dddd-dd-dd dd:dd:dd";
  for (size_t i = 0; i < 19; ++i) {
    bool digit = isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  int year = atoi(text.substr(0, 4).c_str());
  int month = atoi(text.substr(5, 2).c_str());
  int day = atoi(text.substr(8, 2).c_str());
  int hour = atoi(text.substr(11, 2).c_str());
  int minute = atoi(text.substr(14, 2).c_str());
  int second = atoi(text.substr(17, 2).c_str());
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1601 || month < 1 || month > 12 || day < 1) return false;
  int days = kDays[month - 1] + (month == 2 && LeapYear(year) ? 1 : 0);
  return day <= days && hour < 24 && minute < 60 && second < 60;
}

bool YesNo(const std::string& value, bool* result) {
  std::string lower = LowerAscii(value);
  if (lower != "yes" && lower != "no") return false;
  *result = lower == "yes";
  return true;
}

// "readonly", "hidden", "system", one or more, separated by commas or blanks.
bool ParseAttributes(const std::string& value, DWORD* attributes) {
  static const struct { const char* name; DWORD bit; } kNames[] = {
      {"readonly", FILE_ATTRIBUTE_READONLY}, {"hidden", FILE_ATTRIBUTE_HIDDEN}, {"system", FILE_ATTRIBUTE_SYSTEM}};
  std::string word;
  *attributes = 0;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size() && value[i] != ',' && value[i] != ' ' && value[i] != '\t') {
      word += value[i];
      continue;
    }
    if (word.empty()) continue;
    bool known = false;
    for (const auto& name : kNames) {
      if (LowerAscii(word) != name.name) continue;
      *attributes |= name.bit;
      known = true;
    }
    if (!known) return false;
    word.clear();
  }
  return *attributes != 0;
}

}  // namespace

bool ParseFaultSpec(const std::string& text, FaultSpec* spec) {
  std::string code = text;
  std::string nth;
  size_t at = text.find('@');
  if (at != std::string::npos) {
    code = TrimBlanks(text.substr(0, at));
    nth = TrimBlanks(text.substr(at + 1));
  }
  unsigned long long value = 0;
  if (!ParseNumber(TrimBlanks(code), 0xFFFFFFFFull, &value)) return false;
  spec->code = static_cast<DWORD>(value);
  spec->nth = 0;
  if (at != std::string::npos) {
    unsigned long long n = 0;
    if (!AllDigits(nth) || !ParseNumber(nth, 0xFFFFFFFFull, &n) || n == 0) return false;
    spec->nth = static_cast<unsigned>(n);
  }
  return true;
}

Settings ParseSettings(const std::string& text, const std::string& file) {
  Settings settings;
  std::istringstream in(text);
  std::string line;
  std::string section;
  int line_no = 0;
  int admin_no_line = 0;  // the line that took the rights away, if one did
  auto fail = [&](const std::string& reason) {
    throw MachineError(file + ":" + std::to_string(line_no) + ": " + reason);
  };
  while (std::getline(in, line)) {
    ++line_no;
    std::string trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
    if (trimmed[0] == '[') {
      if (trimmed.back() != ']') fail("bad section line '" + trimmed + "'");
      section = LowerAscii(TrimBlanks(trimmed.substr(1, trimmed.size() - 2)));
      if (section.empty()) fail("empty section name");
      continue;
    }
    size_t equals = trimmed.find('=');
    if (equals == std::string::npos) fail("not a 'key = value' line: '" + trimmed + "'");
    std::string key = TrimBlanks(trimmed.substr(0, equals));
    std::string value = TrimBlanks(trimmed.substr(equals + 1));
    if (key.empty()) fail("empty key");
    if (section.empty()) fail("key '" + key + "' outside a section");
    std::string lower_key = LowerAscii(key);

    if (section == "machine") {
      if (lower_key == "os") {
        if (!ParseOs(value, &settings.os)) fail("unknown os '" + value + "'");
      } else if (lower_key == "admin") {
        if (!YesNo(value, &settings.admin)) fail("unknown admin value '" + value + "' (yes, no)");
        admin_no_line = settings.admin ? 0 : line_no;
      } else if (lower_key == "spooler") {
        std::string v = LowerAscii(value);
        if (v != "running" && v != "stopped") fail("unknown spooler value '" + value + "' (running, stopped)");
        settings.spooler_running = v == "running";
      } else if (lower_key == "clock") {
        std::string v = LowerAscii(value);
        if (v != "real" && v != "virtual") fail("unknown clock value '" + value + "' (real, virtual)");
        settings.virtual_clock = v == "virtual";
      } else if (lower_key == "time") {
        if (!value.empty() && !ValidTime(value)) fail("bad time '" + value + "' (YYYY-MM-DD HH:MM:SS)");
        settings.time = value;
      } else if (lower_key == "module") {
        if (value.empty()) fail("empty module path");
        settings.module = value;
      } else {
        fail("unknown key '" + key + "' in [machine]");
      }
    } else if (section == "faults") {
      FaultSpec spec;
      if (!ParseFaultSpec(value, &spec)) fail("bad fault '" + value + "' for " + key + " (CODE or CODE@N)");
      settings.faults[key] = value;
    } else if (section == "spooler") {
      if (lower_key == "local_ports") {
        settings.local_ports = value;
      } else if (lower_key == "stop_ms") {
        unsigned long long ms = 0;
        if (!AllDigits(value) || !ParseNumber(value, 0xFFFFFFFFull, &ms))
          fail("bad stop_ms '" + value + "' (milliseconds, 0 to 4294967295)");
        settings.spooler_stop_ms = static_cast<DWORD>(ms);
      } else {
        fail("unknown key '" + key + "' in [spooler]");
      }
    } else if (section == "attributes") {
      DWORD attributes = 0;
      if (!ParseAttributes(value, &attributes))
        fail("unknown attribute '" + value + "' (readonly, hidden, system)");
      settings.attributes.emplace_back(key, attributes);
    }
    // Other sections belong to other tools and are left alone.
  }
  // Windows 95, 98, Me and Win32s know no user rights: every user may write
  // HKEY_LOCAL_MACHINE and change the spooler.
  if (admin_no_line && !InfoOf(settings.os).nt_family) {
    line_no = admin_no_line;
    fail(std::string("admin = no on os = ") + InfoOf(settings.os).name +
         ": the 9x systems and Win32s have no rights to deny");
  }
  return settings;
}

}  // namespace winsim

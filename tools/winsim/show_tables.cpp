#include "show_tables.h"

#include <algorithm>
#include <cstdio>

namespace winsim_tool {

void Table::Print(std::ostream& out, bool with_header) const {
  std::vector<size_t> width(header_.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (size_t i = 0; i < row.size() && i < width.size(); ++i) width[i] = std::max(width[i], row[i].size());
  };
  measure(header_);
  for (const auto& row : rows_) measure(row);
  auto line = [&](const std::vector<std::string>& row) {
    std::string text = " ";
    for (size_t i = 0; i < row.size() && i < width.size(); ++i) {
      text += " " + row[i];
      if (i + 1 < row.size()) text += std::string(width[i] - row[i].size() + 1, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  };
  if (with_header) line(header_);
  for (const auto& row : rows_) line(row);
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "type " + std::to_string(type);
  }
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) text += (i ? separator : "") + parts[i];
  return text;
}

namespace {

// Text up to the first NUL; control characters shown as escapes.
std::string Printable(const std::vector<uint8_t>& data, size_t begin, size_t end) {
  std::string text;
  for (size_t i = begin; i < end && data[i] != 0; ++i) {
    unsigned char c = data[i];
    if (c == '\r') text += "\\r";
    else if (c == '\n') text += "\\n";
    else if (c == '\t') text += "\\t";
    else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

std::vector<std::string> MultiStrings(const std::vector<uint8_t>& data) {
  std::vector<std::string> strings;
  size_t begin = 0;
  for (size_t i = 0; i <= data.size(); ++i) {
    if (i == data.size() || data[i] == 0) {
      if (i > begin) strings.push_back(Printable(data, begin, i));
      else if (i < data.size()) break;  // the empty string that ends the list
      begin = i + 1;
    }
  }
  return strings;
}

bool IsDword(const winsim::RegValue& value) { return value.type == REG_DWORD && value.data.size() == 4; }

DWORD DwordFrom(const std::vector<uint8_t>& d) {
  return static_cast<DWORD>(d[0]) | static_cast<DWORD>(d[1]) << 8 | static_cast<DWORD>(d[2]) << 16 |
         static_cast<DWORD>(d[3]) << 24;
}

}  // namespace

std::string FormatData(const winsim::RegValue& value, size_t preview) {
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
    return "\"" + Printable(value.data, 0, value.data.size()) + "\"";
  if (IsDword(value)) {
    DWORD n = DwordFrom(value.data);
    return std::to_string(n) + " (" + Hex(n) + ")";
  }
  if (value.type == REG_MULTI_SZ) {
    std::string text;
    for (const auto& s : MultiStrings(value.data)) text += (text.empty() ? "" : " ") + ("\"" + s + "\"");
    return text.empty() ? "(empty list)" : text;
  }
  std::string text;
  char hex[4];
  for (size_t i = 0; i < value.data.size() && i < preview; ++i) {
    snprintf(hex, sizeof hex, "%02x", value.data[i]);
    text += (i ? " " : "") + std::string(hex);
  }
  if (value.data.size() > preview) text += " ...";
  return value.data.empty() ? "(empty)" : text;
}

std::string StringOf(const winsim::RegKey* key, const std::string& name) {
  const winsim::RegValue* value = key ? key->Value(name) : nullptr;
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return "";
  return Printable(value->data, 0, value->data.size());
}

std::vector<std::string> StringsOf(const winsim::RegKey* key, const std::string& name) {
  const winsim::RegValue* value = key ? key->Value(name) : nullptr;
  if (!value) return {};
  if (value->type == REG_MULTI_SZ) return MultiStrings(value->data);
  std::string one = StringOf(key, name);
  return one.empty() ? std::vector<std::string>{} : std::vector<std::string>{one};
}

bool DwordOf(const winsim::RegKey* key, const std::string& name, DWORD* out) {
  const winsim::RegValue* value = key ? key->Value(name) : nullptr;
  if (!value || !IsDword(*value)) return false;
  *out = DwordFrom(value->data);
  return true;
}

Table ValueTable(const winsim::RegKey& key, size_t preview) {
  Table table({"NAME", "TYPE", "LENGTH", "DATA"});
  for (const auto& value : key.values)
    table.Add({value.name.empty() ? "(default)" : value.name, TypeName(value.type),
               std::to_string(value.data.size()), FormatData(value, preview)});
  return table;
}

}  // namespace winsim_tool

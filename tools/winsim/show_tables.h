// Text tables and registry value formatting for winsim show.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/sim/registry/hive.h"

namespace winsim_tool {

// Columns padded to their widest cell, indented by two spaces.
class Table {
 public:
  explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  bool empty() const { return rows_.empty(); }
  void Print(std::ostream& out, bool with_header = true) const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

std::string TypeName(DWORD type);
// Readable data: a quoted string, a number with its hex form, the strings of
// a REG_MULTI_SZ, or the size and a hex preview of the first bytes.
std::string FormatData(const winsim::RegValue& value, size_t preview = 16);
// A REG_SZ value as text, or "" when absent or of another type.
std::string StringOf(const winsim::RegKey* key, const std::string& name);
// The strings of a REG_MULTI_SZ value (or one REG_SZ), "" when absent.
std::vector<std::string> StringsOf(const winsim::RegKey* key, const std::string& name);
bool DwordOf(const winsim::RegKey* key, const std::string& name, DWORD* out);
std::string Hex(DWORD value);
std::string Join(const std::vector<std::string>& parts, const std::string& separator);
// A table of every value of the key: name, type, length, data.
Table ValueTable(const winsim::RegKey& key, size_t preview = 16);

}  // namespace winsim_tool

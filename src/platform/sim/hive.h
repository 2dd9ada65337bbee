// The HKEY_LOCAL_MACHINE hive of the simulated machine, kept in system.reg as
// REGEDIT4 text. Keys and values keep their case and creation order; names
// are looked up case-insensitively, as Windows does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "win32_sim.h"

namespace winsim {

struct RegValue {
  std::string name;  // "" is the key's default value (@)
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;  // exact bytes, as written (a REG_SZ may or may not hold its NUL)
};

struct RegKey {
  std::string name;
  RegKey* parent = nullptr;
  std::vector<RegValue> values;
  std::vector<std::unique_ptr<RegKey>> subkeys;  // change only through AddChild/RemoveChild
  std::unordered_map<std::string, RegKey*> index;  // lower-case name -> subkey

  RegKey* Child(const std::string& name) const;  // case-insensitive
  RegKey* AddChild(const std::string& name);     // existing or new (appended)
  bool RemoveChild(const std::string& name);
  const RegValue* Value(const std::string& name) const;
  void SetValue(const std::string& name, DWORD type, const uint8_t* data, size_t size);
  std::string Path() const;  // relative to HKLM, backslashes
};

class Hive {
 public:
  Hive();
  RegKey& root() { return *root_; }
  const RegKey& root() const { return *root_; }

  // Path relative to HKEY_LOCAL_MACHINE, '\' separated; empty is the root.
  RegKey* Find(const std::string& path) const;
  RegKey* Create(const std::string& path);
  // Removes the key and its whole tree; false when absent.
  bool Remove(const std::string& path);

  // REGEDIT4 text. Parse throws MachineError("<file>:<line>: ...").
  static Hive Parse(const std::string& text, const std::string& file);
  std::string Serialize() const;

 private:
  std::unique_ptr<RegKey> root_;
};

// The machine's hive, reloaded when system.reg changed on disk.
const Hive& ReadHive();
// Runs `change` on the current hive under the machine lock and saves the
// result atomically when it returns true.
void ChangeHive(const std::function<bool(Hive&)>& change);

// Splits a registry path at backslashes, dropping empty parts.
std::vector<std::string> SplitKeyPath(const std::string& path);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace winsim

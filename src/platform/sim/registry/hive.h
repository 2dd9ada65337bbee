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

#include "platform/sim/win32_sim.h"

namespace winsim {

struct RegValue {
  std::string name;  // "" is the key's default value (@)
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;  // exact bytes, as written (a REG_SZ may or may not hold its NUL)
};

struct RegKey {
  std::string name;
  RegKey* parent = nullptr;
  std::vector<RegValue> values;  // change only through SetValue/RemoveValue
  std::vector<std::unique_ptr<RegKey>> subkeys;  // change only through AddChild/RemoveChild
  std::unordered_map<std::string, RegKey*> index;  // lower-case name -> subkey

  RegKey* Child(const std::string& name) const;  // case-insensitive
  RegKey* AddChild(const std::string& name);     // existing or new (appended)
  bool RemoveChild(const std::string& name);
  const RegValue* Value(const std::string& name) const;
  void SetValue(const std::string& name, DWORD type, const uint8_t* data, size_t size);
  bool RemoveValue(const std::string& name);  // false when absent
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

// The machine's hive (system.reg and the changes pending in its log, see
// hive_store.cpp), reloaded when either changed on disk.
const Hive& ReadHive();
// Runs `change` on the current hive under the machine lock and saves the
// result atomically when it returns true. The change goes through RegKey's
// functions (AddChild, RemoveChild, SetValue, RemoveValue), which record it.
void ChangeHive(const std::function<bool(Hive&)>& change);
// Folds the pending changes into system.reg, so that it alone is the hive.
// Done at the exit of every process that saw pending changes.
void CompactHive();

// --- the change log's text (hive_record.cpp, hive_text.cpp) -------------------

// While alive, writes down the changes made through RegKey's functions to
// the keys of `hive`, in the log's form (one record, without its end line).
class ChangeRecording {
 public:
  explicit ChangeRecording(const Hive& hive);
  ~ChangeRecording();
  ChangeRecording(const ChangeRecording&) = delete;
  ChangeRecording& operator=(const ChangeRecording&) = delete;
  const std::string& text() const { return text_; }

  // Called by RegKey when a key of the hive changes.
  static ChangeRecording* For(const RegKey& key);
  void KeyAdded(const RegKey& key);
  void KeyRemoved(const std::string& full_path);
  void ValueSet(const RegKey& key, const RegValue& value);
  void ValueRemoved(const RegKey& key, const std::string& name);

 private:
  void Select(const RegKey& key);
  const RegKey* root_;
  ChangeRecording* outer_;
  const RegKey* selected_ = nullptr;  // the key that value lines now go to
  std::string text_;
};

// Applies records of the change log to `hive`. `first_line` is the line
// number of the text's first line in `file`, for the error message.
void ApplyChanges(Hive* hive, const std::string& text, const std::string& file, int first_line);
// One value's lines as system.reg holds them, and a value name as they quote it.
void AppendValueLine(std::string* out, const RegValue& value);
void AppendQuotedName(std::string* out, const std::string& name);
// "HKEY_LOCAL_MACHINE" or "HKEY_LOCAL_MACHINE\<path>", as key lines name a key.
std::string FullKeyName(const RegKey& key);
// system.reg's text of `hive`, into `out` (whose buffer is reused).
void SerializeInto(const Hive& hive, std::string* out);

// Splits a registry path at backslashes, dropping empty parts.
std::vector<std::string> SplitKeyPath(const std::string& path);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace winsim

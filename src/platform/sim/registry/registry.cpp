// advapi32's registry functions and shlwapi's SHDeleteKeyA on the machine's
// HKEY_LOCAL_MACHINE hive.
//
// Like Windows, the registry functions return their error code and leave the
// thread's last error alone, on success and on failure.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine.h"

using winsim::ChangeHive;
using winsim::Hive;
using winsim::Machine;
using winsim::NtFamily;
using winsim::ReadHive;
using winsim::RegKey;

namespace {

// An open key: its path below HKLM and the access it was opened with.
struct KeyObject : winsim::Object {
  std::string path;
  REGSAM access = 0;
};

const uintptr_t kFirstPredefined = 0x80000000u;  // HKEY_CLASSES_ROOT
const uintptr_t kLastPredefined = 0x80000006u;   // HKEY_DYN_DATA

const LONG kErrorNoAccess = 998;  // ERROR_NOACCESS: invalid access to a memory location

const REGSAM kGenericRead = 0x80000000u;
const REGSAM kGenericWrite = 0x40000000u;
const REGSAM kGenericAll = 0x10000000u;
const REGSAM kMaximumAllowed = 0x02000000u;
// Rights that change a key: set value, create subkey, create link, DELETE,
// WRITE_DAC, WRITE_OWNER.
const REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x10000 | 0x40000 | 0x80000;

bool Admin() { return Machine::Get().settings().admin; }

// The generic rights map onto the key rights as NT maps them.
REGSAM MapAccess(REGSAM access) {
  REGSAM mapped = access & ~(kGenericRead | kGenericWrite | kGenericAll | kMaximumAllowed);
  if (access & kGenericRead) mapped |= KEY_READ;
  if (access & kGenericWrite) mapped |= KEY_WRITE;
  if (access & kGenericAll) mapped |= KEY_ALL_ACCESS;
  if (access & kMaximumAllowed) mapped |= Admin() ? KEY_ALL_ACCESS : KEY_READ;
  return mapped;
}

// The 9x registry has no security: a key opened for reading can be written.
bool Allows(REGSAM granted, REGSAM needed) { return !NtFamily() || (granted & needed) == needed; }

// Finds the path that a key handle stands for. HKEY_LOCAL_MACHINE is the
// hive's root; the machine has no other predefined root, and those answer
// as a key that does not exist.
LONG KeyOf(HKEY key, std::string* path, REGSAM* access) {
  uintptr_t value = reinterpret_cast<uintptr_t>(key);
  if (key == HKEY_LOCAL_MACHINE) {
    path->clear();
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (value >= kFirstPredefined && value <= kLastPredefined) return ERROR_FILE_NOT_FOUND;
  KeyObject* object = winsim::HandleAs<KeyObject>(reinterpret_cast<HANDLE>(key));
  if (!object) return ERROR_INVALID_HANDLE;
  *path = object->path;
  *access = object->access;
  return ERROR_SUCCESS;
}

std::string Join(const std::string& parent, const char* subkey) {
  std::string sub = subkey ? subkey : "";
  std::string joined;
  for (const std::string& part : winsim::SplitKeyPath(parent)) joined += (joined.empty() ? "" : "\\") + part;
  for (const std::string& part : winsim::SplitKeyPath(sub)) joined += (joined.empty() ? "" : "\\") + part;
  return joined;
}

HKEY NewKeyHandle(const RegKey& key, REGSAM access) {
  auto object = std::make_unique<KeyObject>();
  object->path = key.Path();
  object->access = access;
  return reinterpret_cast<HKEY>(winsim::NewHandle(std::move(object)));
}

// system.reg holds one key per line, so a key name can't hold a line break.
bool ValidKeyName(const char* subkey) {
  return !subkey || (!strchr(subkey, '\n') && !strchr(subkey, '\r'));
}

// The subkeys in the order RegEnumKey gives them: NT keeps them sorted by
// their upper-case names, 9x in the order they were made.
std::vector<const RegKey*> EnumOrder(const RegKey& key) {
  std::vector<const RegKey*> keys;
  for (const auto& sub : key.subkeys) keys.push_back(sub.get());
  if (NtFamily()) {
    auto upper = [](std::string s) {
      for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      return s;
    };
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const RegKey* a, const RegKey* b) { return upper(a->name) < upper(b->name); });
  }
  return keys;
}

// Deletes `subkey` below `key`; `tree` removes a key with subkeys too.
LONG DeleteKey(HKEY key, LPCSTR subkey, bool tree) {
  std::string parent;
  REGSAM access;
  LONG status = KeyOf(key, &parent, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!subkey) return ERROR_INVALID_PARAMETER;
  std::string path = Join(parent, subkey);
  ChangeHive([&](Hive& hive) {
    if (!hive.Find(parent)) {
      status = ERROR_KEY_DELETED;
      return false;
    }
    RegKey* target = hive.Find(path);
    if (!target) {
      status = ERROR_FILE_NOT_FOUND;
    } else if (!target->parent || !Admin()) {
      status = ERROR_ACCESS_DENIED;  // HKLM itself can't go; without rights nothing under it can
    } else if (!tree && !target->subkeys.empty()) {
      status = ERROR_ACCESS_DENIED;  // NT's RegDeleteKey refuses a key that has subkeys
    } else {
      status = ERROR_SUCCESS;
      return hive.Remove(path);
    }
    return false;
  });
  return status;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD /*options*/, REGSAM access, PHKEY result) {
  DWORD code;
  if (winsim::Fault("RegOpenKeyExA", &code)) {
    if (result) *result = nullptr;
    return static_cast<LONG>(code);
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string parent;
  REGSAM parent_access;
  LONG status = KeyOf(key, &parent, &parent_access);
  if (status != ERROR_SUCCESS) return status;
  const Hive& hive = ReadHive();
  if (!hive.Find(parent)) return ERROR_KEY_DELETED;
  const RegKey* target = hive.Find(Join(parent, subkey));
  if (!target) return ERROR_FILE_NOT_FOUND;
  REGSAM granted = MapAccess(access);
  // Users may only read HKLM on NT; the machine applies this on every system
  // so that a run without rights behaves the same on 9x.
  if ((granted & kWriteRights) && !Admin()) return ERROR_ACCESS_DENIED;
  *result = NewKeyHandle(*target, granted);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyA(HKEY key, LPCSTR subkey, PHKEY result) {
  DWORD code;
  if (winsim::Fault("RegCreateKeyA", &code)) {
    if (result) *result = nullptr;
    return static_cast<LONG>(code);
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string parent;
  REGSAM parent_access;
  LONG status = KeyOf(key, &parent, &parent_access);
  if (status != ERROR_SUCCESS) return status;
  if (!ValidKeyName(subkey)) return ERROR_INVALID_PARAMETER;
  std::string path = Join(parent, subkey);
  // RegCreateKey opens with MAXIMUM_ALLOWED: an existing key opens for
  // reading without rights; a missing one needs the right to create it.
  REGSAM granted = MapAccess(kMaximumAllowed);
  {
    const Hive& hive = ReadHive();
    if (!hive.Find(parent)) return ERROR_KEY_DELETED;
    if (const RegKey* existing = hive.Find(path)) {
      *result = NewKeyHandle(*existing, granted);
      return ERROR_SUCCESS;
    }
  }
  if (!Admin() || !Allows(parent_access, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
  ChangeHive([&](Hive& hive) {
    if (!hive.Find(parent)) {
      status = ERROR_KEY_DELETED;
      return false;
    }
    bool existed = hive.Find(path) != nullptr;
    *result = NewKeyHandle(*hive.Create(path), granted);
    status = ERROR_SUCCESS;
    return !existed;
  });
  return status;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD size) {
  DWORD code;
  if (winsim::Fault("RegSetValueExA", &code)) return static_cast<LONG>(code);
  std::string path;
  REGSAM access;
  LONG status = KeyOf(key, &path, &access);
  if (status != ERROR_SUCCESS) return status;
  if (!data && size) return kErrorNoAccess;
  ChangeHive([&](Hive& hive) {
    RegKey* target = hive.Find(path);
    if (!target) {
      status = ERROR_KEY_DELETED;
      return false;
    }
    if (!Admin() || !Allows(access, KEY_SET_VALUE)) {
      status = ERROR_ACCESS_DENIED;
      return false;
    }
    // The bytes are kept exactly as passed: a REG_SZ with or without its NUL.
    target->SetValue(name ? name : "", type, data, size);
    status = ERROR_SUCCESS;
    return true;
  });
  return status;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data, LPDWORD size) {
  DWORD code;
  if (winsim::Fault("RegQueryValueExA", &code)) return static_cast<LONG>(code);
  std::string path;
  REGSAM access;
  LONG status = KeyOf(key, &path, &access);
  if (status != ERROR_SUCCESS) return status;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  const RegKey* target = ReadHive().Find(path);
  if (!target) return ERROR_KEY_DELETED;
  if (!Allows(access, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const winsim::RegValue* value = target->Value(name ? name : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  DWORD needed = static_cast<DWORD>(value->data.size());
  if (!size) return ERROR_SUCCESS;
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data && needed) memcpy(data, value->data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size) {
  DWORD code;
  if (winsim::Fault("RegEnumKeyA", &code)) return static_cast<LONG>(code);
  std::string path;
  REGSAM access;
  LONG status = KeyOf(key, &path, &access);
  if (status != ERROR_SUCCESS) return status;
  const RegKey* target = ReadHive().Find(path);
  if (!target) return ERROR_KEY_DELETED;
  if (!Allows(access, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::vector<const RegKey*> keys = EnumOrder(*target);
  if (index >= keys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& found = keys[index]->name;
  if (!name || size < found.size() + 1) return ERROR_MORE_DATA;
  memcpy(name, found.c_str(), found.size() + 1);
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subkey) {
  DWORD code;
  if (winsim::Fault("RegDeleteKeyA", &code)) return static_cast<LONG>(code);
  // NT deletes only a key without subkeys; 9x deletes the whole tree.
  return DeleteKey(key, subkey, !NtFamily());
}

LONG RegCloseKey(HKEY key) {
  DWORD code;
  if (winsim::Fault("RegCloseKey", &code)) return static_cast<LONG>(code);
  uintptr_t value = reinterpret_cast<uintptr_t>(key);
  // Closing a predefined key succeeds and changes nothing.
  if (value >= kFirstPredefined && value <= kLastPredefined) return ERROR_SUCCESS;
  if (!winsim::HandleAs<KeyObject>(reinterpret_cast<HANDLE>(key))) return ERROR_INVALID_HANDLE;
  winsim::CloseObject(reinterpret_cast<HANDLE>(key));
  return ERROR_SUCCESS;
}

DWORD SHDeleteKeyA(HKEY key, LPCSTR subkey) {
  DWORD code;
  if (winsim::Fault("SHDeleteKeyA", &code)) return code;
  return static_cast<DWORD>(DeleteKey(key, subkey, true));
}

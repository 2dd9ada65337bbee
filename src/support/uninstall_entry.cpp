#include "support/uninstall_entry.h"

#include "app/names.h"

BOOL WriteUninstallEntry() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, names::kUninstallEntryKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS &&
      RegCreateKeyA(HKEY_LOCAL_MACHINE, names::kUninstallEntryKey, &key) != ERROR_SUCCESS)
    return TRUE;  // no rights to create it: nothing written, nothing reported

  // The byte counts hold the terminating zero: it is stored with the text.
  RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(names::kUninstallDisplayName),
                 sizeof(names::kUninstallDisplayName));
  RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(names::kUninstallCommand),
                 sizeof(names::kUninstallCommand));
  RegCloseKey(key);
  return TRUE;
}

BOOL DeleteUninstallEntry() {
  HKEY parent = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, names::kUninstallParentKey, 0, KEY_ALL_ACCESS, &parent) == ERROR_SUCCESS) {
    RegDeleteKeyA(parent, names::kUninstallEntryName);
    RegCloseKey(parent);
  }
  // The shell refreshes its list of installed programs; no item is named.
  SHChangeNotify(SHCNE_CREATE | SHCNE_MKDIR | SHCNE_RMDIR, SHCNF_IDLIST, nullptr, nullptr);
  return TRUE;
}

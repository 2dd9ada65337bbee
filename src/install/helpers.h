// Small routines that the install phases and the uninstall sequence share:
// composing a log line from one of the system's texts, and the registry's
// open-or-create idiom.
#pragma once

#include <string>

#include "platform/win32.h"

// The text with its "%lu" replaced by the code in unsigned decimal. The line
// is composed at its full length, however long.
inline std::string TextWithCode(const char* format, unsigned long code) {
  std::string text = format;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + code % 10));
    code /= 10;
  } while (code != 0);
  size_t at = text.find("%lu");
  if (at != std::string::npos) text.replace(at, 3, digits);
  return text;
}

// The text with its "%s" replaced by the path: the whole path, however long
// (a deep module folder or driver directory still gives the complete line).
inline std::string TextWithPath(const char* format, const std::string& path) {
  std::string text = format;
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, path);
  return text;
}

// A key under HKEY_LOCAL_MACHINE opened with full access, or NULL.
inline HKEY OpenMachineKey(const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

// A key to be written: opened, or created when the open fails; NULL when
// both fail (the writes under it are then skipped).
inline HKEY OpenOrCreateMachineKey(const char* path) {
  HKEY key = OpenMachineKey(path);
  if (key != nullptr) return key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

// Deletes one subkey of the key at `path` with RegDeleteKeyA (a key without
// subkeys on NT, a whole tree on 9x). Returns false when the parent key
// didn't open; *result receives RegDeleteKeyA's code when given.
inline bool DeleteSubkey(const char* path, const char* subkey, LONG* result = nullptr) {
  HKEY key = OpenMachineKey(path);
  if (key == nullptr) return false;
  LONG code = RegDeleteKeyA(key, subkey);
  RegCloseKey(key);
  if (result != nullptr) *result = code;
  return true;
}

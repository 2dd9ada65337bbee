// IniFileMapping of the NT family's profile routines: a profile file with a
// subkey under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\IniFileMapping
// is read from and written to the registry instead.
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine.h"
#include "platform/sim/profile/profile_mapping.h"

using winsim::Machine;

namespace winsim {
namespace profile {

namespace {

const char kMappingKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping";

// NT's kernel32 keeps the IniFileMapping key's mappings in a cache that it
// fills when the process starts: a mapping added or removed later reaches a
// running process only through the flush form of the profile routines
// (section, key and value NULL), which drops the cached mapping of that file.
struct MappingCache {
  std::string root;  // the machine the cache belongs to
  bool loaded = false;
  std::map<std::string, std::vector<winsim::RegValue>> files;  // lower-case file name -> the mapping's values
};

MappingCache& TheMappingCache() {
  static MappingCache cache;
  if (cache.root != Machine::Get().root()) {
    cache = MappingCache();
    cache.root = Machine::Get().root();
  }
  return cache;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// The mapping of one file as the registry holds it now (into the cache).
void ReadMapping(MappingCache& cache, const std::string& name) {
  const winsim::RegKey* map = winsim::ReadHive().Find(std::string(kMappingKey) + "\\" + name);
  if (map)
    cache.files[Lower(name)] = map->values;
  else
    cache.files.erase(Lower(name));
}

void LoadMappings(MappingCache& cache) {
  if (cache.loaded) return;
  cache.loaded = true;
  cache.files.clear();
  const winsim::RegKey* mappings = winsim::ReadHive().Find(kMappingKey);
  if (!mappings) return;
  for (const auto& file : mappings->subkeys) cache.files[Lower(file->name)] = file->values;
}

std::string ValueText(const winsim::RegValue& value) {
  std::string text(value.data.begin(), value.data.end());
  return text.substr(0, text.find('\0'));
}

}  // namespace

// The flush form: a file's mapping is read again on its next use; without a
// file every mapping is.
void FlushMapping(LPCSTR file) {
  if (!Machine::Get().os().nt_family) return;
  MappingCache& cache = TheMappingCache();
  if (!file) {
    cache.loaded = false;
    return;
  }
  LoadMappings(cache);
  ReadMapping(cache, FileName(FullPath(file)));
}

// IniFileMapping (NT): when the cache holds a mapping of the file, the
// profile calls on that file go to the registry. The result tells whether
// the section is mapped; `*key` is the HKLM path that holds `section`'s keys,
// empty when the mapping gives the section no place we have.
bool Mapping(const std::string& path, const char* section, std::string* key) {
  key->clear();
  if (!Machine::Get().os().nt_family) return false;
  MappingCache& cache = TheMappingCache();
  LoadMappings(cache);
  auto found = cache.files.find(Lower(FileName(path)));
  if (found == cache.files.end()) return false;
  // The value named after the section says where its keys are, else the
  // unnamed value; a value that holds no text names no place. Where neither
  // names one, the section is read from and written to the file itself.
  const winsim::RegValue* target = nullptr;
  const winsim::RegValue* unnamed = nullptr;
  for (const auto& value : found->second) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) continue;
    if (section && winsim::EqualNoCase(value.name, section)) target = &value;
    if (value.name.empty()) unnamed = &value;
  }
  if (!target) target = unnamed;
  if (!target) return false;
  std::string text(target->data.begin(), target->data.end());
  text = text.substr(0, text.find('\0'));
  size_t start = text.find_first_not_of("!#@");  // the flags before the root
  text = start == std::string::npos ? "" : text.substr(start);
  // SYS: is HKLM\SOFTWARE; USR: is the user's hive, which the machine lacks.
  if (text.size() >= 4 && winsim::EqualNoCase(text.substr(0, 4), "SYS:"))
    *key = "SOFTWARE\\" + text.substr(4);
  return true;
}

DWORD GetMapped(const std::string& key_path, LPCSTR key, const std::string& fallback, LPSTR buffer, DWORD size) {
  const winsim::RegKey* target = key_path.empty() ? nullptr : winsim::ReadHive().Find(key_path);
  if (!key) {
    std::vector<std::string> names;
    if (target)
      for (const auto& v : target->values)
        if (!v.name.empty()) names.push_back(v.name);
    return CopyList(names, buffer, size);
  }
  // Only a REG_SZ value is a profile string: a value of any other type
  // (REG_EXPAND_SZ too) reads as missing.
  const winsim::RegValue* value = target ? target->Value(Trim(key)) : nullptr;
  return CopyString(value && value->type == REG_SZ ? ValueText(*value) : fallback, buffer, size);
}

BOOL WriteMapped(const std::string& key_path, const std::string& key, LPCSTR value, bool whole_section) {
  if (key_path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (!Machine::Get().settings().admin) {
    SetLastError(ERROR_ACCESS_DENIED);  // HKLM is read-only without rights
    return FALSE;
  }
  winsim::ChangeHive([&](winsim::Hive& hive) {
    winsim::RegKey* target = hive.Find(key_path);
    if (whole_section || !value) {
      if (!target) return false;
      if (!whole_section) return target->RemoveValue(key);
      bool removed = false;
      while (!target->values.empty()) removed = target->RemoveValue(target->values.back().name) || removed;
      return removed;
    }
    if (!target) target = hive.Create(key_path);
    target->SetValue(key, REG_SZ, reinterpret_cast<const uint8_t*>(value), strlen(value) + 1);
    return true;
  });
  return TRUE;
}

}  // namespace profile

void LoadIniFileMappings() {
  if (Machine::Get().os().nt_family) profile::LoadMappings(profile::TheMappingCache());
}

}  // namespace winsim

// The profile routines of the simulated machine: the helpers that the file
// side (profile.cpp) and the IniFileMapping side (profile_mapping.cpp) share.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/win32_sim.h"

namespace winsim {

// What kernel32 does when an NT process starts: it reads the IniFileMapping
// key into the cache that the profile routines use until a flush.
void LoadIniFileMappings();

namespace profile {

std::string Trim(const std::string& s);
// Copies into the caller's buffer as Windows does; returns the count copied.
DWORD CopyString(const std::string& value, LPSTR buffer, DWORD size);
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size);
// The path of a profile file (a bare name lies in the Windows folder), and its file name.
std::string FullPath(const std::string& file);
std::string FileName(const std::string& path);

// The flush form of the profile routines for `file` (NULL: every file).
void FlushMapping(LPCSTR file);
// Whether `path` is mapped into the registry (NT); *key is the HKLM path of
// `section`'s keys there, empty when the mapping gives the section no place.
bool Mapping(const std::string& path, const char* section, std::string* key);
DWORD GetMapped(const std::string& key_path, LPCSTR key, const std::string& fallback, LPSTR buffer, DWORD size);
BOOL WriteMapped(const std::string& key_path, const std::string& key, LPCSTR value, bool whole_section);

}  // namespace profile
}  // namespace winsim

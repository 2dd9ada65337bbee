// Files by name: DeleteFileA, MoveFileA, GetFileAttributesA, FindFirstFileA,
// FindClose.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"
#include "platform/sim/processes/processes.h"

namespace {

struct FindObject : winsim::Object {};

BOOL FailBool(DWORD code) {
  SetLastError(code);
  return FALSE;
}

DWORD AttributesOf(const std::string& windows_path, bool is_dir) {
  return (is_dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) | winsim::GivenAttributes(windows_path);
}

// 100-nanosecond intervals since 1601-01-01 (UTC).
FILETIME FileTimeOf(const struct timespec& time) {
  uint64_t ticks = (static_cast<uint64_t>(time.tv_sec) + 11644473600ull) * 10000000ull +
                   static_cast<uint64_t>(time.tv_nsec) / 100;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

// '*' and '?' as the Windows file system matches them, ignoring case; "*.*"
// matches names without a dot too.
bool Matches(const char* pattern, const char* name) {
  for (; *pattern; ++pattern, ++name) {
    if (*pattern == '*') {
      while (pattern[1] == '*') ++pattern;
      if (!pattern[1]) return true;
      for (const char* rest = name; *rest; ++rest)
        if (Matches(pattern + 1, rest)) return true;
      return Matches(pattern + 1, name + strlen(name));
    }
    if (!*name) return false;
    if (*pattern != '?' && tolower(static_cast<unsigned char>(*pattern)) != tolower(static_cast<unsigned char>(*name)))
      return false;
  }
  return *name == 0;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

}  // namespace

BOOL DeleteFileA(LPCSTR name) {
  DWORD code;
  if (winsim::Fault("DeleteFileA", &code)) return FailBool(code);
  if (!name || !*name) return FailBool(ERROR_PATH_NOT_FOUND);
  if (winsim::HasInvalidNameCharacter(name)) return FailBool(ERROR_INVALID_NAME);
  winsim::MachineLock lock;
  winsim::ResolvedPath path = winsim::Resolve(name);
  if (!path.parent_ok) return FailBool(ERROR_PATH_NOT_FOUND);
  if (!path.exists) return FailBool(ERROR_FILE_NOT_FOUND);
  if (path.is_dir) return FailBool(ERROR_ACCESS_DENIED);
  // Every handle must share delete; then the read-only attribute and a
  // mapped library image refuse the deletion itself.
  if (winsim::DeleteDenied(path.host)) return FailBool(ERROR_SHARING_VIOLATION);
  if (winsim::IsReadOnly(name) || winsim::IsLibraryHeld(name)) return FailBool(ERROR_ACCESS_DENIED);
  if (unlink(path.host.c_str()) != 0) return FailBool(winsim::ErrorFromErrno(errno));
  winsim::NoteEntry(path.host, false);
  return TRUE;
}

BOOL MoveFileA(LPCSTR existing, LPCSTR new_name) {
  DWORD code;
  if (winsim::Fault("MoveFileA", &code)) return FailBool(code);
  if (!existing || !*existing || !new_name || !*new_name) return FailBool(ERROR_PATH_NOT_FOUND);
  if (winsim::HasInvalidNameCharacter(existing) || winsim::HasInvalidNameCharacter(new_name))
    return FailBool(ERROR_INVALID_NAME);
  winsim::MachineLock lock;
  winsim::ResolvedPath from = winsim::Resolve(existing);
  if (!from.parent_ok) return FailBool(ERROR_PATH_NOT_FOUND);
  if (!from.exists) return FailBool(ERROR_FILE_NOT_FOUND);
  winsim::ResolvedPath to = winsim::Resolve(new_name);
  if (!to.parent_ok) return FailBool(ERROR_PATH_NOT_FOUND);
  // MoveFile never replaces; a new spelling of the same name only changes case.
  if (to.exists && to.host != from.host) return FailBool(ERROR_ALREADY_EXISTS);
  if (!from.is_dir) {
    // The move opens the source for delete: every handle must share delete.
    if (winsim::DeleteDenied(from.host)) return FailBool(ERROR_SHARING_VIOLATION);
    if (winsim::IsLibraryHeld(existing)) return FailBool(ERROR_ACCESS_DENIED);
  }
  std::string target = to.host;
  if (to.exists) {  // same file, new case: keep the folder, take the new last name
    target = to.host.substr(0, to.host.rfind('/') + 1) + winsim::LastComponent(new_name);
  }
  if (rename(from.host.c_str(), target.c_str()) != 0) return FailBool(winsim::ErrorFromErrno(errno));
  winsim::NoteEntry(from.host, false);
  winsim::NoteEntry(target, true);
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name) {
  DWORD code;
  if (winsim::Fault("GetFileAttributesA", &code)) {
    SetLastError(code);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!name || !*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (winsim::HasInvalidNameCharacter(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  winsim::ResolvedPath path = winsim::Resolve(name);
  if (!path.exists) {
    SetLastError(path.parent_ok ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(name, path.is_dir);
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  DWORD code;
  if (winsim::Fault("FindFirstFileA", &code)) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string text = pattern;
  std::string last = winsim::LastComponent(text);
  std::string folder = text.substr(0, text.size() - last.size());
  if (last.empty()) {  // a folder with a trailing separator, or a drive root
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  winsim::ResolvedPath parent = winsim::Resolve(folder.empty() ? "." : folder);
  if (!parent.exists || !parent.is_dir) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string found;
  if (HasWildcard(last)) {
    std::string wanted = last == "*.*" ? "*" : last;
    std::vector<std::string> names;
    if (DIR* dir = opendir(parent.host.c_str())) {
      while (struct dirent* entry = readdir(dir)) {
        std::string stored = entry->d_name;
        if (stored != "." && stored != ".." && Matches(wanted.c_str(), stored.c_str())) names.push_back(stored);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    if (!names.empty()) found = names.front();
  } else {
    winsim::ResolvedPath path = winsim::Resolve(text);
    if (path.exists) found = path.host.substr(path.host.rfind('/') + 1);
  }
  struct stat st;
  if (found.empty() || stat((parent.host + "/" + found).c_str(), &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = AttributesOf(folder + found, S_ISDIR(st.st_mode));
  data->ftCreationTime = FileTimeOf(st.st_mtim);
  data->ftLastAccessTime = FileTimeOf(st.st_atim);
  data->ftLastWriteTime = FileTimeOf(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
  snprintf(data->cFileName, sizeof data->cFileName, "%s", found.c_str());
  return winsim::NewHandle(std::make_unique<FindObject>());
}

BOOL FindClose(HANDLE find) {
  DWORD code;
  if (winsim::Fault("FindClose", &code)) return FailBool(code);
  if (!winsim::HandleAs<FindObject>(find)) return FailBool(ERROR_INVALID_HANDLE);
  winsim::CloseObject(find);
  return TRUE;
}

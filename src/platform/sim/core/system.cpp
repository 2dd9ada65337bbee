// The system and the running module: last error, version, system directory,
// module file name and handle.
#include <cstring>

#include "platform/sim/core/machine_internal.h"

namespace {

// Each thread has its own last error.
thread_local DWORD last_error = 0;

// The running program's module handle: its image base, as on Windows.
HMODULE const kModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));

std::string BaseNameWithoutExe(const std::string& path) {
  std::string name = winsim::LastComponent(path);
  if (name.size() > 4 && winsim::SameTextNoCase(name.substr(name.size() - 4), ".exe"))
    name = name.substr(0, name.size() - 4);
  return name;
}

}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD code) { last_error = code; }

DWORD GetVersion() { return winsim::Machine::Get().os().version; }

namespace {

// A folder of the system into the caller's buffer. Too small a buffer: the
// size needed (with the terminator) comes back and the buffer is left alone;
// the last error stays as it was.
UINT CopyFolder(const char* folder, LPSTR buffer, UINT size) {
  UINT length = static_cast<UINT>(strlen(folder));
  if (!buffer || size <= length) return length + 1;
  memcpy(buffer, folder, length + 1);
  return length;
}

}  // namespace

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  DWORD code;
  if (winsim::Fault("GetSystemDirectoryA", &code)) {
    SetLastError(code);
    return 0;
  }
  return CopyFolder(winsim::Machine::Get().os().system_dir, buffer, size);
}

// The Windows folder: C:\WINDOWS, or C:\WINNT on NT 4.0 and 2000.
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  DWORD code;
  if (winsim::Fault("GetWindowsDirectoryA", &code)) {
    SetLastError(code);
    return 0;
  }
  return CopyFolder(winsim::Machine::Get().os().windows, buffer, size);
}

// Too small a buffer, as every system up to XP answers: the name is cut to
// `size` characters without a terminator, the result is `size` and the last
// error stays as it was; a size of 0 gives 0, the last error again as it was.
// (Vista and later terminate the cut name and set ERROR_INSUFFICIENT_BUFFER.)
// Sources: the "Windows XP" notes of GetModuleFileName's documentation, and
// Wine's kernel32 module tests, which mark an untouched last error as the
// answer of XP SP3 and earlier.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  DWORD code;
  if (winsim::Fault("GetModuleFileNameA", &code)) {
    SetLastError(code);
    return 0;
  }
  if (module != nullptr && module != kModule) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::string& path = winsim::Machine::Get().settings().module;
  if (!buffer || size == 0) return 0;
  if (path.size() < size) {
    memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  memcpy(buffer, path.data(), size);
  return size;
}

// The program's own module: NULL, or its file name with or without ".exe".
HMODULE GetModuleHandleA(LPCSTR name) {
  DWORD code;
  if (winsim::Fault("GetModuleHandleA", &code)) {
    SetLastError(code);
    return nullptr;
  }
  if (!name) return kModule;
  std::string own = BaseNameWithoutExe(winsim::Machine::Get().settings().module);
  if (winsim::SameTextNoCase(BaseNameWithoutExe(name), own)) return kModule;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

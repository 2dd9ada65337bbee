// Phase A: what the machine is (driver and system directories, platform
// flags), where setup runs from, and which monitor library fits.
#include <algorithm>
#include <cstdio>

#include "app/names.h"
#include "app/outcome.h"
#include "app/texts.h"
#include "install/install_context.h"
#include "support/setup_log.h"

void ReadPlatformFlags(BOOL* is_winnt, BOOL* is_win4) {
  DWORD version = GetVersion();
  *is_winnt = (version & 0x80000000u) == 0 ? TRUE : FALSE;        // the 9x family and Win32s set bit 31
  *is_win4 = static_cast<BYTE>(version & 0xFF) >= 4 ? TRUE : FALSE;  // major version, also TRUE on 5.x
}

std::string GetModuleDirectory() {
  char path[512] = {};
  GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof(path));
  // NT leaves a path cut at the buffer's end unterminated: read no further.
  std::string folder(path, std::find(path, path + sizeof(path), '\0'));
  size_t backslash = folder.rfind('\\');
  if (backslash == std::string::npos) return std::string();
  return folder.substr(0, backslash);
}

namespace {

// Only the first entry is compared: this trace tells whether the monitor is
// at the head of the spooler's list, and nothing depends on it.
void TraceInstalledMonitor() {
  alignas(void*) BYTE monitors[4096];
  DWORD needed = 0;
  DWORD count = 0;
  if (!EnumMonitorsA(nullptr, 1, monitors, sizeof(monitors), &needed, &count)) {
    printf("%s", texts::kTraceEnumMonitorsFailed);
    return;
  }
  const MONITOR_INFO_1A* first = reinterpret_cast<const MONITOR_INFO_1A*>(monitors);
  if (count > 0 && first->pName != nullptr && lstrcmpA(first->pName, names::kMonitor) == 0)
    printf("%s", texts::kTraceMonitorFound);
}

}  // namespace

bool DetectEnvironment(InstallContext& context) {
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(context.driver_directory),
                                  sizeof(context.driver_directory), &needed)) {
    // Without the spooler's answer there is no directory to copy the driver
    // files to; a guessed one would send them to the root of the drive.
    outcome::Set(outcome::kFailure);
    return false;
  }
  context.driver_directory[sizeof(context.driver_directory) - 1] = '\0';

  TraceInstalledMonitor();

  context.module_folder = GetModuleDirectory();

  // GetSystemDirectoryA returns the length without the terminator, or the
  // size needed when the buffer is too small. The backslash must fit too.
  UINT length = GetSystemDirectoryA(context.system_directory, sizeof(context.system_directory));
  if (length == 0 || length + 2 > sizeof(context.system_directory)) {
    outcome::Set(outcome::kFailure);
    return false;
  }
  lstrcatA(context.system_directory, "\\");

  ReadPlatformFlags(&context.is_winnt, &context.is_win4);
  WriteSetupLog(context.is_winnt ? texts::kLogWinNtTrue : texts::kLogWinNtFalse);
  WriteSetupLog(context.is_win4 ? texts::kLogWin4True : texts::kLogWin4False);

  context.monitor_library = context.is_winnt ? names::kMonitorLibraryNt : names::kMonitorLibrary9x;
  return true;
}

// The values that phase A establishes and the later phases of InstallPrinter read.
#pragma once

#include <string>

#include "platform/win32.h"

struct InstallContext {
  char driver_directory[256] = {};  // as the spooler reports it, no trailing backslash
  std::string module_folder;        // the running executable's folder, no trailing backslash
  char system_directory[512] = {};  // with "\" appended
  BOOL is_winnt = FALSE;
  BOOL is_win4 = FALSE;
  std::string monitor_library;      // "ztqmon.dll" or "ztqmon95.dll"
  BOOL rpc_inaccessible = FALSE;
  // Phase F: the printer "ZENTAQ" exists after AddPrinterA (added now, or
  // refused with 1802 because an earlier run added it). Decides the exit status.
  BOOL printer_in_place = FALSE;

  // The 9x branch: is_winnt FALSE and is_win4 TRUE; every other combination is the NT branch.
  bool Is9xBranch() const { return !is_winnt && is_win4; }
  // module folder + "\res\drivedir\"
  std::string StagingFolder() const { return module_folder + "\\res\\drivedir\\"; }
};

// Each phase returns true to go on, false when it ends setup. A phase that
// ends setup sets the exit status (outcome::Set) before it returns false.
bool DetectEnvironment(InstallContext& context);       // phase A
bool GuardUpgrade(InstallContext& context);            // phase B
bool StageFiles(InstallContext& context);              // phase C
bool RegisterMonitor(InstallContext& context);         // phase D
bool RegisterDriver(InstallContext& context);          // phase E
bool CreatePrinter(InstallContext& context);           // phase F
bool ConfigurePrinter(InstallContext& context);        // phase G
bool CompleteInstallation(InstallContext& context);    // phase H

// The platform flags from one GetVersion call: is_winnt when bit 31 is clear
// (the 9x family and Win32s set it), is_win4 when the major version (the low
// byte) is 4 or more. Shared by phase A and the uninstall sequence.
void ReadPlatformFlags(BOOL* is_winnt, BOOL* is_win4);

// The folder of the running executable, without a trailing backslash.
std::string GetModuleDirectory();

// The install action: phases A to H in order.
void InstallPrinter();

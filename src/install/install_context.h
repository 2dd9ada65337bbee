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

  // The 9x branch: is_winnt FALSE and is_win4 TRUE; every other combination is the NT branch.
  bool Is9xBranch() const { return !is_winnt && is_win4; }
  // module folder + "\res\drivedir\"
  std::string StagingFolder() const { return module_folder + "\\res\\drivedir\\"; }
};

// Each phase returns true to go on, false when it ends setup.
bool DetectEnvironment(InstallContext& context);       // phase A
bool GuardUpgrade(InstallContext& context);            // phase B
bool StageFiles(InstallContext& context);              // phase C
bool RegisterMonitor(InstallContext& context);         // phase D
bool RegisterDriver(InstallContext& context);          // phase E
bool CreatePrinter(InstallContext& context);           // phase F
bool ConfigurePrinter(InstallContext& context);        // phase G
bool CompleteInstallation(InstallContext& context);    // phase H

// The folder of the running executable, without a trailing backslash.
std::string GetModuleDirectory();

// The install action: phases A to H in order.
void InstallPrinter();

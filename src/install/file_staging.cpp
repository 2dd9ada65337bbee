// Phase C: the monitor libraries go to the system directory and the driver
// files to the driver directory, where the spooler looks for them when the
// monitor and the driver are registered; the configuration file is prepared.
// A failed copy is logged by CopyFile and the phase goes on.
#include <algorithm>
#include <iterator>

#include "app/names.h"
#include "app/texts.h"
#include "install/helpers.h"
#include "install/install_context.h"
#include "support/file_copy.h"
#include "support/setup_log.h"

namespace {

void CopyToDriverDirectory(const InstallContext& context, const char* name) {
  CopyFile(context.StagingFolder() + name, std::string(context.driver_directory) + "\\" + name);
}

// On NT a subkey named after the file under IniFileMapping sends profile
// calls on it into the registry; without it they reach the file itself.
void UnmapConfigurationFile() {
  HKEY mapping = OpenOrCreateMachineKey(names::kIniFileMappingKey);
  if (mapping != nullptr) {
    RegDeleteKeyA(mapping, names::kIniFileMappingSubkey);
    RegCloseKey(mapping);
  }
  // The flush form (section, key and value NULL): the system drops its
  // cached copy of the file.
  WCHAR path[sizeof(names::kConfigFile)] = {};
  std::copy(std::begin(names::kConfigFile), std::end(names::kConfigFile), path);
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path);
}

}  // namespace

bool StageFiles(InstallContext& context) {
  const std::string staging = context.StagingFolder();
  const std::string system_directory = context.system_directory;
  CopyFile(staging + context.monitor_library, system_directory + context.monitor_library);
  const char* companion =
      context.monitor_library == names::kMonitorLibraryNt ? names::kCompanionLibraryNt : names::kCompanionLibrary9x;
  CopyFile(staging + companion, system_directory + companion);

  WriteSetupLog(TextWithPath(texts::kLogDriverDirectory, context.driver_directory));

  if (context.Is9xBranch()) {
    CopyToDriverDirectory(context, names::kDriverDataFile9x);
    // An empty value: no uninstall run since this install (the uninstall
    // sequence reads it to tell its first run from the second).
    WritePrivateProfileStringA(names::kConfigSection, names::kConfigKeyUninstall, "", names::kConfigFile);
  } else {
    UnmapConfigurationFile();
    CopyToDriverDirectory(context, names::kPscriptDll);
    CopyToDriverDirectory(context, names::kDriverUi);
    CopyToDriverDirectory(context, names::kPscriptHelp);
  }
  CopyToDriverDirectory(context, names::kPpd);
  CopyToDriverDirectory(context, names::kFontTable);
  return true;
}

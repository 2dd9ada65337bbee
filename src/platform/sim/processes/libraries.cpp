// Libraries that the spooler holds loaded (port monitors), kept in state.ini,
// section [loaded], one canonical Windows path per line, so that every
// process on the machine sees them. A held library can't be deleted, renamed
// or opened for writing. Reboot() rebuilds the set from the registered
// monitors, as the spooler loads them when the system starts.

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"
#include "platform/sim/processes/processes.h"
#include "platform/sim/services/services.h"

namespace winsim {

namespace {

const char kSection[] = "loaded";

std::vector<std::string> Loaded() { return ReadStateSection(kSection); }
void WriteLoaded(const std::vector<std::string>& loaded) { WriteStateSection(kSection, loaded); }

std::string TextOf(const RegValue& value) {
  std::string text(value.data.begin(), value.data.end());
  size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

}  // namespace

bool IsLibraryHeld(const std::string& windows_path) {
  SpoolerState();  // a stop whose time has come ends first, and lets go of every library
  std::string canonical = CanonicalPath(windows_path);
  for (const std::string& path : Loaded())
    if (path == canonical) return true;
  return false;
}

void LoadLibraryHeld(const std::string& windows_path) {
  MachineLock lock;
  std::vector<std::string> loaded = Loaded();
  std::string canonical = CanonicalPath(windows_path);
  for (const std::string& path : loaded)
    if (path == canonical) return;
  loaded.push_back(canonical);
  WriteLoaded(loaded);
}

void ReleaseAllLibraries() {
  MachineLock lock;
  if (!Loaded().empty()) WriteLoaded({});
}

std::vector<std::string> HeldLibraries() {
  SpoolerState();
  return Loaded();
}

void Reboot() {
  MachineLock lock;
  const Machine& machine = Machine::Get();
  std::vector<std::string> loaded;
  // What programs did to the spooler service goes with the running system:
  // it starts (or not) as the machine has it at boot.
  ForgetSpoolerState();
  bool spooler_starts = SpoolerRunning();
  const RegKey* monitors = ReadHive().Find("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors");
  if (spooler_starts && monitors) {
    for (const auto& monitor : monitors->subkeys) {
      const RegValue* driver = monitor->Value("Driver");
      if (!driver) continue;
      std::string library = TextOf(*driver);
      if (library.empty()) continue;
      // A bare file name is in the system directory.
      if (library.find_first_of("\\/") == std::string::npos)
        library = std::string(machine.os().system_dir) + "\\" + library;
      // A monitor whose library is missing fails to load and holds nothing.
      if (!Resolve(library).exists) continue;
      std::string canonical = CanonicalPath(library);
      bool known = false;
      for (const std::string& path : loaded) known = known || path == canonical;
      if (!known) loaded.push_back(canonical);
    }
  }
  WriteLoaded(loaded);
  Journal({"Reboot"});
}

}  // namespace winsim

// Port monitors of the simulated spooler: EnumMonitorsA, AddMonitorA,
// DeleteMonitorA.
//
// A monitor is the key Monitors\<name> with the value Driver, its library's
// file name. The spooler loads the library when the monitor is added and
// holds it from then on: the file can't be deleted, renamed or overwritten.
// Deleting the monitor doesn't unload it; on NT a restart of the service
// does, on 9x only a reboot.
#include <functional>

#include "platform/sim/spooler/spooler.h"
#include "platform/sim/files/files.h"
#include "platform/sim/processes/processes.h"

namespace winsim {
namespace spool {

bool IsRegisteredMonitor(const RegKey& monitor) { return monitor.Value("Driver") != nullptr; }

void LoadRegisteredMonitors() {
  std::vector<std::string> libraries;
  if (const RegKey* monitors = ReadHive().Find(kMonitorsKey)) {
    for (const auto& monitor : monitors->subkeys) {
      std::string library = Text(*monitor, "Driver");
      if (!library.empty()) libraries.push_back(SystemPath(library));
    }
  }
  // A monitor whose library is missing fails to load and holds nothing.
  for (const std::string& library : libraries)
    if (Resolve(library).exists) LoadLibraryHeld(library);
}

namespace {

struct Monitor {
  std::string name;
  std::string library;
};

// The registered monitors in the order of their keys. The local monitor is
// part of the spooler: it has a key of its own on a standard system, and is
// listed first when that key is missing.
std::vector<Monitor> Monitors() {
  std::vector<Monitor> list;
  bool local = false;
  if (const RegKey* monitors = ReadHive().Find(kMonitorsKey)) {
    for (const auto& key : monitors->subkeys) {
      if (!IsRegisteredMonitor(*key)) continue;
      local = local || EqualNoCase(key->name, kLocalMonitor);
      list.push_back({key->name, Text(*key, "Driver")});
    }
  }
  if (!local) {
    const OsInfo& os = Machine::Get().os();
    // Windows 2000 merged the local monitor into the local spooler.
    bool merged = os.os == Os::Win2000 || os.os == Os::XP;
    list.insert(list.begin(), Monitor{kLocalMonitor, merged ? "localspl.dll" : "localmon.dll"});
  }
  return list;
}

DWORD EnumMonitors(DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
  if (level != 1 && level != 2) return ERROR_INVALID_LEVEL;
  std::vector<Monitor> monitors = Monitors();
  std::string environment = Machine::Get().os().environment;
  Packer packer(level == 1 ? sizeof(MONITOR_INFO_1A) : sizeof(MONITOR_INFO_2A), monitors.size());
  for (const Monitor& monitor : monitors) {
    packer.Count(monitor.name);
    if (level == 2) {
      packer.Count(environment);
      packer.Count(monitor.library);
    }
  }
  return FillEnumBuffer(&packer, monitors.size(), buffer, size, needed, returned, [&](Packer* out) {
    for (size_t i = 0; i < monitors.size(); ++i) {
      if (level == 1) {
        MONITOR_INFO_1A record{out->Put(monitors[i].name)};
        out->PutRecord(i, &record);
      } else {
        MONITOR_INFO_2A record{};
        record.pName = out->Put(monitors[i].name);
        record.pEnvironment = out->Put(environment);
        record.pDLLName = out->Put(monitors[i].library);
        out->PutRecord(i, &record);
      }
    }
  });
}

DWORD AddMonitor(DWORD level, LPBYTE info) {
  if (level != 2) return ERROR_INVALID_LEVEL;
  if (!info) return ERROR_INVALID_PARAMETER;
  DWORD error = NeedAdmin();
  if (error) return error;
  const MONITOR_INFO_2A* monitor = reinterpret_cast<const MONITOR_INFO_2A*>(info);
  // A monitor is a library of the native environment.
  if (!IsNativeEnvironment(monitor->pEnvironment)) return ERROR_INVALID_ENVIRONMENT;
  // The name becomes a key name under Monitors: one level, no backslash.
  if (!IsKeyName(monitor->pName) || !monitor->pDLLName || !*monitor->pDLLName) return ERROR_INVALID_PARAMETER;
  std::string name = monitor->pName;
  std::string library = monitor->pDLLName;
  // The spooler loads the library before it records anything.
  ResolvedPath file = Resolve(SystemPath(library));
  if (!file.exists || file.is_dir) return ERROR_MOD_NOT_FOUND;

  MachineLock lock;
  ChangeHive([&](Hive& hive) {
    RegKey* existing = hive.Find(std::string(kMonitorsKey) + "\\" + name);
    if (EqualNoCase(name, kLocalMonitor) || (existing && IsRegisteredMonitor(*existing))) {
      error = ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
      return false;
    }
    // A key without Driver (port records written ahead) is taken over.
    SetText(hive.Create(std::string(kMonitorsKey) + "\\" + name), "Driver", library);
    return true;
  });
  if (!error) LoadLibraryHeld(SystemPath(library));
  return error;
}

DWORD DeleteMonitor(const char* name) {
  if (!name || !*name) return ERROR_INVALID_PARAMETER;
  DWORD error = NeedAdmin();
  if (error) return error;
  // The local monitor is part of the spooler and always in use.
  if (EqualNoCase(name, kLocalMonitor)) return ERROR_PRINT_MONITOR_IN_USE;

  MachineLock lock;
  ChangeHive([&](Hive& hive) {
    RegKey* monitors = hive.Find(kMonitorsKey);
    RegKey* monitor = monitors ? monitors->Child(name) : nullptr;
    if (!monitor || !IsRegisteredMonitor(*monitor)) {
      error = ERROR_UNKNOWN_PRINT_MONITOR;
      return false;
    }
    std::vector<std::string> ports;
    if (const RegKey* port_keys = monitor->Child("Ports"))
      for (const auto& port : port_keys->subkeys) ports.push_back(port->name);
    if (const RegKey* printers = hive.Find(kPrintersKey)) {
      for (const auto& printer : printers->subkeys)
        for (const std::string& used : SplitPortList(Text(*printer, "Port")))
          for (const std::string& port : ports)
            if (EqualNoCase(used, port)) error = ERROR_PRINT_MONITOR_IN_USE;
    }
    if (error) return false;
    // The monitor's key goes with everything under it, its port records too.
    monitors->RemoveChild(monitor->name);
    return true;
  });
  // The library stays loaded: the spooler lets it go when it stops (NT) or
  // the machine boots again (9x).
  return error;
}

}  // namespace
}  // namespace spool
}  // namespace winsim

BOOL EnumMonitorsA(LPSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
  using namespace winsim::spool;
  DWORD error = Enter("EnumMonitorsA", server);
  if (!error) error = EnumMonitors(level, buffer, size, needed, returned);
  return Leave(error);
}

BOOL AddMonitorA(LPSTR server, DWORD level, LPBYTE info) {
  using namespace winsim::spool;
  DWORD error = Enter("AddMonitorA", server);
  if (!error) error = AddMonitor(level, info);
  // Once the library has loaded the spooler clears the last error, and
  // monitor installers read it after a successful add (Wine's localspl
  // notes one that depends on it).
  if (!error) SetLastError(ERROR_SUCCESS);
  return Leave(error);
}

// The environment is not looked at: the local spooler ignores it.
BOOL DeleteMonitorA(LPSTR server, LPSTR /*environment*/, LPSTR name) {
  using namespace winsim::spool;
  DWORD error = Enter("DeleteMonitorA", server);
  if (!error) error = DeleteMonitor(name);
  return Leave(error);
}

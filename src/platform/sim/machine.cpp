// A fresh machine: the files and folders that a machine directory lacks,
// made with the defaults of its system (machine.ini, the system's folders,
// the standard hive, an empty journal and answer queue). It sits above the
// machine's areas, since it makes folders as the files area resolves them.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"

namespace winsim {

namespace {

const char kDefaultSettings[] =
    "[machine]\n"
    "os = xp\n"
    "admin = yes\n"
    "spooler = running\n"
    "clock = real\n"
    "time =\n"
    "module = c:\\zentaq\\setup.exe\n"
    "\n"
    "[spooler]\n"
    "local_ports = LPT1:,COM1:,FILE:\n"
    "\n"
    "[faults]\n"
    "\n"
    "[attributes]\n";

std::string Key(const std::string& path) { return "\n[HKEY_LOCAL_MACHINE\\" + path + "]\n"; }

// The keys of a freshly installed system that the setup program and the
// spooler work in.
std::string DefaultHive(const OsInfo& info) {
  const std::string print = "SYSTEM\\CurrentControlSet\\Control\\Print\\";
  std::string text = "REGEDIT4\n";
  text += Key("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  if (info.nt_family) {
    text += Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping");
    text += Key(print + "Environments\\Windows NT x86") + "\"Directory\"=\"w32x86\"\n";
    text += Key(print + "Environments\\Windows NT x86\\Drivers\\Version-2");
    text += Key(print + "Environments\\Windows NT x86\\Print Processors\\winprint") +
            "\"Driver\"=\"winprint.dll\"\n";
    // Windows 2000 merged the local monitor into the local spooler.
    bool merged = info.os == Os::Win2000 || info.os == Os::XP;
    text += Key(print + "Monitors\\Local Port") + "\"Driver\"=\"" + (merged ? "localspl.dll" : "localmon.dll") +
            "\"\n";
    text += Key(print + "Printers");
    text += Key("SYSTEM\\CurrentControlSet\\Services\\Spooler") +
            "\"DisplayName\"=\"Print Spooler\"\n\"Start\"=dword:00000002\n";
  } else {
    text += Key(print + "Environments\\Windows 4.0\\Drivers");
    text += Key(print + "Environments\\Windows 4.0\\Print Processors\\WinPrint") +
            "\"Driver\"=\"winprint.dll\"\n";
    text += Key(print + "Monitors\\Local Port") + "\"Driver\"=\"localmon.dll\"\n";
    text += Key(print + "Printers");
  }
  return text;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void MakeHostDirs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if ((i == path.size() || path[i] == '/') && !part.empty()) {
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        throw MachineError(part + ": cannot create the folder: " + strerror(errno));
    }
    if (i < path.size()) part += path[i];
  }
}

void CreateIfMissing(const std::string& path, const std::string& content) {
  if (!Exists(path)) WriteFileAtomic(path, content);
}

}  // namespace

Settings PrepareMachine(const std::string& root) {
  MakeHostDirs(root);
  RootLock lock(root);
  std::string ini_path = root + "/machine.ini";
  CreateIfMissing(ini_path, kDefaultSettings);
  std::string text;
  if (!ReadWholeFile(ini_path, &text)) throw MachineError("machine.ini: cannot be read");
  Settings settings = ParseSettings(text, "machine.ini");
  const OsInfo& info = InfoOf(settings.os);

  MakeFolders(root, info.system_dir);
  MakeFolders(root, info.driver_dir);
  CreateIfMissing(root + "/answers", "");
  CreateIfMissing(root + "/journal.log", "");
  CreateIfMissing(root + "/system.reg", DefaultHive(info));
  return settings;
}


}  // namespace winsim

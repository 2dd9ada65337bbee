// The machine: its systems, the directory that WINSIM_ROOT names, and the
// files and folders of a fresh machine.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

namespace {

// GetVersion: low byte major, next byte minor, high word the build number on
// NT; the 9x family and Win32s set bit 31. NT 3.51 (build 1057) is 3.51:
// major 3 in the low byte, minor 51 (0x33) in the next.
const std::vector<OsInfo>& Table() {
  static const std::vector<OsInfo> table = {
      {Os::Win95, "95", 0xC3B60004u, false, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM",
       "Windows 4.0"},
      {Os::Win98, "98", 0xC0000A04u, false, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM",
       "Windows 4.0"},
      {Os::WinMe, "me", 0xC0005A04u, false, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM",
       "Windows 4.0"},
      {Os::NT351, "nt351", 0x04213303u, true, "C:\\WINNT", "C:\\WINNT\\system32",
       "C:\\WINNT\\system32\\spool\\drivers\\w32x86", "Windows NT x86"},
      {Os::NT4, "nt4", 0x05650004u, true, "C:\\WINNT", "C:\\WINNT\\system32",
       "C:\\WINNT\\system32\\spool\\drivers\\w32x86", "Windows NT x86"},
      {Os::Win2000, "2000", 0x08930005u, true, "C:\\WINNT", "C:\\WINNT\\system32",
       "C:\\WINNT\\system32\\spool\\drivers\\w32x86", "Windows NT x86"},
      {Os::XP, "xp", 0x0A280105u, true, "C:\\WINDOWS", "C:\\WINDOWS\\system32",
       "C:\\WINDOWS\\system32\\spool\\drivers\\w32x86", "Windows NT x86"},
      // Win32s runs on Windows 3.1: a 9x-like machine without services.
      {Os::Win32s, "win32s", 0x80000A03u, false, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM",
       "Windows 4.0"},
  };
  return table;
}

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

std::unique_ptr<Machine>& Current() {
  static std::unique_ptr<Machine> machine;
  return machine;
}

std::string WithoutTrailingSlash(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

}  // namespace

const OsInfo& InfoOf(Os os) {
  for (const OsInfo& info : Table())
    if (info.os == os) return info;
  return Table().back();
}

bool ParseOs(const std::string& text, Os* os) {
  for (const OsInfo& info : Table()) {
    if (SameTextNoCase(text, info.name)) {
      *os = info.os;
      return true;
    }
  }
  return false;
}

const std::vector<OsInfo>& AllOses() { return Table(); }

namespace {

// EnsureMachine, giving the settings read on the way.
Settings Ensure(const std::string& root) {
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

}  // namespace

void EnsureMachine(const std::string& root) { Ensure(WithoutTrailingSlash(root)); }

Machine::Machine(const std::string& root) : root_(WithoutTrailingSlash(root)) { settings_ = Ensure(root_); }

Machine& Machine::Get() {
  if (!Current()) {
    const char* root = getenv("WINSIM_ROOT");
    if (!root || !*root) throw MachineError("WINSIM_ROOT: not set (the directory of the simulated machine)");
    Current().reset(new Machine(root));
    ResetFaultCounts();
  }
  return *Current();
}

void Machine::Open(const std::string& root) {
  LetGoOfMachineDirectories();
  std::unique_ptr<Machine> machine(new Machine(root));
  Current() = std::move(machine);
  ResetFaultCounts();
}

}  // namespace winsim

// The machine: its systems, and the directory that WINSIM_ROOT names (what
// a fresh machine holds is made by ../machine.cpp).
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

void EnsureMachine(const std::string& root) { PrepareMachine(WithoutTrailingSlash(root)); }

Machine::Machine(const std::string& root) : root_(WithoutTrailingSlash(root)) { settings_ = PrepareMachine(root_); }

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

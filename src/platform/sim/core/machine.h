// The simulated Windows machine: a directory, found through WINSIM_ROOT.
//
// The machine's core, which every area of platform/sim builds on; the winsim
// tool and the tests include ../machine.h, which adds the areas' own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/win32_sim.h"

namespace winsim {

// A machine file that cannot be used (a line that does not parse, an unknown
// setting). what() is one line: "<file>:<line>: <reason>".
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Os { Win95, Win98, WinMe, NT351, NT4, Win2000, XP, Win32s };

struct OsInfo {
  Os os;
  const char* name;        // machine.ini spelling: 95, 98, me, nt351, nt4, 2000, xp, win32s
  DWORD version;           // what GetVersion returns
  bool nt_family;          // NT kernel: services, RegDeleteKey refuses subkeys, IniFileMapping
  const char* windows;     // "C:\\WINDOWS" or "C:\\WINNT"
  const char* system_dir;  // GetSystemDirectoryA
  const char* driver_dir;  // GetPrinterDriverDirectoryA for the native environment
  const char* environment; // the spooler's native environment
};

const OsInfo& InfoOf(Os os);
// Parses a machine.ini spelling; false when unknown.
bool ParseOs(const std::string& text, Os* os);
const std::vector<OsInfo>& AllOses();

struct Settings {
  Os os = Os::XP;
  bool admin = true;
  bool spooler_running = true;
  bool virtual_clock = false;
  std::string time;                              // "YYYY-MM-DD HH:MM:SS" or empty
  std::string module = "c:\\zentaq\\setup.exe";  // the running setup program's Windows path
  std::string local_ports = "LPT1:,COM1:,FILE:";
  DWORD spooler_stop_ms = 0;                     // [spooler] stop_ms: how long a requested stop takes
  std::map<std::string, std::string> faults;     // [faults] ApiName = CODE or CODE@N
  // [attributes] path = readonly, hidden, system: Windows paths and the
  // FILE_ATTRIBUTE_* bits that each has beside the archive bit.
  std::vector<std::pair<std::string, DWORD>> attributes;
};

// Parses machine.ini text. Throws MachineError naming `file` and the line.
Settings ParseSettings(const std::string& text, const std::string& file);

// The machine of this process, loaded from WINSIM_ROOT on first use (created
// with defaults when missing). Throws MachineError when a file can't be used.
class Machine {
 public:
  static Machine& Get();
  // Points the process at another machine directory (winsim, tests).
  static void Open(const std::string& root);

  const std::string& root() const { return root_; }
  const Settings& settings() const { return settings_; }
  const OsInfo& os() const { return InfoOf(settings_.os); }
  std::string HostPathOf(const std::string& name) const { return root_ + "/" + name; }

 private:
  explicit Machine(const std::string& root);
  std::string root_;
  Settings settings_;
};

// The running system is of the NT family (NT 4.0, 2000, XP), not 9x.
inline bool NtFamily() { return Machine::Get().os().nt_family; }
// NT 4.0 or 3.51: the NT systems before Windows 2000, which answer some
// refusals with other codes.
inline bool NtBefore2000() {
  Os os = Machine::Get().os().os;
  return os == Os::NT351 || os == Os::NT4;
}

// Creates the files and folders of a fresh machine that are missing:
// machine.ini is written only when absent; the system's folders; system.reg
// with the standard hive of the system. Idempotent.
void EnsureMachine(const std::string& root);

// --- cross-process lock and atomic writes --------------------------------

// Holds an exclusive lock on the machine directory for its lifetime.
// Reentrant within a process.
class MachineLock {
 public:
  MachineLock();
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;
};

// Keeps the machine lock from one call to the next, until the program waits
// (Sleep, a message box, a fork, the exit): for a program that runs alone
// between its waits, one acquisition instead of one per call.
// With false, one lock per call again (the lock kept is let go).
void KeepLockBetweenCalls(bool keep = true);
// Lets a lock kept between calls go, so that other programs on the machine
// run while this one waits.
void LetOthersRun();

// Writes `data` to `path` through a temporary file and a rename. (A file of
// a drive written so is told to the folder listings: NoteEntry.)
void WriteFileAtomic(const std::string& path, const std::string& data);
bool ReadWholeFile(const std::string& path, std::string* data);

// --- faults, journal, last error ------------------------------------------

// Counts a call of the boundary function `api` and tells whether [faults]
// makes it fail; *code then holds the last error to report.
bool Fault(const char* api, DWORD* code);
// The names of the boundary functions called so far by this process, in
// first-call order.
std::vector<std::string> CalledApis();

// Appends one TAB-separated journal line; fields are escaped (\t \n \\).
void Journal(const std::vector<std::string>& fields);
std::string JournalEscape(const std::string& field);
// The fields of one journal line (without its line end), unescaped.
std::vector<std::string> JournalFields(const std::string& line);

// --- text --------------------------------------------------------------------

// Wide text in the ANSI code page, 1252, as WideCharToMultiByte(CP_ACP) gives
// it on a US English system (strings.cpp).
std::string AnsiText(LPCWSTR text);

// --- handles -----------------------------------------------------------------

struct Object {
  virtual ~Object() = default;
};
HANDLE NewHandle(std::unique_ptr<Object> object);
template <class T>
T* HandleAs(HANDLE handle);
Object* HandleObject(HANDLE handle);
bool CloseObject(HANDLE handle);  // false when unknown

template <class T>
T* HandleAs(HANDLE handle) {
  return dynamic_cast<T*>(HandleObject(handle));
}

// --- state.ini: the machine's running state ------------------------------------

// The lines of one section of state.ini (blank and ';' lines left out).
std::vector<std::string> ReadStateSection(const std::string& section);
// Replaces one section (removed when `lines` is empty), keeping the others.
// Call under the machine lock.
void WriteStateSection(const std::string& section, const std::vector<std::string>& lines);

}  // namespace winsim

// Internals of the simulated print spooler (spooler_*.cpp, services.cpp).
//
// The spooler keeps no state of its own in the process: monitors, ports,
// drivers and printers live in the hive under
// SYSTEM\CurrentControlSet\Control\Print, where Windows keeps them, and every
// call reads them afresh, so that a key deleted with RegDeleteKeyA is gone
// for the spooler too.
//
// Each exported function has one exit: the work returns an error code (0 for
// success) and the boundary sets the last error from it, only on failure.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine.h"

namespace winsim {
namespace spool {

extern const char kPrintKey[];     // SYSTEM\CurrentControlSet\Control\Print
extern const char kMonitorsKey[];  // ...\Monitors
extern const char kPrintersKey[];  // ...\Printers
extern const char kLocalMonitor[]; // "Local Port", built into the spooler
extern const char kPrintProcessor[];  // "winprint", the only print processor

// A NULL pointer passed where the RPC interface of the NT spooler needs one.
constexpr DWORD kNullRefPointer = 1780;  // RPC_X_NULL_REF_POINTER
constexpr DWORD kDatabaseDoesNotExist = 1065;  // ERROR_DATABASE_DOES_NOT_EXIST

// --- the boundary ----------------------------------------------------------------

// The checks every spooler function makes first: a [faults] entry for `api`,
// a server other than the local machine, a stopped spooler. 0 when none applies.
DWORD Enter(const char* api, const char* server);
// Sets the last error when `error` is not 0; TRUE when it is.
BOOL Leave(DWORD error);
// 5 when the machine gives the user no administrative rights, else 0.
DWORD NeedAdmin();
// The code for a required pointer that is NULL: the NT spooler's RPC layer
// refuses it; the 9x spooler reports an invalid parameter.
DWORD NullPointerError();

// --- names and values ------------------------------------------------------------

// NULL and "" name the native environment; the comparison ignores case.
bool IsNativeEnvironment(const char* environment);
// The key of the native environment's driver records: on NT
// Environments\Windows NT x86\Drivers\Version-2, on 9x
// Environments\Windows 4.0\Drivers, both under the Print key.
std::string DriversKey();
// A name that can be a registry key name: not empty, no backslash.
bool IsKeyName(const char* name);
std::string Text(const RegKey& key, const char* value);  // "" when absent
void SetText(RegKey* key, const char* value, const std::string& text);
void SetTextOrEmpty(RegKey* key, const char* value, const char* text);
void SetDword(RegKey* key, const char* value, DWORD data);
// A path of the system directory: the file name appended to it.
std::string SystemPath(const std::string& file);

// --- ports -------------------------------------------------------------------------

struct Port {
  std::string name;
  std::string monitor;
  std::string description;
};
// The local monitor's ports (machine.ini [spooler] local_ports) first, then
// the subkeys of Monitors\<name>\Ports of every registered monitor.
std::vector<Port> AllPorts(const Hive& hive);
// The monitor that offers `port` (case-insensitive); "" when none does.
std::string MonitorOfPort(const Hive& hive, const std::string& port);
// The ports of a printer's Port value: one, or several separated by commas
// (a printer pool), blanks around them dropped.
std::vector<std::string> SplitPortList(const std::string& ports);

// --- monitors ----------------------------------------------------------------------

// A monitor is registered when its key has a Driver value: installers may
// write a monitor's port records before they call AddMonitor.
bool IsRegisteredMonitor(const RegKey& monitor);
// Loads the library of every registered monitor that is present in the
// system directory, as the spooler does when it starts.
void LoadRegisteredMonitors();

// --- buffers of the Enum functions ---------------------------------------------------

// Fills an Enum function's buffer the way the NT spooler does: the records
// one after another from the start, their strings packed downwards from the
// end of the buffer (the first string of the first record ends the buffer).
// The ANSI functions of the NT family run the Unicode call on the caller's
// buffer and convert the strings in place, so each string takes the room of
// its Unicode form there and the needed size counts two bytes a character;
// the 9x spooler is ANSI throughout and counts one.
class Packer {
 public:
  Packer(size_t record_size, size_t records);
  // Bytes needed for the records and these strings (call Count first).
  void Count(const std::string& text);
  size_t needed() const { return needed_; }
  // Starts writing into `buffer` (which holds needed() bytes at least).
  void Begin(LPBYTE buffer, size_t size);
  // Copies a string into place and returns its address in the buffer.
  LPSTR Put(const std::string& text);
  // Copies record `index` into place.
  void PutRecord(size_t index, const void* record);

 private:
  size_t StringRoom(const std::string& text) const;
  size_t record_size_;
  size_t records_;
  size_t needed_;
  bool wide_;
  LPBYTE buffer_ = nullptr;
  size_t end_ = 0;
};

// The common frame of EnumMonitorsA and EnumPortsA: checks the pointers,
// reports the needed size, and fails with ERROR_INSUFFICIENT_BUFFER (and
// *returned 0) when the records don't fit. `fill` writes them.
DWORD FillEnumBuffer(Packer* packer, size_t count, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned,
                     const std::function<void(Packer*)>& fill);

}  // namespace spool
}  // namespace winsim

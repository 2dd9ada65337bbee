// Internals shared by the core files of the simulated machine (machine, lock,
// paths, files, processes, ...). Not part of the machine's API: other areas
// use machine.h only.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/sim/core/machine.h"

namespace winsim {

// --- text helpers ---------------------------------------------------------------

std::string LowerAscii(const std::string& text);
bool SameTextNoCase(const std::string& a, const std::string& b);
std::string TrimBlanks(const std::string& text);
// The last component of a Windows path ('\' or '/' separated).
std::string LastComponent(const std::string& windows_path);

// --- a fresh machine (../machine.cpp) -------------------------------------------

// Creates what the machine directory `root` lacks (EnsureMachine) and
// returns the settings of its machine.ini.
Settings PrepareMachine(const std::string& root);

// --- lock (lock.cpp) ------------------------------------------------------------

// Holds the lock of the machine directory `root`, reentrant within the process.
class RootLock {
 public:
  explicit RootLock(const std::string& root);
  ~RootLock();
  RootLock(const RootLock&) = delete;
  RootLock& operator=(const RootLock&) = delete;

 private:
  std::string root_;
};

// Nonzero while this process holds the lock of `root`: the same number as
// long as it holds it without a break, so that what was read under the lock
// need not be read again while the number stays.
unsigned long long LockGeneration(const std::string& root);
// Runs `hook` each time, before this process lets a machine lock go: what
// it has put off until others could look (it must not throw).
void BeforeUnlock(void (*hook)());
// Runs `hook` in the child of a fork, after the lock state was reset: what
// the parent's descriptors and caches it must not go on using.
void InForkedChild(void (*hook)());
// Closes the descriptors of the machine directories that this process holds
// no lock on (a lock kept between calls is let go first).
void LetGoOfMachineDirectories();
// True once KeepLockBetweenCalls was called.
bool KeepsLockBetweenCalls();
// Runs `hook` with the milliseconds of each Sleep: what waits on the
// machine's time (a service that takes time to stop).
void WhenTimePasses(void (*hook)(DWORD milliseconds));
std::vector<void (*)(DWORD)>& TimeHooks();
// getpid(), asked once per process.
pid_t ProcessId();

// --- faults (faults.cpp) --------------------------------------------------------

struct FaultSpec {
  DWORD code = 0;
  unsigned nth = 0;  // 0: every call
};
// Parses "CODE" or "CODE@N" (CODE decimal or 0x hex, N from 1).
bool ParseFaultSpec(const std::string& text, FaultSpec* spec);
// A new machine is a new run: the per-call counts start again.
void ResetFaultCounts();

// --- objects behind HANDLEs that CloseHandle accepts (handles.cpp) ------------

struct KernelObject : Object {};

}  // namespace winsim

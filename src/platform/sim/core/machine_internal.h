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

// --- paths (paths.cpp) ----------------------------------------------------------

struct WindowsPath {
  char drive = 'c';
  std::vector<std::string> parts;  // without "." and ".."
};
WindowsPath ParseWindowsPath(const std::string& windows_path);
// Resolve() on the machine directory `root`.
ResolvedPath ResolveOn(const std::string& root, const std::string& windows_path);
// Creates the missing folders of a Windows folder path on `root` (existing
// components are matched case-insensitively, new ones get the case given).
void MakeFolders(const std::string& root, const std::string& windows_folder);
// Tells the folder listings kept under the current lock that this process
// created (`present`) or removed the host file or folder `host_path`. Every
// change of an entry under drive_* must be told.
void NoteEntry(const std::string& host_path, bool present);
// True when a component holds a character that Windows refuses in file names.
bool HasInvalidNameCharacter(const std::string& windows_path);
// The last component of a Windows path ('\' or '/' separated).
std::string LastComponent(const std::string& windows_path);

// --- objects behind HANDLEs that CloseHandle accepts (handles.cpp) ------------

struct KernelObject : Object {};

// --- files (share.cpp, files.cpp, directory.cpp) --------------------------------

struct ShareRequest {
  bool read = false;
  bool write = false;
  bool remove = false;  // DELETE access
  DWORD share = 0;      // FILE_SHARE_* of the open
};
// Tests an open of the file behind `fd` against the opens that other handles
// (in this or another process) hold on it.
bool ShareConflict(int fd, const ShareRequest& request);
// Records the open behind `fd` for later conflict tests; lasts until fd is closed.
bool HoldShare(int fd, const ShareRequest& request);
// True when some handle on the host file denies deletion (opened without
// FILE_SHARE_DELETE).
bool DeleteDenied(const std::string& host_path);

// The Win32 error for a failed host call.
DWORD ErrorFromErrno(int error);

// --- processes (command_line.cpp) ------------------------------------------------

// Quotes one argument so that SplitCommandLine gives it back.
std::string QuoteArgument(const std::string& argument);
// The program name at the start of a command line, as the C runtime's start-up
// takes it (up to the closing quote, or up to the first blank).
std::string ProgramOf(const std::string& command_line);

}  // namespace winsim

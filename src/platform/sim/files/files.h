// Files and paths on the simulated machine: Windows paths resolved on the
// machine's drives, files with share modes and attributes, folders.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/core/machine.h"

namespace winsim {

// --- paths -------------------------------------------------------------------

struct ResolvedPath {
  std::string host;     // the host path (existing components in their stored case)
  bool exists = false;  // the last component exists
  bool parent_ok = false;  // every folder before the last component exists
  bool is_dir = false;
};

// Resolves a Windows path on the machine's drives: drive letters and
// components case-insensitively, no drive means c:, '\' and '/' separate.
ResolvedPath Resolve(const std::string& windows_path);
// The canonical spelling used as identity (lower case, backslashes, drive).
std::string CanonicalPath(const std::string& windows_path);
// The attributes that machine.ini's [attributes] gives a path: read-only,
// hidden, system (FILE_ATTRIBUTE_* bits), 0 when none.
DWORD GivenAttributes(const std::string& windows_path);
bool IsReadOnly(const std::string& windows_path);

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

}  // namespace winsim

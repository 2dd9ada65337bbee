// File sharing as Windows applies it, across processes too. Every handle
// with read, write or delete access records what it has and what it denies
// as read locks (open file description locks, so they belong to the handle's
// own descriptor) on marker bytes far beyond any real end of file. A new
// open looks for conflicting markers with a write-lock test, which sees the
// read locks of every other descriptor on the file, in any process.
#define _GNU_SOURCE 1
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"

namespace winsim {

namespace {

constexpr off_t kMarkerBase = 0x7FFFFFFF00LL;

// In this order the markers of the usual opens are one run of bytes: a
// read sharing reading and writing (has read, denies delete), a file written
// alone (has write and read, denies everything), so one lock sets them.
enum Marker { kHasDelete, kHasWrite, kHasRead, kDeniesDelete, kDeniesWrite, kDeniesRead };

bool Marked(int fd, Marker marker) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + marker;
  lock.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

// Whether any marker from `first` to `last` is held by another handle: one
// test for the whole run, which is the common answer (nobody else has the file).
bool AnyMarked(int fd, Marker first, Marker last) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + first;
  lock.l_len = last - first + 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return true;  // unknown: each is tested
  return lock.l_type != F_UNLCK;
}

// Marks the markers of `wanted` (bit i: marker i), a run of adjacent ones per call.
bool MarkAll(int fd, unsigned wanted) {
  bool ok = true;
  for (int first = kHasDelete; first <= kDeniesRead; ++first) {
    if (!(wanted & (1u << first))) continue;
    int last = first;
    while (last < kDeniesRead && (wanted & (1u << (last + 1)))) ++last;
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kMarkerBase + first;
    lock.l_len = last - first + 1;
    ok = fcntl(fd, F_OFD_SETLK, &lock) == 0 && ok;
    first = last;
  }
  return ok;
}

// An open that asks for no read, write or delete access neither checks nor
// records sharing (as the NT I/O manager does for attribute-only opens).
bool Counts(const ShareRequest& request) { return request.read || request.write || request.remove; }

}  // namespace

bool ShareConflict(int fd, const ShareRequest& request) {
  if (!Counts(request)) return false;
  if (!AnyMarked(fd, kHasDelete, kDeniesRead)) return false;
  if (request.read && Marked(fd, kDeniesRead)) return true;
  if (request.write && Marked(fd, kDeniesWrite)) return true;
  if (request.remove && Marked(fd, kDeniesDelete)) return true;
  if (!(request.share & FILE_SHARE_READ) && Marked(fd, kHasRead)) return true;
  if (!(request.share & FILE_SHARE_WRITE) && Marked(fd, kHasWrite)) return true;
  if (!(request.share & FILE_SHARE_DELETE) && Marked(fd, kHasDelete)) return true;
  return false;
}

bool HoldShare(int fd, const ShareRequest& request) {
  if (!Counts(request)) return true;
  unsigned wanted = 0;
  if (request.read) wanted |= 1u << kHasRead;
  if (request.write) wanted |= 1u << kHasWrite;
  if (request.remove) wanted |= 1u << kHasDelete;
  if (!(request.share & FILE_SHARE_READ)) wanted |= 1u << kDeniesRead;
  if (!(request.share & FILE_SHARE_WRITE)) wanted |= 1u << kDeniesWrite;
  if (!(request.share & FILE_SHARE_DELETE)) wanted |= 1u << kDeniesDelete;
  return MarkAll(fd, wanted);
}

bool DeleteDenied(const std::string& host_path) {
  int fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool denied = Marked(fd, kDeniesDelete);
  close(fd);
  return denied;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EMFILE:
    case ENFILE: return 4;          // ERROR_TOO_MANY_OPEN_FILES
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return 31;             // ERROR_GEN_FAILURE
  }
}

}  // namespace winsim

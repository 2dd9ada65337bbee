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

#include "machine_internal.h"

namespace winsim {

namespace {

constexpr off_t kMarkerBase = 0x7FFFFFFF00LL;

enum Marker { kHasRead, kHasWrite, kHasDelete, kDeniesRead, kDeniesWrite, kDeniesDelete };

bool Marked(int fd, Marker marker) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + marker;
  lock.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

bool Mark(int fd, Marker marker) {
  struct flock lock = {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + marker;
  lock.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// An open that asks for no read, write or delete access neither checks nor
// records sharing (as the NT I/O manager does for attribute-only opens).
bool Counts(const ShareRequest& request) { return request.read || request.write || request.remove; }

}  // namespace

bool ShareConflict(int fd, const ShareRequest& request) {
  if (!Counts(request)) return false;
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
  bool ok = true;
  if (request.read) ok = Mark(fd, kHasRead) && ok;
  if (request.write) ok = Mark(fd, kHasWrite) && ok;
  if (request.remove) ok = Mark(fd, kHasDelete) && ok;
  if (!(request.share & FILE_SHARE_READ)) ok = Mark(fd, kDeniesRead) && ok;
  if (!(request.share & FILE_SHARE_WRITE)) ok = Mark(fd, kDeniesWrite) && ok;
  if (!(request.share & FILE_SHARE_DELETE)) ok = Mark(fd, kDeniesDelete) && ok;
  return ok;
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

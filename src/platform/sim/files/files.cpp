// File handles: CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSize.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"
#include "platform/sim/processes/processes.h"

namespace {

using winsim::NtFamily;
using winsim::ShareRequest;

struct FileObject : winsim::KernelObject {
  int fd = -1;
  bool can_read = false;
  bool can_write = false;
  ~FileObject() override {
    if (fd >= 0) close(fd);  // drops the handle's sharing markers too
  }
};

constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kFileReadData = 0x0001u;
constexpr DWORD kFileWriteData = 0x0002u;
constexpr DWORD kFileAppendData = 0x0004u;

HANDLE Fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

BOOL FailBool(DWORD code) {
  SetLastError(code);
  return FALSE;
}

FileObject* FileOf(HANDLE handle) { return winsim::HandleAs<FileObject>(handle); }

// A read of this many bytes or more is a large read: where the file is
// (`position`, its offset, taken once) decides how it is done.
constexpr DWORD kLargeRead = 1 << 20;

// A large read makes the pages of its buffer present at once: faulting
// them in one at a time, as the host's read does, costs several times the
// copy itself (most of all on a virtual machine). Only the pages up to the
// end of the file, so that nothing is allocated that stays unused. The
// buffer's contents don't change.
void MakeBufferPresent(int fd, off_t position, char* buffer, DWORD count) {
#ifdef MADV_POPULATE_WRITE
  struct stat st;
  if (position < 0 || fstat(fd, &st) != 0 || st.st_size <= position) return;
  uint64_t to_fill = std::min<uint64_t>(count, static_cast<uint64_t>(st.st_size - position));
  uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(buffer) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + to_fill) & ~(page - 1);
  // A refusal (an older host, a bad buffer) leaves it to the read itself.
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)fd, (void)position, (void)buffer, (void)count;
#endif
}

// A large read into a buffer whose address doesn't share the file
// offset's place within a cache line (as a buffer from new[], 16 bytes past
// a page, read from offset 0) goes through an aligned buffer. The host
// kernel copies from the page cache with string instructions that run at
// two thirds of their speed on such a pair; glibc's memcpy aligns its
// stores (256 MiB: 230 ms straight, 165 ms through 1 MiB, 148 ms for an
// aligned buffer). Null when the read goes straight into the buffer.
struct FreeBounce {
  void operator()(char* p) const { free(p); }
};
using Bounce = std::unique_ptr<char, FreeBounce>;
constexpr size_t kBounceSize = 1 << 20;

Bounce BounceFor(off_t position, const char* buffer) {
  if (position < 0 || (reinterpret_cast<uintptr_t>(buffer) - static_cast<uintptr_t>(position)) % 64 == 0)
    return nullptr;
  return Bounce(static_cast<char*>(aligned_alloc(4096, kBounceSize)));
}

ssize_t ReadSome(int fd, char* out, DWORD count, char* bounce) {
  if (!bounce) return read(fd, out, count);
  ssize_t n = read(fd, bounce, std::min<size_t>(count, kBounceSize));
  if (n > 0) memcpy(out, bounce, static_cast<size_t>(n));
  return n;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  DWORD code;
  if (winsim::Fault("CreateFileA", &code)) return Fail(code);
  if (!name || !*name) return Fail(ERROR_PATH_NOT_FOUND);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return Fail(ERROR_INVALID_PARAMETER);
  ShareRequest request;
  request.read = (access & (GENERIC_READ | kGenericAll | kFileReadData)) != 0;
  request.write = (access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
  request.remove = (access & (DELETE | kGenericAll)) != 0;
  request.share = share;
  // TRUNCATE_EXISTING needs write access.
  if (disposition == TRUNCATE_EXISTING && !request.write) return Fail(ERROR_INVALID_PARAMETER);

  if (winsim::HasInvalidNameCharacter(name)) return Fail(ERROR_INVALID_NAME);

  winsim::MachineLock lock;  // the check and the open are one step for every process
  winsim::ResolvedPath path = winsim::Resolve(name);
  if (!path.parent_ok) return Fail(ERROR_PATH_NOT_FOUND);
  auto object = std::make_unique<FileObject>();
  object->can_read = request.read;
  object->can_write = request.write;
  if (path.exists) {
    if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
    // A folder can't be opened as a file.
    if (path.is_dir) return Fail(ERROR_ACCESS_DENIED);
    bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    // The read-only attribute refuses write and delete access, and
    // replacing the file.
    DWORD given = winsim::GivenAttributes(name);
    if ((request.write || request.remove || truncate) && (given & FILE_ATTRIBUTE_READONLY))
      return Fail(ERROR_ACCESS_DENIED);
    // CREATE_ALWAYS replaces a hidden or system file only when the new
    // attributes keep what it has (FILE_ATTRIBUTE_NORMAL keeps neither).
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (disposition == CREATE_ALWAYS && (given & kKept & ~flags)) return Fail(ERROR_ACCESS_DENIED);
    // A loaded library's image is mapped: it can't be opened for writing.
    if ((request.write || truncate) && winsim::IsLibraryHeld(name)) return Fail(ERROR_SHARING_VIOLATION);
    object->fd = open(path.host.c_str(), (request.write || truncate ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (object->fd < 0) return Fail(winsim::ErrorFromErrno(errno));
    if (winsim::ShareConflict(object->fd, request)) return Fail(ERROR_SHARING_VIOLATION);
    if (!winsim::HoldShare(object->fd, request)) return Fail(winsim::ErrorFromErrno(errno));
    if (truncate && ftruncate(object->fd, 0) != 0) return Fail(winsim::ErrorFromErrno(errno));
    // CREATE_ALWAYS and OPEN_ALWAYS tell that the file was there already.
    SetLastError(disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS
                                                                            : ERROR_SUCCESS);
  } else {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) return Fail(ERROR_FILE_NOT_FOUND);
    object->fd = open(path.host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (object->fd < 0) return Fail(winsim::ErrorFromErrno(errno));
    winsim::NoteEntry(path.host, true);
    if (!winsim::HoldShare(object->fd, request)) {
      int error = errno;
      if (unlink(path.host.c_str()) == 0) winsim::NoteEntry(path.host, false);
      return Fail(winsim::ErrorFromErrno(error));
    }
    SetLastError(ERROR_SUCCESS);
  }
  return winsim::NewHandle(std::move(object));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read_count, LPOVERLAPPED) {
  if (read_count) *read_count = 0;
  DWORD code;
  if (winsim::Fault("ReadFile", &code)) return FailBool(code);
  FileObject* object = FileOf(file);
  if (!object) return FailBool(ERROR_INVALID_HANDLE);
  if (!object->can_read) return FailBool(ERROR_ACCESS_DENIED);
  // No buffer: NT's read faults on it (ERROR_NOACCESS); 9x checks it first.
  if (count > 0 && !buffer) return FailBool(NtFamily() ? 998 : ERROR_INVALID_PARAMETER);
  char* out = static_cast<char*>(buffer);
  off_t position = count >= kLargeRead ? lseek(object->fd, 0, SEEK_CUR) : -1;
  MakeBufferPresent(object->fd, position, out, count);
  Bounce bounce = BounceFor(position, out);
  DWORD total = 0;
  while (total < count) {
    ssize_t n = ReadSome(object->fd, out + total, count - total, bounce.get());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (read_count) *read_count = total;
      return FailBool(winsim::ErrorFromErrno(errno));
    }
    if (n == 0) break;  // end of file: success with fewer bytes
    total += static_cast<DWORD>(n);
  }
  if (read_count) *read_count = total;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  DWORD code;
  if (winsim::Fault("WriteFile", &code)) return FailBool(code);
  FileObject* object = FileOf(file);
  if (!object) return FailBool(ERROR_INVALID_HANDLE);
  if (!object->can_write) return FailBool(ERROR_ACCESS_DENIED);
  // No buffer: NT refuses it as no user buffer (ERROR_INVALID_USER_BUFFER).
  // 9x writes whatever lies at address 0; the machine has nothing there and
  // refuses as NT does.
  if (count > 0 && !buffer) return FailBool(1784);
  const char* in = static_cast<const char*>(buffer);
  DWORD total = 0;
  while (total < count) {
    ssize_t n = write(object->fd, in + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = total;
      return FailBool(winsim::ErrorFromErrno(errno));
    }
    total += static_cast<DWORD>(n);
  }
  if (written) *written = total;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
  DWORD code;
  if (winsim::Fault("SetFilePointer", &code)) {
    SetLastError(code);
    return INVALID_SET_FILE_POINTER;
  }
  FileObject* object = FileOf(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the distance is a signed 32-bit value; with one,
  // the two make a signed 64-bit distance.
  int64_t move = distance_high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distance_high))
                                                       << 32) |
                                                      static_cast<uint32_t>(distance))
                               : static_cast<int64_t>(distance);
  int64_t base = 0;
  if (method == FILE_CURRENT) {
    base = lseek(object->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    base = fstat(object->fd, &st) == 0 ? st.st_size : -1;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(winsim::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  int64_t position = base + move;
  if (position < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the result must fit the 32-bit return value;
  // 0xFFFFFFFF fits (below: the caller tells it by a last error of 0).
  if (!distance_high && position > 0xFFFFFFFFLL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(object->fd, static_cast<off_t>(position), SEEK_SET) < 0) {
    SetLastError(winsim::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high) *distance_high = static_cast<LONG>(position >> 32);
  DWORD low = static_cast<DWORD>(position & 0xFFFFFFFF);
  // A position whose low part looks like the failure value: the caller tells
  // success by a last error of 0.
  if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return low;
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
  DWORD code;
  if (winsim::Fault("GetFileSize", &code)) {
    SetLastError(code);
    return INVALID_FILE_SIZE;
  }
  FileObject* object = FileOf(file);
  struct stat st;
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (fstat(object->fd, &st) != 0) {
    SetLastError(winsim::ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size_high) *size_high = static_cast<DWORD>(size >> 32);
  DWORD low = static_cast<DWORD>(size & 0xFFFFFFFF);
  if (low == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
  return low;
}

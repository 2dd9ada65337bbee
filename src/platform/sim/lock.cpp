// The machine lock and atomic writes: two processes on one machine serialise
// their changes with flock on the machine directory, and every persisted
// file is replaced through a temporary file and a rename, so a killed process
// leaves it as before or after the change.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "machine_internal.h"

namespace winsim {

namespace {

struct Held {
  int fd = -1;
  int depth = 0;
};

std::map<std::string, Held>& Locks() {
  static std::map<std::string, Held> locks;
  return locks;
}

// The roots of the MachineLocks alive, innermost last.
std::vector<std::string>& Stack() {
  static std::vector<std::string> stack;
  return stack;
}

void Acquire(const std::string& root) {
  Held& held = Locks()[root];
  if (held.depth > 0) {
    ++held.depth;
    return;
  }
  // A fresh open file description per acquisition: a descriptor inherited by
  // a forked child would otherwise share the lock with it.
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    Locks().erase(root);
    throw MachineError(root + ": cannot open the machine directory: " + strerror(error));
  }
  while (flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    int error = errno;
    close(fd);
    Locks().erase(root);
    throw MachineError(root + ": cannot lock the machine directory: " + strerror(error));
  }
  held.fd = fd;
  held.depth = 1;
}

void Release(const std::string& root) {
  auto it = Locks().find(root);
  if (it == Locks().end()) return;
  if (--it->second.depth > 0) return;
  close(it->second.fd);  // drops the flock
  Locks().erase(it);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

RootLock::RootLock(const std::string& root) : root_(root) { Acquire(root_); }

RootLock::~RootLock() { Release(root_); }

MachineLock::MachineLock() {
  const std::string& root = Machine::Get().root();
  Acquire(root);
  Stack().push_back(root);
}

MachineLock::~MachineLock() {
  if (Stack().empty()) return;
  std::string root = Stack().back();
  Stack().pop_back();
  Release(root);
}

void WriteFileAtomic(const std::string& path, const std::string& data) {
  std::string temp = path + ".tmp-" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw MachineError(path + ": cannot be written: " + strerror(errno));
  bool ok = WriteAll(fd, data.data(), data.size());
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    throw MachineError(path + ": cannot be written: " + strerror(error));
  }
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  *data = std::move(text);
  return true;
}

}  // namespace winsim

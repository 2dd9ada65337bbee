// The machine lock and atomic writes: two processes on one machine serialise
// their changes with flock on the machine directory, and every persisted
// file is replaced through a temporary file and a rename, so a killed process
// leaves it as before or after the change.
//
// The directory is opened once per process and locked and unlocked on that
// descriptor (a fork's child drops the inherited descriptor: sharing its
// open file description would share the lock), until the process opens a
// machine again (Machine::Open): then the descriptors of the directories it
// holds no lock on are closed, so that a process that goes through many
// machines keeps none of them open, and a directory removed and made again
// at the same path is locked as the new one. Every real acquisition starts
// a new generation: what a process read from the machine's files under the
// lock of one generation is still true while that generation lasts, since
// no other process can change them meanwhile; caches ask LockGeneration()
// instead of the files.
//
// A program may keep the lock between calls (KeepLockBetweenCalls): it is
// then taken at the first call that needs it and let go only where the
// program waits (Sleep, a message box, a process start, a fork, the exit),
// so that a run of calls costs one acquisition. Another process sees the
// changes at those points, as it would see them had the calls come quicker.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

namespace {

struct Held {
  int fd = -1;     // the machine directory, open while the process uses the machine
  int depth = 0;   // RootLocks and MachineLocks alive
  bool locked = false;
  bool kept = false;  // locked past depth 0, until the program waits
  unsigned long long generation = 0;
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

bool keep_between_calls = false;
unsigned long long last_generation = 0;
pid_t process_id = 0;  // asked once; a fork's child asks again

std::vector<void (*)()>& UnlockHooks() {
  static std::vector<void (*)()> hooks;
  return hooks;
}

std::vector<void (*)()>& ChildHooks() {
  static std::vector<void (*)()> hooks;
  return hooks;
}

void Unlock(Held& held) {
  if (!held.locked) return;
  for (void (*hook)() : UnlockHooks()) hook();
  while (flock(held.fd, LOCK_UN) != 0 && errno == EINTR) {
  }
  held.locked = false;
  held.kept = false;
  held.generation = 0;
}

// fork: the parent lets a kept lock go (the child may be a program on the
// same machine, which would wait for it); the child forgets the parent's
// descriptors and opens its own.
void BeforeFork() { LetOthersRun(); }

void InChild() {
  for (auto& entry : Locks())
    if (entry.second.fd >= 0) close(entry.second.fd);
  Locks().clear();
  Stack().clear();
  process_id = 0;
  for (void (*hook)() : ChildHooks()) hook();
}

void WatchForks() {
  static bool registered = false;
  if (!registered) registered = pthread_atfork(BeforeFork, nullptr, InChild) == 0;
}

void Acquire(const std::string& root) {
  WatchForks();
  Held& held = Locks()[root];
  if (held.fd < 0) {
    held.fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (held.fd < 0) {
      int error = errno;
      Locks().erase(root);
      throw MachineError(root + ": cannot open the machine directory: " + strerror(error));
    }
  }
  if (!held.locked) {
    while (flock(held.fd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      throw MachineError(root + ": cannot lock the machine directory: " + strerror(errno));
    }
    held.locked = true;
    held.generation = ++last_generation;
  }
  ++held.depth;
}

void Release(const std::string& root) {
  auto it = Locks().find(root);
  if (it == Locks().end() || it->second.depth == 0) return;
  Held& held = it->second;
  if (--held.depth > 0) return;
  if (keep_between_calls) {
    held.kept = true;
    return;
  }
  Unlock(held);
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

pid_t ProcessId() {
  WatchForks();
  if (process_id == 0) process_id = getpid();
  return process_id;
}

void KeepLockBetweenCalls(bool keep) {
  if (!keep) LetOthersRun();
  keep_between_calls = keep;
}

void BeforeUnlock(void (*hook)()) { UnlockHooks().push_back(hook); }

void InForkedChild(void (*hook)()) {
  WatchForks();
  ChildHooks().push_back(hook);
}

void LetGoOfMachineDirectories() {
  for (auto it = Locks().begin(); it != Locks().end();) {
    Held& held = it->second;
    if (held.depth > 0) {
      ++it;
      continue;
    }
    Unlock(held);
    if (held.fd >= 0) close(held.fd);
    it = Locks().erase(it);
  }
}

bool KeepsLockBetweenCalls() { return keep_between_calls; }

void LetOthersRun() {
  for (auto& entry : Locks())
    if (entry.second.kept && entry.second.depth == 0) Unlock(entry.second);
}

unsigned long long LockGeneration(const std::string& root) {
  auto it = Locks().find(root);
  return it != Locks().end() && it->second.locked ? it->second.generation : 0;
}

void WriteFileAtomic(const std::string& path, const std::string& data) {
  std::string temp = path + ".tmp-" + std::to_string(ProcessId());
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
    // A regular file reads short only at its end: no read is needed to see it.
    if (static_cast<size_t>(n) < sizeof buffer) break;
  }
  close(fd);
  *data = std::move(text);
  return true;
}

}  // namespace winsim

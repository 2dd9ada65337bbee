// The machine's hive as this process sees it: system.reg, the whole hive as
// of its last writing, and system.reg.log, the changes made since.
//
// A small system.reg is simply written whole at every change (temporary
// file, then rename). Past kLogThreshold bytes the writing costs far more
// than the change, so changes are appended to the log instead. A program
// that keeps the lock between calls (the setup program) appends to the log
// whatever the size: a new file costs the file system a fresh inode and
// fresh blocks (about 0.25 ms here), an appended record a few microseconds,
// and such a program ends by exit(), which folds the log. Programs that lock
// per call may end by _exit (a forked test, a killed tool), so for them a
// small system.reg stays whole by itself.
//
//   REGEDIT4
//   ; base <device> <inode> <size> <mtime seconds>.<nanoseconds>
//   <record>...
//
// The base line names the system.reg the changes apply to; a log whose base
// is not the system.reg beside it is ignored (it is left over from a fold
// that was cut short, see below). A record is what one ChangeHive did, in
// regedit's merge syntax, closed by an end line:
//
//   [HKEY_LOCAL_MACHINE\A\B]     the key, created when missing; value lines follow
//   "name"=<data>                a value set, written as in system.reg
//   "name"=-  or  @=-            a value removed
//   [-HKEY_LOCAL_MACHINE\A\B]    a key removed with its subkeys
//   ;end
//
// Writers hold the machine lock and append a record with one write. A
// record without its end line (a process killed while writing it) is not
// part of the hive: readers skip it and the next writer cuts it off. Every
// reader applies the log, so the changes of a killed process are never lost,
// and a killed process leaves the hive as before or after each change.
//
// The log is folded into system.reg (the whole hive written to a new file
// renamed over it, then the log removed) when it outgrows system.reg and
// 64 KiB, and at the exit of every process that saw a log, so that
// system.reg alone is the whole hive whenever no program runs on the
// machine. A fold killed between its two steps leaves a log whose base is
// gone: ignored, then removed.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sim/registry/hive.h"
#include "platform/sim/core/machine_internal.h"

namespace winsim {

namespace {

// From this size of system.reg on, changes go to the log.
constexpr off_t kLogThreshold = 64 * 1024;

struct FileStamp {
  bool exists = false;
  off_t size = 0;
  struct timespec mtime {};
  ino_t inode = 0;
  dev_t device = 0;

  bool operator==(const FileStamp& o) const {
    return exists == o.exists && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && inode == o.inode && device == o.device;
  }
};

FileStamp StampOfStat(const struct stat& st) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.size = st.st_size;
  stamp.mtime = st.st_mtim;
  stamp.inode = st.st_ino;
  stamp.device = st.st_dev;
  return stamp;
}

FileStamp StampOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? StampOfStat(st) : FileStamp();
}

// Room for `size` bytes in `buffer`, its pages made present at once: a
// hive's text is megabytes, and faulting them in one by one costs more
// than reading or writing them (see ReadFile in files.cpp).
void Reserve(std::string* buffer, size_t size) {
  buffer->reserve(size);
#ifdef MADV_POPULATE_WRITE
  if (size < (1u << 20)) return;
  uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(buffer->data()) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(buffer->data()) + buffer->capacity()) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
}

// A whole file and the stamp of the file that was read; false when it
// can't be opened.
bool ReadStamped(const std::string& path, std::string* text, FileStamp* stamp) {
  *stamp = FileStamp();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return false;
  }
  text->clear();
  Reserve(text, static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text->append(buffer, static_cast<size_t>(n));
    // A regular file reads short only at its end: no read is needed to see it.
    if (static_cast<size_t>(n) < sizeof buffer) break;
  }
  close(fd);
  *stamp = StampOfStat(st);
  return true;
}

std::string LogPath(const std::string& hive_path) { return hive_path + ".log"; }

std::string LogHeader(const FileStamp& base) {
  char text[160];
  snprintf(text, sizeof text, "REGEDIT4\n; base %llu %llu %lld %lld.%09ld\n",
           static_cast<unsigned long long>(base.device), static_cast<unsigned long long>(base.inode),
           static_cast<long long>(base.size), static_cast<long long>(base.mtime.tv_sec), base.mtime.tv_nsec);
  return text;
}

// The end of the last complete record at or after `from`.
size_t CompleteEnd(const std::string& log, size_t from) {
  size_t end = log.rfind("\n;end\n");
  return end == std::string::npos || end + 1 < from ? from : end + 6;
}

struct Cache {
  bool valid = false;
  std::string path;          // system.reg
  FileStamp stamp;           // of the system.reg the hive was read from
  FileStamp log_stamp;       // of the log as last seen (exists false: none)
  bool log_applies = false;  // the log holds changes of that system.reg,
  std::string log;           // and this is its text up to the last complete record
  Hive hive;
  std::string text;          // system.reg's text as last written, a buffer kept for the next
  unsigned long long generation = 0;  // the lock generation under which the files were last looked at
  bool stamp_unsettled = false;  // system.reg written since its stamp was taken (its size is known)
  int log_fd = -1;               // the log, open while this process holds the lock and appends
};

void SettleOnUnlock();
void ForgetInChild();

Cache& TheCache() {
  // Never destroyed: freeing a large hive takes longer than ending the process.
  static Cache* cache = nullptr;
  if (!cache) {
    cache = new Cache;
    BeforeUnlock(SettleOnUnlock);
    InForkedChild(ForgetInChild);
  }
  return *cache;
}

// The stamp of the system.reg this process wrote last is taken once, when
// it is needed: before the lock goes (others may then replace the file, and
// the stamp tells), or for a new log's base line. Under the lock the
// generation vouches for the file.
void SettleStamp(Cache& cache) {
  if (!cache.stamp_unsettled) return;
  cache.stamp = StampOf(cache.path);
  cache.stamp_unsettled = false;
}

// The log appended to under this lock: its stamp taken once, then closed,
// since others may replace or remove it when the lock is gone.
void CloseLog(Cache& cache) {
  if (cache.log_fd < 0) return;
  struct stat st {};
  if (fstat(cache.log_fd, &st) == 0) cache.log_stamp = StampOfStat(st);
  close(cache.log_fd);
  cache.log_fd = -1;
}

void SettleOnUnlock() {
  Cache& cache = TheCache();
  SettleStamp(cache);
  CloseLog(cache);
}

// A child forked while the parent appended to the log shares the parent's
// descriptor of it; once the parent folds the log and removes the file, what
// the child appended there would be lost. The child opens its own, and reads
// the hive again under its own lock.
void ForgetInChild() {
  Cache& cache = TheCache();
  if (cache.log_fd >= 0) close(cache.log_fd);
  cache.log_fd = -1;
  cache.valid = false;
}

void FoldAtExit() {
  try {
    if (StampOf(LogPath(Machine::Get().HostPathOf("system.reg"))).exists) CompactHive();
  } catch (...) {
    // Nothing is left to report to; the log stays for the next reader.
  }
}

void WatchLog() {
  static bool registered = false;
  if (registered) return;
  // The statics that the fold uses must outlive the exit handler: those
  // made before it is registered are destroyed after it has run.
  { MachineLock lock; }
  registered = atexit(FoldAtExit) == 0;
}

// Applies the complete records of `log` past `from` to the cached hive.
void ApplyLog(Cache& cache, const std::string& log, size_t from) {
  size_t end = CompleteEnd(log, from);
  if (end > from) {
    int line = static_cast<int>(std::count(log.begin(), log.begin() + static_cast<long>(from), '\n'));
    ApplyChanges(&cache.hive, log.substr(from, end - from), "system.reg.log", line);
  }
  cache.log.assign(log, 0, end);
  cache.log_applies = true;
}

// Reads system.reg and the log that belongs to it. An absent system.reg is
// an empty hive; a file that does not parse throws and leaves the cache unused.
void Load(Cache& cache, const std::string& path) {
  cache.valid = false;
  for (int attempt = 0;; ++attempt) {
    std::string text, log;
    FileStamp stamp, log_stamp;
    bool exists = ReadStamped(path, &text, &stamp);
    bool has_log = ReadStamped(LogPath(path), &log, &log_stamp);
    // system.reg replaced meanwhile (a log folded into it): the log read
    // may belong to the file that was, so both are read again.
    // (Under the lock nobody replaces it.)
    if (LockGeneration(Machine::Get().root()) == 0 && !(StampOf(path) == stamp) && attempt < 100) continue;
    cache.hive = exists ? Hive::Parse(text, "system.reg") : Hive();
    cache.path = path;
    cache.stamp = stamp;
    cache.stamp_unsettled = false;
    cache.log_stamp = log_stamp;
    cache.log_applies = false;
    cache.log.clear();
    if (has_log) {
      WatchLog();
      std::string header = LogHeader(stamp);
      if (exists && log.compare(0, header.size(), header) == 0) ApplyLog(cache, log, header.size());
    }
    cache.valid = true;
    return;
  }
}

// Applies the records appended to the log since it was last read; false
// when the log is not a continuation of what the cache holds.
bool Follow(Cache& cache) {
  std::string log;
  FileStamp log_stamp;
  if (!cache.stamp.exists || !ReadStamped(LogPath(cache.path), &log, &log_stamp)) return false;
  WatchLog();
  std::string known = cache.log_applies ? cache.log : LogHeader(cache.stamp);
  if (log.compare(0, known.size(), known) != 0 || !(StampOf(cache.path) == cache.stamp)) return false;
  cache.valid = false;
  ApplyLog(cache, log, known.size());
  cache.log_stamp = log_stamp;
  cache.valid = true;
  return true;
}

Hive& Current() {
  Cache& cache = TheCache();
  const Machine& machine = Machine::Get();
  std::string path = machine.HostPathOf("system.reg");
  // Under the lock of the generation that last looked, the files are as then.
  unsigned long long generation = LockGeneration(machine.root());
  if (cache.valid && cache.path == path && generation != 0 && generation == cache.generation) return cache.hive;
  cache.generation = 0;
  SettleStamp(cache);
  if (!(cache.valid && cache.path == path && StampOf(path) == cache.stamp &&
        (StampOf(LogPath(path)) == cache.log_stamp || Follow(cache))))
    Load(cache, path);
  cache.generation = generation;
  return cache.hive;
}

// Writes the whole hive to system.reg and removes the log, whose changes
// it now holds (or which was left over).
void WriteWhole(Cache& cache) {
  // The text of a large hive is megabytes: its buffer is kept between writes.
  std::string& text = cache.text;
  Reserve(&text, static_cast<size_t>(cache.stamp.size) + cache.log.size() + 4096);
  SerializeInto(cache.hive, &text);
  cache.stamp_unsettled = true;  // (should the write fail, the stamp tells what is there)
  WriteFileAtomic(cache.path, text);
  CloseLog(cache);
  cache.stamp.size = static_cast<off_t>(text.size());
  if (cache.log_stamp.exists) unlink(LogPath(cache.path).c_str());
  cache.log_stamp = FileStamp();
  cache.log_applies = false;
  cache.log.clear();
}

bool WriteAllAt(int fd, const std::string& data, off_t offset) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Appends one record, starting a log when there is none for this system.reg.
// The log stays open until the lock goes (SettleOnUnlock), so that a
// program that keeps the lock pays one truncation and one write per change.
void Append(Cache& cache, const std::string& record) {
  std::string path = LogPath(cache.path);
  bool fresh = !cache.log_applies;
  if (fresh) SettleStamp(cache);  // the base line names it
  std::string data = fresh ? LogHeader(cache.stamp) + record : record;
  off_t offset = fresh ? 0 : static_cast<off_t>(cache.log.size());
  if (cache.log_fd < 0) cache.log_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (cache.log_fd < 0) throw MachineError(path + ": cannot be written: " + strerror(errno));
  // A left-over log or a record cut short by a killed writer goes first.
  bool ok = ftruncate(cache.log_fd, offset) == 0 && WriteAllAt(cache.log_fd, data, offset);
  int error = errno;
  if (!ok) {
    // What was written stays without its end line: not part of the hive.
    if (ftruncate(cache.log_fd, offset) != 0) {
    }
    close(cache.log_fd);
    cache.log_fd = -1;
    throw MachineError(path + ": cannot be written: " + strerror(error));
  }
  if (fresh) cache.log.clear();
  cache.log += data;
  cache.log_applies = true;
  WatchLog();
}

}  // namespace

const Hive& ReadHive() {
  // A program that keeps the lock reads under it, and so from its cache.
  if (KeepsLockBetweenCalls()) {
    MachineLock lock;
    return Current();
  }
  return Current();
}

void ChangeHive(const std::function<bool(Hive&)>& change) {
  MachineLock lock;
  Hive& hive = Current();
  Cache& cache = TheCache();
  bool to_log = cache.log_applies || cache.stamp.size >= kLogThreshold || KeepsLockBetweenCalls();
  bool changed;
  std::string record;
  try {
    if (to_log) {
      ChangeRecording recording(hive);
      changed = change(hive);
      record = recording.text();
    } else {
      changed = change(hive);
    }
  } catch (...) {
    cache.valid = false;  // the change may have stopped half-way: read the files again
    throw;
  }
  if (!changed) {
    if (!record.empty()) cache.valid = false;  // changed in memory only: forget it
    return;
  }
  try {
    if (!to_log) {
      WriteWhole(cache);
      return;
    }
    if (record.empty()) return;
    Append(cache, record + ";end\n");
  } catch (...) {
    cache.valid = false;
    throw;
  }
  // The change is saved; folding a grown log is housekeeping, tried again
  // at the next change or at the exit when it fails.
  if (cache.log.size() > static_cast<size_t>(std::max(kLogThreshold, cache.stamp.size))) {
    try {
      WriteWhole(cache);
    } catch (const MachineError&) {
    }
  }
}

void CompactHive() {
  MachineLock lock;
  Current();
  Cache& cache = TheCache();
  if (cache.log_applies) {
    WriteWhole(cache);
  } else if (cache.log_stamp.exists) {
    unlink(LogPath(cache.path).c_str());  // left over from a fold cut short
    cache.log_stamp = FileStamp();
  }
}

}  // namespace winsim

/* Test aid, preloaded into a run of the setup program: keeps, in the folder
 * that WINSIM_HIVE_SNAPSHOTS names, a copy of every system.reg that the run
 * commits (the machine renames a complete temporary file onto it) and of
 * every change log system.reg.log that it removes (after folding it into
 * system.reg): NNNNNN.reg and NNNNNN.log, numbered in the order of the
 * events, counting on from the files already in the folder. From these the
 * test knows every state the hive passed through.
 *
 * With WINSIM_KILL_AT=k the process kills itself (SIGKILL, as kill -9) at the
 * k-th change of the hive: right before system.reg is replaced, or right
 * after with WINSIM_KILL_AFTER=1; a record appended to the change log is
 * cut after half its bytes. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int ends_with(const char* text, const char* suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcmp(text + n - m, suffix) == 0;
}

static int count_files(const char* dir) {
  int count = 0;
  DIR* d = opendir(dir);
  if (!d) return 0;
  struct dirent* entry;
  while ((entry = readdir(d)) != NULL)
    if (entry->d_name[0] != '.') ++count;
  closedir(d);
  return count;
}

static void copy_file(const char* from, const char* to) {
  int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out >= 0) {
    char buffer[65536];
    ssize_t n;
    while ((n = read(in, buffer, sizeof buffer)) > 0)
      if (write(out, buffer, (size_t)n) != n) break;
    close(out);
  }
  close(in);
}

static void keep(const char* path, const char* suffix) {
  static int next = -1;
  const char* dir = getenv("WINSIM_HIVE_SNAPSHOTS");
  if (!dir || !*dir) return;
  if (next < 0) next = count_files(dir);
  char name[4096];
  snprintf(name, sizeof name, "%s/%06d.%s", dir, next++, suffix);
  copy_file(path, name);
}

/* True when this change of the hive is the one to be killed at. */
static int kill_here(void) {
  static int changes = 0;
  const char* at = getenv("WINSIM_KILL_AT");
  return at && *at && ++changes == atoi(at);
}

static int kill_after(void) {
  const char* after = getenv("WINSIM_KILL_AFTER");
  return after && *after == '1';
}

static int is_change_log(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  return ends_with(path, "/system.reg.log");
}

int rename(const char* from, const char* to) {
  static int (*real_rename)(const char*, const char*);
  if (!real_rename) real_rename = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  if (!ends_with(to, "/system.reg")) return real_rename(from, to);
  keep(from, "reg");
  int die = kill_here();
  if (die && !kill_after()) raise(SIGKILL);
  int result = real_rename(from, to);
  if (die) raise(SIGKILL);
  return result;
}

static ssize_t cut_write(ssize_t (*real)(int, const void*, size_t, off_t), int fd, const void* data, size_t size,
                         off_t offset) {
  if (is_change_log(fd) && kill_here()) {
    real(fd, data, size / 2, offset);
    raise(SIGKILL);
  }
  return real(fd, data, size, offset);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);
  if (!real_pwrite) real_pwrite = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
  return cut_write(real_pwrite, fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  static ssize_t (*real_pwrite64)(int, const void*, size_t, off_t);
  if (!real_pwrite64) real_pwrite64 = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
  return cut_write(real_pwrite64, fd, data, size, offset);
}

int unlink(const char* path) {
  static int (*real_unlink)(const char*);
  if (!real_unlink) real_unlink = (int (*)(const char*))dlsym(RTLD_NEXT, "unlink");
  if (ends_with(path, "/system.reg.log")) keep(path, "log");
  return real_unlink(path);
}

/* Test aid, preloaded into a run of the setup program: keeps a copy of every
 * system.reg that the run commits, in the folder that WINSIM_HIVE_SNAPSHOTS
 * names. The machine replaces system.reg by renaming a complete temporary
 * file onto it, so the copies taken here are exactly the states that the
 * hive passes through, in order (NNNNNN.reg, counting on from the files
 * already in the folder). */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
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

int rename(const char* from, const char* to) {
  static int (*real_rename)(const char*, const char*);
  static int next = -1;
  if (!real_rename) real_rename = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  const char* dir = getenv("WINSIM_HIVE_SNAPSHOTS");
  if (dir && *dir && from && to && ends_with(to, "/system.reg")) {
    if (next < 0) next = count_files(dir);
    char name[4096];
    snprintf(name, sizeof name, "%s/%06d.reg", dir, next++);
    copy_file(from, name);
  }
  return real_rename(from, to);
}

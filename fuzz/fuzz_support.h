// What the fuzz targets share: a property check that stays on in release
// builds, and a simulated machine in a temporary folder for the targets
// that go through the machine's files.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/sim/machine.h"

#define FUZZ_CHECK(condition)                                                           \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                          \
    }                                                                                   \
  } while (0)

namespace fuzz {

inline void WriteHostFile(const std::string& path, const std::string& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()));
  close(fd);
}

inline std::string ReadHostFile(const std::string& path) {
  std::string data;
  FUZZ_CHECK(winsim::ReadWholeFile(path, &data));
  return data;
}

// The machine of this process: virtual clock, fixed time, message boxes
// answered by their default (standard input is no terminal). Made on first
// use in /dev/shm where there is one, removed at exit.
inline const std::string& Machine(const char* extra_settings = "") {
  static std::string root;
  if (!root.empty()) return root;
  std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/fuzz-machine-XXXXXX");
  if (!mkdtemp(&pattern[0])) abort();
  root = pattern;
  WriteHostFile(root + "/machine.ini", std::string("[machine]\nos = xp\nclock = virtual\ntime = 2005-01-03 08:05:00\n") +
                                           extra_settings);
  setenv("WINSIM_ROOT", root.c_str(), 1);
  winsim::Machine::Get();
  FUZZ_CHECK(freopen("/dev/null", "r", stdin) != nullptr);
  atexit([] {
    std::string command = "rm -rf '" + root + "'";
    if (system(command.c_str()) != 0) perror("rm");
  });
  return root;
}

}  // namespace fuzz

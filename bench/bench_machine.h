// Helpers of the benchmarks: scratch folders, simulated machines made as a
// user makes them (with winsim), and child processes timed from outside.
#pragma once

#include <string>
#include <vector>

namespace bench {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct ProcessRun {
  int status = -1;         // exit status, or 128 + signal
  double wall_ms = 0;      // from fork to reaping
  double cpu_ms = 0;       // user + system time of the child
  long max_rss_kib = 0;    // the child's peak resident set
  std::string out;         // standard output (standard error is dropped)
};

// Runs argv[0] (a path) with `env_add` ("NAME=value") added to the
// environment and standard input from /dev/null.
ProcessRun RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env_add = {});

// The programs under test, as built beside the benchmark.
std::string SetupProgram();
std::string WinsimProgram();

// A fresh machine of system `os` with the product in c:\zentaq, made by
// `winsim init`; `settings` are further lines of machine.ini's [machine].
void MakeMachine(const std::string& root, const std::string& os, const std::string& settings);
// `keys` more keys, each with one value, under SOFTWARE\Classes, in groups
// of 1000 as a crowded hive has them.
std::string ExtraKeysText(int keys);
std::string LargeHiveText(int keys);  // REGEDIT4 with only ExtraKeysText(keys)
void AddKeys(const std::string& root, int keys);
// Copies a machine folder (cp -a), not timed by the callers.
void CopyTree(const std::string& from, const std::string& to);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// The sum of the Sleep lines of a journal, in milliseconds.
long JournalPauses(const std::string& journal);
double NowMs();

}  // namespace bench

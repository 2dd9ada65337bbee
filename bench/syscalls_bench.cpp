// System calls of one install and one uninstall, counted by strace -c -f:
// a figure that doesn't depend on the load. On this kind of machine a system
// call costs 10 to 20 microseconds, and a run's own CPU time is near zero,
// so the calls are the time of a run.
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "bench_machine.h"
#include "measurements.h"

namespace bench {

namespace {

const char kVirtual[] = "clock = virtual\ntime = 2005-01-03 08:05:00\n";

std::string Strace() {
  for (const char* path : {"/usr/bin/strace", "/bin/strace"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

// The calls of one run of setup on `root` (every process it starts
// included), or -1 when they couldn't be counted; *status is its exit status.
long CountedRun(const std::string& strace, const std::string& root, bool uninstall, int* status,
                std::string* why) {
  if (uninstall) WriteFile(root + "/answers", "yes\n");
  std::string counts = root + "/../strace.txt";
  std::vector<std::string> argv = {strace, "-f", "-c", "-o", counts, SetupProgram()};
  if (uninstall) argv.push_back("uninstall");
  ProcessRun run = RunProcess(argv, {"WINSIM_ROOT=" + root});
  *status = run.status;
  // The summary's last line: "100.00 seconds usecs/call CALLS [ERRORS] total".
  std::istringstream in(ReadFile(counts));
  std::string line, last;
  while (std::getline(in, line))
    if (line.size() > 6 && line.compare(line.size() - 6, 6, " total") == 0) last = line;
  std::istringstream fields(last);
  std::string percent, seconds, per_call;
  long calls = -1;
  if (!(fields >> percent >> seconds >> per_call >> calls)) {
    *why = "strace gave no count (ptrace refused?)";
    return -1;
  }
  return calls;
}

Row CountRow(const char* id, const std::string& measure, long calls, long goal, const std::string& note) {
  Row row;
  row.id = id;
  row.measure = measure;
  row.result = calls < 0 ? "-" : Format("%ld calls", calls);
  row.reference = "strace -c -f";
  row.ratio = row.result;
  row.goal = goal > 0 ? Format("<= %ld", goal) : "-";
  row.met = calls >= 0 && (goal <= 0 || calls <= goal) && note.empty();
  row.note = note;
  return row;
}

}  // namespace

std::vector<Row> MeasureSystemCalls(const Options& options) {
  std::string strace = Strace();
  long counts[2][2] = {{-1, -1}, {-1, -1}};  // [crowded][uninstall]
  std::string notes[2][2];
  if (strace.empty()) {
    for (auto& pair : notes) pair[0] = pair[1] = "strace not installed (scripts/install-deps.sh installs it)";
  } else {
    for (int crowded = 0; crowded < 2; ++crowded) {
      ScratchDir dir("syscalls");
      std::string root = dir.path() + "/xp";
      MakeMachine(root, "xp", kVirtual);
      if (crowded) AddKeys(root, options.keys);
      for (int uninstall = 0; uninstall < 2; ++uninstall) {
        int status = 0;
        std::string why;
        counts[crowded][uninstall] = CountedRun(strace, root, uninstall != 0, &status, &why);
        if (!why.empty()) notes[crowded][uninstall] = why;
        else if (status != 0) notes[crowded][uninstall] = Format("exit status %d", status);
      }
    }
  }
  std::string hive = Format("on a hive of %d keys", options.keys);
  return {CountRow("6a", "system calls: install (xp), empty machine", counts[0][0], 400, notes[0][0]),
          CountRow("6b", "system calls: uninstall (xp), empty machine", counts[0][1], 300, notes[0][1]),
          CountRow("6c", "system calls: install (xp) " + hive, counts[1][0], 0, notes[1][0]),
          CountRow("6d", "system calls: uninstall (xp) " + hive, counts[1][1], 0, notes[1][1])};
}

}  // namespace bench

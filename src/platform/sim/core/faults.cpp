// [faults] of machine.ini: a named boundary function fails on every call or
// on its N-th call of the run, with the last error given. Every faultable
// function asks Fault() first, which also records what the run called.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>

#include "platform/sim/core/machine_internal.h"

namespace winsim {

namespace {

std::map<std::string, unsigned>& Counts() {
  static std::map<std::string, unsigned> counts;
  return counts;
}

std::vector<std::string>& Called() {
  static std::vector<std::string> called;
  return called;
}

// WINSIM_CALL_LOG names a file that gets each api name on its first call in
// the process, one per line (the fault matrix reads it).
void LogFirstCall(const std::string& api) {
  const char* log = getenv("WINSIM_CALL_LOG");
  if (!log || !*log) return;
  int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string line = api + "\n";
  if (write(fd, line.data(), line.size()) < 0) {
    // The log is a test aid; a failed write changes nothing for the program.
  }
  close(fd);
}

}  // namespace

void ResetFaultCounts() { Counts().clear(); }

bool Fault(const char* api, DWORD* code) {
  const Settings& settings = Machine::Get().settings();
  std::string name = api;
  static std::set<std::string> seen;
  if (seen.insert(name).second) {
    Called().push_back(name);
    LogFirstCall(name);
  }
  unsigned count = ++Counts()[name];
  for (const auto& fault : settings.faults) {
    if (!SameTextNoCase(fault.first, name)) continue;
    FaultSpec spec;
    if (!ParseFaultSpec(fault.second, &spec)) continue;  // ParseSettings refused those already
    if (spec.nth == 0 || spec.nth == count) {
      *code = spec.code;
      return true;
    }
  }
  return false;
}

std::vector<std::string> CalledApis() { return Called(); }

}  // namespace winsim

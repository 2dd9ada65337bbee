// Kill -9 at random moments. Every change of the machine's state is written
// atomically, so whatever moment a run is killed at, system.reg must hold
// one of the states that an uninterrupted run passes through (recorded by
// the hive_snapshots library), and machine.ini, answers, the journal and the
// setup log must be whole: the journal and the log a line-wise prefix of
// the uninterrupted run's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <random>
#include <set>

#include "harness.h"

namespace {

struct Scenario {
  const char* name;
  const char* os;
  bool installed;
  std::vector<std::string> args;
};

void PrintTo(const Scenario& value, std::ostream* out) { *out << value.name; }

const Scenario kScenarios[] = {
    {"install-xp", "xp", false, {}},
    {"install-98", "98", false, {}},
    {"uninstall-xp", "xp", true, {"uninstall"}},
    {"uninstall-98", "98", true, {"uninstall"}},
};

int Kills() {
  const char* text = getenv("RELIABILITY_KILLS");
  int kills = text ? atoi(text) : 0;
  return kills > 0 ? kills : 200;
}

long long NowUs() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_usec;
}

struct Snapshot {
  std::string hive;
  long long written_us;  // when it was taken (the file's time stamp)
};

std::vector<Snapshot> ReadSnapshots(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return {};
  while (struct dirent* entry = readdir(d))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  std::vector<Snapshot> states;
  for (const std::string& name : names) {
    struct stat st;
    std::string path = dir + "/" + name;
    stat(path.c_str(), &st);
    states.push_back({rel::ReadFile(path), static_cast<long long>(st.st_mtim.tv_sec) * 1000000 +
                                               st.st_mtim.tv_nsec / 1000});
  }
  return states;
}

// True when `part` is `whole` cut after one of its lines (`end` ends a line).
bool LinePrefix(const std::string& part, const std::string& whole, const std::string& end) {
  if (whole.compare(0, part.size(), part) != 0) return false;
  return part.empty() || (part.size() >= end.size() && part.compare(part.size() - end.size(), end.size(), end) == 0);
}

class CrashSafety : public testing::TestWithParam<Scenario> {};

TEST_P(CrashSafety, KilledRunsLeaveTheMachineBeforeOrAfterEachChange) {
  const Scenario& scenario = GetParam();
  std::string prepared = rel::FreshMachine(scenario.os);
  if (scenario.installed) {
    ASSERT_EQ(rel::RunSetup(prepared).status, 0);
    rel::WriteFile(prepared + "/journal.log", "");
    rel::WriteFile(prepared + "/answers", "yes\n");
  }

  // The uninterrupted run, with every hive state it commits.
  std::string snapshots = rel::NewTempDir("snapshots");
  rel::WriteFile(snapshots + "/000000.reg", rel::ReadFile(prepared + "/system.reg"));
  std::string reference = rel::CopyTree(prepared, "reference");
  long long started = NowUs();
  rel::Outcome full = rel::RunSetup(reference, scenario.args,
                                    {"LD_PRELOAD=" HIVE_SNAPSHOTS_LIBRARY, "WINSIM_HIVE_SNAPSHOTS=" + snapshots,
                                     "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
  long long duration = NowUs() - started;
  ASSERT_FALSE(full.timed_out || full.signal) << full.err;
  std::vector<Snapshot> snapshot_files = ReadSnapshots(snapshots);
  ASSERT_GT(snapshot_files.size(), 3u) << "the hive snapshots were not taken";
  std::vector<std::string> states;
  for (const Snapshot& snapshot : snapshot_files) states.push_back(snapshot.hive);
  ASSERT_EQ(states.back(), rel::ReadFile(reference + "/system.reg"));
  // Most kills fall between the first change and the last, where the run
  // changes the machine; the others anywhere from start to end.
  long long first_change = std::max(0LL, snapshot_files[1].written_us - started);
  long long last_change = std::max(first_change + 1, snapshot_files.back().written_us - started);
  const std::string full_journal = rel::ReadFile(reference + "/journal.log");
  const std::string full_log = rel::ReadFile(rel::LogPath(reference));
  const std::string machine_ini = rel::ReadFile(prepared + "/machine.ini");
  const std::string answers = rel::ReadFile(prepared + "/answers");

  unsigned seed = static_cast<unsigned>(getenv("RELIABILITY_SEED") ? atoi(getenv("RELIABILITY_SEED")) : NowUs());
  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> anywhere(0, duration + duration / 10);
  std::uniform_int_distribution<long long> changing(first_change * 9 / 10, last_change + last_change / 10);
  int killed = 0;
  std::set<size_t> hit;
  const int kills = Kills();
  for (int i = 0; i < kills; ++i) {
    std::string root = rel::CopyTree(prepared, "kill");
    long long at = i % 5 == 0 ? anywhere(random) : changing(random);
    rel::Child child = rel::Start(root, scenario.args);
    usleep(static_cast<useconds_t>(at));
    kill(child.pid, SIGKILL);
    rel::Outcome outcome = rel::Finish(child);
    if (outcome.signal == SIGKILL) ++killed;
    SCOPED_TRACE(std::string(scenario.name) + ": kill " + std::to_string(i) + " at " + std::to_string(at) +
                 " us, seed " + std::to_string(seed));
    EXPECT_FALSE(rel::HasSanitizerReport(outcome.err)) << outcome.err;

    std::string hive = rel::ReadFile(root + "/system.reg");
    EXPECT_EQ(rel::HiveError(root), "");
    auto state = std::find(states.begin(), states.end(), hive);
    EXPECT_TRUE(state != states.end()) << "system.reg is none of the states of an uninterrupted run:\n" << hive;
    if (state != states.end()) hit.insert(static_cast<size_t>(state - states.begin()));

    EXPECT_EQ(rel::ReadFile(root + "/machine.ini"), machine_ini);
    std::string left = rel::ReadFile(root + "/answers");
    EXPECT_TRUE(left == answers || left.empty()) << "answers: " << left;
    std::string journal = rel::ReadFile(root + "/journal.log");
    EXPECT_TRUE(LinePrefix(journal, full_journal, "\n")) << "journal:\n" << journal;
    std::string log = rel::ReadFile(rel::LogPath(root));
    EXPECT_TRUE(LinePrefix(log, full_log, "\r\n")) << "setup log:\n" << log;

    // Now and then the killed machine is used again: a run on it must end
    // normally, whatever the kill left behind.
    if (i % 25 == 0) {
      rel::WriteFile(root + "/answers", answers);
      rel::Outcome again = rel::RunSetup(root, scenario.args);
      EXPECT_TRUE(!again.timed_out && !again.signal && !rel::HasSanitizerReport(again.err)) << again.err;
      EXPECT_EQ(rel::HiveError(root), "");
    }
    rel::RemoveTree(root);
    if (HasFailure()) break;
  }
  printf("figure: crash safety %s: %d kills, %d mid-run, %zu of %zu hive states met\n", scenario.name, kills, killed,
         hit.size(), states.size());
  rel::RemoveTree(snapshots);
  rel::RemoveTree(reference);
  rel::RemoveTree(prepared);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashSafety, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace

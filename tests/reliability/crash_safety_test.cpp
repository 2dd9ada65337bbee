// Kill -9 at random moments. Every change of the machine's state is saved
// atomically (system.reg replaced by a rename, or a record appended to its
// change log that counts only once complete), so whatever moment a run is
// killed at, the hive that the next program reads must be one of the states
// that an uninterrupted run passes through (recorded by the hive_snapshots
// library), and machine.ini, answers, the journal and the setup log must be
// whole: the journal and the log a line-wise prefix of the uninterrupted
// run's.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>

#include "harness.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

namespace {

struct Scenario {
  const char* name;
  const char* os;
  bool installed;
  std::vector<std::string> args;
  int extra_keys;  // keys added to the hive first: past 64 KiB the log is folded only when it outgrows system.reg
};

void PrintTo(const Scenario& value, std::ostream* out) { *out << value.name; }

const Scenario kScenarios[] = {
    {"install-xp", "xp", false, {}, 0},
    {"install-98", "98", false, {}, 0},
    {"uninstall-xp", "xp", true, {"uninstall"}, 0},
    {"uninstall-98", "98", true, {"uninstall"}, 0},
    {"install-xp-large-hive", "xp", false, {}, 1200},
    {"uninstall-xp-large-hive", "xp", true, {"uninstall"}, 1200},
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

std::string Canonical(const winsim::Hive& hive) { return hive.Serialize(); }

// The hive as the next program on the machine reads it: system.reg with the
// complete records of its change log.
std::string EffectiveHive(const std::string& root) {
  winsim::Machine::Open(root);
  return Canonical(winsim::ReadHive());
}

struct Recording {
  std::vector<std::string> states;  // every hive state of the run, in order
  bool logged = false;              // some changes went to the change log
};

// The states from the snapshots: each system.reg written, and each change
// log with every count of its records applied to the system.reg it belongs
// to (the one before the fold that wrote the log into system.reg).
Recording ReadSnapshots(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* entry = readdir(d))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  Recording recording;
  std::vector<std::string> bases;  // the system.reg texts, in order
  for (const std::string& name : names) {
    std::string text = rel::ReadFile(dir + "/" + name);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".reg") == 0) {
      bases.push_back(text);
      recording.states.push_back(Canonical(winsim::Hive::Parse(text, name)));
      continue;
    }
    // A log removed by a fold: two header lines, then records ending ";end".
    EXPECT_GE(bases.size(), 2u) << name << ": a change log without the system.reg it belongs to";
    if (bases.size() < 2) continue;
    const std::string& base = bases[bases.size() - 2];
    recording.logged = true;
    size_t records = text.find('\n', text.find('\n') + 1) + 1;
    for (size_t end = text.find("\n;end\n", records); end != std::string::npos; end = text.find("\n;end\n", end + 1)) {
      winsim::Hive hive = winsim::Hive::Parse(base, "system.reg");
      winsim::ApplyChanges(&hive, text.substr(records, end + 6 - records), name, 3);
      recording.states.push_back(Canonical(hive));
    }
    // The fold wrote exactly the hive with all records applied.
    EXPECT_EQ(recording.states.back(), Canonical(winsim::Hive::Parse(bases.back(), "system.reg"))) << name;
  }
  return recording;
}

// When the hive files of `root` change: system.reg replaced, its log grown.
class HiveWatch {
 public:
  explicit HiveWatch(const std::string& root) : root_(root), last_(Stamp()) {}
  void Poll() {
    std::string stamp = Stamp();
    if (stamp == last_) return;
    last_ = stamp;
    long long now = NowUs();
    if (first_ == 0) first_ = now;
    last_change_ = now;
  }
  long long first() const { return first_; }
  long long last() const { return last_change_; }

 private:
  std::string Stamp() const {
    std::string stamp;
    for (const char* name : {"/system.reg", "/system.reg.log"}) {
      struct stat st;
      if (stat((root_ + name).c_str(), &st) == 0)
        stamp += std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                 std::to_string(st.st_mtim.tv_nsec) + ";";
      stamp += "|";
    }
    return stamp;
  }
  std::string root_;
  std::string last_;
  long long first_ = 0;
  long long last_change_ = 0;
};

// True when `part` is `whole` cut after one of its lines (`end` ends a line).
bool LinePrefix(const std::string& part, const std::string& whole, const std::string& end) {
  if (whole.compare(0, part.size(), part) != 0) return false;
  return part.empty() || (part.size() >= end.size() && part.compare(part.size() - end.size(), end.size(), end) == 0);
}

std::string Prepare(const Scenario& scenario) {
  std::string root = rel::FreshMachine(scenario.os);
  std::string keys;
  for (int i = 0; i < scenario.extra_keys; ++i)
    keys += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Filler\\Key" + std::to_string(i) + "]\n\"Value\"=\"filler\"\n";
  rel::AppendFile(root + "/system.reg", keys);
  if (scenario.installed) {
    EXPECT_EQ(rel::RunSetup(root).status, 0);
    rel::WriteFile(root + "/journal.log", "");
    rel::WriteFile(root + "/answers", "yes\n");
  }
  EXPECT_FALSE(rel::FileExists(root + "/system.reg.log")) << "a run left its change log";
  return root;
}

class CrashSafety : public testing::TestWithParam<Scenario> {};

TEST_P(CrashSafety, KilledRunsLeaveTheMachineBeforeOrAfterEachChange) {
  const Scenario& scenario = GetParam();
  std::string prepared = Prepare(scenario);

  // The uninterrupted run, with every hive state it commits.
  std::string snapshots = rel::NewTempDir("snapshots");
  rel::WriteFile(snapshots + "/000000.reg", rel::ReadFile(prepared + "/system.reg"));
  std::string reference = rel::CopyTree(prepared, "reference");
  rel::Outcome full = rel::RunSetup(reference, scenario.args,
                                    {"LD_PRELOAD=" HIVE_SNAPSHOTS_LIBRARY, "WINSIM_HIVE_SNAPSHOTS=" + snapshots,
                                     "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
  ASSERT_FALSE(full.timed_out || full.signal) << full.err;
  // When a plain run changes the hive, for the moments of the kills.
  std::string timing = rel::CopyTree(prepared, "timing");
  HiveWatch watch(timing);
  long long started = NowUs();
  rel::Finish(rel::Start(timing, scenario.args), 60000, [&] { watch.Poll(); });
  long long duration = NowUs() - started;
  rel::RemoveTree(timing);
  Recording recording = ReadSnapshots(snapshots);
  const std::vector<std::string>& states = recording.states;
  ASSERT_GT(states.size(), 3u) << "the hive snapshots were not taken";
  // The setup program keeps the lock between calls: its changes go to the
  // change log whatever the hive's size, and the fold at its exit writes
  // system.reg anew, so both ways of saving are killed at below.
  ASSERT_TRUE(recording.logged) << "the setup program's changes did not go to the change log";
  ASSERT_EQ(states.back(), EffectiveHive(reference));
  const std::string full_journal = rel::ReadFile(reference + "/journal.log");
  const std::string full_log = rel::ReadFile(rel::LogPath(reference));
  const std::string machine_ini = rel::ReadFile(prepared + "/machine.ini");
  const std::string answers = rel::ReadFile(prepared + "/answers");

  unsigned seed = static_cast<unsigned>(getenv("RELIABILITY_SEED") ? atoi(getenv("RELIABILITY_SEED")) : NowUs());
  std::mt19937 random(seed);
  // Most kills fall between the first change and the last, where the run
  // changes the machine; the others anywhere from start to end.
  long long first = std::max(0LL, watch.first() - started);
  long long last = std::max(first + 1, watch.last() - started);
  std::uniform_int_distribution<long long> anywhere(0, duration + duration / 10);
  std::uniform_int_distribution<long long> changing(first * 9 / 10, last + last / 10);
  std::set<size_t> hit;
  // What every killed run must have left.
  auto check = [&](const std::string& root, const std::string& what) {
    SCOPED_TRACE(std::string(scenario.name) + ": " + what);
    EXPECT_EQ(rel::HiveError(root), "");
    std::string hive;
    try {
      hive = EffectiveHive(root);
    } catch (const std::exception& error) {
      ADD_FAILURE() << "the hive can't be read: " << error.what();
    }
    auto state = std::find(states.begin(), states.end(), hive);
    EXPECT_TRUE(state != states.end()) << "the hive is none of the states of an uninterrupted run:\n" << hive;
    if (state != states.end()) hit.insert(static_cast<size_t>(state - states.begin()));
    EXPECT_EQ(rel::ReadFile(root + "/machine.ini"), machine_ini);
    std::string left = rel::ReadFile(root + "/answers");
    EXPECT_TRUE(left == answers || left.empty()) << "answers: " << left;
    std::string journal = rel::ReadFile(root + "/journal.log");
    EXPECT_TRUE(LinePrefix(journal, full_journal, "\n")) << "journal:\n" << journal;
    std::string log = rel::ReadFile(rel::LogPath(root));
    EXPECT_TRUE(LinePrefix(log, full_log, "\r\n")) << "setup log:\n" << log;
  };
  // A run on a killed machine must end normally, whatever the kill left.
  auto run_again = [&](const std::string& root) {
    rel::WriteFile(root + "/answers", answers);
    rel::Outcome again = rel::RunSetup(root, scenario.args);
    EXPECT_TRUE(!again.timed_out && !again.signal && !rel::HasSanitizerReport(again.err)) << again.err;
    EXPECT_EQ(rel::HiveError(root), "");
    EXPECT_FALSE(rel::FileExists(root + "/system.reg.log")) << "the change log was not folded at the end";
  };

  // Kills at random moments, until `kills` of them came while the run was
  // still on; a kill that came too late narrows the window for the next.
  int killed = 0;
  int attempts = 0;
  const int kills = Kills();
  while (killed < kills && attempts < 4 * kills && !HasFailure()) {
    std::string root = rel::CopyTree(prepared, "kill");
    long long at = attempts++ % 5 == 0 ? anywhere(random) : changing(random);
    rel::Child child = rel::Start(root, scenario.args);
    usleep(static_cast<useconds_t>(at));
    kill(child.pid, SIGKILL);
    rel::Outcome outcome = rel::Finish(child);
    if (outcome.signal == SIGKILL) {
      ++killed;
    } else {
      long long upper = std::max(changing.a() + 1, changing.b() * 9 / 10);
      changing = std::uniform_int_distribution<long long>(changing.a(), upper);
      anywhere = std::uniform_int_distribution<long long>(0, std::max(1LL, anywhere.b() * 9 / 10));
    }
    EXPECT_FALSE(rel::HasSanitizerReport(outcome.err)) << outcome.err;
    check(root, "kill at " + std::to_string(at) + " us, seed " + std::to_string(seed));
    if (attempts % 25 == 1) run_again(root);
    rel::RemoveTree(root);
  }
  // On a loaded machine some kills come after the run has ended however the
  // window narrows; the figure below says how many landed.
  EXPECT_GE(killed, kills / 2) << "too few kills came while the run was on";

  // Kills at each change: right before and right after system.reg is
  // replaced, or in the middle of a record of the change log.
  int at_changes = 0;
  for (int change = 1; change < 1000 && !HasFailure(); ++change) {
    bool reached = false;
    for (const char* after : {"0", "1"}) {
      std::string root = rel::CopyTree(prepared, "kill");
      rel::Outcome outcome = rel::RunSetup(
          root, scenario.args,
          {"LD_PRELOAD=" HIVE_SNAPSHOTS_LIBRARY, "WINSIM_KILL_AT=" + std::to_string(change),
           std::string("WINSIM_KILL_AFTER=") + after, "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
      if (outcome.signal == SIGKILL) {
        reached = true;
        ++at_changes;
        check(root, "killed at change " + std::to_string(change) + (*after == '1' ? ", after" : ", before"));
        if (change % 3 == 1) run_again(root);
      }
      rel::RemoveTree(root);
    }
    if (!reached) break;
  }
  EXPECT_GT(at_changes, 0) << "no run was killed at a change";

  if (getenv("RELIABILITY_VERBOSE"))
    printf("run %lld us, changes from %lld to %lld us\n", duration, first, last);
  printf("figure: crash safety %s: %d kills at random moments during the run, %d at the changes; %zu of %zu hive "
         "states met\n",
         scenario.name, killed, at_changes, hit.size(), states.size());
  rel::RemoveTree(snapshots);
  rel::RemoveTree(reference);
  rel::RemoveTree(prepared);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashSafety, testing::ValuesIn(kScenarios), rel::ScenarioName());

}  // namespace

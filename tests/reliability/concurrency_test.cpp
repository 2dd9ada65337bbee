// Two setup processes on one machine at once. They serialise their changes
// with the machine lock; the setup log is opened exclusively for each line,
// so a line may be lost to the other process's open, but never torn. After
// both, the machine must still be in a state that a plain install repairs
// into exactly what an install over an installation gives.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "harness.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"

namespace {

struct Pair {
  const char* name;
  const char* os;
  bool installed;
  std::vector<std::string> first;
  std::vector<std::string> second;
};

void PrintTo(const Pair& value, std::ostream* out) { *out << value.name; }

const Pair kPairs[] = {
    {"install-install-xp", "xp", false, {}, {}},
    {"install-install-98", "98", false, {}, {}},
    {"uninstall-install-xp", "xp", true, {"uninstall"}, {}},
    {"install-install-over-xp", "xp", true, {}, {}},
};

int Rounds() {
  const char* text = getenv("RELIABILITY_ROUNDS");
  int rounds = text ? atoi(text) : 0;
  return rounds > 0 ? rounds : 12;
}

std::string Prepare(const Pair& pair) {
  std::string root = rel::FreshMachine(pair.os);
  if (pair.installed) {
    EXPECT_EQ(rel::RunSetup(root).status, 0);
    rel::WriteFile(root + "/answers", "yes\n");
  }
  return root;
}

void ExpectEndedNormally(const rel::Outcome& outcome, const char* which) {
  EXPECT_FALSE(outcome.timed_out) << which;
  EXPECT_EQ(outcome.signal, 0) << which;
  EXPECT_FALSE(rel::HasSanitizerReport(outcome.err)) << which << ":\n" << outcome.err;
  EXPECT_TRUE(outcome.status == 0 || outcome.status == (1603 & 0xFF) || outcome.status == (3010 & 0xFF))
      << which << " ended with " << outcome.status << ":\n" << outcome.err;
}

class Concurrency : public testing::TestWithParam<Pair> {};

TEST_P(Concurrency, TwoRunsAtOnceKeepTheMachineWhole) {
  const Pair& pair = GetParam();
  // What a plain install over an installation leaves.
  std::string reference = Prepare(pair);
  rel::RunSetup(reference, pair.first);
  rel::RunSetup(reference, pair.second);
  ASSERT_EQ(rel::RunSetup(reference).status, 0);
  const std::string expected = rel::SortedHive(reference);
  rel::RemoveTree(reference);

  std::mt19937 random(static_cast<unsigned>(getpid()));
  std::uniform_int_distribution<int> offset(0, 20000);
  size_t lines = 0;
  const int rounds = Rounds();
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(std::string(pair.name) + ", round " + std::to_string(round));
    std::string root = Prepare(pair);
    rel::Child first = rel::Start(root, pair.first);
    usleep(static_cast<useconds_t>(offset(random)));
    rel::Child second = rel::Start(root, pair.second);
    ExpectEndedNormally(rel::Finish(first), "first run");
    ExpectEndedNormally(rel::Finish(second), "second run");

    EXPECT_EQ(rel::HiveError(root), "");
    std::string bad;
    for (const std::string& text : rel::LogTexts(rel::ReadFile(rel::LogPath(root)), &bad)) {
      EXPECT_TRUE(rel::IsKnownLogText(text)) << "setup log line: " << text;
      ++lines;
    }
    EXPECT_EQ(bad, "") << "a setup log line is not whole";
    EXPECT_EQ(rel::BadJournalLine(rel::ReadFile(root + "/journal.log")), "");

    rel::Outcome repair = rel::RunSetup(root);
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(rel::SortedHive(root), expected) << "the install after both runs left another state";
    rel::RemoveTree(root);
    if (HasFailure()) break;
  }
  printf("figure: concurrency %s: %d rounds, %zu setup-log lines checked\n", pair.name, rounds, lines);
}

// The machine lock underneath: registry changes of processes writing at
// the same moment are all kept (none overwritten by a stale copy).
TEST(ConcurrentWriters, EveryRegistryChangeOfEachProcessIsKept) {
  std::string root = rel::FreshMachine("xp");
  const int kWriters = 3;
  const int kValues = 120;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      winsim::Machine::Open(root);
      HKEY key = nullptr;
      if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", &key) != ERROR_SUCCESS) _exit(2);
      for (int i = 0; i < kValues; ++i) {
        std::string name = "writer" + std::to_string(w) + "-" + std::to_string(i);
        DWORD data = static_cast<DWORD>(w * 1000 + i);
        if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4) != ERROR_SUCCESS)
          _exit(3);
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
  }
  winsim::Hive hive = winsim::Hive::Parse(rel::ReadFile(root + "/system.reg"), "system.reg");
  const winsim::RegKey* race = hive.Find("SOFTWARE\\Race");
  ASSERT_NE(race, nullptr);
  int kept = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValues; ++i) {
      const winsim::RegValue* value = race->Value("writer" + std::to_string(w) + "-" + std::to_string(i));
      DWORD data = static_cast<DWORD>(w * 1000 + i);
      if (value && value->data == std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&data),
                                                       reinterpret_cast<uint8_t*>(&data) + 4))
        ++kept;
    }
  }
  EXPECT_EQ(kept, kWriters * kValues);
  rel::RemoveTree(root);
}

INSTANTIATE_TEST_SUITE_P(Pairs, Concurrency, testing::ValuesIn(kPairs), rel::ScenarioName());

}  // namespace

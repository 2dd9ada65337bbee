// The setup program's one decision, made on its argument text: install,
// uninstall after the question, or start the text as a hidden command line.
#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

#include "common/test_machine.h"

namespace {

// A POSIX process status keeps the low eight bits of the exit code.
constexpr int StatusOf(int exit_code) { return exit_code & 0xFF; }

const std::string kQuestion = "MessageBox\tsetup\t0x4\tAre your sure you want to uninstall zentaq?\t";

// Everything a run could change on the machine.
struct Snapshot {
  std::string hive, log, config, journal;
  explicit Snapshot(const TestMachine& machine)
      : hive(machine.HiveText()),
        log(machine.SetupLog()),
        config(machine.Read("c:\\zentaq\\res\\zentaq.ini")),
        journal(machine.Journal()) {}
};

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() { machine_.StageProduct(); }
  TestMachine machine_{"xp"};
};

TEST_F(DispatchTest, NoArgumentsInstall) {
  RunResult run = machine_.Setup();
  EXPECT_EQ(machine_.SetupLog().rfind("01-03-05: 08:05is_winnt = TRUE\r\n", 0), 0u) << run.err;
  for (const auto& line : machine_.JournalLines("MessageBox")) EXPECT_EQ(line.find(kQuestion), std::string::npos);
}

TEST_F(DispatchTest, UninstallAnsweredNoChangesNothing) {
  machine_.Setup();  // an installed product for the question to be about
  Snapshot before(machine_);
  machine_.Answer({"no"});
  RunResult run = machine_.Setup({"uninstall"});
  EXPECT_EQ(run.status, StatusOf(1602));
  Snapshot after(machine_);
  EXPECT_EQ(after.hive, before.hive);
  EXPECT_EQ(after.log, before.log);
  EXPECT_EQ(after.config, before.config);
  // The journal grew by the question alone.
  ASSERT_EQ(after.journal.compare(0, before.journal.size(), before.journal), 0);
  EXPECT_EQ(after.journal.substr(before.journal.size()), kQuestion + "7\n");
}

TEST_F(DispatchTest, UninstallAnsweredYesRunsTheUninstall) {
  machine_.Setup();
  ASSERT_NE(machine_.HiveText().find("Uninstall\\Zentaq]"), std::string::npos);
  machine_.Answer({"yes"});
  RunResult run = machine_.Setup({"uninstall"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(machine_.JournalLines("MessageBox").at(0).substr(0, kQuestion.size()), kQuestion);
  EXPECT_EQ(machine_.HiveText().find("Uninstall\\Zentaq]"), std::string::npos);
}

TEST_F(DispatchTest, AnyOtherArgumentTextIsStartedHidden) {
  Snapshot before(machine_);
  RunResult run = machine_.Setup({"Uninstall"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(machine_.Journal(), "CreateProcess\tUninstall\t0x200\t0x1\t0\n");
  EXPECT_EQ(machine_.HiveText(), before.hive);
  EXPECT_FALSE(machine_.Exists("c:\\zentaq\\res\\drivedir\\setup.log"));
}

TEST_F(DispatchTest, OnlyTheExactWordUninstalls) {
  // Other capitals, quotes around it, a blank behind it: each is a command line.
  for (const std::string argument : {"UNINSTALL", "\"uninstall\"", "uninstall ", " uninstall"}) {
    SCOPED_TRACE(argument);
    TestMachine machine("xp");
    machine.StageProduct();
    machine.Answer({"yes"});
    RunResult run = machine.Setup({argument});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(machine.JournalLines("MessageBox").empty());
    std::vector<std::string> started = machine.JournalLines("CreateProcess");
    ASSERT_EQ(started.size(), 1u);
    const std::string hidden = "\t0x200\t0x1\t0";
    EXPECT_EQ(started[0].substr(started[0].size() - hidden.size()), hidden);
  }
}

TEST(Dispatch, AQuotedProgramPathWithBlanksStillGivesTheWordUninstall) {
  TestMachine machine("xp", "module = c:\\program files\\zentaq setup\\setup.exe\n");
  machine.Answer({"no"});
  RunResult run = machine.Setup({"uninstall"});
  EXPECT_EQ(run.status, StatusOf(1602));
  EXPECT_EQ(machine.Journal(), kQuestion + "7\n");
}

TEST(Dispatch, TheQuestionIsCaptionedWithTheExecutablesName) {
  TestMachine machine("98", "module = d:\\cd\\Install.EXE\n");
  machine.Answer({"no"});
  RunResult run = machine.Setup({"uninstall"});
  EXPECT_EQ(run.status, StatusOf(1602));
  EXPECT_EQ(machine.Journal(), "MessageBox\tInstall\t0x4\tAre your sure you want to uninstall zentaq?\t7\n");
}

TEST(Dispatch, AnUnusableMachineFileStopsTheProgramWithOneLine) {
  TestMachine machine("xp");
  std::string bad = "[machine]\nos = vista\n";
  {
    FILE* ini = fopen((machine.root() + "/machine.ini").c_str(), "wb");
    ASSERT_NE(ini, nullptr);
    fputs(bad.c_str(), ini);
    fclose(ini);
  }
  RunResult run = machine.Setup({"uninstall"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("setup: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("machine.ini:2: "), std::string::npos) << run.err;
  EXPECT_EQ(SplitLines(run.err).size(), 1u);
  EXPECT_EQ(machine.MachineFile("machine.ini"), bad);
  EXPECT_EQ(machine.Journal(), "");
}

}  // namespace

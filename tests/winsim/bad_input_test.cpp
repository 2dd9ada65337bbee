// Bad input to every subcommand: one line on stderr, a nonzero status, and
// the machine exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include "winsim_cli.h"

namespace {

// Every subcommand that works on an existing machine.
std::vector<std::vector<std::string>> MachineCommands(const std::string& dir) {
  return {{"run", dir}, {"show", dir}, {"reboot", dir}, {"answer", dir, "ok"}, {"print", dir, SAMPLE_PS, dir + "/x.pdf"}};
}

// The whole machine directory as text: names and contents of every file.
std::string Snapshot(const std::string& dir) {
  RunResult r = RunProgram({"/bin/sh", "-c", "cd '" + dir + "' && find . -type f | sort | xargs -r md5sum"}, {});
  return r.out;
}

TEST(WinsimBadInput, InitRefusesUnknownSystemsAndFoldersInUse) {
  Scratch scratch;
  RunResult unknown = Winsim({"init", "--os", "vista", scratch / "m"});
  EXPECT_TRUE(IsOneLineError(unknown)) << unknown.err;
  EXPECT_NE(unknown.err.find("vista"), std::string::npos) << unknown.err;
  EXPECT_FALSE(Exists(scratch / "m"));

  Spit(scratch / "notes.txt", "mine\n");
  RunResult busy = Winsim({"init", scratch.path()});
  EXPECT_TRUE(IsOneLineError(busy)) << busy.err;
  EXPECT_EQ(Listing(scratch.path()), std::vector<std::string>{"notes.txt"});

  ASSERT_EQ(Winsim({"init", "--os", "nt4", scratch / "m"}).status, 0);
  std::string before = Snapshot(scratch / "m");
  RunResult again = Winsim({"init", "--product", scratch / "m"});
  EXPECT_TRUE(IsOneLineError(again)) << again.err;
  EXPECT_NE(again.err.find("already a machine"), std::string::npos) << again.err;
  EXPECT_EQ(Snapshot(scratch / "m"), before);

  // An empty folder is taken as it is.
  ASSERT_EQ(system(("mkdir '" + scratch / "empty" + "'").c_str()), 0);
  EXPECT_EQ(Winsim({"init", scratch / "empty"}).status, 0);
  EXPECT_TRUE(Exists(scratch / "empty/system.reg"));
  EXPECT_EQ(Listing(scratch.path()), (std::vector<std::string>{"empty", "m", "notes.txt"}));
}

TEST(WinsimBadInput, EveryCommandRefusesMissingAndNonMachineFolders) {
  Scratch scratch;
  Spit(scratch / "file", "x");
  for (const std::string& dir : {scratch / "missing", scratch.path(), scratch / "file"}) {
    for (const auto& args : MachineCommands(dir)) {
      RunResult r = Winsim(args);
      EXPECT_TRUE(IsOneLineError(r)) << args[0] << " " << dir << ": " << r.status << " " << r.err;
    }
  }
  EXPECT_EQ(Listing(scratch.path()), std::vector<std::string>{"file"});
}

TEST(WinsimBadInput, CorruptMachineFilesAreReportedWithFileAndLineAndKept) {
  Scratch scratch;
  for (std::string damaged : {"machine.ini", "system.reg"}) {
    std::string machine = scratch / damaged;
    ASSERT_EQ(Winsim({"init", machine}).status, 0);
    std::string text = Slurp(machine + "/" + damaged);
    size_t lines = std::count(text.begin(), text.end(), '\n');
    Spit(machine + "/" + damaged, text + "this line is not understood\n");
    std::string before = Snapshot(machine);
    for (const auto& args : MachineCommands(machine)) {
      RunResult r = Winsim(args);
      EXPECT_TRUE(IsOneLineError(r)) << args[0] << ": " << r.err;
      EXPECT_NE(r.err.find(damaged + ":" + std::to_string(lines + 1) + ":"), std::string::npos)
          << args[0] << ": " << r.err;
      EXPECT_EQ(Snapshot(machine), before) << args[0] << " changed the machine";
    }
  }
}

TEST(WinsimBadInput, AnswerQueuesAllWordsOrNone) {
  Scratch scratch;
  std::string machine = scratch / "m";
  ASSERT_EQ(Winsim({"init", machine}).status, 0);
  ASSERT_EQ(Winsim({"answer", machine, "yes"}).status, 0);
  RunResult bad = Winsim({"answer", machine, "ok", "maybe"});
  EXPECT_TRUE(IsOneLineError(bad)) << bad.err;
  EXPECT_NE(bad.err.find("maybe"), std::string::npos) << bad.err;
  EXPECT_EQ(Slurp(machine + "/answers"), "yes\n");
  ASSERT_EQ(Winsim({"answer", machine, "No", "cancel"}).status, 0);
  EXPECT_EQ(Slurp(machine + "/answers"), "yes\nno\ncancel\n");

  RunResult none = Winsim({"answer", machine});
  EXPECT_TRUE(IsOneLineError(none)) << none.err;
  RunResult help = Winsim({"answer", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("ANSWER"), std::string::npos) << help.out;
}

}  // namespace

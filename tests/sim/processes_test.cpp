// The process command line and CreateProcessA.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/machine.h"

namespace {

using Args = std::vector<std::string>;

std::string CommandLineOf(const Args& args) {
  std::vector<char*> argv{const_cast<char*>("setup")};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  winsim::SetProcessCommandLine(static_cast<int>(argv.size()), argv.data());
  return GetCommandLineA();
}

TEST(CommandLine, ArgumentsComeBackThroughTheWindowsRules) {
  TestMachine machine("xp", "module = c:\\Program Files\\Zentaq\\setup.exe\n");
  machine.Use();
  const Args cases[] = {
      {},
      {"uninstall"},
      {"uninstall "},
      {"\"uninstall\""},
      {"notepad", "c:\\my files\\a b.txt"},
      {""},
      {"a\\\\b", "c:\\dir\\", "c:\\dir with blank\\", "say \"hi\"", "\\\"", "tab\there"},
  };
  for (const Args& args : cases) {
    std::string line = CommandLineOf(args);
    EXPECT_EQ(line.rfind("\"c:\\Program Files\\Zentaq\\setup.exe\"", 0), 0u) << line;
    Args split = winsim::SplitCommandLine(line);
    ASSERT_FALSE(split.empty());
    EXPECT_EQ(split[0], "c:\\Program Files\\Zentaq\\setup.exe");
    EXPECT_EQ(Args(split.begin() + 1, split.end()), args) << line;
  }
  EXPECT_EQ(CommandLineOf({"uninstall"}), "\"c:\\Program Files\\Zentaq\\setup.exe\" uninstall");
}

TEST(CommandLine, SplitsWithTheMsvcrtRules) {
  struct Case {
    std::string line;
    Args args;
  } cases[] = {
      {"prog a b", {"prog", "a", "b"}},
      {"  prog\t a  \t b  ", {"prog", "a", "b"}},
      // The program name is taken between quotes without escapes.
      {"\"c:\\a b\\p.exe\"x y", {"c:\\a b\\p.exe", "x", "y"}},
      {"\"c:\\dir\\\" arg", {"c:\\dir\\", "arg"}},
      {"p a\\\\\\b", {"p", "a\\\\\\b"}},           // backslashes without a quote stay
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},         // 2n backslashes: n and a quote pair
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},           // 2n+1 backslashes: n and a literal quote
      {"p \"a\"\"b\" c", {"p", "a\"b c"}},        // "" in quotes: a quote, and the quotes end
      {"p \"a\"\" b\"", {"p", "a\"", "b"}},
      {"p \"\" x", {"p", "", "x"}},
      {"p \"a\"\\\"b", {"p", "a\"b"}},             // a quote closed, then an escaped one
      {"p \"open", {"p", "open"}},
  };
  for (const Case& c : cases) EXPECT_EQ(winsim::SplitCommandLine(c.line), c.args) << c.line;
}

class Processes : public ::testing::Test {
 protected:
  Processes() {
    machine_.Use();
    info_.cb = sizeof info_;
    info_.dwFlags = STARTF_USESHOWWINDOW;
    info_.wShowWindow = SW_HIDE;
  }
  BOOL Start(const std::string& line, LPVOID environment = nullptr, const char* folder = nullptr) {
    std::string copy = line;
    SetLastError(0xdeadbeef);
    return CreateProcessA(nullptr, &copy[0], nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, environment,
                          folder, &info_, &process_);
  }
  // Waits up to five seconds for a file that a started program makes.
  std::string WaitFor(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
      struct stat st;
      if (stat(path.c_str(), &st) == 0 && st.st_size > 0) break;
      usleep(10000);
    }
    usleep(20000);
    return machine_.MachineFile(path.substr(machine_.root().size() + 1));
  }
  TestMachine machine_;
  STARTUPINFOA info_ = {};
  PROCESS_INFORMATION process_ = {};
};

TEST_F(Processes, Rundll32IsOnlyJournalled) {
  std::string line = "rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\readme.html";
  ASSERT_TRUE(Start(line));
  EXPECT_TRUE(CloseHandle(process_.hProcess));
  EXPECT_TRUE(CloseHandle(process_.hThread));
  ASSERT_TRUE(Start("C:\\WINDOWS\\RUNDLL32 shell32.dll,SHHelpShortcuts_RunDLL AddPrinter"));
  ASSERT_TRUE(Start("rundll32.exe"));
  EXPECT_EQ(machine_.JournalLines("CreateProcess"),
            (Args{"CreateProcess\trundll32.exe url.dll,FileProtocolHandler c:\\\\zentaq\\\\res\\\\readme.html\t0x200\t0x1\t0",
                  "CreateProcess\tC:\\\\WINDOWS\\\\RUNDLL32 shell32.dll,SHHelpShortcuts_RunDLL AddPrinter\t0x200\t0x1\t0",
                  "CreateProcess\trundll32.exe\t0x200\t0x1\t0"}));
}

TEST_F(Processes, HostProgramsRunWithTheGivenEnvironment) {
  std::string out = machine_.root() + "/out.txt";
  std::string environment = std::string("PATH=/usr/bin:/bin") + '\0' + "ZENTAQ_TEST=from the block" + '\0' + '\0';
  ASSERT_TRUE(Start("sh -c \"echo \\\"$ZENTAQ_TEST\\\" > " + out + "\"", &environment[0]));
  EXPECT_NE(process_.dwProcessId, 0u);
  EXPECT_TRUE(CloseHandle(process_.hProcess));
  EXPECT_EQ(WaitFor(out), "from the block\n");

  // The process id is the started program's own; a program started from a
  // GUI process without STARTF_USESTDHANDLES has none of its standard handles.
  // This process's own standard streams go to a file meanwhile, so that an
  // inherited one can't pass for the null device.
  std::string ids = machine_.root() + "/ids.txt";
  int saved[3];
  int own = open((machine_.root() + "/own.txt").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(own, 0);
  for (int fd = 0; fd < 3; ++fd) saved[fd] = dup(fd), dup2(own, fd);
  BOOL started = Start("sh -c \"echo $$ $(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2) > " + ids + ".tmp; mv " +
                       ids + ".tmp " + ids + "\"");
  for (int fd = 0; fd < 3; ++fd) dup2(saved[fd], fd), close(saved[fd]);
  close(own);
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitFor(ids), std::to_string(process_.dwProcessId) + " /dev/null /dev/null /dev/null\n");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "a successful start leaves the last error";
}

TEST_F(Processes, AProgramInTheCurrentDirectoryIsFound) {
  // Windows looks in the current directory before the PATH; on the host an
  // empty PATH entry stands for it.
  std::string probe = machine_.root() + "/zentaq-probe";
  {
    FILE* f = fopen(probe.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("#!/bin/sh\necho found > found.txt\n", f);
    fclose(f);
  }
  ASSERT_EQ(chmod(probe.c_str(), 0755), 0);
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(machine_.root().c_str()), 0);
  setenv("PATH", ":/usr/bin:/bin", 1);
  BOOL started = Start("zentaq-probe.exe");
  setenv("PATH", path.c_str(), 1);
  EXPECT_TRUE(started);
  EXPECT_EQ(WaitFor(machine_.root() + "/found.txt"), "found\n");
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(Processes, AFileThatIsNoProgramFailsWithBadExeFormat) {
  // The host file is made executable as a program file would be; its text
  // is no program the host can run (no #! line, no ELF header).
  machine_.Write("c:\\tools\\notes.exe", "plain text, not a program\n");
  std::string host = machine_.Host("c:\\tools\\notes.exe");
  ASSERT_EQ(chmod(host.c_str(), 0755), 0);
  EXPECT_FALSE(Start(host + " arg"));
  EXPECT_EQ(GetLastError(), 193u);  // ERROR_BAD_EXE_FORMAT
  EXPECT_FALSE(Start("sh -c true", nullptr, "c:\\no\\folder"));
  EXPECT_EQ(GetLastError(), 267u);  // ERROR_DIRECTORY
}

TEST_F(Processes, UnknownProgramsFailWith2ButAreJournalled) {
  // A quote left open takes the rest of the line as the program's name.
  for (const char* line : {"no-such-program-zentaq arg", "c:\\tools\\editor.exe file.txt", "\"uninstall\"",
                           "\"c:\\tools\\unclosed.exe arg"}) {
    EXPECT_FALSE(Start(line));
    EXPECT_EQ(GetLastError(), 2u) << line;
  }
  EXPECT_TRUE(Start("\"/bin/true"));
  EXPECT_EQ(machine_.JournalLines("CreateProcess").size(), 5u);
}

TEST_F(Processes, EnvironmentBlockHoldsTheHostEnvironment) {
  setenv("ZENTAQ_BLOCK_TEST", "x=y", 1);
  LPCH block = GetEnvironmentStrings();
  ASSERT_NE(block, nullptr);
  bool found = false;
  const char* p = block;
  for (; *p; p += strlen(p) + 1) found = found || std::string(p) == "ZENTAQ_BLOCK_TEST=x=y";
  EXPECT_TRUE(found);
  EXPECT_TRUE(FreeEnvironmentStringsA(block));
  unsetenv("ZENTAQ_BLOCK_TEST");
}

}  // namespace

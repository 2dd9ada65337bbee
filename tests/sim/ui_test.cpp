// Message boxes: queued answers, defaults, the journal and standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/machine.h"

namespace {

// Standard input is not a terminal during these tests (no one is asked).
class MessageBoxes : public ::testing::Test {
 protected:
  MessageBoxes() {
    machine_.Use();
    saved_stdin_ = dup(0);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    close(null);
  }
  ~MessageBoxes() override {
    dup2(saved_stdin_, 0);
    close(saved_stdin_);
  }
  TestMachine machine_;
  int saved_stdin_ = -1;
};

TEST_F(MessageBoxes, QueuedAnswersAreTakenInOrderThenDefaultsApply) {
  machine_.Answer({"yes", "", "NO", "cancel"});
  EXPECT_EQ(MessageBoxA(nullptr, "Are your sure?", "setup", MB_YESNO), IDYES);
  EXPECT_EQ(machine_.MachineFile("answers"), "\nNO\ncancel\n");
  EXPECT_EQ(MessageBoxA(nullptr, "Again?", "setup", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Third", "setup", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(machine_.MachineFile("answers"), "");
  // Nothing queued, no terminal: OK for MB_OK, No for MB_YESNO.
  EXPECT_EQ(MessageBoxA(nullptr, "Done", "setup", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "setup", MB_YESNO), IDNO);
  EXPECT_EQ(machine_.JournalLines("MessageBox"),
            (std::vector<std::string>{"MessageBox\tsetup\t0x4\tAre your sure?\t6",
                                      "MessageBox\tsetup\t0x4\tAgain?\t7",
                                      "MessageBox\tsetup\t0x1\tThird\t2",
                                      "MessageBox\tsetup\t0x0\tDone\t1",
                                      "MessageBox\tsetup\t0x4\tSure?\t7"}));
}

TEST_F(MessageBoxes, TextIsShownOnStandardErrorAndEscapedInTheJournal) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "line one\nline\ttwo", "setup", MB_OK | MB_ICONEXCLAMATION), IDOK);
  // No text: an empty box; no caption: Windows captions it "Error".
  EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "setup: line one\nline\ttwo\nError: \n");
  EXPECT_EQ(machine_.JournalLines("MessageBox"),
            (std::vector<std::string>{"MessageBox\tsetup\t0x30\tline one\\nline\\ttwo\t1", "MessageBox\tError\t0x0\t\t1"}));
}

TEST_F(MessageBoxes, AnUnknownAnswerIsAMachineErrorAndStaysQueued) {
  machine_.Answer({"ok", "maybe"});
  EXPECT_EQ(MessageBoxA(nullptr, "First", "setup", MB_OK), IDOK);
  try {
    MessageBoxA(nullptr, "Second", "setup", MB_YESNO);
    ADD_FAILURE() << "no error";
  } catch (const winsim::MachineError& e) {
    EXPECT_STREQ(e.what(), "answers:1: unknown answer 'maybe'");
  }
  EXPECT_EQ(machine_.MachineFile("answers"), "maybe\n");
}

TEST_F(MessageBoxes, AFaultFailsTheBoxWithoutTakingAnAnswer) {
  TestMachine faulty("xp", "\n[faults]\nMessageBoxA = 8@1\n");
  faulty.Use();
  faulty.Answer({"yes"});
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "setup", MB_YESNO), 0);
  EXPECT_EQ(GetLastError(), 8u);
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "setup", MB_YESNO), IDYES);
}

}  // namespace

namespace {

// Reads what the pseudo-terminal's other side shows until `wanted` has
// appeared, for at most 10 s.
bool ShowsWithin(int master, const std::string& wanted, std::string* shown) {
  for (int waited = 0; shown->find(wanted) == std::string::npos; ++waited) {
    if (waited == 100) return false;
    struct pollfd ready = {master, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char buffer[256];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return false;
    shown->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

// A box asked at a terminal waits for a person: the machine must stay open to
// the other programs on it (winsim show, winsim answer) meanwhile, though the
// program keeps the lock between its calls.
TEST(MessageBoxAtATerminal, LetsOtherProgramsTakeTheMachineWhileItWaits) {
  TestMachine machine;
  machine.Use();
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string terminal = ptsname(master);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int slave = open(terminal.c_str(), O_RDWR);
    dup2(slave, 0);
    dup2(slave, 2);
    winsim::KeepLockBetweenCalls();
    HKEY key;
    bool ok = RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Asked", &key) == ERROR_SUCCESS;
    int answer = MessageBoxA(nullptr, "Sure?", "setup", MB_YESNO);
    _exit(ok && answer == IDYES ? 0 : 1);
  }
  std::string shown;
  EXPECT_TRUE(ShowsWithin(master, "[yes/no] ", &shown)) << shown;
  EXPECT_TRUE(OthersCanLock(machine.root())) << "the box holds the machine while it waits";
  ASSERT_EQ(write(master, "yes\n", 4), 4);
  int status = -1;
  waitpid(child, &status, 0);
  close(master);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(machine.JournalLines("MessageBox"), (std::vector<std::string>{"MessageBox\tsetup\t0x4\tSure?\t6"}));
}

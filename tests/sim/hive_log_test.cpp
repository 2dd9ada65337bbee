// A large hive's changes go to system.reg.log: every reader applies them,
// a record cut short is no change at all, and system.reg alone is the whole
// hive again once a fold or the exit of the process has written it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

using winsim::Hive;
using winsim::RegKey;

namespace {

// Well past the size from which changes are logged.
void MakeLarge(const TestMachine& m) {
  std::string text = m.HiveText();
  char key[128];
  for (int i = 0; i < 2000; ++i) {
    snprintf(key, sizeof key, "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\Key%04d]\n\"Name\"=\"value %d\"\n", i, i);
    text += key;
  }
  winsim::WriteFileAtomic(m.root() + "/system.reg", text);
}

void SetText(RegKey* key, const std::string& name, const std::string& text) {
  key->SetValue(name, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

std::string Text(const Hive& hive, const std::string& key, const std::string& name) {
  const RegKey* k = hive.Find(key);
  const winsim::RegValue* v = k ? k->Value(name) : nullptr;
  return v ? std::string(v->data.begin(), v->data.end() - 1) : "<none>";
}

// The hive as a process that starts now reads it from the files.
const Hive& Reread(const TestMachine& m) {
  TestMachine other;
  other.Use();
  winsim::ReadHive();
  m.Use();
  return winsim::ReadHive();
}

// The key of change `i` of round `round`.
std::string Numbered(int round, int i) {
  return "SOFTWARE\\Count\\R" + std::to_string(round) + "\\K" + std::to_string(i);
}

// Runs `body` in a child process that ends without the exit handlers, as a
// process killed right after its last change.
void InChild(const std::function<void()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
}

}  // namespace

TEST(HiveLog, ChangesOfALargeHiveAreLoggedReplayedAndFolded) {
  TestMachine m("xp");
  MakeLarge(m);
  m.Use();
  std::string before = m.HiveText();
  winsim::ChangeHive([](Hive& hive) {
    RegKey* key = hive.Create("SOFTWARE\\Vendor\\Product");
    SetText(key, "Path", "c:\\vendor");
    SetText(key, "", "default");
    std::string bytes(300, '\x7f');  // written with continuation lines
    key->SetValue("Blob", REG_BINARY, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    SetText(hive.Create("SOFTWARE\\Vendor\\Gone\\Deep"), "x", "y");
    return true;
  });
  winsim::ChangeHive([](Hive& hive) {
    RegKey* key = hive.Find("SOFTWARE\\Vendor\\Product");
    key->RemoveValue("");
    SetText(key, "PATH", "d:\\vendor");  // keeps the case of its first name
    hive.Remove("SOFTWARE\\Vendor\\Gone");
    hive.Remove("SOFTWARE\\Bulk\\Key0007");
    SetText(hive.Create("SOFTWARE\\vendor\\gone"), "again", "1");  // the same name, made anew
    return true;
  });
  EXPECT_EQ(m.HiveText(), before);
  EXPECT_NE(m.MachineFile("system.reg.log").find("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gone]"),
            std::string::npos);

  std::string expected = winsim::ReadHive().Serialize();
  EXPECT_EQ(Reread(m).Serialize(), expected);
  const Hive& hive = winsim::ReadHive();
  EXPECT_EQ(Text(hive, "SOFTWARE\\Vendor\\Product", "path"), "d:\\vendor");
  EXPECT_EQ(hive.Find("SOFTWARE\\Vendor\\Product")->Value("Path")->name, "Path");
  EXPECT_EQ(hive.Find("SOFTWARE\\Vendor\\Product")->Value(""), nullptr);
  EXPECT_EQ(hive.Find("SOFTWARE\\Vendor\\Gone\\Deep"), nullptr);
  EXPECT_EQ(hive.Find("SOFTWARE\\Bulk\\Key0007"), nullptr);

  winsim::CompactHive();
  EXPECT_EQ(m.MachineFile("system.reg.log"), "");
  EXPECT_EQ(m.HiveText(), expected);
  EXPECT_EQ(Reread(m).Serialize(), expected);
}

TEST(HiveLog, OtherProcessesSeeEachChangeWholeOrNotAtAll) {
  TestMachine m("xp");
  MakeLarge(m);
  m.Use();
  winsim::ReadHive();
  InChild([] {
    winsim::ChangeHive([](Hive& hive) {
      SetText(hive.Create("SOFTWARE\\FromChild"), "n", "1");
      return true;
    });
  });
  EXPECT_EQ(Text(winsim::ReadHive(), "SOFTWARE\\FromChild", "n"), "1");

  // A writer killed half-way through its record: the record is no change.
  std::string log = m.MachineFile("system.reg.log");
  winsim::WriteFileAtomic(m.root() + "/system.reg.log", log + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Torn]\n\"n\"=\"2");
  EXPECT_EQ(Reread(m).Find("SOFTWARE\\Torn"), nullptr);
  // The next writer cuts it off before its own record.
  winsim::ChangeHive([](Hive& hive) {
    SetText(hive.Create("SOFTWARE\\FromChild"), "n", "3");
    return true;
  });
  EXPECT_EQ(m.MachineFile("system.reg.log").find("Torn"), std::string::npos);
  EXPECT_EQ(Text(Reread(m), "SOFTWARE\\FromChild", "n"), "3");
}

TEST(HiveLog, AKilledWriterLeavesAStateBetweenTwoOfItsChanges) {
  TestMachine m("xp");
  MakeLarge(m);
  m.Use();
  winsim::ReadHive();
  for (int round = 0; round < 5; ++round) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      // Each change sets the round's counter and adds the key of that number.
      for (int i = 1;; ++i) {
        winsim::ChangeHive([&](Hive& hive) {
          SetText(hive.Create(Numbered(round, i)), "n", std::to_string(i));
          SetText(hive.Create("SOFTWARE\\Count"), Numbered(round, 0), std::to_string(i));
          return true;
        });
      }
    }
    usleep(static_cast<useconds_t>(20000 + round * 7919));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const Hive& hive = Reread(m);
    std::string last = Text(hive, "SOFTWARE\\Count", Numbered(round, 0));
    int n = last == "<none>" ? 0 : std::stoi(last);
    if (n > 0) {
      EXPECT_NE(hive.Find(Numbered(round, n)), nullptr) << "round " << round;
    }
    EXPECT_EQ(hive.Find(Numbered(round, n + 1)), nullptr) << "round " << round;
    winsim::CompactHive();  // the next round's writer starts from a folded hive or from the log
  }
}

TEST(HiveLog, ALogLeftByACutShortFoldIsIgnoredAndRemoved) {
  TestMachine m("xp");
  MakeLarge(m);
  m.Use();
  winsim::ChangeHive([](Hive& hive) {
    SetText(hive.Create("SOFTWARE\\Folded"), "n", "1");
    return true;
  });
  std::string log = m.MachineFile("system.reg.log");
  winsim::CompactHive();
  // The fold wrote system.reg but was killed before removing the log.
  winsim::WriteFileAtomic(m.root() + "/system.reg.log",
                          log + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Stale]\n\"n\"=\"1\"\n;end\n");
  const Hive& hive = Reread(m);
  EXPECT_EQ(Text(hive, "SOFTWARE\\Folded", "n"), "1");
  EXPECT_EQ(hive.Find("SOFTWARE\\Stale"), nullptr);
  winsim::CompactHive();
  EXPECT_EQ(m.MachineFile("system.reg.log"), "");
}

TEST(HiveLog, AFoldTakesInWhatAnotherProcessLoggedSinceThisOneRead) {
  TestMachine m("xp");
  MakeLarge(m);
  m.Use();
  winsim::ReadHive();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    winsim::ChangeHive([](Hive& hive) {
      SetText(hive.Create("SOFTWARE\\FromAnother"), "n", "1");
      return true;
    });
    _exit(0);  // no fold at exit: the change stays in the log
  }
  waitpid(pid, nullptr, 0);
  ASSERT_NE(m.MachineFile("system.reg.log"), "");
  winsim::CompactHive();
  EXPECT_EQ(m.MachineFile("system.reg.log"), "");
  EXPECT_EQ(Text(Hive::Parse(m.HiveText(), "system.reg"), "SOFTWARE\\FromAnother", "n"), "1");
}

TEST(HiveLog, TheProgramLeavesAWholeSystemRegBehind) {
  // The setup program logs its changes whatever the hive's size.
  for (bool large : {false, true}) {
    SCOPED_TRACE(large ? "large hive" : "small hive");
    TestMachine m("xp");
    m.StageProduct();
    if (large) MakeLarge(m);
    RunResult run = m.Setup();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(m.MachineFile("system.reg.log"), "");
    Hive hive = Hive::Parse(m.HiveText(), "system.reg");
    EXPECT_NE(hive.Find("SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ZENTAQ"), nullptr);
    EXPECT_EQ(hive.Find("SOFTWARE\\Bulk\\Key1999") != nullptr, large);
  }
}

// A record the file system refuses (the file size limit, no descriptor left) is no
// change: the writer reports it, forgets what it did in memory, and its
// next change is appended where the refused one would have gone.
TEST(HiveLog, ARefusedRecordIsNoChangeAndTheNextIsKept) {
  TestMachine m("xp");
  m.Use();
  winsim::KeepLockBetweenCalls();
  auto set = [](const std::string& name, const std::string& text) {
    winsim::ChangeHive([&](Hive& hive) {
      SetText(hive.Create("SOFTWARE\\Refused"), name, text);
      return true;
    });
  };
  // The error of `change` made while `resource` is limited to `limit`.
  auto refused = [](int resource, rlim_t limit, const std::function<void()>& change) {
    struct rlimit saved, small;
    getrlimit(resource, &saved);
    small = saved;
    small.rlim_cur = limit;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    std::string error = setrlimit(resource, &small) == 0 ? "" : "setrlimit failed";
    try {
      change();
    } catch (const winsim::MachineError& e) {
      error = e.what();
    }
    setrlimit(resource, &saved);
    signal(SIGXFSZ, previous);
    return error;
  };
  set("First", "1");
  winsim::LetOthersRun();
  const int descriptors = OpenDescriptors();
  std::string error = refused(RLIMIT_FSIZE, m.MachineFile("system.reg.log").size(), [&] { set("Refused", "2"); });
  EXPECT_NE(error.find("system.reg.log: cannot be written: File too large"), std::string::npos) << error;
  EXPECT_EQ(Text(winsim::ReadHive(), "SOFTWARE\\Refused", "Refused"), "<none>");
  // The refusal closed the log: the next change opens it again, and with
  // no descriptor left that is refused too.
  int lowest_free = dup(0);
  close(lowest_free);
  error = refused(RLIMIT_NOFILE, lowest_free, [&] { set("Unopened", "2"); });
  EXPECT_NE(error.find("/system.reg.log: cannot be written: Too many open files"), std::string::npos) << error;

  set("Third", "3");
  // A log grown past its limit is folded into system.reg under the lock;
  // the change after the fold starts a new log, not the removed file.
  set("Bulk", std::string(70 * 1024, 'b'));
  EXPECT_EQ(m.MachineFile("system.reg.log"), "");
  set("Fourth", "4");
  winsim::LetOthersRun();
  EXPECT_EQ(OpenDescriptors(), descriptors) << "a file stayed open after the wait";
  winsim::KeepLockBetweenCalls(false);
  const Hive& hive = Reread(m);
  EXPECT_EQ(Text(hive, "SOFTWARE\\Refused", "First"), "1");
  for (const char* refused : {"Refused", "Unopened"}) EXPECT_EQ(Text(hive, "SOFTWARE\\Refused", refused), "<none>");
  EXPECT_EQ(Text(hive, "SOFTWARE\\Refused", "Third"), "3");
  EXPECT_EQ(Text(hive, "SOFTWARE\\Refused", "Fourth"), "4");
}

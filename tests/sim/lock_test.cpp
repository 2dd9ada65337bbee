// The machine lock kept between calls (as the setup program keeps it): other
// processes wait for it until the program waits, and what the program knows
// under it (folder listings, the hive, state.ini) follows its own changes and,
// once it has waited, the changes of others.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

namespace {

DWORD AttributesError(const char* name) {
  SetLastError(0);
  EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES) << name;
  return GetLastError();
}

class KeptLock : public ::testing::Test {
 protected:
  KeptLock() {
    machine_.Use();
    machine_.Write("c:\\zentaq\\sub\\a.txt", "a");
    winsim::KeepLockBetweenCalls();
  }
  ~KeptLock() override { winsim::KeepLockBetweenCalls(false); }
  TestMachine machine_;
};

TEST_F(KeptLock, OthersWaitUntilTheProgramWaits) {
  EXPECT_TRUE(OthersCanLock(machine_.root()));
  HANDLE file = CreateFileA("c:\\zentaq\\sub\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_FALSE(OthersCanLock(machine_.root())) << "the lock went with the call";
  Sleep(0);
  EXPECT_TRUE(OthersCanLock(machine_.root())) << "a wait lets the others run";
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(OthersCanLock(machine_.root()));
  winsim::KeepLockBetweenCalls(false);
  EXPECT_TRUE(OthersCanLock(machine_.root())) << "one lock per call again";
}

TEST_F(KeptLock, FolderListingsFollowTheProgramsOwnChanges) {
  // Listed (a name in another case is looked for), then changed by the program.
  EXPECT_EQ(AttributesError("c:\\zentaq\\NEW.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE file = CreateFileA("c:\\zentaq\\New.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_NE(GetFileAttributesA("c:\\zentaq\\NEW.TXT"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(DeleteFileA("c:\\zentaq\\new.TXT"));
  EXPECT_EQ(AttributesError("c:\\zentaq\\NEW.txt"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // A folder moved takes what was known below it along.
  EXPECT_NE(GetFileAttributesA("c:\\zentaq\\SUB\\A.TXT"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(MoveFileA("c:\\zentaq\\sub", "c:\\zentaq\\Moved"));
  EXPECT_EQ(AttributesError("c:\\zentaq\\SUB\\A.TXT"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(AttributesError("c:\\zentaq\\sub\\a.txt"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_NE(GetFileAttributesA("c:\\zentaq\\MOVED\\a.TXT"), INVALID_FILE_ATTRIBUTES);

  // A file written whole through a temporary (a profile) is found in any case.
  EXPECT_EQ(AttributesError("c:\\zentaq\\SETTINGS.INI"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(WritePrivateProfileStringA("Parameters", "Quiet", "1", "c:\\zentaq\\settings.ini"));
  EXPECT_NE(GetFileAttributesA("c:\\zentaq\\SETTINGS.INI"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(machine_.Exists("c:\\zentaq\\settings.ini"));
}

TEST_F(KeptLock, ChangesOfAnotherProcessAreSeenOnceTheProgramHasWaited) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", &key), ERROR_SUCCESS);
  DWORD mine = 1;
  Sleep(0);
  const int descriptors = OpenDescriptors();
  ASSERT_EQ(RegSetValueExA(key, "Mine", 0, REG_DWORD, reinterpret_cast<BYTE*>(&mine), 4), ERROR_SUCCESS);
  winsim::WriteStateSection("test", {"mine"});
  // The fork is a wait: the child gets the lock, changes the hive and
  // state.ini, and ends.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    winsim::Machine::Open(machine_.root());
    HKEY other;
    DWORD theirs = 2;
    bool ok = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_ALL_ACCESS, &other) == ERROR_SUCCESS &&
              RegSetValueExA(other, "Theirs", 0, REG_DWORD, reinterpret_cast<BYTE*>(&theirs), 4) == ERROR_SUCCESS;
    winsim::WriteStateSection("test", {"mine", "theirs"});
    winsim::CompactHive();  // as its exit does: the log the program appended to is gone
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(status, 0);
  DWORD value = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Theirs", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(RegQueryValueExA(key, "Mine", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(winsim::ReadStateSection("test"), (std::vector<std::string>{"mine", "theirs"}));
  DWORD later = 3;
  ASSERT_EQ(RegSetValueExA(key, "Later", 0, REG_DWORD, reinterpret_cast<BYTE*>(&later), 4), ERROR_SUCCESS);
  RegCloseKey(key);
  // What this process wrote is on disk for every reader: in system.reg, or
  // in the change log that every reader applies (a new one: the one it had
  // appended to before the wait was folded and removed meanwhile).
  std::string on_disk = machine_.HiveText() + machine_.MachineFile("system.reg.log");
  EXPECT_NE(on_disk.find("\"Theirs\"=dword:00000002"), std::string::npos);
  EXPECT_NE(on_disk.find("\"Mine\"=dword:00000001"), std::string::npos);
  EXPECT_NE(on_disk.find("\"Later\"=dword:00000003"), std::string::npos);
  Sleep(0);
  EXPECT_EQ(OpenDescriptors(), descriptors) << "a file stayed open after the wait";
}

// A child forked inside a lock scope, after the parent appended to the
// hive's change log, must not write into that log once the parent has
// folded and removed it: the child's change would be reported done and lost.
TEST_F(KeptLock, AChildForkedInsideALockScopeKeepsItsChangesAfterTheParentFolds) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Forked", &key), ERROR_SUCCESS);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t child;
  {
    winsim::MachineLock lock;
    DWORD parent = 1;
    ASSERT_EQ(RegSetValueExA(key, "Parent", 0, REG_DWORD, reinterpret_cast<BYTE*>(&parent), 4), ERROR_SUCCESS);
    ASSERT_TRUE(machine_.MachineFile("system.reg.log").find("\"Parent\"") != std::string::npos);
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char byte;
      DWORD mine = 2;
      bool ok = read(go[0], &byte, 1) == 1 &&
                RegSetValueExA(key, "Child", 0, REG_DWORD, reinterpret_cast<BYTE*>(&mine), 4) == ERROR_SUCCESS;
      _exit(ok ? 0 : 1);
    }
  }
  winsim::CompactHive();
  ASSERT_EQ(machine_.MachineFile("system.reg.log"), "") << "the fold removes the log";
  Sleep(0);
  ASSERT_EQ(write(go[1], "x", 1), 1);
  int status = -1;
  waitpid(child, &status, 0);
  close(go[0]);
  close(go[1]);
  ASSERT_EQ(status, 0);
  DWORD value = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Child", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
}

// A process that moves from machine to machine (winsim, the tests) keeps
// the directory of none it has left open, and a directory removed and made
// again at the same path is locked as itself, not through the one removed.
TEST(MachineDirectories, AreLetGoWhenTheProcessMovesToAnother) {
  const int descriptors = OpenDescriptors();
  for (int i = 0; i < 20; ++i) {
    TestMachine machine;
    machine.Use();
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Visited", &key), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  EXPECT_LE(OpenDescriptors(), descriptors + 1);

  TestMachine machine;
  machine.Use();
  winsim::KeepLockBetweenCalls();
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  Sleep(0);
  std::string remake = "rm -rf '" + machine.root() + "' && mkdir '" + machine.root() + "'";
  ASSERT_EQ(system(remake.c_str()), 0);
  winsim::Machine::Open(machine.root());
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(OthersCanLock(machine.root())) << "locked through the directory removed";
  winsim::KeepLockBetweenCalls(false);
  EXPECT_NE((machine.HiveText() + machine.MachineFile("system.reg.log")).find("SOFTWARE\\New"), std::string::npos);
}

}  // namespace

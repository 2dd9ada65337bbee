// CopyFile: one read, one write, and what each failure leaves at the
// destination and in the setup log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/test_machine.h"
#include "platform/win32.h"
#include "support/file_buffer.h"
#include "support/file_copy.h"

namespace {

constexpr char kStaging[] = "c:\\zentaq\\res\\drivedir\\";
constexpr char kLog[] = "c:\\zentaq\\res\\drivedir\\setup.log";
constexpr char kSystem[] = "c:\\WINDOWS\\system32\\";  // as the machine spells it
constexpr char kStamp[] = "01-03-05: 08:05";

class FileCopyTest : public ::testing::Test {
 protected:
  explicit FileCopyTest(const std::string& extra = "") : machine_("xp", extra) {
    machine_.StageProduct();
    machine_.Use();
  }
  std::string Staged(const std::string& name) const { return kStaging + name; }
  std::string LogLine(const std::string& format_head, const std::string& path) const {
    return kStamp + format_head + path + "\r\n";
  }
  TestMachine machine_;
};

TEST_F(FileCopyTest, CopiesEveryByte) {
  std::string table = machine_.Read(Staged("fontsub.tbl"));
  ASSERT_NE(table.find('\0'), std::string::npos);
  ASSERT_NE(table.find('\xff'), std::string::npos);
  EXPECT_EQ(CopyFile(Staged("fontsub.tbl"), std::string(kSystem) + "fontsub.tbl"), 1);
  EXPECT_EQ(machine_.Read(std::string(kSystem) + "fontsub.tbl"), table);
  EXPECT_FALSE(machine_.Exists(kLog));
}

TEST_F(FileCopyTest, ReplacesALongerDestinationCompletely) {
  std::string destination = std::string(kSystem) + "ztqmon.dll";
  machine_.Write(destination, std::string(5000, 'o'));
  EXPECT_EQ(CopyFile(Staged("ztqmon.dll"), destination), 1);
  EXPECT_EQ(machine_.Read(destination), machine_.Read(Staged("ztqmon.dll")));
}

TEST_F(FileCopyTest, AnEmptySourceGivesAnEmptyDestination) {
  machine_.Write(Staged("empty.dat"), "");
  std::string destination = std::string(kSystem) + "empty.dat";
  machine_.Write(destination, "old contents");
  EXPECT_EQ(CopyFile(Staged("empty.dat"), destination), 1);
  EXPECT_TRUE(machine_.Exists(destination));
  EXPECT_EQ(machine_.Read(destination), "");
  EXPECT_FALSE(machine_.Exists(kLog));
}

TEST_F(FileCopyTest, AMissingSourceLeavesTheDestinationAlone) {
  std::string destination = std::string(kSystem) + "ztqmon.dll";
  machine_.Write(destination, "installed earlier");
  EXPECT_EQ(CopyFile(Staged("missing.dll"), destination), 0);
  EXPECT_EQ(machine_.Read(destination), "installed earlier");
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile InFile.Open Failed: ", Staged("missing.dll")));
}

TEST_F(FileCopyTest, ADestinationHeldOpenKeepsTheOldFileAndTheLogNamesTheSource) {
  std::string destination = std::string(kSystem) + "ztqmon.dll";
  machine_.Write(destination, "held by the spooler");
  HANDLE holder = CreateFileA(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CopyFile(Staged("ztqmon.dll"), destination), 0);
  CloseHandle(holder);
  EXPECT_EQ(machine_.Read(destination), "held by the spooler");
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile OutFile.Open Failed: ", Staged("ztqmon.dll")));
  // The source was let go on the way out: it can be opened exclusively again.
  HANDLE source = CreateFileA(Staged("ztqmon.dll").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(source, INVALID_HANDLE_VALUE);
  CloseHandle(source);
}

TEST_F(FileCopyTest, TheSourceIsSharedWithOtherReadersAndWriters) {
  HANDLE writer = CreateFileA(Staged("gs.PPD").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CopyFile(Staged("gs.PPD"), std::string(kSystem) + "gs.PPD"), 1);
  CloseHandle(writer);
  EXPECT_EQ(machine_.Read(std::string(kSystem) + "gs.PPD"), machine_.Read(Staged("gs.PPD")));
}

// 2 GB is beyond any buffer of the 32-bit program: the copy fails as an
// allocation, in both builds alike, and reads nothing.
TEST_F(FileCopyTest, ASourceTooLargeForOneBufferIsAFailedAllocation) {
  machine_.Write(Staged("huge.dat"), "");
  ASSERT_EQ(truncate(machine_.Host(Staged("huge.dat")).c_str(), 0x80000000LL), 0);  // sparse
  std::string destination = std::string(kSystem) + "huge.dat";
  machine_.Write(destination, "old contents");
  EXPECT_EQ(CopyFile(Staged("huge.dat"), destination), 0);
  EXPECT_EQ(machine_.Read(destination), "");
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile new Failed: ", Staged("huge.dat")));
  // The bound itself: the largest object of a 32-bit process is still one buffer.
  EXPECT_NE(NewFileBuffer<BYTE>(kLargestBuffer), nullptr);
  EXPECT_EQ(NewFileBuffer<BYTE>(kLargestBuffer + 1ull), nullptr);
}

TEST_F(FileCopyTest, ALongSourcePathIsLoggedWhole) {
  std::string folder = "c:\\" + std::string(120, 'd') + "\\res\\drivedir\\";
  std::string destination = std::string(kSystem) + "ztqmon.dll";
  EXPECT_EQ(CopyFile(folder + "ztqmon.dll", destination), 0);
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile InFile.Open Failed: ", folder + "ztqmon.dll"));
}

class HiddenDestinationTest : public FileCopyTest {
 protected:
  HiddenDestinationTest()
      : FileCopyTest("[attributes]\nc:\\windows\\system32\\ztqmon.dll = hidden\n"
                     "c:\\windows\\system32\\ztqmona.dll = system\n") {}
};

// The destination is opened to be replaced with normal attributes, which a
// hidden or system file refuses (5): the old file stays.
TEST_F(HiddenDestinationTest, KeepsTheOldFileAndTheLogNamesTheSource) {
  for (const char* name : {"ztqmon.dll", "ztqmona.dll"}) {
    std::string destination = std::string(kSystem) + name;
    machine_.Write(destination, "installed earlier");
    EXPECT_EQ(CopyFile(Staged(name), destination), 0);
    EXPECT_EQ(machine_.Read(destination), "installed earlier");
  }
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile OutFile.Open Failed: ", Staged("ztqmon.dll")) +
                                     LogLine("CopyFile OutFile.Open Failed: ", Staged("ztqmona.dll")));
}

class FailingWriteTest : public FileCopyTest {
 protected:
  // The first write of the run is the copy's; the second, the log line's.
  FailingWriteTest() : FileCopyTest("[faults]\nWriteFile = 112@1\n") {}
};

TEST_F(FailingWriteTest, LeavesNoDestinationBehind) {
  std::string destination = std::string(kSystem) + "ztqmon.dll";
  machine_.Write(destination, "old library");
  EXPECT_EQ(CopyFile(Staged("ztqmon.dll"), destination), 0);
  EXPECT_FALSE(machine_.Exists(destination));
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile Write Failed: ", Staged("ztqmon.dll")));
}

class FailingReadTest : public FileCopyTest {
 protected:
  FailingReadTest() : FileCopyTest("[faults]\nReadFile = 30\n") {}
};

TEST_F(FailingReadTest, LeavesAnEmptyDestination) {
  std::string destination = std::string(kSystem) + "ztqmon.dll";
  machine_.Write(destination, "old library");
  EXPECT_EQ(CopyFile(Staged("ztqmon.dll"), destination), 0);
  EXPECT_TRUE(machine_.Exists(destination));
  EXPECT_EQ(machine_.Read(destination), "");
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile Read Failed: ", Staged("ztqmon.dll")));
}

TEST_F(FileCopyTest, AShortReadIsAFailedRead) {
  // A pseudo-file states a length of a page and delivers a few bytes: the
  // copy must not write the bytes it never read.
  const char* pseudo = "/sys/devices/system/cpu/online";
  struct stat st;
  if (stat(pseudo, &st) != 0 || st.st_size <= 16) GTEST_SKIP() << "no pseudo-file with an overstated length";
  ASSERT_EQ(symlink(pseudo, machine_.Host(Staged("online.dat")).c_str()), 0);
  std::string destination = std::string(kSystem) + "online.dat";
  EXPECT_EQ(CopyFile(Staged("online.dat"), destination), 0);
  EXPECT_EQ(machine_.Read(destination), "");
  EXPECT_EQ(machine_.Read(kLog), LogLine("CopyFile Read Failed: ", Staged("online.dat")));
}

}  // namespace

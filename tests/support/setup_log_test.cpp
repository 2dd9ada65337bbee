// The setup log: byte-exact lines appended to c:\zentaq\res\drivedir\setup.log,
// and every way a line can be lost without the caller noticing.
#include <gtest/gtest.h>

#include <string>

#include "common/test_machine.h"
#include "platform/win32.h"
#include "support/setup_log.h"

namespace {

constexpr char kLog[] = "c:\\zentaq\\res\\drivedir\\setup.log";

class SetupLogTest : public ::testing::Test {
 protected:
  explicit SetupLogTest(const std::string& extra = "") : machine_("xp", extra) {
    machine_.Write("c:\\zentaq\\res\\drivedir\\ztqmon.dll", "placeholder");
    machine_.Use();
  }
  TestMachine machine_;
};

TEST_F(SetupLogTest, LinesAreTimeStampTextAndCrLf) {
  WriteSetupLog("is_winnt = TRUE");
  WriteSetupLog("");
  // The text is written as it is: no formatting, any byte.
  WriteSetupLog("100% done %s %lu \xe9\t");
  EXPECT_EQ(machine_.Read(kLog),
            "01-03-05: 08:05is_winnt = TRUE\r\n"
            "01-03-05: 08:05\r\n"
            "01-03-05: 08:05100% done %s %lu \xe9\t\r\n");
}

TEST_F(SetupLogTest, ALongTextIsWrittenWhole) {
  std::string text = "CopyFile InFile.Open Failed: c:\\" + std::string(400, 'x') + "\\ztqmon.dll";
  WriteSetupLog(text);
  EXPECT_EQ(machine_.Read(kLog), "01-03-05: 08:05" + text + "\r\n");
}

TEST_F(SetupLogTest, LinesAreAppendedRightAfterTheLastByte) {
  machine_.Write(kLog, "earlier run\r\nno line end");
  WriteSetupLog("AddMonitor: 5");
  EXPECT_EQ(machine_.Read(kLog), "earlier run\r\nno line end01-03-05: 08:05AddMonitor: 5\r\n");
}

TEST_F(SetupLogTest, AFileHeldExclusivelyLosesTheLineSilently) {
  machine_.Write(kLog, "kept\r\n");
  HANDLE holder = CreateFileA(kLog, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  WriteSetupLog("lost");
  CloseHandle(holder);
  EXPECT_EQ(machine_.Read(kLog), "kept\r\n");
  // The log's own handle didn't stay behind: the next line goes in.
  WriteSetupLog("next");
  EXPECT_EQ(machine_.Read(kLog), "kept\r\n01-03-05: 08:05next\r\n");
}

TEST(SetupLog, AMissingFolderIsNotCreated) {
  TestMachine machine("xp");
  machine.Write("c:\\zentaq\\res\\pdfwrite.rsp", "-dSAFER\n");
  machine.Use();
  WriteSetupLog("is_winnt = TRUE");
  EXPECT_FALSE(machine.Exists("c:\\zentaq\\res\\drivedir"));
  EXPECT_FALSE(machine.Exists(kLog));
}

class FailingWriteLogTest : public SetupLogTest {
 protected:
  FailingWriteLogTest() : SetupLogTest("[faults]\nWriteFile = 112\n") {}
};

TEST_F(FailingWriteLogTest, AFailedWriteIsDroppedAndTheFileLetGo) {
  WriteSetupLog("is_winnt = TRUE");  // must return normally
  EXPECT_EQ(machine_.Read(kLog), "");
  HANDLE exclusive = CreateFileA(kLog, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
}

}  // namespace

// The framework on the simulated machine: the argument-text scan, the file
// class's open modes and errors, the message box caption and the time stamp.
#include <gtest/gtest.h>

#include <string>

#include "common/test_machine.h"
#include "platform/afx.h"

namespace {

std::string Arguments(std::string command_line) {
  std::string copy = command_line;
  return SkipProgramName(&copy[0]);
}

TEST(SkipProgramName, RemovesTheNameAndTheControlCharactersAfterItOnly) {
  EXPECT_EQ(Arguments("setup.exe   \t  "), "");
  EXPECT_EQ(Arguments("\"c:\\program files\\zentaq\\setup.exe\" uninstall"), "uninstall");
  // Tabs and other control characters count as blanks; trailing blanks stay.
  EXPECT_EQ(Arguments("\"c:\\my setup\\setup.exe\"\t\x01\x1f uninstall  "), "uninstall  ");
  EXPECT_EQ(Arguments("setup.exe\x1fnotepad  c:\\a b.txt "), "notepad  c:\\a b.txt ");
  // A quoted name ends at the next quote; what follows it is argument text.
  EXPECT_EQ(Arguments("\"c:\\a b\\setup.exe\"x uninstall"), "x uninstall");
  EXPECT_EQ(Arguments("\"c:\\a b\\setup.exe uninstall"), "");  // unterminated: all name
  EXPECT_EQ(Arguments("set\"up a\" b"), "a\" b");
  // Bytes of the upper half belong to the name (a signed compare would end it there).
  EXPECT_EQ(Arguments("c:\\\xe9t\xe9\\setup.exe uninstall"), "uninstall");
  EXPECT_EQ(Arguments("setup\xa0\xff.exe"), "");
}

// The code of the file error that `call` raises; -100 when it raises none.
template <class Call>
LONG ErrorOf(Call call) {
  try {
    call();
  } catch (const CFileException& e) {
    return e.m_lOsError;
  }
  return -100;
}

// A machine with a file on it and the framework pointed at that machine.
class FileTest : public ::testing::Test {
 protected:
  explicit FileTest(const std::string& extra = "") : machine_("xp", extra) {
    machine_.Write(kFile, std::string("abc\0\xff" "def", 8));
    machine_.Use();
  }
  bool Opens(UINT flags) {
    CFile file;
    return file.Open(kFile, flags) != FALSE;
  }
  static constexpr char kFile[] = "c:\\data\\file.bin";
  TestMachine machine_;
};

TEST_F(FileTest, ShareFlagsMapOntoWindowsSharing) {
  CFile held;
  ASSERT_TRUE(held.Open("c:\\DATA\\File.bin", CFile::modeRead | CFile::shareDenyWrite));
  EXPECT_TRUE(Opens(CFile::modeRead | CFile::shareDenyNone));
  EXPECT_FALSE(Opens(CFile::modeWrite | CFile::shareDenyNone));
  held.Close();
  ASSERT_TRUE(held.Open(kFile, CFile::modeRead | CFile::shareDenyRead));
  EXPECT_TRUE(Opens(CFile::modeWrite | CFile::shareDenyNone));
  EXPECT_FALSE(Opens(CFile::modeRead | CFile::shareDenyNone));
  held.Close();
  // Compatibility mode is an exclusive open, like shareExclusive.
  for (UINT share : {0x00u, 0x10u}) {
    ASSERT_TRUE(held.Open(kFile, CFile::modeRead | share));
    CFile other;
    CFileException error(CFileException::none, 0);
    EXPECT_FALSE(other.Open(kFile, CFile::modeRead | CFile::shareDenyNone, &error));
    EXPECT_EQ(error.m_lOsError, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    held.Close();
  }
}

TEST_F(FileTest, CreationFlagsTruncateKeepOrRequireTheFile) {
  CFile file;
  CFileException error(CFileException::none, 0);
  EXPECT_FALSE(file.Open("c:\\data\\none.bin", CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_FALSE(machine_.Exists("c:\\data\\none.bin"));

  ASSERT_TRUE(file.Open(kFile, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
  EXPECT_EQ(file.GetLength(), 8u);
  EXPECT_EQ(file.SeekToEnd(), 8u);
  file.Write("!", 1);
  file.Close();
  EXPECT_EQ(machine_.Read(kFile), std::string("abc\0\xff" "def!", 9));

  ASSERT_TRUE(file.Open(kFile, CFile::modeCreate | CFile::modeWrite));
  file.Close();
  EXPECT_EQ(machine_.Read(kFile), "");
}

TEST_F(FileTest, RemoveRenameAndStatus) {
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus("c:\\DATA\\file.bin", status));
  EXPECT_EQ(status.m_size, 8);
  EXPECT_FALSE(CFile::GetStatus("c:\\data\\none.bin", status));

  machine_.Write("c:\\data\\other.bin", "x");
  EXPECT_EQ(ErrorOf([] { CFile::Rename(kFile, "c:\\data\\other.bin"); }), ERROR_ALREADY_EXISTS);
  CFile::Rename(kFile, "c:\\data\\moved.bin");
  EXPECT_TRUE(machine_.Exists("c:\\data\\moved.bin"));
  CFile::Remove("c:\\data\\moved.bin");
  EXPECT_FALSE(machine_.Exists("c:\\data\\moved.bin"));
  EXPECT_EQ(ErrorOf([] { CFile::Remove("c:\\data\\moved.bin"); }), ERROR_FILE_NOT_FOUND);
}

class FailingCallsTest : public FileTest {
 protected:
  FailingCallsTest()
      : FileTest("[faults]\nReadFile = 30\nWriteFile = 112\nGetFileSize = 6\nSetFilePointer = 25\nCloseHandle = 6\n") {}
};

TEST_F(FailingCallsTest, EveryFailedCallRaisesTheFileErrorWithItsCode) {
  CFile file;
  ASSERT_TRUE(file.Open(kFile, CFile::modeReadWrite));
  char buffer[8];
  EXPECT_EQ(ErrorOf([&] { file.Read(buffer, sizeof(buffer)); }), 30);
  EXPECT_EQ(ErrorOf([&] { file.Write(buffer, sizeof(buffer)); }), 112);
  EXPECT_EQ(ErrorOf([&] { file.GetLength(); }), 6);
  EXPECT_EQ(ErrorOf([&] { file.SeekToEnd(); }), 25);
  // Zero-length reads and writes make no call, so nothing can fail.
  EXPECT_EQ(file.Read(buffer, 0), 0u);
  EXPECT_NO_THROW(file.Write(buffer, 0));
  EXPECT_EQ(ErrorOf([&] { file.Close(); }), 6);
  EXPECT_FALSE(file.IsOpen());
}

TEST(Framework, MessageBoxesAreCaptionedWithTheExecutablesName) {
  TestMachine machine("xp", "module = d:\\cd v1.2\\Install.Setup.EXE\n");
  machine.Use();
  machine.Answer({"ok"});
  EXPECT_EQ(AfxMessageBox("Hello\tthere", MB_OK, 0), IDOK);
  EXPECT_EQ(machine.JournalLines("MessageBox"),
            std::vector<std::string>{"MessageBox\tInstall.Setup\t0x0\tHello\\tthere\t1"});
}

TEST(Framework, TheTimeStampIsTheMachinesLocalTimeInTwoDigitFields) {
  TestMachine machine("xp", "time = 2011-12-31 23:59:07\n");
  machine.Use();
  EXPECT_EQ(FormatLocalTime("%m-%d-%y: %H:%M"), "12-31-11: 23:59");
  EXPECT_EQ(FormatLocalTime("%S %Y 100%% %q"), "07 2011 100% %q");

  TestMachine early("xp", "time = 2000-02-09 03:04:05\n");
  early.Use();
  EXPECT_EQ(FormatLocalTime("%m-%d-%y: %H:%M"), "02-09-00: 03:04");
}

}  // namespace

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

TEST(SkipProgramName, RemovesTheProgramNameAndTheControlCharactersAfterIt) {
  EXPECT_EQ(Arguments("setup.exe"), "");
  EXPECT_EQ(Arguments("setup.exe   \t  "), "");
  EXPECT_EQ(Arguments("c:\\zentaq\\setup.exe uninstall"), "uninstall");
  EXPECT_EQ(Arguments("\"c:\\program files\\zentaq\\setup.exe\" uninstall"), "uninstall");
  // Tabs and other control characters count as blanks, on both sides of the name's end.
  EXPECT_EQ(Arguments("\"c:\\my setup\\setup.exe\"\t\x01\x1f uninstall"), "uninstall");
  EXPECT_EQ(Arguments("setup.exe\x1funinstall"), "uninstall");
  // Trailing blanks belong to the argument text.
  EXPECT_EQ(Arguments("setup.exe uninstall  "), "uninstall  ");
  EXPECT_EQ(Arguments("setup.exe notepad  c:\\a b.txt "), "notepad  c:\\a b.txt ");
}

TEST(SkipProgramName, QuotedNamesEndAtTheNextQuoteOnly) {
  // The text right behind the closing quote is not part of the name.
  EXPECT_EQ(Arguments("\"c:\\a b\\setup.exe\"x uninstall"), "x uninstall");
  EXPECT_EQ(Arguments("\"\" uninstall"), "uninstall");
  // An unterminated quote takes the whole text.
  EXPECT_EQ(Arguments("\"c:\\a b\\setup.exe uninstall"), "");
  // Quotes inside an unquoted name don't start a quoted one.
  EXPECT_EQ(Arguments("set\"up a\" b"), "a\" b");
}

TEST(SkipProgramName, BytesOfTheUpperHalfBelongToTheName) {
  // Compared as signed chars, these would count as blanks and end the name.
  EXPECT_EQ(Arguments("c:\\\xe9t\xe9\\setup.exe uninstall"), "uninstall");
  EXPECT_EQ(Arguments("setup\xa0\xff.exe"), "");
}

// A machine with a file on it and the framework pointed at that machine.
class FileTest : public ::testing::Test {
 protected:
  explicit FileTest(const std::string& extra = "") : machine_("xp", extra) {
    machine_.Write("c:\\data\\file.bin", std::string("abc\0\xff" "def", 8));
    machine_.Use();
  }
  TestMachine machine_;
};

TEST_F(FileTest, ShareFlagsMapOntoWindowsSharing) {
  CFile reader;
  ASSERT_TRUE(reader.Open("c:\\data\\FILE.BIN", CFile::modeRead | CFile::shareDenyNone));
  CFile second_reader;
  EXPECT_TRUE(second_reader.Open("c:\\data\\file.bin", CFile::modeRead | CFile::shareDenyWrite));
  // shareDenyWrite: nobody may write while it is held.
  CFile writer;
  CFileException error(CFileException::none, 0);
  EXPECT_FALSE(writer.Open("c:\\data\\file.bin", CFile::modeWrite | CFile::shareDenyNone, &error));
  EXPECT_EQ(error.m_lOsError, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
  second_reader.Close();
  EXPECT_TRUE(writer.Open("c:\\data\\file.bin", CFile::modeWrite | CFile::shareDenyNone));
  writer.Close();
  reader.Close();

  // shareExclusive and shareCompat both hold the file alone.
  for (UINT share : {static_cast<UINT>(CFile::shareExclusive), static_cast<UINT>(CFile::shareCompat)}) {
    CFile holder;
    ASSERT_TRUE(holder.Open("c:\\data\\file.bin", CFile::modeRead | share));
    CFile other;
    EXPECT_FALSE(other.Open("c:\\data\\file.bin", CFile::modeRead | CFile::shareDenyNone)) << share;
  }
  // shareDenyRead lets writers in but no readers.
  CFile deny_read;
  ASSERT_TRUE(deny_read.Open("c:\\data\\file.bin", CFile::modeRead | CFile::shareDenyRead));
  CFile other_writer;
  EXPECT_TRUE(other_writer.Open("c:\\data\\file.bin", CFile::modeWrite | CFile::shareDenyNone));
  CFile other_reader;
  EXPECT_FALSE(other_reader.Open("c:\\data\\file.bin", CFile::modeRead | CFile::shareDenyNone));
}

TEST_F(FileTest, CreationFlagsTruncateKeepOrRequireTheFile) {
  CFileException error(CFileException::none, 0);
  CFile missing;
  EXPECT_FALSE(missing.Open("c:\\data\\none.bin", CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(machine_.Exists("c:\\data\\none.bin"));

  CFile keep;
  ASSERT_TRUE(keep.Open("c:\\data\\file.bin", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
  EXPECT_EQ(keep.GetLength(), 8u);
  EXPECT_EQ(keep.SeekToEnd(), 8u);
  keep.Write("!", 1);
  keep.Close();
  EXPECT_EQ(machine_.Read("c:\\data\\file.bin"), std::string("abc\0\xff" "def!", 9));

  CFile truncate;
  ASSERT_TRUE(truncate.Open("c:\\data\\file.bin", CFile::modeCreate | CFile::modeWrite));
  EXPECT_EQ(truncate.GetLength(), 0u);
  truncate.Close();
  EXPECT_EQ(machine_.Read("c:\\data\\file.bin"), "");

  CFile created;
  ASSERT_TRUE(created.Open("c:\\data\\new.bin", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
  created.Close();
  EXPECT_TRUE(machine_.Exists("c:\\data\\new.bin"));
}

TEST_F(FileTest, ReadReturnsTheCountAndClosingTwiceIsHarmless) {
  CFile file;
  ASSERT_TRUE(file.Open("c:\\data\\file.bin", CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary));
  char buffer[32] = {};
  EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 8u);
  EXPECT_EQ(std::string(buffer, 8), std::string("abc\0\xff" "def", 8));
  EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0u);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_NO_THROW(file.Close());
}

TEST_F(FileTest, WritingAReadOnlyHandleRaisesTheFileError) {
  CFile file;
  ASSERT_TRUE(file.Open("c:\\data\\file.bin", CFile::modeRead));
  try {
    file.Write("x", 1);
    FAIL() << "no file error";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, ERROR_ACCESS_DENIED);
    EXPECT_EQ(e.m_cause, CFileException::accessDenied);
  }
  EXPECT_EQ(machine_.Read("c:\\data\\file.bin").size(), 8u);
}

TEST_F(FileTest, RemoveRenameAndStatus) {
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus("c:\\DATA\\file.bin", status));
  EXPECT_EQ(status.m_size, 8);
  EXPECT_EQ(status.m_attribute & FILE_ATTRIBUTE_DIRECTORY, 0);
  EXPECT_FALSE(CFile::GetStatus("c:\\data\\none.bin", status));

  machine_.Write("c:\\data\\other.bin", "x");
  try {
    CFile::Rename("c:\\data\\file.bin", "c:\\data\\other.bin");
    FAIL() << "renamed onto an existing file";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::accessDenied);
  }
  CFile::Rename("c:\\data\\file.bin", "c:\\data\\moved.bin");
  EXPECT_TRUE(machine_.Exists("c:\\data\\moved.bin"));
  EXPECT_FALSE(machine_.Exists("c:\\data\\file.bin"));

  CFile::Remove("c:\\data\\moved.bin");
  EXPECT_FALSE(machine_.Exists("c:\\data\\moved.bin"));
  try {
    CFile::Remove("c:\\data\\moved.bin");
    FAIL() << "removed a missing file";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  }
}

class ReadOnlyFileTest : public FileTest {
 protected:
  ReadOnlyFileTest() : FileTest("[attributes]\nc:\\data\\file.bin = readonly\n") {}
};

TEST_F(ReadOnlyFileTest, TheReadOnlyAttributeRefusesWritingAndRemoving) {
  CFile file;
  CFileException error(CFileException::none, 0);
  EXPECT_FALSE(file.Open("c:\\data\\file.bin", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite,
                         &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
  EXPECT_THROW(CFile::Remove("c:\\data\\file.bin"), CFileException);
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus("c:\\data\\file.bin", status));
  EXPECT_NE(status.m_attribute & FILE_ATTRIBUTE_READONLY, 0);
  EXPECT_TRUE(file.Open("c:\\data\\file.bin", CFile::modeRead));
}

class FailingCallsTest : public FileTest {
 protected:
  FailingCallsTest()
      : FileTest("[faults]\nReadFile = 30\nWriteFile = 112\nGetFileSize = 6\nSetFilePointer = 25\n") {}
};

TEST_F(FailingCallsTest, EveryFailedCallRaisesTheFileErrorWithItsCode) {
  CFile file;
  ASSERT_TRUE(file.Open("c:\\data\\file.bin", CFile::modeReadWrite));
  char buffer[8];
  auto code_of = [](auto&& call) -> LONG {
    try {
      call();
    } catch (const CFileException& e) {
      return e.m_lOsError;
    }
    return -100;
  };
  EXPECT_EQ(code_of([&] { file.Read(buffer, sizeof(buffer)); }), 30);
  EXPECT_EQ(code_of([&] { file.Write(buffer, sizeof(buffer)); }), 112);
  EXPECT_EQ(code_of([&] { file.GetLength(); }), 6);
  EXPECT_EQ(code_of([&] { file.SeekToEnd(); }), 25);
  // Zero-length reads and writes make no call, so nothing can fail.
  EXPECT_EQ(file.Read(buffer, 0), 0u);
  EXPECT_NO_THROW(file.Write(buffer, 0));
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

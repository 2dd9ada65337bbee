// Files on the simulated machine: name resolution, dispositions, sharing
// (within a process and across processes), the read-only, hidden and system
// attributes, held libraries, handles, deletion, moves and finds.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/test_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Opens and reports the handle and the last error together.
struct Open {
  HANDLE handle;
  DWORD error;
  bool ok() const { return handle != INVALID_HANDLE_VALUE; }
};

Open OpenFile(const char* name, DWORD access, DWORD share, DWORD disposition) {
  SetLastError(0xdeadbeef);
  HANDLE handle = CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return {handle, GetLastError()};
}

DWORD Error(BOOL result) {
  EXPECT_FALSE(result);
  return GetLastError();
}

class Files : public ::testing::Test {
 protected:
  Files() : machine_("xp", "\n[attributes]\nc:\\zentaq\\LOCKED.ini = readonly\n") {
    machine_.Use();
    machine_.Write("c:\\zentaq\\data.txt", "0123456789");
    machine_.Write("c:\\zentaq\\locked.ini", "[Parameters]\n");
    machine_.Write("C:\\WINDOWS\\system32\\Pscript.dll", "driver");
  }
  TestMachine machine_;
};

TEST_F(Files, NamesResolveIgnoringCaseAndNewFilesKeepTheirCase) {
  Open open = OpenFile("C:/WINDOWS/SYSTEM32/pscript.DLL", GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_TRUE(open.ok());
  EXPECT_EQ(open.error, 0u);
  char buffer[16] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(open.handle, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "driver");
  EXPECT_TRUE(CloseHandle(open.handle));

  // No drive: c:. A new file is made with the case given.
  open = OpenFile("\\Zentaq\\New File.TXT", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_TRUE(open.ok());
  EXPECT_TRUE(CloseHandle(open.handle));
  EXPECT_TRUE(machine_.Exists("c:\\zentaq\\New File.TXT"));

  EXPECT_EQ(GetFileAttributesA("c:\\ZENTAQ\\DATA.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA("c:\\"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  // The trailing dots and blanks of the last element are dropped, and one
  // trailing dot of a folder; a separator after the last element keeps it.
  const struct {
    const char* name;
    DWORD error;  // 0: opens data.txt
  } trimmed[] = {{"c:\\zentaq\\data.txt.", 0},        {"c:\\zentaq\\data.txt . .  ", 0},
                 {"c:\\zentaq.\\data.txt", 0},        {"c:\\zentaq\\.\\data.txt...", 0},
                 {"c:\\zentaq..\\data.txt", 3},       {"c:\\zentaq \\data.txt", 3},
                 {"c:\\zentaq\\data.t xt", 2}};
  for (const auto& row : trimmed) {
    SCOPED_TRACE(row.name);
    for (int attempt = 0; attempt < 2; ++attempt) {
      open = OpenFile(row.name, GENERIC_READ, kShareAll, OPEN_EXISTING);
      EXPECT_EQ(open.ok(), row.error == 0);
      EXPECT_EQ(open.error, row.error);
      if (open.ok()) {
        EXPECT_TRUE(CloseHandle(open.handle));
      }
    }
  }
  // A name made with a trailing dot is made without it.
  open = OpenFile("c:\\zentaq\\made.txt. ", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_TRUE(open.ok());
  EXPECT_TRUE(CloseHandle(open.handle));
  EXPECT_TRUE(machine_.Exists("c:\\zentaq\\made.txt"));
}

TEST_F(Files, MissingFileIs2AndMissingFolderIs3) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(OpenFile("c:\\zentaq\\none.txt", GENERIC_READ, 0, OPEN_EXISTING).error, 2u);
    EXPECT_EQ(OpenFile("c:\\zentaq\\none\\x.txt", GENERIC_WRITE, 0, CREATE_ALWAYS).error, 3u);
    EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt\\x.txt", GENERIC_READ, 0, OPEN_EXISTING).error, 3u);
    EXPECT_EQ(OpenFile("q:\\x.txt", GENERIC_READ, 0, OPEN_ALWAYS).error, 3u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA("c:\\zentaq\\none.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), 2u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA("c:\\zentaq\\none\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), 3u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Error(DeleteFileA("c:\\zentaq\\none.txt")), 2u);
    EXPECT_EQ(Error(DeleteFileA("c:\\none\\none.txt")), 3u);
  }
  EXPECT_EQ(OpenFile("c:\\zentaq\\a|b.txt", GENERIC_WRITE, 0, CREATE_NEW).error, static_cast<DWORD>(ERROR_INVALID_NAME));
  // A folder can't be opened or deleted as a file.
  EXPECT_EQ(OpenFile("c:\\zentaq", GENERIC_READ, kShareAll, OPEN_EXISTING).error, 5u);
  EXPECT_EQ(Error(DeleteFileA("c:\\zentaq")), 5u);
}

TEST_F(Files, DispositionsCreateTruncateKeepAndTellWhatWasThere) {
  Open open = OpenFile("c:\\zentaq\\data.txt", GENERIC_WRITE, 0, CREATE_NEW);
  EXPECT_FALSE(open.ok());
  EXPECT_EQ(open.error, static_cast<DWORD>(ERROR_FILE_EXISTS));

  open = OpenFile("c:\\zentaq\\data.txt", kReadWrite, 0, OPEN_ALWAYS);
  ASSERT_TRUE(open.ok());
  EXPECT_EQ(open.error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(open.handle, nullptr), 10u);  // kept
  CloseHandle(open.handle);

  open = OpenFile("c:\\zentaq\\data.txt", kReadWrite, 0, CREATE_ALWAYS);
  ASSERT_TRUE(open.ok());
  EXPECT_EQ(open.error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(open.handle, nullptr), 0u);  // truncated
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(open.handle, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  // Seek to the end, then past it; a negative position is refused.
  EXPECT_EQ(SetFilePointer(open.handle, 0, nullptr, FILE_END), 3u);
  EXPECT_EQ(SetFilePointer(open.handle, 2, nullptr, FILE_CURRENT), 5u);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SetFilePointer(open.handle, -6, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  // Without a high part the new position must fit 32 bits; with one the
  // position is 64 bits wide.
  EXPECT_EQ(SetFilePointer(open.handle, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
  EXPECT_EQ(SetFilePointer(open.handle, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
  // The last position that fits is the failure value, told by a last error of 0.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SetFilePointer(open.handle, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(SetFilePointer(open.handle, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  LONG high = 1;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SetFilePointer(open.handle, 2, &high, FILE_BEGIN), 2u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  EXPECT_TRUE(CloseHandle(open.handle));
  EXPECT_EQ(machine_.Read("c:\\zentaq\\data.txt"), "abc");

  open = OpenFile("c:\\zentaq\\fresh.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_TRUE(open.ok());
  EXPECT_EQ(open.error, 0u);
  CloseHandle(open.handle);
}

TEST_F(Files, ExclusiveOpensConflictWithEveryOtherOpen) {
  // The setup log's open: read/write, no sharing.
  Open log = OpenFile("c:\\zentaq\\data.txt", kReadWrite, 0, OPEN_ALWAYS);
  ASSERT_TRUE(log.ok());
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING).error, 32u);
    EXPECT_EQ(OpenFile("c:\\zentaq\\DATA.txt", kReadWrite, 0, OPEN_ALWAYS).error, 32u);
    EXPECT_EQ(Error(DeleteFileA("c:\\zentaq\\data.txt")), 32u);
    EXPECT_EQ(Error(MoveFileA("c:\\zentaq\\data.txt", "c:\\zentaq\\moved.txt")), 32u);
  }
  // A truncating open that is refused leaves the contents alone.
  EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", GENERIC_WRITE, kShareAll, CREATE_ALWAYS).error, 32u);
  EXPECT_TRUE(CloseHandle(log.handle));
  EXPECT_EQ(machine_.Read("c:\\zentaq\\data.txt"), "0123456789");
  Open again = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_TRUE(again.ok());
  CloseHandle(again.handle);
}

TEST_F(Files, SharedOpensCoexistAndShareModesAreChecked) {
  // The copy source's open: read, sharing read and write.
  Open a = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  Open b = OpenFile("c:\\zentaq\\data.txt", kReadWrite, kShareAll, OPEN_EXISTING);
  ASSERT_TRUE(a.ok());
  ASSERT_TRUE(b.ok());
  // Asking for no sharing while others hold it open; denying write to a writer.
  EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, 0, OPEN_EXISTING).error, 32u);
  EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING).error, 32u);
  // Delete while open without FILE_SHARE_DELETE.
  EXPECT_EQ(Error(DeleteFileA("c:\\zentaq\\data.txt")), 32u);
  CloseHandle(b.handle);
  Open c = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_TRUE(c.ok());
  // A reader that denies writing keeps writers out.
  EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING).error, 32u);
  CloseHandle(a.handle);
  CloseHandle(c.handle);

  // Opens that share delete let the file go.
  Open d = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll | FILE_SHARE_DELETE, OPEN_EXISTING);
  ASSERT_TRUE(d.ok());
  EXPECT_TRUE(DeleteFileA("c:\\zentaq\\data.txt"));
  CloseHandle(d.handle);
}

TEST_F(Files, AnotherProcessHoldingTheFileExclusively) {
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t child = fork();
  if (child == 0) {
    HANDLE held = CreateFileA("c:\\zentaq\\data.txt", kReadWrite, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    char byte = held == INVALID_HANDLE_VALUE ? 'n' : 'y';
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    if (read(done[0], &byte, 1) != 1) _exit(1);
    _exit(0);  // the handle goes with the process
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING).error, 32u);
  EXPECT_EQ(OpenFile("c:\\zentaq\\data.txt", kReadWrite, 0, CREATE_ALWAYS).error, 32u);
  EXPECT_EQ(Error(DeleteFileA("c:\\zentaq\\data.txt")), 32u);
  ASSERT_EQ(write(done[1], "x", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  Open open = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_TRUE(open.ok());
  CloseHandle(open.handle);
  EXPECT_EQ(machine_.Read("c:\\zentaq\\data.txt"), "0123456789");
}

TEST_F(Files, ReadOnlyFilesRefuseWritesAndDeletion) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(OpenFile("c:\\zentaq\\locked.ini", kReadWrite, 0, OPEN_ALWAYS).error, 5u);
    EXPECT_EQ(OpenFile("c:\\zentaq\\locked.ini", GENERIC_READ, 0, CREATE_ALWAYS).error, 5u);
    EXPECT_EQ(Error(DeleteFileA("c:\\ZENTAQ\\locked.ini")), 5u);
  }
  EXPECT_EQ(GetFileAttributesA("c:\\zentaq\\locked.ini"),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  Open open = OpenFile("c:\\zentaq\\locked.ini", GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_TRUE(open.ok());
  CloseHandle(open.handle);
  EXPECT_EQ(machine_.Read("c:\\zentaq\\locked.ini"), "[Parameters]\n");
}

// CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL can't replace a hidden or system
// file; given the attributes the file has, it can. Other opens and the
// deletion are not affected.
TEST(HiddenAndSystemFiles, AreReplacedOnlyWithTheAttributesTheyHave) {
  TestMachine m("xp", "[attributes]\nc:\\h.dat = hidden\nc:\\S.DAT = system\nc:\\hs.dat = hidden system\n");
  m.Use();
  const struct {
    const char* name;
    DWORD attributes;
  } files[] = {{"c:\\h.dat", FILE_ATTRIBUTE_HIDDEN},
               {"c:\\s.dat", FILE_ATTRIBUTE_SYSTEM},
               {"c:\\hs.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    m.Write(f.name, "kept");
    EXPECT_EQ(GetFileAttributesA(f.name), f.attributes | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(OpenFile(f.name, GENERIC_WRITE, 0, CREATE_ALWAYS).error, 5u);
    // Only one of two attributes given is not enough.
    SetLastError(0xdeadbeef);
    HANDLE partly = CreateFileA(f.name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    EXPECT_EQ(partly == INVALID_HANDLE_VALUE, f.attributes != FILE_ATTRIBUTE_HIDDEN);
    if (partly != INVALID_HANDLE_VALUE) CloseHandle(partly);
    EXPECT_EQ(m.Read(f.name), f.attributes == FILE_ATTRIBUTE_HIDDEN ? "" : "kept");
    m.Write(f.name, "kept");
    for (DWORD disposition : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(OPEN_ALWAYS)}) {
      Open open = OpenFile(f.name, kReadWrite, 0, disposition);
      EXPECT_TRUE(open.ok());
      CloseHandle(open.handle);
    }
    SetLastError(0xdeadbeef);
    HANDLE same = CreateFileA(f.name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, f.attributes, nullptr);
    EXPECT_NE(same, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(same);
    EXPECT_EQ(m.Read(f.name), "");
    EXPECT_TRUE(DeleteFileA(f.name));
  }
}

TEST_F(Files, HeldLibrariesRefuseWritingWith32AndDeletionWith5) {
  winsim::LoadLibraryHeld("C:\\WINDOWS\\system32\\PSCRIPT.DLL");
  EXPECT_TRUE(winsim::IsLibraryHeld("c:\\windows\\system32\\pscript.dll"));
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(OpenFile("c:\\windows\\system32\\pscript.dll", kReadWrite, 0, CREATE_ALWAYS).error, 32u);
    EXPECT_EQ(Error(DeleteFileA("c:\\windows\\system32\\pscript.dll")), 5u);
    EXPECT_EQ(Error(MoveFileA("c:\\windows\\system32\\pscript.dll", "c:\\windows\\old.dll")), 5u);
  }
  // Reading is fine.
  Open open = OpenFile("c:\\windows\\system32\\pscript.dll", GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_TRUE(open.ok());
  CloseHandle(open.handle);
  winsim::ReleaseAllLibraries();
  EXPECT_TRUE(winsim::HeldLibraries().empty());
  EXPECT_TRUE(DeleteFileA("c:\\windows\\system32\\pscript.dll"));
}

// A large read takes another way when the buffer and the file offset sit
// differently within a cache line; every way returns the file's bytes, the
// count read, and leaves the rest of the buffer alone.
TEST_F(Files, LargeReadsReturnTheFileWhereverTheBufferSits) {
  std::string content((2 << 20) + 1000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 4096);
  machine_.Write("c:\\zentaq\\large.bin", content);
  const DWORD size = static_cast<DWORD>(content.size());
  struct Row {
    size_t buffer_offset;
    LONG position;
    DWORD count;
  } rows[] = {
      {16, 0, size},             // as from new[]: through the aligned buffer
      {0, 0, size},              // aligned: straight
      {16, 16, size - 16},       // the same place in a line: straight
      {1, 3, size + 5000},       // past the end: the bytes that are there
      {8, LONG(size) - 1, 1 << 20},  // one byte left
  };
  const size_t room = (size + 8192 + 4095) / 4096 * 4096;  // aligned_alloc takes whole pages
  char* buffer = static_cast<char*>(aligned_alloc(4096, room));
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "buffer +" << row.buffer_offset << ", offset " << row.position);
    Open reader = OpenFile("c:\\zentaq\\large.bin", GENERIC_READ, kShareAll, OPEN_EXISTING);
    ASSERT_TRUE(reader.ok());
    memset(buffer, '#', size + 8192);
    SetFilePointer(reader.handle, row.position, nullptr, FILE_BEGIN);
    DWORD count = 0;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ReadFile(reader.handle, buffer + row.buffer_offset, row.count, &count, nullptr));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    DWORD expected = std::min<DWORD>(row.count, size - static_cast<DWORD>(row.position));
    EXPECT_EQ(count, expected);
    EXPECT_TRUE(std::string(buffer + row.buffer_offset, count) == content.substr(row.position, expected));
    EXPECT_EQ(std::string(buffer + row.buffer_offset + count, 8), "########");
    EXPECT_EQ(SetFilePointer(reader.handle, 0, nullptr, FILE_CURRENT), row.position + expected);
    CloseHandle(reader.handle);
  }
  free(buffer);
}

TEST_F(Files, BadHandlesAndMissingAccess) {
  char buffer[4];
  DWORD count = 7;
  HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7777));
  for (HANDLE handle : {bogus, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Error(ReadFile(handle, buffer, 4, &count, nullptr)), 6u);
    EXPECT_EQ(count, 0u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Error(WriteFile(handle, buffer, 4, &count, nullptr)), 6u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), 6u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), 6u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Error(CloseHandle(handle)), 6u);
  }
  Open reader = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_TRUE(reader.ok());
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Error(WriteFile(reader.handle, "x", 1, &count, nullptr)), 5u);
  // No buffer: NT's read faults on it (STATUS_ACCESS_VIOLATION, 998) as soon
  // as one byte is asked for, its write refuses it (ERROR_INVALID_USER_BUFFER);
  // nothing asked, nothing touched.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Error(ReadFile(reader.handle, nullptr, 1, &count, nullptr)), 998u);
  Open writer = OpenFile("c:\\zentaq\\data.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_TRUE(writer.ok());
  count = 7;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Error(WriteFile(writer.handle, nullptr, 1, &count, nullptr)), 1784u);
  EXPECT_EQ(count, 0u);
  CloseHandle(writer.handle);
  EXPECT_TRUE(ReadFile(reader.handle, nullptr, 0, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(CloseHandle(reader.handle));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Error(CloseHandle(reader.handle)), 6u);  // closed twice
}

TEST_F(Files, MoveRenamesButNeverReplaces) {
  machine_.Write("c:\\zentaq\\other.txt", "other");
  EXPECT_EQ(Error(MoveFileA("c:\\zentaq\\data.txt", "c:\\ZENTAQ\\OTHER.TXT")), static_cast<DWORD>(183));
  EXPECT_EQ(Error(MoveFileA("c:\\zentaq\\none.txt", "c:\\zentaq\\x.txt")), 2u);
  EXPECT_EQ(Error(MoveFileA("c:\\zentaq\\data.txt", "c:\\none\\x.txt")), 3u);
  EXPECT_TRUE(MoveFileA("c:\\zentaq\\DATA.TXT", "c:\\zentaq\\res\\..\\renamed.txt"));
  EXPECT_EQ(machine_.Read("c:\\zentaq\\renamed.txt"), "0123456789");
  EXPECT_FALSE(machine_.Exists("c:\\zentaq\\data.txt"));
  // Only the case changes.
  EXPECT_TRUE(MoveFileA("c:\\zentaq\\renamed.txt", "c:\\zentaq\\Renamed.TXT"));
  EXPECT_TRUE(machine_.Exists("c:\\zentaq\\Renamed.TXT"));
}

TEST_F(Files, FindFirstFileFillsNameSizeAndAttributes) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("c:\\windows\\system32\\PSCRIPT.dll", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Pscript.dll");
  EXPECT_EQ(data.nFileSizeLow, 6u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Error(CloseHandle(find)), 6u);  // not a kernel object
  EXPECT_TRUE(FindClose(find));

  // The times in 100-ns units since 1601 (UTC): 2005-01-03 08:05:00.1234567
  // written, a day later read.
  const struct timespec times[2] = {{1104739500 + 86400, 0}, {1104739500, 123456700}};
  ASSERT_EQ(utimensat(AT_FDCWD, machine_.Host("C:\\WINDOWS\\system32\\Pscript.dll").c_str(), times, 0), 0);
  find = FindFirstFileA("c:\\windows\\system32\\PSCRIPT.dll", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, 3959190663u);
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, 29684074u);
  uint64_t access = (uint64_t{data.ftLastAccessTime.dwHighDateTime} << 32) | data.ftLastAccessTime.dwLowDateTime;
  EXPECT_EQ(access, 127492131001234567ull + 864000000000ull - 1234567);
  EXPECT_TRUE(FindClose(find));

  for (const char* pattern : {"c:\\zentaq\\*.INI", "c:\\zentaq\\LOCK*", "c:\\zentaq\\l?cked.*"}) {
    find = FindFirstFileA(pattern, &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << pattern;
    EXPECT_STREQ(data.cFileName, "locked.ini");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    FindClose(find);
  }

  SetLastError(0xdeadbeef);
  EXPECT_EQ(FindFirstFileA("c:\\zentaq\\none.dll", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 2u);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(FindFirstFileA("c:\\none\\none.dll", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 3u);
}

TEST(NineXFiles, ReadIntoNoBufferIsAnInvalidParameter) {
  TestMachine machine("98");
  machine.Use();
  machine.Write("c:\\zentaq\\data.txt", "0123456789");
  Open reader = OpenFile("c:\\zentaq\\data.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_TRUE(reader.ok());
  DWORD count = 7;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(Error(ReadFile(reader.handle, nullptr, 1, &count, nullptr)), 87u);
  EXPECT_EQ(count, 0u);
  CloseHandle(reader.handle);
}

TEST(Reboot, OnNineXTheRegisteredMonitorsLibrariesBecomeTheHeldSet) {
  TestMachine machine("98");
  machine.Use();
  machine.Write("C:\\WINDOWS\\SYSTEM\\ztqmon95.dll", "monitor");
  winsim::ChangeHive([](winsim::Hive& hive) {
    const std::string value = "ztqmon95.dll";
    hive.Create("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor")
        ->SetValue("Driver", REG_SZ, reinterpret_cast<const uint8_t*>(value.c_str()), value.size() + 1);
    return true;
  });
  winsim::LoadLibraryHeld("c:\\windows\\system\\old.dll");
  winsim::Reboot();
  // The local monitor's library is not on disk: it holds nothing.
  EXPECT_EQ(winsim::HeldLibraries(), std::vector<std::string>{"c:\\windows\\system\\ztqmon95.dll"});
  EXPECT_NE(machine.Journal().find("Reboot\n"), std::string::npos);
  EXPECT_EQ(Error(DeleteFileA("c:\\windows\\system\\ztqmon95.dll")), 5u);

  // state.ini keeps other owners' sections, whatever their names.
  std::string state = machine.MachineFile("state.ini");
  winsim::WriteFileAtomic(machine.root() + "/state.ini", state + "\n[others]\nc:\\windows\\system\\x.dll\n");
  EXPECT_EQ(winsim::HeldLibraries(), std::vector<std::string>{"c:\\windows\\system\\ztqmon95.dll"});
  winsim::ReleaseAllLibraries();
  EXPECT_TRUE(winsim::HeldLibraries().empty());
  EXPECT_NE(machine.MachineFile("state.ini").find("[others]\nc:\\windows\\system\\x.dll\n"), std::string::npos);
  // What another process writes there is seen by the next look.
  winsim::WriteFileAtomic(machine.root() + "/state.ini", "[loaded]\nc:\\windows\\system\\y.dll\n");
  EXPECT_EQ(winsim::HeldLibraries(), std::vector<std::string>{"c:\\windows\\system\\y.dll"});
}

}  // namespace

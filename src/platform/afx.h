// The thin application framework the setup program is written on: the
// application object and its start-up, the message box, the file class with
// its exception, and the local time stamp. Written only on win32.h, so both
// builds share it.
#pragma once

#include <string>

#include "platform/win32.h"

// The file error that CFile raises from Read, Write, SeekToEnd, GetLength,
// Close, Remove and Rename. Only this type is caught by the program.
class CFileException {
 public:
  enum { none = 0, generic, fileNotFound, badPath, tooManyOpenFiles, accessDenied, invalidFile,
         removeCurrentDir, directoryFull, badSeek, hardIO, sharingViolation, lockViolation, diskFull,
         endOfFile };
  CFileException(int cause, LONG os_error) : m_cause(cause), m_lOsError(os_error) {}
  static CFileException FromOsError(LONG os_error);
  int m_cause;
  LONG m_lOsError;
};

struct CFileStatus {
  LONG m_size = 0;  // the low 32 bits of the file's size, signed, as the framework keeps it
  BYTE m_attribute = 0;
  char m_szFullName[MAX_PATH] = {};
};

class CFile {
 public:
  // The framework's documented flag values.
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
  };

  CFile() = default;
  ~CFile();  // closes an open file, ignoring errors
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Returns FALSE when the file can't be opened; fills *error when given.
  BOOL Open(LPCSTR name, UINT flags, CFileException* error = nullptr);
  // One ReadFile call; returns the count read.
  UINT Read(void* buffer, UINT count);
  // One WriteFile call; fewer bytes stored than asked raise diskFull.
  void Write(const void* buffer, UINT count);
  DWORD SeekToEnd();
  DWORD GetLength() const;
  void Close();
  bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

  static void Remove(LPCSTR name);
  static void Rename(LPCSTR old_name, LPCSTR new_name);
  static BOOL GetStatus(LPCSTR name, CFileStatus& status);

  HANDLE m_hFile = INVALID_HANDLE_VALUE;
};

class CWinApp {
 public:
  explicit CWinApp(LPCSTR app_name = nullptr);
  virtual ~CWinApp();
  virtual BOOL InitInstance();
  virtual int ExitInstance();

  LPCSTR m_pszAppName = nullptr;  // the executable's name without extension when none was given
  LPSTR m_lpCmdLine = nullptr;
  HINSTANCE m_hInstance = nullptr;
  int m_nCmdShow = SW_SHOWDEFAULT;

 private:
  friend int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int);
  std::string app_name_;
};

CWinApp* AfxGetApp();

// A message box captioned with the application's name.
int AfxMessageBox(LPCSTR text, UINT type = MB_OK, UINT help_context = 0);

// Initialises the framework, stores the arguments, runs InitInstance and,
// since it returns FALSE, ExitInstance; returns the process exit code.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

// The argument text of a command line: the program name and the characters
// 1 to 32 after it removed, trailing blanks kept.
LPSTR SkipProgramName(LPSTR command_line);

// The process entry shared by both builds: scans GetCommandLineA(), takes the
// show state from GetStartupInfoA and calls AfxWinMain.
int SetupProcessEntry();

// The local time, formatted with strftime-style `format` ("%m-%d-%y: %H:%M").
std::string FormatLocalTime(const char* format);

// CFile and CFileException on the Win32 file routines, with the framework's
// mapping of open flags onto CreateFileA and its raising of file errors.
#include <cstring>

#include "platform/afx.h"

namespace {

// The framework's translation of an operating-system error into the cause of
// a file exception (the codes a file operation can meet; the rest are generic).
struct OsErrorCause {
  LONG os_error;
  int cause;
};

const OsErrorCause kCauses[] = {
    {0, CFileException::none},                   // NO_ERROR
    {2, CFileException::fileNotFound},           // ERROR_FILE_NOT_FOUND
    {3, CFileException::badPath},                // ERROR_PATH_NOT_FOUND
    {4, CFileException::tooManyOpenFiles},       // ERROR_TOO_MANY_OPEN_FILES
    {5, CFileException::accessDenied},           // ERROR_ACCESS_DENIED
    {6, CFileException::fileNotFound},           // ERROR_INVALID_HANDLE
    {11, CFileException::invalidFile},           // ERROR_BAD_FORMAT
    {12, CFileException::accessDenied},          // ERROR_INVALID_ACCESS
    {15, CFileException::badPath},               // ERROR_INVALID_DRIVE
    {16, CFileException::removeCurrentDir},      // ERROR_CURRENT_DIRECTORY
    {17, CFileException::badPath},               // ERROR_NOT_SAME_DEVICE
    {18, CFileException::fileNotFound},          // ERROR_NO_MORE_FILES
    {19, CFileException::accessDenied},          // ERROR_WRITE_PROTECT
    {20, CFileException::hardIO},                // ERROR_BAD_UNIT
    {21, CFileException::hardIO},                // ERROR_NOT_READY
    {22, CFileException::hardIO},                // ERROR_BAD_COMMAND
    {23, CFileException::hardIO},                // ERROR_CRC
    {24, CFileException::badSeek},               // ERROR_BAD_LENGTH
    {25, CFileException::badSeek},               // ERROR_SEEK
    {26, CFileException::invalidFile},           // ERROR_NOT_DOS_DISK
    {27, CFileException::badSeek},               // ERROR_SECTOR_NOT_FOUND
    {29, CFileException::accessDenied},          // ERROR_WRITE_FAULT
    {30, CFileException::badSeek},               // ERROR_READ_FAULT
    {32, CFileException::sharingViolation},      // ERROR_SHARING_VIOLATION
    {33, CFileException::lockViolation},         // ERROR_LOCK_VIOLATION
    {38, CFileException::endOfFile},             // ERROR_HANDLE_EOF
    {39, CFileException::diskFull},              // ERROR_HANDLE_DISK_FULL
    {80, CFileException::accessDenied},          // ERROR_FILE_EXISTS
    {82, CFileException::accessDenied},          // ERROR_CANNOT_MAKE
    {112, CFileException::diskFull},             // ERROR_DISK_FULL
    {123, CFileException::badPath},              // ERROR_INVALID_NAME
    {131, CFileException::badSeek},              // ERROR_NEGATIVE_SEEK
    {145, CFileException::removeCurrentDir},     // ERROR_DIR_NOT_EMPTY
    {161, CFileException::badPath},              // ERROR_BAD_PATHNAME
    {183, CFileException::accessDenied},         // ERROR_ALREADY_EXISTS
    {206, CFileException::badPath},              // ERROR_FILENAME_EXCED_RANGE
    {267, CFileException::badPath},              // ERROR_DIRECTORY
};

[[noreturn]] void ThrowOsError(DWORD os_error) {
  throw CFileException::FromOsError(static_cast<LONG>(os_error));
}

}  // namespace

CFileException CFileException::FromOsError(LONG os_error) {
  for (const OsErrorCause& entry : kCauses)
    if (entry.os_error == os_error) return CFileException(entry.cause, os_error);
  return CFileException(generic, os_error);
}

CFile::~CFile() {
  // A destructor can't raise the file error: the handle goes, its error is dropped.
  if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
}

BOOL CFile::Open(LPCSTR name, UINT flags, CFileException* error) {
  // A file still open is let go first, so its handle doesn't leak.
  if (m_hFile != INVALID_HANDLE_VALUE) {
    CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
  }

  DWORD access = 0;
  switch (flags & 3) {
    case modeRead:
      access = GENERIC_READ;
      break;
    case modeWrite:
      access = GENERIC_WRITE;
      break;
    case modeReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    default:  // not a valid mode: no access asked for
      break;
  }

  // Compatibility mode is mapped to an exclusive open; values above
  // shareDenyNone are not valid and fall back to it too.
  DWORD share = 0;
  switch (flags & 0x70) {
    case shareDenyWrite:
      share = FILE_SHARE_READ;
      break;
    case shareDenyRead:
      share = FILE_SHARE_WRITE;
      break;
    case shareDenyNone:
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    default:  // shareCompat, shareExclusive
      share = 0;
      break;
  }

  SECURITY_ATTRIBUTES security;
  security.nLength = sizeof(security);
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = (flags & modeNoInherit) == 0;

  DWORD disposition = OPEN_EXISTING;
  if (flags & modeCreate) disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;

  HANDLE handle = CreateFileA(name, access, share, &security, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = CFileException::FromOsError(static_cast<LONG>(GetLastError()));
    return FALSE;
  }
  m_hFile = handle;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;  // no zero-length ReadFile call, as the framework does
  DWORD read = 0;
  if (!ReadFile(m_hFile, buffer, count, &read, nullptr)) ThrowOsError(GetLastError());
  return static_cast<UINT>(read);
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;  // no zero-length WriteFile call, as the framework does
  DWORD written = 0;
  if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) ThrowOsError(GetLastError());
  // A write that stores fewer bytes than asked is a full disk; there is no
  // operating-system code for it.
  if (written != count) throw CFileException(CFileException::diskFull, -1);
}

DWORD CFile::SeekToEnd() {
  DWORD position = SetFilePointer(m_hFile, 0, nullptr, FILE_END);
  if (position == INVALID_SET_FILE_POINTER) ThrowOsError(GetLastError());
  return position;
}

DWORD CFile::GetLength() const {
  // With a place for the high part, INVALID_FILE_SIZE is only a failure when
  // the last error says so.
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize(m_hFile, &high);
  if (low == INVALID_FILE_SIZE) {
    DWORD code = GetLastError();
    if (code != NO_ERROR) ThrowOsError(code);
  }
  // A length of 4 GB or more has no DWORD form; reporting its low part would
  // have callers read a fraction of the file as if it were all of it.
  if (high != 0) throw CFileException(CFileException::badSeek, -1);
  return low;
}

void CFile::Close() {
  BOOL failed = FALSE;
  if (m_hFile != INVALID_HANDLE_VALUE) failed = !CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
  if (failed) ThrowOsError(GetLastError());
}

void CFile::Remove(LPCSTR name) {
  if (!DeleteFileA(name)) ThrowOsError(GetLastError());
}

void CFile::Rename(LPCSTR old_name, LPCSTR new_name) {
  if (!MoveFileA(old_name, new_name)) ThrowOsError(GetLastError());
}

BOOL CFile::GetStatus(LPCSTR name, CFileStatus& status) {
  // The name must fit the status record's full-name field.
  size_t length = name != nullptr ? strlen(name) : MAX_PATH;
  if (length >= MAX_PATH) {
    status.m_szFullName[0] = '\0';
    return FALSE;
  }
  memcpy(status.m_szFullName, name, length + 1);

  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(name, &data);
  if (find == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(find);
  // The framework's attributes have no "normal" bit.
  status.m_attribute = static_cast<BYTE>(data.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  status.m_size = static_cast<LONG>(data.nFileSizeLow);  // the low 32 bits only, as the framework keeps them
  return TRUE;
}

#include "support/file_copy.h"

#include <cstdio>
#include <memory>

#include "app/texts.h"
#include "platform/afx.h"
#include "support/file_buffer.h"
#include "support/setup_log.h"

namespace {

// The source is shared with every other opener; the destination is created
// or truncated and held exclusively while the copy runs.
constexpr UINT kSourceFlags = CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary;
constexpr UINT kDestinationFlags = CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary;

// Closing can raise the file error; a copy that has already failed has
// nothing more to report about it.
void CloseQuietly(CFile& file) {
  try {
    file.Close();
  } catch (const CFileException&) {
  }
}

void RemoveQuietly(const std::string& name) {
  try {
    CFile::Remove(name.c_str());
  } catch (const CFileException&) {
  }
}

// Every failure is one log line naming the source, the whole path however
// long it is.
void LogFailure(const char* format, const std::string& source) {
  int length = snprintf(nullptr, 0, format, source.c_str());
  if (length < 0) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  snprintf(&text[0], text.size(), format, source.c_str());
  text.resize(static_cast<size_t>(length));
  WriteSetupLog(text);
}

// The source's length; false when it can't be taken.
bool LengthOf(CFile& file, DWORD* length) {
  try {
    *length = file.GetLength();
    return true;
  } catch (const CFileException&) {
    return false;
  }
}

// One read of the whole length. Fewer bytes than that (the file shrank
// meanwhile) would copy bytes that were never read: a failed read too.
bool ReadWhole(CFile& file, BYTE* buffer, DWORD length) {
  try {
    return file.Read(buffer, length) == length;
  } catch (const CFileException&) {
    return false;
  }
}

}  // namespace

// Every failure returns at once: the two file objects close their files as
// they go, and the buffer is released with them.
int CopyFile(std::string source, std::string destination) {
  CFile in;
  if (!in.Open(source.c_str(), kSourceFlags)) {
    LogFailure(texts::kLogCopyInOpen, source);
    return 0;
  }

  CFile out;
  if (!out.Open(destination.c_str(), kDestinationFlags)) {
    LogFailure(texts::kLogCopyOutOpen, source);
    return 0;
  }

  // A source whose length can't be taken can't be read: the read failure.
  DWORD length = 0;
  if (!LengthOf(in, &length)) {
    LogFailure(texts::kLogCopyRead, source);
    return 0;
  }

  // A length beyond what one buffer can hold is a failed allocation too.
  std::unique_ptr<BYTE[]> buffer = NewFileBuffer<BYTE>(length);
  if (!buffer) {
    LogFailure(texts::kLogCopyNew, source);
    return 0;
  }

  // The destination stays as opened, empty.
  if (!ReadWhole(in, buffer.get(), length)) {
    LogFailure(texts::kLogCopyRead, source);
    return 0;
  }

  // One write of the whole file; a failed or short write leaves no
  // destination behind.
  try {
    out.Write(buffer.get(), length);
  } catch (const CFileException&) {
    CloseQuietly(out);
    RemoveQuietly(destination);
    LogFailure(texts::kLogCopyWrite, source);
    return 0;
  }

  buffer.reset();
  CloseQuietly(in);
  // The destination's close is the last step of its write: when it fails,
  // the copy may be incomplete and is treated as a failed write.
  try {
    out.Close();
  } catch (const CFileException&) {
    RemoveQuietly(destination);
    LogFailure(texts::kLogCopyWrite, source);
    return 0;
  }
  return 1;
}

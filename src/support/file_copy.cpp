#include "support/file_copy.h"

#include <cstdio>
#include <memory>
#include <new>

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

}  // namespace

int CopyFile(std::string source, std::string destination) {
  CFile in;
  if (!in.Open(source.c_str(), kSourceFlags)) {
    LogFailure(texts::kLogCopyInOpen, source);
    return 0;
  }

  CFile out;
  if (!out.Open(destination.c_str(), kDestinationFlags)) {
    LogFailure(texts::kLogCopyOutOpen, source);
    CloseQuietly(in);
    return 0;
  }

  // A source whose length can't be taken can't be read: the read failure.
  DWORD length = 0;
  try {
    length = in.GetLength();
  } catch (const CFileException&) {
    LogFailure(texts::kLogCopyRead, source);
    CloseQuietly(in);
    CloseQuietly(out);
    return 0;
  }

  // A length beyond what one buffer can hold is a failed allocation too.
  std::unique_ptr<BYTE[]> buffer(FitsOneBuffer(length) ? new (std::nothrow) BYTE[length] : nullptr);
  if (!buffer) {
    LogFailure(texts::kLogCopyNew, source);
    CloseQuietly(in);
    CloseQuietly(out);
    return 0;
  }

  // One read of the whole file. Fewer bytes than the length (the file shrank
  // meanwhile) would copy bytes that were never read: that is a failed read
  // too, and the destination stays as opened, empty.
  bool read_ok = true;
  try {
    read_ok = in.Read(buffer.get(), length) == length;
  } catch (const CFileException&) {
    read_ok = false;
  }
  if (!read_ok) {
    buffer.reset();
    LogFailure(texts::kLogCopyRead, source);
    CloseQuietly(in);
    CloseQuietly(out);
    return 0;
  }

  // One write of the whole file; a failed or short write leaves no
  // destination behind.
  try {
    out.Write(buffer.get(), length);
  } catch (const CFileException&) {
    buffer.reset();
    CloseQuietly(out);
    RemoveQuietly(destination);
    LogFailure(texts::kLogCopyWrite, source);
    CloseQuietly(in);
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

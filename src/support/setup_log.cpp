#include "support/setup_log.h"

#include "app/names.h"
#include "platform/afx.h"

void WriteSetupLog(std::string text) {
  // Created when missing, kept when present; no share flag, so the file is
  // held exclusively while the line goes in.
  CFile log;
  if (!log.Open(names::kSetupLog, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::typeBinary))
    return;

  std::string line = FormatLocalTime("%m-%d-%y: %H:%M");
  line += text;
  line += "\r\n";

  // A file error here costs the line, never the caller's run; the handle is
  // released on the way out either way.
  try {
    log.SeekToEnd();
    log.Write(line.data(), static_cast<UINT>(line.size()));
    log.Close();
  } catch (const CFileException&) {
  }
}

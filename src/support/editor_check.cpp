#include "support/editor_check.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/names.h"
#include "app/texts.h"
#include "platform/afx.h"
#include "support/file_buffer.h"

namespace {

// The phrase in front of the version, searched in the lower-cased page.
constexpr char kMarker[] = "this is version ";

// The C library's atof as the Windows runtime reads a number: blanks
// skipped, then the longest decimal number (sign, digits, point, exponent);
// no number gives 0. Hexadecimal forms and "inf"/"nan" are not numbers here,
// whatever the host's library would make of them.
double DecimalValue(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  while (*p >= '0' && *p <= '9') ++p;
  if (*p == '.') {
    ++p;
    while (*p >= '0' && *p <= '9') ++p;
  }
  // Without a digit so far the text is a sign or a point at most, which the
  // conversion below reads as 0, exponent or not.
  if (*p == 'e' || *p == 'E') {
    const char* exponent = p + 1;
    if (*exponent == '+' || *exponent == '-') ++exponent;
    if (*exponent >= '0' && *exponent <= '9') {
      p = exponent;
      while (*p >= '0' && *p <= '9') ++p;
    }
  }
  return strtod(std::string(start, p).c_str(), nullptr);
}

// The page's text up to its first zero byte; empty when the page can't be
// read, which holds no phrase either. The file goes with its object.
std::string ReadPage() {
  std::string text;
  CFile page;
  if (!page.Open(names::kEditorReadme, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return text;
  try {
    DWORD length = page.GetLength();
    // The page and its closing zero byte in one buffer, or no check at all.
    const unsigned long long size = static_cast<unsigned long long>(length) + 1;
    std::unique_ptr<char[]> buffer = NewFileBuffer<char>(size);
    if (!buffer) return text;
    memset(buffer.get(), 0, static_cast<size_t>(size));
    // The count read isn't needed: a short read leaves zero bytes behind it,
    // which end the text.
    page.Read(buffer.get(), length);
    text.assign(buffer.get(), std::find(buffer.get(), buffer.get() + length, '\0'));
  } catch (const CFileException&) {
  }
  return text;
}

}  // namespace

void CheckEditorVersion(float minimum) {
  std::string text = ReadPage();

  // Lower-cased as the C locale does it: A to Z only.
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');

  size_t at = text.find(kMarker);
  if (at == std::string::npos) return;
  double version = DecimalValue(text.c_str() + at + sizeof(kMarker) - 1);

  // The single-precision minimum widened exactly: 4.2f lies just below 4.2,
  // so a page stating 4.2 passes.
  if (version < static_cast<double>(minimum)) {
    std::string message = texts::kEditorOutdatedBefore;
    message += texts::kProductWebAddress;
    message += texts::kEditorOutdatedAfter;
    AfxMessageBox(message.c_str(), MB_OK, 0);
  }
}

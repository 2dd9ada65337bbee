// What callview's parts share: one line per call, the fields after it, and
// the calls that several parts make the same way. See callview.cpp.
#pragma once

#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace callview {

const DWORD kUntouched = 0xdeadbeef;

inline void Line(const std::string& name, bool ok, const std::string& rest = "") {
  DWORD error = GetLastError();
  printf("%s\t%d\t%s%s\n", name.c_str(), ok ? 1 : 0, ok ? "-" : std::to_string(error).c_str(), rest.c_str());
}

inline std::string Field(unsigned long value) { return "\t" + std::to_string(value); }

inline std::string Text(const char* text, size_t length) {
  std::string out = "\t";
  for (size_t i = 0; i < length; ++i) out += text[i] ? text[i] : '|';
  return out;
}

// CreateFileA, with the last error it leaves on success too.
inline HANDLE Open(const std::string& label, const char* name, DWORD access, DWORD share, DWORD disposition) {
  SetLastError(kUntouched);
  HANDLE file = CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  printf("%s\t%d\t%lu\n", label.c_str(), file != INVALID_HANDLE_VALUE ? 1 : 0, static_cast<unsigned long>(error));
  return file;
}

inline void Close(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// Windows NT (GetVersion's high bit is set on 9x).
inline bool Nt() { return !(GetVersion() & 0x80000000); }

// A call that answers with a BOOL, made with the last error set to
// 0xdeadbeef before it, as one Line.
template <class Call>
void Try(const std::string& label, Call call) {
  SetLastError(kUntouched);
  BOOL ok = call();
  Line(label, ok);
}

// A read or write given as `call`, with the count it leaves.
template <class Call>
BOOL Counted(const std::string& label, Call call) {
  DWORD count = kUntouched;
  SetLastError(kUntouched);
  BOOL ok = call(&count);
  Line(label, ok, Field(count));
  return ok;
}

// callview_files.cpp: scratch files and what the step left of the
// product's; the spooler: a port monitor of its own, added and deleted, and
// the product's printer opened and closed.
void Files();
void Spooler();

}  // namespace callview

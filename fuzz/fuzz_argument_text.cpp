// The argument text of a process command line: the program name (quoted or
// up to the first character of code 32 or less) and the characters 1 to 32
// after it are skipped; the rest is left as it stands.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/afx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));  // a command line ends at its first zero byte
  std::vector<char> line(text.begin(), text.end());
  line.push_back('\0');

  char* arguments = SkipProgramName(line.data());
  FUZZ_CHECK(arguments >= line.data() && arguments <= line.data() + text.size());
  size_t skipped = static_cast<size_t>(arguments - line.data());

  // Where the name ends, found another way.
  size_t name_end;
  if (!text.empty() && text[0] == '"') {
    size_t close = text.find('"', 1);
    name_end = close == std::string::npos ? text.size() : close + 1;
  } else {
    name_end = 0;
    while (name_end < text.size() && static_cast<unsigned char>(text[name_end]) > 32) ++name_end;
  }
  FUZZ_CHECK(skipped >= name_end);
  for (size_t i = name_end; i < skipped; ++i) FUZZ_CHECK(static_cast<unsigned char>(text[i]) <= 32);
  FUZZ_CHECK(skipped == text.size() || static_cast<unsigned char>(text[skipped]) > 32);
  // The rest is the caller's text itself, unchanged.
  FUZZ_CHECK(std::string(arguments) == text.substr(skipped));
  return 0;
}

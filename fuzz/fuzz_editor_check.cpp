// The editor version check on arbitrary page bytes, through the simulated
// machine's files: the warning comes exactly when the number behind the
// first "this is version " of the lower-cased page (up to its first zero
// byte) reads, as the Windows runtime's atof reads it, below 4.2f.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "support/editor_check.h"

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at the start of `text` after white space, or 0.
double ExpectedVersion(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  for (; i < text.size() && Digit(text[i]); ++i) ++digits;
  if (i < text.size() && text[i] == '.')
    for (++i; i < text.size() && Digit(text[i]); ++i) ++digits;
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t e = i + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    if (e < text.size() && Digit(text[e])) {
      for (i = e; i < text.size() && Digit(text[i]);) ++i;
    }
  }
  return strtod(text.substr(start, i - start).c_str(), nullptr);
}

bool ExpectWarning(std::string page) {
  page = page.substr(0, page.find('\0'));
  for (char& c : page)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  size_t at = page.find("this is version ");
  if (at == std::string::npos) return false;
  return ExpectedVersion(page.substr(at + 16)) < static_cast<double>(4.2f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = fuzz::Machine();
  static const std::string folder = [&] {
    std::string path = root + "/drive_c/zentaq/res/utilities";
    std::string command = "mkdir -p '" + path + "'";
    FUZZ_CHECK(system(command.c_str()) == 0);
    return path;
  }();
  std::string page(reinterpret_cast<const char*>(data), size);
  fuzz::WriteHostFile(folder + "/readme.html", page);
  fuzz::WriteHostFile(root + "/journal.log", "");

  // The message box writes its text to standard error; keep the fuzzer's
  // output readable.
  int saved = dup(2);
  int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null_fd, 2);
  CheckEditorVersion(4.2f);
  dup2(saved, 2);
  close(saved);
  close(null_fd);

  bool warned = fuzz::ReadHostFile(root + "/journal.log").find("MessageBox\t") != std::string::npos;
  FUZZ_CHECK(warned == ExpectWarning(page));
  return 0;
}

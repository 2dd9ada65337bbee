// The profile (INI) routines over arbitrary file bytes: every answer fits
// the caller's buffer and is terminated as Windows terminates it (a list
// with a second zero byte), and a key written is read back unchanged while
// the file's other sections stay.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/win32.h"

namespace {

const char kFile[] = "c:\\fuzz\\test.ini";

// GetPrivateProfileStringA into a buffer of exactly `size` bytes (ASan sees
// any byte written past it).
std::string Get(const char* section, const char* key, DWORD size, bool list) {
  std::vector<char> buffer(size);
  DWORD n = GetPrivateProfileStringA(section, key, "default", buffer.data(), size, kFile);
  if (size == 0) {
    FUZZ_CHECK(n == 0);
    return "";
  }
  FUZZ_CHECK(n < size);
  FUZZ_CHECK(buffer[n] == '\0');
  // A value holding a zero byte (a file with binary bytes) reads as the
  // text before it, with the count of all the bytes copied.
  if (!list) return std::string(buffer.data(), strlen(buffer.data()));
  // A list ends with two zero bytes (the last name's and one more; a list
  // cut to fit gets both after its cut end), or is empty.
  FUZZ_CHECK(n == 0 || buffer[n - 1] == '\0' || (n + 1 < size && buffer[n + 1] == '\0'));
  return std::string(buffer.data(), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = fuzz::Machine();
  static const std::string host = [&] {
    std::string folder = root + "/drive_c/fuzz";
    std::string command = "mkdir -p '" + folder + "'";
    FUZZ_CHECK(system(command.c_str()) == 0);
    return folder + "/test.ini";
  }();
  if (size == 0) return 0;
  // The first byte picks the small buffer size; the rest is the file.
  DWORD small = data[0] % 12;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::WriteHostFile(host, text);

  Get("Parameters", "Quiet", 80, false);
  Get("Parameters", "Quiet", small, false);
  Get(nullptr, nullptr, small, true);
  Get("Parameters", nullptr, small, true);
  std::string sections = Get(nullptr, nullptr, 65536, true);

  FUZZ_CHECK(WritePrivateProfileStringA("Parameters", "Quiet", "v4lue", kFile));
  FUZZ_CHECK(Get("Parameters", "Quiet", 80, false) == "v4lue");
  std::string after = Get(nullptr, nullptr, 65536, true);
  // The sections are those of before, with "Parameters" added at the end
  // when the file had no such section.
  FUZZ_CHECK(after == sections || after == sections + "Parameters" + '\0');
  return 0;
}

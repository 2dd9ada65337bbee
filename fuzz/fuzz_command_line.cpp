// The Windows command line of the POSIX build: any text splits without
// harm, and quoting the pieces back gives the same pieces; an argv composed
// into the process command line (under a program path with blanks) comes
// back from GetCommandLineA whole, and its argument text is what the
// start-up code hands to the application.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/afx.h"
#include "platform/sim/core/machine_internal.h"

namespace {

std::string Compose(const std::vector<std::string>& arguments) {
  std::string line = "program";
  for (size_t i = 1; i < arguments.size(); ++i) line += " " + winsim::QuoteArgument(arguments[i]);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Machine("module = c:\\Program Files\\zentaq\\setup.exe\n");
  std::string text(reinterpret_cast<const char*>(data), size);

  // Splitting, then quoting and splitting again.
  std::vector<std::string> pieces = winsim::SplitCommandLine(text.substr(0, text.find('\0')));
  if (!pieces.empty()) {
    std::vector<std::string> again = winsim::SplitCommandLine(Compose(pieces));
    FUZZ_CHECK(again.size() == pieces.size());
    for (size_t i = 1; i < pieces.size(); ++i) FUZZ_CHECK(again[i] == pieces[i]);
  }

  // The input's zero bytes separate the arguments of an argv.
  std::vector<std::string> argv{"setup"};
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    argv.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  winsim::SetProcessCommandLine(static_cast<int>(argv.size()), pointers.data());

  std::string command_line = GetCommandLineA();
  std::vector<std::string> back = winsim::SplitCommandLine(command_line);
  FUZZ_CHECK(back.size() == argv.size());
  FUZZ_CHECK(back[0] == "c:\\Program Files\\zentaq\\setup.exe");
  for (size_t i = 1; i < argv.size(); ++i) FUZZ_CHECK(back[i] == argv[i]);

  // The argument text starts behind the quoted program name and one blank,
  // unless the first argument itself starts with characters the start-up
  // code skips (codes 1 to 32, which an unquoted argument may hold).
  std::string composed = Compose(argv).substr(sizeof "program");
  std::string arguments = SkipProgramName(&command_line[0]);
  unsigned char first = composed.empty() ? 0 : static_cast<unsigned char>(composed[0]);
  if (first == 0 || first > 32) FUZZ_CHECK(arguments == composed);
  return 0;
}

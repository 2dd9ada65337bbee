// The process command line: composed from the POSIX argv under the machine's
// module path, read back by GetCommandLineA, and split with the rules of
// the Microsoft C runtime (msvcrt.dll) that Windows programs of the time use.
#include <cstring>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/processes/processes.h"

namespace {

std::string& CommandLine() {
  static std::string command_line;
  return command_line;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The program name is quoted only when it holds a blank: the start-up code
// takes it up to the closing quote without any escape rules.
std::string ProgramText(const std::string& module) {
  return module.find_first_of(" \t") == std::string::npos ? module : "\"" + module + "\"";
}

}  // namespace

namespace winsim {

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  // Backslashes before the closing quote are doubled too.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string ProgramOf(const std::string& command_line) {
  size_t i = 0;
  while (i < command_line.size() && Blank(command_line[i])) ++i;
  std::string program;
  if (i < command_line.size() && command_line[i] == '"') {
    ++i;
    while (i < command_line.size() && command_line[i] != '"') program += command_line[i++];
  } else {
    while (i < command_line.size() && !Blank(command_line[i])) program += command_line[i++];
  }
  return program;
}

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> arguments;
  const char* p = command_line.c_str();
  while (Blank(*p)) ++p;
  if (!*p) return arguments;
  // The program name: between quotes, or up to the first blank, taken as is.
  std::string program;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') program += *p++;
    if (*p == '"') ++p;
  } else {
    while (*p && !Blank(*p)) program += *p++;
  }
  arguments.push_back(program);
  for (;;) {
    while (Blank(*p)) ++p;
    if (!*p) break;
    std::string argument;
    bool in_quotes = false;
    for (;;) {
      bool copy = true;
      size_t backslashes = 0;
      while (*p == '\\') {
        ++p;
        ++backslashes;
      }
      if (*p == '"') {
        // 2n backslashes and a quote: n backslashes, and the quote opens or
        // closes a quoted part; 2n+1: n backslashes and a literal quote.
        if (backslashes % 2 == 0) {
          // msvcrt.dll: "" inside quotes gives one literal quote and ends
          // the quoted part.
          if (in_quotes && p[1] == '"')
            ++p;
          else
            copy = false;
          in_quotes = !in_quotes;
        }
        backslashes /= 2;
      }
      argument.append(backslashes, '\\');
      if (!*p || (!in_quotes && Blank(*p))) break;
      if (copy) argument += *p;
      ++p;
    }
    arguments.push_back(argument);
  }
  return arguments;
}

void SetProcessCommandLine(int argc, char** argv) {
  std::string command_line = ProgramText(Machine::Get().settings().module);
  for (int i = 1; i < argc; ++i) command_line += " " + QuoteArgument(argv[i]);
  CommandLine() = command_line;
}

}  // namespace winsim

LPSTR GetCommandLineA() {
  std::string& command_line = CommandLine();
  if (command_line.empty()) command_line = ProgramText(winsim::Machine::Get().settings().module);
  return &command_line[0];
}

// A program started from a terminal: no window placement was asked for.
void GetStartupInfoA(LPSTARTUPINFOA info) {
  if (!info) return;
  memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
}

// Processes: CreateProcessA and the environment block.
//
// Every CreateProcessA is journalled. rundll32.exe command lines (pages
// opened with their associated program, the Add Printer wizard) are only
// journalled; any other program found on the host is really started, in a
// session of its own, not awaited.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/sim/core/machine_internal.h"
#include "platform/sim/files/files.h"
#include "platform/sim/processes/processes.h"

extern char** environ;

namespace {

struct ProcessObject : winsim::KernelObject {};
struct ThreadObject : winsim::KernelObject {};

// Never destroyed: a block that the program doesn't free stays the
// process's until it ends, as on Windows, and isn't taken for a leak.
std::set<char*>& Blocks() {
  static std::set<char*>* blocks = new std::set<char*>;
  return *blocks;
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

bool IsRundll32(const std::string& program) {
  std::string name = winsim::LastComponent(program);
  if (name.size() > 4 && winsim::SameTextNoCase(name.substr(name.size() - 4), ".exe"))
    name = name.substr(0, name.size() - 4);
  return winsim::SameTextNoCase(name, "rundll32");
}

bool Executable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The host program of a Windows program name: a host-absolute path as it is,
// else a search of the host PATH, for the name as given and, as Windows adds
// ".exe" to a name without one, for the name without its ".exe".
std::string HostProgram(const std::string& program) {
  if (program.empty()) return "";
  if (program[0] == '/') return Executable(program) ? program : "";
  if (program.find_first_of("/\\:") != std::string::npos) return "";
  std::vector<std::string> names{program};
  if (program.size() > 4 && winsim::SameTextNoCase(program.substr(program.size() - 4), ".exe"))
    names.push_back(program.substr(0, program.size() - 4));
  const char* path = getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (const std::string& name : names) {
    size_t start = 0;
    for (;;) {
      size_t colon = folders.find(':', start);
      std::string folder = folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (folder.empty()) folder = ".";
      if (Executable(folder + "/" + name)) return folder + "/" + name;
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  return "";
}

// "A=B\0C=D\0\0" into strings.
std::vector<std::string> SplitBlock(const char* block) {
  std::vector<std::string> entries;
  for (const char* p = block; *p; p += strlen(p) + 1) entries.push_back(p);
  return entries;
}

// Starts the program in a session of its own with standard input and output
// on /dev/null, through a second fork so that no zombie is left. Returns 0
// or the errno of the failed start; *pid gets the started process's id.
int Spawn(const std::string& host_program, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment, const std::string& folder, pid_t* pid) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;
  pid_t child = fork();
  if (child < 0) {
    int error = errno;
    close(report[0]);
    close(report[1]);
    return error;
  }
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2) close(null);
      }
      if (!folder.empty() && chdir(folder.c_str()) != 0) {
        // The folder was checked before the start; stay where we are.
      }
      execve(host_program.c_str(), argv.data(), envp.data());
      int message[2] = {1, errno};
      ssize_t ignored = write(report[1], message, sizeof message);
      (void)ignored;
      _exit(127);
    }
    int message[2] = {0, grandchild < 0 ? 0 : static_cast<int>(grandchild)};
    if (grandchild < 0) message[0] = 1, message[1] = errno;
    ssize_t ignored = write(report[1], message, sizeof message);
    (void)ignored;
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  int message[2];
  // The pipe reaches end of file once the program runs (close on exec).
  for (;;) {
    ssize_t n = read(report[0], message, sizeof message);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof message)) break;
    if (message[0] == 0)
      *pid = message[1];
    else
      error = message[1];
  }
  close(report[0]);
  return error;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace

LPCH GetEnvironmentStrings() {
  DWORD code;
  if (winsim::Fault("GetEnvironmentStrings", &code)) {
    SetLastError(code);
    return nullptr;
  }
  std::string block;
  for (char** e = environ; e && *e; ++e) block.append(*e).push_back('\0');
  if (block.empty()) block.push_back('\0');
  block.push_back('\0');
  char* copy = new char[block.size()];
  memcpy(copy, block.data(), block.size());
  Blocks().insert(copy);
  return copy;
}

BOOL FreeEnvironmentStringsA(LPCH block) {
  DWORD code;
  if (winsim::Fault("FreeEnvironmentStringsA", &code)) return Fail(code);
  auto it = Blocks().find(block);
  if (it == Blocks().end()) return Fail(ERROR_INVALID_PARAMETER);
  delete[] *it;
  Blocks().erase(it);
  return TRUE;
}

BOOL CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                    DWORD creation_flags, LPVOID environment, LPCSTR current_directory,
                    LPSTARTUPINFOA startup_info, LPPROCESS_INFORMATION process_information) {
  DWORD code;
  if (winsim::Fault("CreateProcessA", &code)) return Fail(code);
  if ((!application && !command_line) || !startup_info || !process_information)
    return Fail(ERROR_INVALID_PARAMETER);
  std::string line = command_line ? command_line : application;
  winsim::Journal({"CreateProcess", line, Hex(creation_flags), Hex(startup_info->dwFlags),
                   std::to_string(startup_info->wShowWindow)});

  // The program: the application name when given, else the first token.
  std::string program = application ? application : winsim::ProgramOf(line);
  static DWORD next_id = 0x400;
  DWORD process_id = next_id += 4;
  if (!IsRundll32(program)) {
    std::string host = HostProgram(program);
    if (host.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    std::string folder;
    if (current_directory) {
      winsim::ResolvedPath path = winsim::Resolve(current_directory);
      if (!path.exists || !path.is_dir) return Fail(267);  // ERROR_DIRECTORY
      folder = path.host;
    }
    std::vector<std::string> arguments = winsim::SplitCommandLine(line);
    if (arguments.empty()) arguments.push_back(program);
    // NULL: the new process gets this process's environment.
    std::vector<std::string> variables;
    if (environment)
      variables = SplitBlock(static_cast<const char*>(environment));
    else
      for (char** e = environ; e && *e; ++e) variables.push_back(*e);
    pid_t pid = 0;
    int error = Spawn(host, arguments, variables, folder, &pid);
    if (error != 0) return Fail(error == ENOEXEC ? 193 /* ERROR_BAD_EXE_FORMAT */ : winsim::ErrorFromErrno(error));
    if (pid > 0) process_id = static_cast<DWORD>(pid);
  }
  process_information->hProcess = winsim::NewHandle(std::make_unique<ProcessObject>());
  process_information->hThread = winsim::NewHandle(std::make_unique<ThreadObject>());
  process_information->dwProcessId = process_id;
  process_information->dwThreadId = process_id + 1;
  return TRUE;
}

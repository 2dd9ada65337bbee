// winsim print: what the port monitor does with a job sent to the printer
// ZENTAQ. It reads the port record, runs the host's Ghostscript in place of
// the product's console program, with the record's arguments mapped onto the
// machine, and feeds the job on standard input.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "platform/sim/registry/hive.h"
#include "show_tables.h"

namespace winsim_tool {

namespace {

const char kPrinters[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const char kMonitors[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char kPrinter[] = "ZENTAQ";
const char kConsoleProgram[] = "gswin32c.exe";
// Stands for the output file until the arguments are split and mapped.
const char kOutputMark[] = "\x01OUTPUT\x01";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string BaseName(const std::string& windows_path) {
  size_t cut = windows_path.find_last_of("\\/:");
  return cut == std::string::npos ? windows_path : windows_path.substr(cut + 1);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

// Where a Windows path with a drive starts in an argument: at its beginning,
// after the '@' of a response file or after the '=' of -sNAME=VALUE.
size_t DrivePathAt(const std::string& arg) {
  for (size_t i = 0; i + 2 < arg.size(); ++i) {
    bool starts = i == 0 || arg[i - 1] == '@' || arg[i - 1] == '=';
    if (starts && std::isalpha(static_cast<unsigned char>(arg[i])) && arg[i + 1] == ':' &&
        (arg[i + 2] == '\\' || arg[i + 2] == '/'))
      return i;
  }
  return std::string::npos;
}

struct PortCommand {
  std::string port;
  std::string record;     // the record's key, for messages
  std::string command;    // Windows path of the console program
  std::string arguments;  // as stored, %1 unfilled
};

PortCommand ReadPortCommand(const winsim::Hive& hive) {
  PortCommand pc;
  const winsim::RegKey* printer = hive.Find(std::string(kPrinters) + "\\" + kPrinter);
  if (!printer) throw ToolError("the machine has no printer ZENTAQ (install it first: winsim run DIR)");
  pc.port = StringOf(printer, "Port");
  // A pooled printer lists several ports; a job goes to the first.
  pc.port = pc.port.substr(0, pc.port.find(','));
  if (pc.port.empty()) throw ToolError("the printer ZENTAQ has no port (its value Port is missing or empty)");
  const winsim::RegKey* record = nullptr;
  if (const winsim::RegKey* monitors = hive.Find(kMonitors))
    for (const auto& monitor : monitors->subkeys)
      if (const winsim::RegKey* ports = monitor->Child("Ports"))
        if (const winsim::RegKey* port = ports->Child(pc.port)) record = port;
  if (!record)
    throw ToolError("the port " + pc.port + " of the printer ZENTAQ has no port record under any monitor's Ports key");
  pc.record = "HKLM\\" + record->Path();
  pc.command = StringOf(record, "Command");
  pc.arguments = StringOf(record, "Arguments");
  if (pc.command.empty()) throw ToolError("the port record " + pc.record + " has no Command");
  if (pc.arguments.empty()) throw ToolError("the port record " + pc.record + " has no Arguments");
  if (Lower(BaseName(pc.command)) != kConsoleProgram)
    throw ToolError("the port record's Command " + pc.command + " is not the Ghostscript console program " +
                    kConsoleProgram);
  if (pc.arguments.find("%1") == std::string::npos)
    throw ToolError("the port record's Arguments name no output file (%1): " + pc.arguments);
  return pc;
}

// The host's Ghostscript arguments for a job written to `host_output`.
std::vector<std::string> GhostscriptArguments(const PortCommand& pc, const std::string& host_output) {
  // The monitor fills in %1 and starts the command line, whose arguments the
  // program splits with the Windows rules.
  std::string line = "\"" + pc.command + "\" " + ReplaceAll(pc.arguments, "%1", kOutputMark);
  std::vector<std::string> args = winsim::SplitCommandLine(line);
  if (!args.empty()) args.erase(args.begin());
  // '%' in an output file name is a page-number format to Ghostscript.
  std::string output = ReplaceAll(host_output, "%", "%%");
  for (std::string& arg : args) {
    size_t at = DrivePathAt(arg);
    if (at != std::string::npos) {
      std::string windows_path = arg.substr(at);
      winsim::ResolvedPath resolved = winsim::Resolve(windows_path);
      if (at > 0 && arg[at - 1] == '@' && !resolved.exists)
        throw ToolError("the response file " + windows_path + " named by the port record is missing on the machine");
      arg = arg.substr(0, at) + resolved.host;
    }
    arg = ReplaceAll(arg, kOutputMark, output);
  }
  return args;
}

// The line of Ghostscript's output that says what went wrong.
std::string GhostscriptMessage(const std::string& output) {
  std::string last;
  size_t begin = 0;
  while (begin < output.size()) {
    size_t end = output.find('\n', begin);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find("Error:") != std::string::npos) return line;
    if (line.find_first_not_of(" \t") != std::string::npos) last = line;
    begin = end + 1;
  }
  return last.empty() ? "no message" : last;
}

// Runs Ghostscript with the job on standard input; returns its exit status
// and collects what it printed.
int RunGhostscript(const std::vector<std::string>& args, const std::string& job, std::string* printed) {
  const char* env = getenv("WINSIM_GS");
  std::string gs = env && *env ? env : "gs";
  int input = open(job.c_str(), O_RDONLY | O_CLOEXEC);
  if (input < 0) throw ToolError("cannot read " + job + ": " + strerror(errno));
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    close(input);
    throw ToolError(std::string("cannot start Ghostscript: ") + strerror(errno));
  }
  std::vector<char*> argv{const_cast<char*>(gs.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(input, 0);
    dup2(pipe_fds[1], 1);
    dup2(pipe_fds[1], 2);
    close(pipe_fds[0]);
    execvp(gs.c_str(), argv.data());
    dprintf(2, "Error: cannot run %s: %s (install the package ghostscript or set WINSIM_GS)\n", gs.c_str(),
            strerror(errno));
    _exit(127);
  }
  close(input);
  close(pipe_fds[1]);
  if (pid < 0) {
    close(pipe_fds[0]);
    throw ToolError(std::string("cannot start Ghostscript: ") + strerror(errno));
  }
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    printed->append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool LooksLikePdf(const std::string& path, off_t* size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || st.st_size < 8) return false;
  *size = st.st_size;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  char buffer[5] = {};
  bool pdf = read(fd, buffer, 5) == 5 && memcmp(buffer, "%PDF-", 5) == 0;
  close(fd);
  return pdf;
}

}  // namespace

int Print(const std::string& dir, const std::string& job, const std::string& output) {
  OpenMachineDir(dir);
  if (!IsFile(job)) throw ToolError(job + ": no such PostScript file");
  PortCommand pc = ReadPortCommand(winsim::ReadHive());
  winsim::ResolvedPath program = winsim::Resolve(pc.command);
  if (!program.exists)
    throw ToolError("the port record's Command " + pc.command + " is missing on the machine");

  std::string target = AbsolutePath(output);
  if (IsDirectory(target)) throw ToolError(output + ": is a directory");
  size_t slash = target.rfind('/');
  std::string folder = target.substr(0, slash == 0 ? 1 : slash);
  if (!IsDirectory(folder)) throw ToolError(output + ": the folder " + folder + " does not exist");

  // Ghostscript writes beside the target; the PDF takes its name only when whole.
  std::string pattern = folder + "/." + target.substr(slash + 1) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) throw ToolError("cannot write in " + folder + ": " + strerror(errno));
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  std::string partial = name.data();

  std::string printed;
  int status;
  try {
    status = RunGhostscript(GhostscriptArguments(pc, partial), job, &printed);
  } catch (...) {
    unlink(partial.c_str());
    throw;
  }
  off_t size = 0;
  if (status != 0 || !LooksLikePdf(partial, &size)) {
    unlink(partial.c_str());
    if (status != 0)
      throw ToolError("Ghostscript rejected " + job + " (exit status " + std::to_string(status) +
                      "): " + GhostscriptMessage(printed));
    throw ToolError("Ghostscript made no PDF of " + job + ": " + GhostscriptMessage(printed));
  }
  if (rename(partial.c_str(), target.c_str()) != 0) {
    int error = errno;
    unlink(partial.c_str());
    throw ToolError("cannot write " + output + ": " + strerror(error));
  }
  std::cout << "printed " << job << " through the port " << pc.port << " to " << output << " (" << size
            << " bytes)" << std::endl;
  return 0;
}

}  // namespace winsim_tool

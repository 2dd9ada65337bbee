#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "platform/sim/core/machine_internal.h"

namespace rel {

namespace {

int OpenTemp(std::string* path, const std::string& tag) {
  std::string pattern = "/tmp/reliability-" + tag + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  *path = name.data();
  return fd;
}

long long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool Digits(const std::string& text, size_t from, size_t count) {
  if (text.size() < from + count) return false;
  for (size_t i = from; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

Child Start(const std::string& root, const std::vector<std::string>& args, const std::vector<std::string>& env_add) {
  Child child;
  int out_fd = OpenTemp(&child.out_path, "out");
  int err_fd = OpenTemp(&child.err_path, "err");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    setenv("WINSIM_ROOT", root.c_str(), 1);
    for (const std::string& e : env_add) putenv(strdup(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(SETUP_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  child.pid = pid;
  return child;
}

Outcome Finish(Child child, int limit_ms, const std::function<void()>& poll) {
  Outcome outcome;
  long long deadline = NowMs() + limit_ms;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child.pid, &status, WNOHANG);
    if (done == child.pid) break;
    if (NowMs() > deadline) {
      kill(child.pid, SIGKILL);
      waitpid(child.pid, &status, 0);
      outcome.timed_out = true;
      break;
    }
    if (poll) {
      poll();
      usleep(100);
    } else {
      usleep(2000);
    }
  }
  if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.out = ReadFile(child.out_path);
  outcome.err = ReadFile(child.err_path);
  unlink(child.out_path.c_str());
  unlink(child.err_path.c_str());
  return outcome;
}

Outcome RunSetup(const std::string& root, const std::vector<std::string>& args, const std::vector<std::string>& env_add,
                 int limit_ms) {
  return Finish(Start(root, args, env_add), limit_ms);
}

bool HasSanitizerReport(const std::string& err) {
  return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

std::string NewTempDir(const std::string& tag) {
  std::string pattern = "/tmp/reliability-" + tag + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  return name.data();
}

std::string CopyTree(const std::string& from, const std::string& tag) {
  std::string to = NewTempDir(tag);
  std::string command = "cp -a '" + from + "/.' '" + to + "/'";
  if (system(command.c_str()) != 0) throw std::runtime_error("copy failed: " + command);
  return to;
}

void RemoveTree(const std::string& path) {
  if (getenv("KEEP_TEST_MACHINES") || path.compare(0, 5, "/tmp/") != 0) return;
  std::string command = "rm -rf '" + path + "'";
  if (system(command.c_str()) != 0) perror("rm");
}

std::string FreshMachine(const std::string& os, const std::string& extra) {
  std::string root = NewTempDir("machine-" + os);
  WriteFile(root + "/machine.ini", "[machine]\nos = " + os + "\nclock = virtual\ntime = 2005-01-03 08:05:00\n" + extra);
  winsim::EnsureMachine(root);
  std::string command = "mkdir -p '" + root + "/drive_c/zentaq' && cp -R '" PRODUCT_DIR "/zentaq/.' '" + root +
                        "/drive_c/zentaq/' && echo placeholder > '" + root + "/drive_c/zentaq/setup.exe'";
  winsim::Settings settings = winsim::ParseSettings(ReadFile(root + "/machine.ini"), "machine.ini");
  const winsim::OsInfo& info = winsim::InfoOf(settings.os);
  if (!info.nt_family && settings.os != winsim::Os::Win32s) {
    std::string driver_dir = root + "/drive_c/WINDOWS/SYSTEM";
    command += " && cp -R '" PRODUCT_DIR "/pscript9x/.' '" + driver_dir + "/'";
  }
  if (system(command.c_str()) != 0) throw std::runtime_error("staging failed: " + command);
  return root;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

void AppendFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << data;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string LogPath(const std::string& root) { return root + "/drive_c/zentaq/res/drivedir/setup.log"; }

std::vector<std::string> LogTexts(const std::string& log, std::string* bad) {
  std::vector<std::string> texts;
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find("\r\n", pos);
    std::string line = log.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? log.size() : end + 2;
    bool whole = end != std::string::npos && line.size() >= 15 && Digits(line, 0, 2) && line[2] == '-' &&
                 Digits(line, 3, 2) && line[5] == '-' && Digits(line, 6, 2) && line[8] == ':' && line[9] == ' ' &&
                 Digits(line, 10, 2) && line[12] == ':' && Digits(line, 13, 2) &&
                 line.find('\n') == std::string::npos;
    if (!whole && bad && bad->empty()) *bad = line.empty() ? "(empty line)" : line;
    texts.push_back(line.size() >= 15 ? line.substr(15) : line);
  }
  return texts;
}

bool IsKnownLogText(const std::string& text) {
  static const char* const kFixed[] = {"is_winnt = TRUE", "is_winnt = FALSE", "is_win4 = TRUE", "is_win4 = FALSE"};
  for (const char* fixed : kFixed)
    if (text == fixed) return true;
  static const char* const kWithCode[] = {
      "RegDeleteKey Windows 4.0 return: ", "AddMonitor: ", "AddPrinterDriver: ",       "AddPrinter: ",
      "startrpc: ",                        "DeletePrinterDriver: ", "DeleteMonitor: ", "RegDeleteKey 4.0 Driver: "};
  for (const char* prefix : kWithCode) {
    std::string p = prefix;
    if (StartsWith(text, p) && text.size() > p.size() && Digits(text, p.size(), text.size() - p.size())) return true;
  }
  static const char* const kWithPath[] = {"CopyFile InFile.Open Failed: ", "CopyFile OutFile.Open Failed: ",
                                          "CopyFile new Failed: ",         "CopyFile Read Failed: ",
                                          "CopyFile Write Failed: ",       "Printer Driver Directory: "};
  for (const char* prefix : kWithPath)
    if (StartsWith(text, prefix)) return true;
  return false;
}

std::string BadJournalLine(const std::string& journal) {
  static const std::map<std::string, size_t> kFields = {
      {"MessageBox", 5},    {"CreateProcess", 5}, {"Sleep", 2}, {"SHChangeNotify", 3},
      {"ControlService", 4}, {"StartService", 3}, {"Reboot", 1}};
  size_t pos = 0;
  while (pos < journal.size()) {
    size_t end = journal.find('\n', pos);
    if (end == std::string::npos) return "(no line end) " + journal.substr(pos);
    std::string line = journal.substr(pos, end - pos);
    pos = end + 1;
    size_t fields = 1;
    for (char c : line) fields += c == '\t';
    auto known = kFields.find(line.substr(0, line.find('\t')));
    if (known == kFields.end() || known->second != fields) return line;
  }
  return "";
}

std::string HiveError(const std::string& root) {
  try {
    winsim::Hive::Parse(ReadFile(root + "/system.reg"), "system.reg");
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

namespace {

void DumpKey(const winsim::RegKey& key, std::vector<std::string>* lines) {
  std::string path = winsim::LowerAscii(key.Path());
  lines->push_back(path);
  for (const winsim::RegValue& value : key.values) {
    std::string line = path + "\t" + winsim::LowerAscii(value.name) + "\t" + std::to_string(value.type) + "\t";
    for (uint8_t byte : value.data) {
      char hex[4];
      snprintf(hex, sizeof hex, "%02x", byte);
      line += hex;
    }
    lines->push_back(line);
  }
  for (const auto& sub : key.subkeys) DumpKey(*sub, lines);
}

}  // namespace

std::string SortedHive(const std::string& root) {
  winsim::Hive hive = winsim::Hive::Parse(ReadFile(root + "/system.reg"), "system.reg");
  std::vector<std::string> lines;
  DumpKey(hive.root(), &lines);
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::vector<std::string> BoxTexts(const std::string& journal) {
  std::vector<std::string> texts;
  std::istringstream in(journal);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields = winsim::JournalFields(line);
    if (fields[0] == "MessageBox" && fields.size() == 5) texts.push_back(fields[3]);
  }
  return texts;
}

}  // namespace rel

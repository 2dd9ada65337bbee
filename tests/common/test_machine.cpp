#include "common/test_machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/sim/machine.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void MakeDirs(const std::string& path) {
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!part.empty()) mkdir(part.c_str(), 0755);
    }
    if (i < path.size()) part += path[i];
  }
}

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

TestMachine::TestMachine(const std::string& os, const std::string& extra) {
  char pattern[] = "/tmp/winsim-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::string ini = "[machine]\nos = " + os + "\n";
  if (extra.find("clock") == std::string::npos) ini += "clock = virtual\n";
  if (extra.find("time") == std::string::npos) ini += "time = 2005-01-03 08:05:00\n";
  ini += extra;
  if (!ini.empty() && ini.back() != '\n') ini += "\n";
  Spit(root_ + "/machine.ini", ini);
  winsim::EnsureMachine(root_);
}

TestMachine::~TestMachine() {
  if (getenv("KEEP_TEST_MACHINES")) return;
  std::string cmd = "rm -rf '" + root_ + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

std::string TestMachine::Host(const std::string& windows_path) const {
  std::string p = windows_path;
  for (char& c : p)
    if (c == '\\') c = '/';
  std::string drive = "c";
  if (p.size() >= 2 && p[1] == ':') {
    drive = std::string(1, static_cast<char>(tolower(static_cast<unsigned char>(p[0]))));
    p = p.substr(2);
  }
  if (!p.empty() && p[0] == '/') p = p.substr(1);
  return root_ + "/drive_" + drive + (p.empty() ? "" : "/" + p);
}

void TestMachine::Write(const std::string& windows_path, const std::string& content) const {
  std::string host = Host(windows_path);
  MakeDirs(Parent(host));
  Spit(host, content);
}

std::string TestMachine::Read(const std::string& windows_path) const { return Slurp(Host(windows_path)); }

bool TestMachine::Exists(const std::string& windows_path) const {
  struct stat st;
  return stat(Host(windows_path).c_str(), &st) == 0;
}

void TestMachine::Remove(const std::string& windows_path) const { unlink(Host(windows_path).c_str()); }

void TestMachine::StageProduct(const std::string& folder, bool pscript) const {
  std::string target = Host(folder);
  MakeDirs(target);
  std::string cmd = "cp -R '" PRODUCT_DIR "/zentaq/.' '" + target + "/'";
  if (system(cmd.c_str()) != 0) throw std::runtime_error("staging failed: " + cmd);
  Spit(target + "/setup.exe", "placeholder of the setup program\n");
  winsim::Os os;
  std::string ini = Slurp(root_ + "/machine.ini");
  winsim::Settings settings = winsim::ParseSettings(ini, "machine.ini");
  os = settings.os;
  const winsim::OsInfo& info = winsim::InfoOf(os);
  if (pscript && !info.nt_family && os != winsim::Os::Win32s) {
    std::string driver_dir = Host(info.driver_dir);
    MakeDirs(driver_dir);
    std::string copy = "cp -R '" PRODUCT_DIR "/pscript9x/.' '" + driver_dir + "/'";
    if (system(copy.c_str()) != 0) throw std::runtime_error("staging failed: " + copy);
  }
}

RunResult TestMachine::Setup(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv{SETUP_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, {"WINSIM_ROOT=" + root_}, input);
}

void TestMachine::Answer(const std::vector<std::string>& answers) const {
  std::string text = MachineFile("answers");
  for (const auto& a : answers) text += a + "\n";
  Spit(root_ + "/answers", text);
}

std::string TestMachine::MachineFile(const std::string& name) const { return Slurp(root_ + "/" + name); }

std::vector<std::string> TestMachine::JournalLines(const std::string& event) const {
  std::vector<std::string> lines;
  for (const auto& line : SplitLines(Journal()))
    if (event.empty() || line == event || line.compare(0, event.size() + 1, event + "\t") == 0)
      lines.push_back(line);
  return lines;
}

void TestMachine::Use() const { winsim::Machine::Open(root_); }

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env_add,
                     const std::string& input) {
  RunResult result;
  char out_name[] = "/tmp/winsim-out-XXXXXX";
  char err_name[] = "/tmp/winsim-err-XXXXXX";
  char in_name[] = "/tmp/winsim-in-XXXXXX";
  int out_fd = mkstemp(out_name);
  int err_fd = mkstemp(err_name);
  int in_fd = mkstemp(in_name);
  if (out_fd < 0 || err_fd < 0 || in_fd < 0) throw std::runtime_error("mkstemp failed");
  if (write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
    throw std::runtime_error("write failed");
  lseek(in_fd, 0, SEEK_SET);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    for (const auto& e : env_add) putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = Slurp(out_name);
  result.err = Slurp(err_name);
  close(out_fd);
  close(err_fd);
  close(in_fd);
  unlink(out_name);
  unlink(err_name);
  unlink(in_name);
  return result;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

bool OthersCanLock(const std::string& root) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

#include "bench_machine.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + strerror(errno)); }

}  // namespace

ScratchDir::ScratchDir(const std::string& tag) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/setup-bench-" + tag + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) Fail("mkdtemp " + pattern);
  path_ = buffer.data();
}

ScratchDir::~ScratchDir() { nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

double NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

ProcessRun RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env_add) {
  // Everything the child needs is prepared before the fork.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) env_text.push_back(*e);
  for (const std::string& add : env_add) {
    std::string name = add.substr(0, add.find('=') + 1);
    for (auto it = env_text.begin(); it != env_text.end();)
      it = it->compare(0, name.size(), name) == 0 ? env_text.erase(it) : it + 1;
    env_text.push_back(add);
  }
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(&e[0]);
  env.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) Fail("pipe");
  ProcessRun run;
  double start = NowMs();
  pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(out[1], 1);
    dup2(null_fd, 2);
    close(out[0]);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  close(out[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    run.out.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) Fail("wait4");
  run.wall_ms = NowMs() - start;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto ms = [](const struct timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
  run.cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
  run.max_rss_kib = usage.ru_maxrss;
  return run;
}

std::string SetupProgram() { return BENCH_SETUP_BINARY; }
std::string WinsimProgram() { return BENCH_WINSIM_BINARY; }

void MakeMachine(const std::string& root, const std::string& os, const std::string& settings) {
  ProcessRun init = RunProcess({WinsimProgram(), "init", "--os", os, "--product", root});
  if (init.status != 0) throw std::runtime_error("winsim init " + root + " failed");
  WriteFile(root + "/machine.ini", "[machine]\nos = " + os + "\n" + settings);
}

std::string ExtraKeysText(int keys) {
  std::string text;
  text.reserve(static_cast<size_t>(keys) * 80);
  char line[160];
  for (int i = 0; i < keys; ++i) {
    snprintf(line, sizeof line,
             "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Group%03d\\Key%05d]\n\"Name\"=\"value of key %d\"\n",
             i / 1000, i, i);
    text += line;
  }
  return text;
}

std::string LargeHiveText(int keys) { return "REGEDIT4\n" + ExtraKeysText(keys); }

void AddKeys(const std::string& root, int keys) {
  std::string path = root + "/system.reg";
  WriteFile(path, ReadFile(path) + ExtraKeysText(keys));
}

void CopyTree(const std::string& from, const std::string& to) {
  if (RunProcess({"/bin/cp", "-a", from, to}).status != 0) throw std::runtime_error("cp -a " + from + " failed");
}

std::string ReadFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) Fail("open " + path);
  std::string data;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  fclose(f);
  return data;
}

void WriteFile(const std::string& path, const std::string& data) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) Fail("create " + path);
  bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
  if (fclose(f) != 0 || !ok) Fail("write " + path);
}

long JournalPauses(const std::string& journal) {
  long total = 0;
  size_t pos = 0;
  while ((pos = journal.find("Sleep\t", pos)) != std::string::npos) {
    if (pos == 0 || journal[pos - 1] == '\n') total += atol(journal.c_str() + pos + 6);
    pos += 6;
  }
  return total;
}

}  // namespace bench

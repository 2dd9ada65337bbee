// winsim run: the POSIX setup program on a machine, its output passed through
// as it comes and its exit status passed on.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "commands.h"

namespace winsim_tool {

int Run(const std::string& dir, const std::vector<std::string>& args) {
  OpenMachineDir(dir);
  std::string root = winsim::Machine::Get().root();
  std::string program = SetupProgram();

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  std::cout.flush();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw ToolError(std::string("cannot start the setup program: ") + strerror(errno));
  if (pid == 0) {
    setenv("WINSIM_ROOT", root.c_str(), 1);
    execv(program.c_str(), argv.data());
    fprintf(stderr, "winsim: cannot run %s: %s\n", program.c_str(), strerror(errno));
    _exit(127);
  }
  // A Ctrl-C reaches the setup program too; winsim waits for it to end and
  // reports how it ended.
  struct sigaction ignore = {}, old_int = {}, old_quit = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  int status = 0;
  pid_t waited;
  do waited = waitpid(pid, &status, 0);
  while (waited < 0 && errno == EINTR);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  if (waited < 0) throw ToolError(std::string("lost the setup program: ") + strerror(errno));
  if (WIFSIGNALED(status)) {
    std::cerr << "winsim: the setup program was ended by signal " << WTERMSIG(status) << std::endl;
    return 128 + WTERMSIG(status);
  }
  return WEXITSTATUS(status);
}

}  // namespace winsim_tool

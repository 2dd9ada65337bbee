#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "commands.h"
#include "platform/sim/registry/hive.h"

namespace winsim_tool {

namespace {

std::string ExecutableDir() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

bool IsExecutable(const std::string& path) { return IsFile(path) && access(path.c_str(), X_OK) == 0; }

}  // namespace

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) throw ToolError("cannot determine the current folder");
  std::string base = cwd;
  std::string rest = path;
  while (rest.compare(0, 2, "./") == 0) rest = rest.substr(2);
  if (rest == ".") return base;
  return base + "/" + rest;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

winsim::Settings OpenMachineDir(const std::string& dir) {
  std::string root = AbsolutePath(dir);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!IsDirectory(root)) throw ToolError(dir + ": no such machine directory");
  std::string ini_path = root + "/machine.ini";
  std::string ini;
  if (!winsim::ReadWholeFile(ini_path, &ini))
    throw ToolError(dir + ": not a machine (no machine.ini); make one with 'winsim init'");
  winsim::Settings settings = winsim::ParseSettings(ini, ini_path);
  // A damaged hive is reported before anything runs, so that nothing reads
  // half of it or writes it back.
  std::string hive;
  if (winsim::ReadWholeFile(root + "/system.reg", &hive)) winsim::Hive::Parse(hive, root + "/system.reg");
  winsim::Machine::Open(root);
  // Changes that a killed program left in the hive's log go into system.reg
  // before anything looks at the machine.
  if (IsFile(root + "/system.reg.log")) winsim::CompactHive();
  return settings;
}

std::string ProductDir() {
  if (const char* env = getenv("WINSIM_PRODUCT_DIR"); env && *env) return env;
  return WINSIM_DEFAULT_PRODUCT_DIR;
}

std::string SetupProgram() {
  if (const char* env = getenv("WINSIM_SETUP"); env && *env) {
    if (!IsExecutable(env)) throw ToolError(std::string("WINSIM_SETUP: no setup program at ") + env);
    return env;
  }
  std::string exe_dir = ExecutableDir();
  for (const std::string& candidate : {exe_dir + "/setup", std::string(WINSIM_DEFAULT_SETUP)})
    if (IsExecutable(candidate)) return candidate;
  throw ToolError("the setup program was not found beside winsim nor at " WINSIM_DEFAULT_SETUP
                  "; build the target 'setup' or set WINSIM_SETUP");
}

}  // namespace winsim_tool

#include "winsim_cli.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

Scratch::Scratch() {
  char pattern[] = "/tmp/winsim-cli-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

Scratch::~Scratch() {
  if (getenv("KEEP_TEST_MACHINES")) return;
  std::string cmd = "rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

RunResult Winsim(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> argv{WINSIM_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment{"WINSIM_SETUP=" SETUP_BINARY, "WINSIM_PRODUCT_DIR=" PRODUCT_DIR};
  environment.insert(environment.end(), env.begin(), env.end());
  return RunProgram(argv, environment);
}

void InitMachine(const std::string& dir, const std::string& os) {
  RunResult init = Winsim({"init", "--os", os, "--product", dir});
  ASSERT_EQ(init.status, 0) << init.err;
  std::ofstream(dir + "/machine.ini", std::ios::app) << "clock = virtual\ntime = 2005-01-03 08:05:00\n";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsOneLineError(const RunResult& result) {
  size_t newline = result.err.find('\n');
  return result.status != 0 && result.err.rfind("winsim: ", 0) == 0 && newline == result.err.size() - 1;
}

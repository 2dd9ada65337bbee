// Runs the built winsim as a user would, in scratch folders of its own.
#pragma once

#include <string>
#include <vector>

#include "common/test_machine.h"

// A fresh empty folder, removed with everything in it at the end of the test.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

RunResult Winsim(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

// `winsim init --product` with a virtual clock, so that the setup program's
// pauses take no time; fails the test when init fails.
void InitMachine(const std::string& dir, const std::string& os);

std::string Slurp(const std::string& path);
void Spit(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& dir);
// A failure as the user should see it: a nonzero status and one line on stderr.
bool IsOneLineError(const RunResult& result);

// The subcommands of winsim and the helpers they share.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace winsim_tool {

// An error the user caused or can fix: printed as one line, exit status 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int Init(const std::string& os, bool product, const std::string& dir);
int Run(const std::string& dir, const std::vector<std::string>& args);
int Show(const std::string& dir);
int Reboot(const std::string& dir);
int Answer(const std::string& dir, const std::vector<std::string>& answers);
int Print(const std::string& dir, const std::string& job, const std::string& output);

// --- machine_dir.cpp ------------------------------------------------------

std::string AbsolutePath(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsFile(const std::string& path);

// Checks that `dir` is a usable machine (a folder with a machine.ini that
// parses, and a system.reg that parses when present), then makes it the
// machine of this process. Nothing is written. Throws ToolError or
// winsim::MachineError.
winsim::Settings OpenMachineDir(const std::string& dir);

// The folder that holds product/zentaq and product/pscript9x.
std::string ProductDir();
// The POSIX setup program.
std::string SetupProgram();

}  // namespace winsim_tool

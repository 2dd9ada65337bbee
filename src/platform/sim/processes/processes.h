// Processes on the simulated machine: the process's own command line, the
// processes it starts, and the libraries that the spooler holds loaded.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/core/machine.h"

namespace winsim {

// --- the process ----------------------------------------------------------------

// Composes the process command line that GetCommandLineA returns from the
// POSIX argv: the machine's module path as program name, then the arguments
// quoted with the Windows rules (so that a Windows argv parser gives them back).
void SetProcessCommandLine(int argc, char** argv);
// Splits a command line with the Windows (MSVCRT) rules.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// --- loaded monitor libraries (state.ini [loaded]) -------------------------

bool IsLibraryHeld(const std::string& windows_path);
void LoadLibraryHeld(const std::string& windows_path);
void ReleaseAllLibraries();
std::vector<std::string> HeldLibraries();

// The machine boots again: on 9x the loaded set becomes the registered
// monitors' libraries; journal "Reboot".
void Reboot();

// --- processes (command_line.cpp) ------------------------------------------------

// Quotes one argument so that SplitCommandLine gives it back.
std::string QuoteArgument(const std::string& argument);
// The program name at the start of a command line, as the C runtime's start-up
// takes it (up to the closing quote, or up to the first blank).
std::string ProgramOf(const std::string& command_line);

}  // namespace winsim

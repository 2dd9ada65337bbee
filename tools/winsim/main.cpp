// winsim: makes, runs, inspects and prints on a simulated Windows machine.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>

#include "commands.h"

namespace {

std::string OsList() {
  std::string list;
  for (const auto& info : winsim::AllOses()) list += (list.empty() ? "" : ", ") + std::string(info.name);
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"winsim: a simulated Windows machine for the setup program (a machine is a directory)", "winsim"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Print the help of every subcommand");

  std::string dir, os = "xp", job, output;
  bool product = false;
  std::vector<std::string> words;

  CLI::App* init = app.add_subcommand("init", "Make a fresh machine in DIR (a new or empty folder)");
  init->add_option("--os", os, "The system: " + OsList())->default_str("xp");
  init->add_flag("--product", product,
                 "Put the placeholder product files under c:\\zentaq and, on 95/98/Me, the system's "
                 "PostScript driver placeholders in the driver directory");
  init->add_option("DIR", dir, "The machine directory")->required();

  CLI::App* run = app.add_subcommand("run", "Run the setup program on the machine DIR");
  run->add_option("DIR", dir, "The machine directory")->required();
  run->add_option("ARGS", words, "The setup program's arguments (after --), e.g. -- uninstall");
  run->footer("The setup program's exit status is passed on.");

  CLI::App* show = app.add_subcommand("show", "Print the spooler's state, the product's records, the setup log and "
                                              "the journal of the machine DIR");
  show->add_option("DIR", dir, "The machine directory")->required();

  CLI::App* reboot = app.add_subcommand("reboot", "Restart the machine DIR");
  reboot->add_option("DIR", dir, "The machine directory")->required();

  CLI::App* answer = app.add_subcommand("answer", "Queue answers for the next message boxes on the machine DIR");
  answer->add_option("DIR", dir, "The machine directory")->required();
  answer->add_option("ANSWER", words, "ok, cancel, yes or no, in the order the boxes come")->required();

  CLI::App* print = app.add_subcommand("print", "Print a PostScript job through the printer ZENTAQ of the machine DIR "
                                                "into a PDF, as its port monitor does");
  print->add_option("DIR", dir, "The machine directory")->required();
  print->add_option("JOB", job, "The PostScript job")->required();
  print->add_option("OUTPUT", output, "The PDF to write")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "winsim: " << e.what() << " (see winsim --help)" << std::endl;
    return 2;
  }

  try {
    if (*init) return winsim_tool::Init(os, product, dir);
    if (*run) return winsim_tool::Run(dir, words);
    if (*show) return winsim_tool::Show(dir);
    if (*reboot) return winsim_tool::Reboot(dir);
    if (*answer) return winsim_tool::Answer(dir, words);
    if (*print) return winsim_tool::Print(dir, job, output);
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n' || c == '\r') c = ' ';
    std::cout.flush();
    std::cerr << "winsim: " << message << std::endl;
    return 1;
  }
  return 2;
}

// Whole runs through winsim: make a machine, install, look, print, uninstall.
#include <gtest/gtest.h>

#include "winsim_cli.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Section(const std::string& show, const std::string& title) {
  size_t begin = show.find("== " + title);
  if (begin == std::string::npos) return "";
  size_t end = show.find("\n== ", begin + 1);
  return show.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

TEST(WinsimScenario, InstallOnXpShowsTheSpoolerAndPrintsARealPdf) {
  Scratch scratch;
  std::string machine = scratch / "xp";
  InitMachine(machine, "xp");
  EXPECT_TRUE(Exists(machine + "/drive_c/zentaq/res/pdfwrite.rsp"));

  RunResult run = Winsim({"run", machine, "--"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "Adding printer")) << run.out;

  RunResult show = Winsim({"show", machine});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_TRUE(Has(Section(show.out, "monitors"), "ZENTAQ Monitor  ztqmon.dll")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "monitors"), "Local Port")) << show.out;
  std::string ports = Section(show.out, "ports");
  EXPECT_LT(ports.find("LPT1:"), ports.find("ZENTAQPORT")) << ports;
  EXPECT_TRUE(Has(ports, "ZENTAQ Redirected Port")) << ports;
  std::string drivers = Section(show.out, "drivers");
  EXPECT_TRUE(Has(drivers, "ZENTAQ Printer Driver  [Windows NT x86, Version-")) << drivers;
  EXPECT_TRUE(Has(drivers, "Zentaqui.dll")) << drivers;
  EXPECT_TRUE(Has(Section(show.out, "printers"), "ZENTAQ  ZENTAQPORT  ZENTAQ Printer Driver  winprint")) << show.out;
  std::string record = Section(show.out, "port record of ZENTAQPORT");
  EXPECT_TRUE(Has(record, "Command       REG_SZ     35      \"c:\\zentaq\\res\\convert\\gswin32c.exe\"")) << record;
  EXPECT_TRUE(Has(record, "ShowWindow    REG_DWORD  4       2 (0x2)")) << record;
  std::string config = Section(show.out, "configuration of the printer ZENTAQ");
  EXPECT_TRUE(Has(config, "TTFontSubTableSize  REG_DWORD")) << config;
  EXPECT_TRUE(Has(config, "Default DevMode     REG_BINARY")) << config;
  EXPECT_FALSE(Has(config, "(absent)")) << config;
  EXPECT_TRUE(Has(Section(show.out, "Add/Remove Programs entry"), "UninstallString")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "loaded monitor libraries"), "ztqmon.dll")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "journal"), "CreateProcess")) << show.out;

  std::string pdf = scratch / "out dir";
  ASSERT_EQ(system(("mkdir '" + pdf + "'").c_str()), 0);
  pdf += "/sample 100%.pdf";
  RunResult print = Winsim({"print", machine, SAMPLE_PS, pdf});
  ASSERT_EQ(print.status, 0) << print.out << print.err;
  EXPECT_EQ(Listing(scratch / "out dir"), std::vector<std::string>{"sample 100%.pdf"});
  RunResult info = RunProgram({"/usr/bin/pdfinfo", pdf}, {});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(Has(info.out, "Pages:           1")) << info.out;
  RunResult text = RunProgram({"/usr/bin/pdftotext", pdf, "-"}, {});
  EXPECT_TRUE(Has(text.out, "ZENTAQ sample page")) << text.out;
}

TEST(WinsimScenario, InstallOn98UsesTheStagedPostScriptDriverAndSurvivesAReboot) {
  Scratch scratch;
  std::string machine = scratch / "98";
  InitMachine(machine, "98");
  EXPECT_TRUE(Exists(machine + "/drive_c/WINDOWS/SYSTEM/Pscript.drv"));
  EXPECT_TRUE(Exists(machine + "/drive_c/WINDOWS/SYSTEM/Pscript.hlp"));

  RunResult run = Winsim({"run", machine});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(Winsim({"reboot", machine}).status, 0);
  RunResult show = Winsim({"show", machine});
  EXPECT_TRUE(Has(Section(show.out, "monitors"), "ztqmon95.dll")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "drivers"), "ZENTAQ Printer Driver  [Windows 4.0]")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "loaded monitor libraries"), "ztqmon95.dll")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "journal"), "Reboot")) << show.out;

  RunResult print = Winsim({"print", machine, SAMPLE_PS, scratch / "98.pdf"});
  EXPECT_EQ(print.status, 0) << print.err;
}

TEST(WinsimScenario, UninstallIsAnsweredThroughAnswer) {
  Scratch scratch;
  std::string machine = scratch / "xp";
  InitMachine(machine, "xp");
  ASSERT_EQ(Winsim({"run", machine}).status, 0);

  // No: everything stays, and the run does not report success.
  ASSERT_EQ(Winsim({"answer", machine, "no"}).status, 0);
  RunResult declined = Winsim({"run", machine, "--", "uninstall"});
  EXPECT_NE(declined.status, 0);
  EXPECT_TRUE(Has(Winsim({"show", machine}).out, "ZENTAQ  ZENTAQPORT")) << "declined uninstall removed the printer";

  // Yes: the spooler forgets the product.
  ASSERT_EQ(Winsim({"answer", machine, "YES"}).status, 0);
  RunResult removed = Winsim({"run", machine, "--", "uninstall"});
  EXPECT_EQ(removed.status, 0) << removed.out << removed.err;
  RunResult show = Winsim({"show", machine});
  EXPECT_FALSE(Has(Section(show.out, "printers"), "ZENTAQ")) << show.out;
  EXPECT_FALSE(Has(Section(show.out, "monitors"), "ZENTAQ Monitor")) << show.out;
  EXPECT_TRUE(Has(Section(show.out, "Add/Remove Programs entry"), "(none)")) << show.out;
  EXPECT_EQ(Slurp(machine + "/answers"), "");
}

// A spooler that takes 200 s to stop outlasts both restarts of an uninstall
// (each gives up waiting for it after 30 s): the next process finds the stop
// still under way, 200 s less the 62 s of pauses, and a reboot forgets it.
TEST(WinsimScenario, AStopUnderWayOutlivesTheRunThatAskedForIt) {
  Scratch scratch;
  std::string machine = scratch / "xp";
  InitMachine(machine, "xp");
  Spit(machine + "/machine.ini",
       Slurp(machine + "/machine.ini") + "\n[machine]\nclock = virtual\n[spooler]\nstop_ms = 200000\n");
  ASSERT_EQ(Winsim({"run", machine}).status, 0);
  ASSERT_EQ(Winsim({"answer", machine, "yes"}).status, 0);
  ASSERT_EQ(Winsim({"run", machine, "--", "uninstall"}).status, 0);
  RunResult show = Winsim({"show", machine});
  EXPECT_TRUE(Has(Section(show.out, "machine"), "spooler  stopping (138000 ms left)")) << show.out;
  ASSERT_EQ(Winsim({"reboot", machine}).status, 0);
  show = Winsim({"show", machine});
  EXPECT_TRUE(Has(Section(show.out, "machine"), "spooler  running")) << show.out;
}

TEST(WinsimScenario, RunPassesArgumentsMachineAndExitStatusThrough) {
  Scratch scratch;
  std::string machine = scratch / "m";
  ASSERT_EQ(Winsim({"init", machine}).status, 0);
  std::string fake = scratch / "fake-setup";
  Spit(fake, "#!/bin/sh\necho \"root=$WINSIM_ROOT args=$*\"\nexit 42\n");
  ASSERT_EQ(system(("chmod +x '" + fake + "'").c_str()), 0);
  RunResult run = Winsim({"run", machine, "--", "uninstall", "-x"}, {"WINSIM_SETUP=" + fake});
  EXPECT_EQ(run.status, 42);
  EXPECT_EQ(run.out, "root=" + machine + " args=uninstall -x\n");
}

}  // namespace

// An install over an earlier one: the upgrade guard finds the old monitor
// library held by the spooler and frees it (NT), lets a same-size one be
// (9x), or clears the old installation away and asks for a reboot.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "install/install_checks.h"
#include "platform/win32.h"

using namespace checks;

namespace {

const char kRebootNt[] = "In order to upgrade zentaq you must reboot and re-run setup.";
const char kReboot9x[] = "In order to upgrade zentaq you must reboot and then re-run setup.";
const char kDeletePrinter[] =
    "In order to upgrade zentaq you must delete the existing ZENTAQ printer from Windows Printer Settings and "
    "re-run setup.";

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> Since(const std::vector<std::string>& all, size_t from) {
  return std::vector<std::string>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
}

std::vector<std::string> Boxes(const std::vector<std::string>& events) {
  std::vector<std::string> boxes;
  for (const auto& event : events)
    if (event.rfind("Box ", 0) == 0) boxes.push_back(event);
  return boxes;
}

void AppendToMachineIni(const TestMachine& machine, const std::string& text) {
  std::ofstream ini(machine.root() + "/machine.ini", std::ios::app);
  ini << text;
}

bool Held(const TestMachine& machine, const std::string& path) {
  machine.Use();
  return winsim::IsLibraryHeld(path);
}

TEST(NtUpgrade, FreesTheHeldLibraryQuietlyAndInstallsAgain) {
  TestMachine machine("xp");
  machine.StageProduct();
  ASSERT_EQ(machine.Setup().status, 0);
  const std::string library = std::string(Info("xp").system_dir) + "\\ztqmon.dll";
  ASSERT_TRUE(Held(machine, library));
  machine.Write("c:\\zentaq\\res\\drivedir\\ztqmon.dll", "the new release's monitor");
  const size_t mark = Summary(machine).size();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> events = Since(Summary(machine), mark);
  EXPECT_EQ(Boxes(events), std::vector<std::string>{}) << "the quiet uninstall shows nothing";
  EXPECT_EQ(std::count(events.begin(), events.end(), "Sleep 500"), 4) << "two spooler restarts";
  EXPECT_EQ(events.back(), Readme());
  EXPECT_EQ(machine.Read(library), "the new release's monitor");
  winsim::Hive hive = HiveOf(machine);
  EXPECT_TRUE(HasKey(hive, kPrinterKey));
  EXPECT_TRUE(HasKey(hive, kEntryKey));
  EXPECT_EQ(Bytes(hive, kPortKey, "Command"), Sz("c:\\zentaq\\res\\convert\\gswin32c.exe"));
}

// A library that can't be deleted for another reason counts as held, and no
// uninstall frees it.
TEST(NtUpgrade, ALibraryThatStaysHeldEndsWithTheRebootMessage) {
  const std::string library = std::string(Info("2000").system_dir) + "\\ztqmon.dll";
  TestMachine machine("2000", "[attributes]\n" + library + " = readonly\n");
  machine.StageProduct();
  machine.Write(library, "an old release's monitor");

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 3010);
  std::vector<std::string> events = Summary(machine);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), Box(kRebootNt));
  EXPECT_EQ(Boxes(events), std::vector<std::string>{Box(kRebootNt)});
  EXPECT_EQ(std::count(events.begin(), events.end(), "Sleep 500"), 4) << "the quiet uninstall ran";
  EXPECT_EQ(machine.Read(library), "an old release's monitor");
  EXPECT_FALSE(machine.Exists(std::string(Info("2000").system_dir) + "\\ztqmona.dll")) << "nothing copied";
  EXPECT_EQ(run.out, "");
}

TEST(NineXUpgrade, SameSizeHeldLibraryGoesOnAndTheCopiesOverItFail) {
  TestMachine machine("98");
  machine.StageProduct();
  ASSERT_EQ(machine.Setup().status, 0);
  const size_t journal_mark = Summary(machine).size();
  const size_t log_mark = LogTexts(machine).size();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 0) << "the printer is there already";
  EXPECT_EQ(Boxes(Since(Summary(machine), journal_mark)), std::vector<std::string>{});
  std::vector<std::string> log = Since(LogTexts(machine), log_mark);
  EXPECT_TRUE(Contains(log, "CopyFile OutFile.Open Failed: c:\\zentaq\\res\\drivedir\\ztqmon95.dll"));
  EXPECT_TRUE(Contains(log, "AddMonitor: 3006"));
  EXPECT_TRUE(Contains(log, "AddPrinter: 1802"));
  EXPECT_TRUE(HasKey(HiveOf(machine), kPortKey));
}

TEST(NineXUpgrade, AMissingStagedLibraryCountsAsTheSameSize) {
  TestMachine machine("98");
  machine.StageProduct();
  ASSERT_EQ(machine.Setup().status, 0);
  machine.Remove("c:\\zentaq\\res\\drivedir\\ztqmon95.dll");
  const size_t journal_mark = Summary(machine).size();
  const size_t log_mark = LogTexts(machine).size();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Boxes(Since(Summary(machine), journal_mark)), std::vector<std::string>{});
  EXPECT_TRUE(Contains(Since(LogTexts(machine), log_mark),
                       "CopyFile InFile.Open Failed: c:\\zentaq\\res\\drivedir\\ztqmon95.dll"));
}

struct OtherSize {
  const char* faults;                 // appended to machine.ini before the second run
  std::vector<std::string> boxes;     // in order
};

class NineXOtherSize : public ::testing::TestWithParam<OtherSize> {};

TEST_P(NineXOtherSize, ClearsTheOldInstallationAndAsksForAReboot) {
  const OtherSize other = GetParam();
  TestMachine machine("98");
  machine.StageProduct();
  ASSERT_EQ(machine.Setup().status, 0);
  const std::string drv = std::string(Info("98").driver_dir) + "\\";
  machine.Write("c:\\zentaq\\res\\drivedir\\ztqmon95.dll", "a new release's monitor library, of another size");
  machine.Write("c:\\zentaq\\res\\drivedir\\gs.PPD", "a new release's description file");
  AppendToMachineIni(machine, other.faults);
  const size_t journal_mark = Summary(machine).size();
  const size_t log_mark = LogTexts(machine).size();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 3010);
  std::vector<std::string> events = Since(Summary(machine), journal_mark);
  EXPECT_EQ(Boxes(events), other.boxes);
  EXPECT_EQ(events.back(), other.boxes.back()) << "nothing after the reboot message";
  std::vector<std::string> log = Since(LogTexts(machine), log_mark);
  EXPECT_EQ(log, (std::vector<std::string>{"is_winnt = FALSE", "is_win4 = TRUE", "RegDeleteKey Windows 4.0 return: 0"}));
  winsim::Hive hive = HiveOf(machine);
  EXPECT_FALSE(HasKey(hive, kPrinterKey));
  EXPECT_FALSE(HasKey(hive, kMonitorKey));
  EXPECT_FALSE(HasKey(hive, k9xDriverKey));
  // Nothing copied.
  EXPECT_EQ(machine.Read(drv + "gs.PPD"), Product("res/drivedir/gs.PPD"));
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Printer, NineXOtherSize,
    ::testing::Values(OtherSize{"", {Box(kReboot9x)}},
                      OtherSize{"[faults]\nDeletePrinter = 5\n", {Box(kDeletePrinter), Box(kReboot9x)}}),
    [](const ::testing::TestParamInfo<OtherSize>& param) {
      return param.index == 0 ? std::string("Deleted") : std::string("RefusesDeletion");
    });

}  // namespace

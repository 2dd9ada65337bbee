// Where the install takes its files from: the folder setup runs from for what
// it copies and for the port record's paths, the install root for the
// DevMode, the pages and the log; and what a missing source or a held
// destination does to the rest of the install.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/install_checks.h"
#include "platform/win32.h"

using namespace checks;

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(StartedFromAnotherFolder, CopiesFromThereButReadsTheDevModeAndPagesFromTheInstallRoot) {
  TestMachine machine("xp", "module = d:\\cd\\setup.exe\n");
  machine.StageProduct("c:\\zentaq");
  machine.StageProduct("d:\\cd");
  // Tell the two copies apart.
  machine.Write("d:\\cd\\res\\drivedir\\ztqmon.dll", "monitor from the cd");
  machine.Write("d:\\cd\\res\\drivedir\\fontsub.tbl", "fonts from the cd");
  machine.Write("d:\\cd\\res\\drivedir\\printerdata.dat", "printer data from the cd");
  machine.Write("d:\\cd\\res\\drivedir\\dfdevmdnt.dat", "devmode from the cd");
  machine.Write("c:\\zentaq\\res\\drivedir\\dfdevmdnt.dat", "devmode of the install root");
  machine.Write("c:\\zentaq\\res\\drivedir\\fontsub.tbl", "fonts of the install root");

  RunResult run = machine.Setup();
  ASSERT_EQ(run.status, 0) << run.err;

  const winsim::OsInfo& info = Info("xp");
  EXPECT_EQ(machine.Read(std::string(info.system_dir) + "\\ztqmon.dll"), "monitor from the cd");
  EXPECT_EQ(machine.Read(std::string(info.driver_dir) + "\\fontsub.tbl"), "fonts from the cd");
  winsim::Hive hive = HiveOf(machine);
  EXPECT_EQ(Bytes(hive, kPortKey, "Command"), Sz("d:\\cd\\res\\convert\\gswin32c.exe"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Command").size(), 5u + 26u);
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments"), Sz("@d:\\cd\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments").size(), 5u + 54u);
  EXPECT_EQ(Bytes(hive, kDriverDataKey, "TTFontSubTable"), "fonts from the cd");
  EXPECT_EQ(Bytes(hive, kDriverDataKey, "PrinterData"), "printer data from the cd");
  EXPECT_EQ(Bytes(hive, kPrinterKey, "Default DevMode"), "devmode of the install root");
  // The log and the readme stay under the install root; the entry names its setup copy.
  EXPECT_EQ(LogTexts(machine).size(), 3u);
  EXPECT_FALSE(machine.Exists("d:\\cd\\res\\drivedir\\setup.log"));
  EXPECT_EQ(Summary(machine).back(), Readme());
  EXPECT_EQ(Bytes(hive, kEntryKey, "UninstallString"), Sz("c:\\zentaq\\setup.exe uninstall"));
}

// A deep folder: the record's lengths follow it, and a failed copy names the
// whole source path in the log however long it is.
TEST(StartedFromADeepFolder, KeepsWholePathsInTheRecordAndTheLog) {
  std::string folder = "d:";
  for (int i = 0; folder.size() < 150; ++i) folder += "\\distribution folder " + std::to_string(i);
  TestMachine machine("xp", "module = " + folder + "\\setup.exe\n");
  machine.StageProduct("c:\\zentaq");
  machine.StageProduct(folder);
  machine.Remove(folder + "\\res\\drivedir\\gs.PPD");

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603) << "the driver needs its data file";

  winsim::Hive hive = HiveOf(machine);
  EXPECT_EQ(Bytes(hive, kPortKey, "Command"), Sz(folder + "\\res\\convert\\gswin32c.exe"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Command").size(), folder.size() + 26);
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments").size(), folder.size() + 54);
  std::vector<std::string> log = LogTexts(machine);
  EXPECT_TRUE(Contains(log, "CopyFile InFile.Open Failed: " + folder + "\\res\\drivedir\\gs.PPD"));
  EXPECT_TRUE(Contains(log, "AddPrinterDriver: 2"));
}

// A source missing from the staging folder: its line, and the next file is
// still copied. Without its user-interface library the driver is refused.
TEST(MissingSource, IsLoggedAndTheNextFileIsStillCopied) {
  TestMachine machine("nt4");
  machine.StageProduct();
  machine.Remove(std::string(kStaging) + "Zentaqui.dll");
  const std::string drv = std::string(Info("nt4").driver_dir) + "\\";

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603);
  std::vector<std::string> log = LogTexts(machine);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[3], "CopyFile InFile.Open Failed: c:\\zentaq\\res\\drivedir\\Zentaqui.dll");
  EXPECT_FALSE(machine.Exists(drv + "Zentaqui.dll"));
  EXPECT_EQ(machine.Read(drv + "Pscript.hlp"), Product("res/drivedir/Pscript.hlp"));
  EXPECT_EQ(machine.Read(drv + "gs.PPD"), Product("res/drivedir/gs.PPD"));
  EXPECT_TRUE(Contains(log, "AddPrinterDriver: 2"));
  EXPECT_TRUE(Contains(log, "AddPrinter: 1797"));
}

// A destination that another process holds open keeps its old content.
TEST(HeldDestination, KeepsTheOldFileAndTheInstallGoesOn) {
  TestMachine machine("xp");
  machine.StageProduct();
  const std::string held = std::string(Info("xp").driver_dir) + "\\gs.PPD";
  machine.Write(held, "old description file");
  machine.Use();
  HANDLE handle = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);

  RunResult run = machine.Setup();
  CloseHandle(handle);
  EXPECT_EQ(machine.Read(held), "old description file");
  std::vector<std::string> log = LogTexts(machine);
  EXPECT_TRUE(Contains(log, "CopyFile OutFile.Open Failed: c:\\zentaq\\res\\drivedir\\gs.PPD"));
  EXPECT_EQ(machine.Read(std::string(Info("xp").driver_dir) + "\\fontsub.tbl"), Product("res/drivedir/fontsub.tbl"));
  EXPECT_EQ(run.status, 0);
}

}  // namespace

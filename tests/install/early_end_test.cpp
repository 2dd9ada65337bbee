// Installs that end early or meet a refusal on the way: each ends at its own
// point, leaves what was done before, and does nothing of what follows.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/install_checks.h"

using namespace checks;

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char kConfigFile[] = "c:\\zentaq\\res\\zentaq.ini";

// ---- phase G: a data file that can't be read ends setup silently ----------

struct MissingData {
  const char* file;          // removed from c:\zentaq\res\drivedir
  const char* kept_values;   // the configuration values still written, in order
};

class MissingDataFile : public ::testing::TestWithParam<MissingData> {};

TEST_P(MissingDataFile, EndsSetupRightThereWithoutCompletion) {
  const MissingData data = GetParam();
  TestMachine machine("xp");
  machine.StageProduct();
  machine.Remove(std::string(kStaging) + data.file);
  machine.Write(kConfigFile, "[Parameters]\r\nQuiet=7\r\n");

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603);
  // Nothing after the phase's trace: no completion, no page, no entry.
  EXPECT_EQ(run.out.substr(run.out.size() - std::string("Adding printer\n\nClosing printer\n\nConfiguring printer\n\n").size()),
            "Adding printer\n\nClosing printer\n\nConfiguring printer\n\n");
  EXPECT_EQ(Summary(machine), (std::vector<std::string>{"Sleep 3000", "Sleep 1000"}));
  winsim::Hive hive = HiveOf(machine);
  EXPECT_FALSE(HasKey(hive, kEntryKey));
  EXPECT_TRUE(HasKey(hive, kDriverDataKey));
  std::string written;
  for (const char* name : {"TTFontSubTableSize", "TTFontSubTable", "PrinterData"})
    if (Bytes(hive, kDriverDataKey, name) != "<absent>") written += std::string(name) + " ";
  if (Bytes(hive, kPrinterKey, "Default DevMode") != "<absent>") written += "Default DevMode ";
  EXPECT_EQ(written, data.kept_values);
  // The one-shot Quiet value stays for the next install that completes.
  EXPECT_NE(machine.Read(kConfigFile).find("Quiet=7"), std::string::npos);
  // No line of its own in the setup log.
  for (const std::string& line : LogTexts(machine))
    EXPECT_TRUE(line.rfind("CopyFile", 0) == 0 || line.rfind("is_", 0) == 0 || line.rfind("Printer Driver", 0) == 0)
        << line;
}

INSTANTIATE_TEST_SUITE_P(Files, MissingDataFile,
                         ::testing::Values(MissingData{"fontsub.tbl", ""},
                                           MissingData{"printerdata.dat", "TTFontSubTableSize TTFontSubTable "},
                                           MissingData{"dfdevmdnt.dat",
                                                       "TTFontSubTableSize TTFontSubTable PrinterData "}),
                         [](const ::testing::TestParamInfo<MissingData>& param) {
                           std::string name = param.param.file;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// ---- phase E on 9x: no PostScript driver ------------------------------------

TEST(Missing9xPostScriptDriver, OneBoxTwoLaunchesFiveSecondsApartThenNothing) {
  TestMachine machine("98");
  machine.StageProduct("c:\\zentaq", false);

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603);
  EXPECT_EQ(Summary(machine),
            (std::vector<std::string>{
                "Sleep 1000",
                Box("Please install the Apple Laserwriter II NT printer driver and re-run setup. Step-by-step help "
                    "will appear to assist you."),
                "Run rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\download.htm 0x200 0x0 1",
                "Sleep 5000", "Run rundll32.exe shell32.dll,SHHelpShortcuts_RunDLL AddPrinter 0x200 0x0 1"}));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(LogTexts(machine).size(), 3u) << "no line from the driver phase on";
  winsim::Hive hive = HiveOf(machine);
  // The monitor and its port stay; nothing after them was done.
  EXPECT_TRUE(HasKey(hive, kPortKey));
  EXPECT_FALSE(HasKey(hive, kPrinterKey));
  EXPECT_FALSE(HasKey(hive, k9xDriverKey));
  EXPECT_FALSE(HasKey(hive, kEntryKey));
}

// ---- phase D: no right to add a monitor ------------------------------------

class MonitorDenied : public ::testing::TestWithParam<const char*> {};

TEST_P(MonitorDenied, ShowsTheRightsMessageAndWritesNoPortRecord) {
  TestMachine machine("xp", GetParam());
  machine.StageProduct();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603);
  EXPECT_EQ(Summary(machine),
            (std::vector<std::string>{"Sleep 3000",
                                      Box("Your user account does not have administrative rights and cannot add a "
                                          "printer to this computer. Please obtain administrative rights and run "
                                          "install again.")}));
  EXPECT_EQ(run.out, "Initializing Spooler\n\n");
  winsim::Hive hive = HiveOf(machine);
  EXPECT_FALSE(HasKey(hive, kPortKey));
  EXPECT_FALSE(HasKey(hive, kPrinterKey));
  EXPECT_FALSE(HasKey(hive, kEntryKey));
  EXPECT_FALSE(Contains(LogTexts(machine), "AddMonitor: 5"));
  // The staged files stay.
  EXPECT_TRUE(machine.Exists(std::string(Info("xp").system_dir) + "\\ztqmon.dll"));
}

INSTANTIATE_TEST_SUITE_P(Causes, MonitorDenied,
                         ::testing::Values("admin = no\n", "[faults]\nAddMonitorA = 5\n"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           return param.index == 0 ? std::string("NoAdmin") : std::string("Fault");
                         });

// ---- phase E: the driver registration refused --------------------------------

TEST(DriverRefused, RpcUnavailableGivesTheInstructionsInsteadOfTheEntry) {
  TestMachine machine("xp", "[faults]\nAddPrinterDriverA = 1722\n");
  machine.StageProduct();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603) << "no driver, so no printer";
  EXPECT_EQ(Summary(machine),
            (std::vector<std::string>{
                "Sleep 3000", "Sleep 1000", "Sleep 1000",
                Box("Setup has determined that you need to manually configure ZENTAQ due to the settings of your "
                    "Remote Procedure Call service. Instructions will follow."),
                "Run rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\rpcinaccessible.html "
                "0x200 0x0 1"}));
  std::vector<std::string> log = LogTexts(machine);
  EXPECT_TRUE(Contains(log, "AddPrinterDriver: 1722"));
  EXPECT_TRUE(Contains(log, "AddPrinter: 1797"));
  EXPECT_FALSE(machine.Exists(std::string(kStaging) + "rpcinaccessible.tmp"));
  EXPECT_EQ(machine.Read(std::string(kStaging) + "rpcinaccessible.html"), Product("res/drivedir/rpcinaccessible.tmp"));
  EXPECT_FALSE(HasKey(HiveOf(machine), kEntryKey));

  // A second run meets the error again: the page is there already, the rename
  // fails silently, the same page opens.
  RunResult again = machine.Setup();
  EXPECT_EQ(again.status, 1603);
  std::vector<std::string> journal = Summary(machine);
  EXPECT_EQ(journal.back(),
            "Run rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\rpcinaccessible.html 0x200 0x0 1");
  EXPECT_TRUE(machine.Exists(std::string(kStaging) + "rpcinaccessible.html"));
}

TEST(DriverRefused, OtherCodesAreLoggedAndTheInstallCompletes) {
  TestMachine machine("xp", "[faults]\nAddPrinterDriverA = 5\n");
  machine.StageProduct();
  machine.Remove(std::string(kStaging) + "rpcinaccessible.tmp");

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603);
  EXPECT_EQ(Summary(machine), (std::vector<std::string>{"Sleep 3000", "Sleep 1000", "Sleep 1000", Readme()}));
  std::vector<std::string> log = LogTexts(machine);
  EXPECT_TRUE(Contains(log, "AddPrinterDriver: 5"));
  EXPECT_TRUE(HasKey(HiveOf(machine), kEntryKey));
}

// ---- phase F: the printer is there already ------------------------------------

TEST(PrinterExists, IsLoggedAndCountsAsInPlace) {
  TestMachine machine("xp", "[faults]\nAddPrinterA = 1802\n");
  machine.StageProduct();

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(LogTexts(machine), "AddPrinter: 1802"));
  EXPECT_EQ(run.out.find("Closing printer"), std::string::npos);
  EXPECT_NE(run.out.find("Configuring printer\n\nCompleting printer setup...\n\n"), std::string::npos);
  EXPECT_TRUE(HasKey(HiveOf(machine), kEntryKey));
}

// ---- phase H: the one-shot Quiet value ------------------------------------------

struct QuietCase {
  const char* ini;  // the configuration file before the install, "" for none
  bool launches;
};

class Quiet : public ::testing::TestWithParam<QuietCase> {};

TEST_P(Quiet, SilencesOneLaunchAndIsResetToZero) {
  const QuietCase quiet = GetParam();
  TestMachine machine("2000");
  machine.StageProduct();
  if (quiet.ini[0] != '\0') machine.Write(kConfigFile, quiet.ini);

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> journal = Summary(machine);
  EXPECT_EQ(Contains(journal, Readme()), quiet.launches);
  machine.Use();
  char value[80] = {};
  GetPrivateProfileStringA("Parameters", "Quiet", "<absent>", value, sizeof(value), kConfigFile);
  EXPECT_STREQ(value, "0");
}

INSTANTIATE_TEST_SUITE_P(Values, Quiet,
                         ::testing::Values(QuietCase{"", true}, QuietCase{"[Parameters]\r\nQuiet=0\r\n", true},
                                           QuietCase{"[Parameters]\r\nQuiet=1\r\n", false},
                                           QuietCase{"[Parameters]\r\nQuiet= -3\r\n", false},
                                           QuietCase{"[Parameters]\r\nQuiet=word\r\n", true},
                                           QuietCase{"[Parameters]\r\nQuiet=\r\n", true}));

}  // namespace

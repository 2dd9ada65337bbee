// Whole installs of the setup program on fresh simulated machines.
#include "install/install_checks.h"

using namespace checks;

namespace {

struct System {
  const char* os;
  bool nt;           // takes the NT branch
  bool win4 = true;  // major version 4 or more
};

class FreshInstall : public ::testing::TestWithParam<System> {};

TEST_P(FreshInstall, LeavesAWorkingPrinterWithTheRecordsOfItsBranch) {
  const bool nt = GetParam().nt;
  const winsim::OsInfo& info = Info(GetParam().os);
  const std::string sys = std::string(info.system_dir) + "\\", drv = std::string(info.driver_dir) + "\\";
  TestMachine m(GetParam().os);
  m.StageProduct();
  RunResult run = m.Setup();
  ASSERT_EQ(run.status, 0) << run.err;

  EXPECT_EQ(LogTexts(m), (std::vector<std::string>{nt ? "is_winnt = TRUE" : "is_winnt = FALSE",
                                                   GetParam().win4 ? "is_win4 = TRUE" : "is_win4 = FALSE",
                                                   "Printer Driver Directory: " + std::string(info.driver_dir)}));
  EXPECT_EQ(run.out, std::string(nt ? "Initializing Spooler\n\nAdding printer driver\n\n"
                                    : "Adding printer driver\n\nDriver directory: " + drv.substr(0, drv.size() - 1) +
                                          "\n\n") +
                         "Enumerating ports\n\nAdding printer\n\nClosing printer\n\nConfiguring printer\n\n"
                         "Completing printer setup...\n\n");
  // NT waits 3 s before the monitor and 1 s after; 9x 1 s after the monitor and 1 s before the driver.
  EXPECT_EQ(Summary(m), (std::vector<std::string>{nt ? "Sleep 3000" : "Sleep 1000", "Sleep 1000", kReadme}));

  // The branch's files, byte for byte, and none of the other branch's.
  std::vector<std::string> copied = {sys + (nt ? "ztqmon.dll" : "ztqmon95.dll"),
                                     sys + (nt ? "ztqmona.dll" : "ztqmona95.dll"), drv + "gs.PPD", drv + "fontsub.tbl"};
  for (const char* name : {"Pscript.dll", "Zentaqui.dll", "Pscript.hlp"})
    if (nt) copied.push_back(drv + name);
  if (!nt) copied.push_back(drv + "ztqdriver.SPD");
  for (const std::string& path : copied)
    EXPECT_EQ(m.Read(path), Product("res/drivedir/" + path.substr(path.rfind('\\') + 1))) << path;
  EXPECT_EQ(m.Exists(drv + "Zentaqui.dll"), nt);
  EXPECT_EQ(m.Exists(drv + "ztqdriver.SPD"), !nt);

  winsim::Hive hive = HiveOf(m);
  const winsim::RegKey* port = hive.Find(kPortKey);
  ASSERT_NE(port, nullptr);
  const std::vector<std::pair<std::string, std::string>> record = {
      {"Arguments", Sz("@c:\\zentaq\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -")},
      {"Command", Sz("c:\\zentaq\\res\\convert\\gswin32c.exe")},
      {"Delay", Dw(300)}, {"Description", Sz("ZENTAQ Redirected Port")}, {"LogFileDebug", Dw(0)},
      {"LogFileName", Sz("")}, {"LogFileUse", Dw(0)}, {"Output", Dw(1)}, {"Printer", Sz("ZENTAQ")},
      {"PrintError", Dw(0)}, {"RunUser", Dw(0)}, {"ShowWindow", Dw(2)}};
  const std::string types = "114141441444";  // REG_SZ 1, REG_DWORD 4
  ASSERT_EQ(port->values.size(), record.size());
  for (size_t i = 0; i < record.size(); ++i) {
    EXPECT_EQ(port->values[i].name, record[i].first);
    EXPECT_EQ(std::string(port->values[i].data.begin(), port->values[i].data.end()), record[i].second)
        << record[i].first;
    EXPECT_EQ(port->values[i].type, static_cast<DWORD>(types[i] - '0')) << record[i].first;
  }
  // "c:\zentaq" has 9 characters: n + 54 and n + 26.
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments").size(), 63u);
  EXPECT_EQ(Bytes(hive, kPortKey, "Command").size(), 35u);

  EXPECT_EQ(Text(hive, kMonitorKey, "Driver"), nt ? "ztqmon.dll" : "ztqmon95.dll");
  // The driver: full paths in the driver directory on NT, bare names and the
  // eleven dependent files on 9x.
  const std::string driver = nt ? kNtDriverKey : k9xDriverKey;
  const char list[] = "msprint.cat\0LWNT_470.SPD\0PSCRIPT.DRV\0PSCRIPT.HLP\0PSCRIPT.INI\0TESTPS.TXT\0APPLE380.SPD\0"
                     "FONTS.MFM\0ICONLIB.DLL\0PSMON.DLL\0ZTQDRIVER.SPD\0";  // and the literal's own NUL
  const std::string dependent(list, sizeof(list));
  EXPECT_EQ(Text(hive, driver, "Driver"), nt ? drv + "pscript.dll" : "Pscript.drv");
  EXPECT_EQ(Text(hive, driver, "Data File"), nt ? drv + "gs.PPD" : "ztqdriver.SPD");
  EXPECT_EQ(Text(hive, driver, "Configuration File"), nt ? drv + "Zentaqui.dll" : "Pscript.drv");
  EXPECT_EQ(Text(hive, driver, "Help File"), nt ? drv + "Pscript.hlp" : "Pscript.hlp");
  EXPECT_EQ(Bytes(hive, driver, "Dependent Files"), nt ? std::string(1, '\0') : dependent);
  EXPECT_EQ(Text(hive, driver, "Monitor"), "");
  EXPECT_EQ(Text(hive, driver, "Datatype"), "RAW");
  EXPECT_EQ(Bytes(hive, driver, "Version"), Dw(2));
  EXPECT_EQ(Text(hive, kPrinterKey, "Port"), "ZENTAQPORT");
  EXPECT_EQ(Text(hive, kPrinterKey, "Printer Driver"), "ZENTAQ Printer Driver");
  EXPECT_EQ(Text(hive, kPrinterKey, "Print Processor"), "winprint");
  EXPECT_EQ(Bytes(hive, kPrinterKey, "Attributes"), Dw(nt ? 0 : 0x40));

  // The font table's size goes in before the table.
  std::string order;
  for (const auto& value : hive.Find(kDataKey)->values) order += value.name + " ";
  EXPECT_EQ(order, "TTFontSubTableSize TTFontSubTable PrinterData ");
  const std::string fonts = Product("res/drivedir/fontsub.tbl");
  EXPECT_EQ(Bytes(hive, kDataKey, "TTFontSubTableSize"), Dw(static_cast<DWORD>(fonts.size())));
  EXPECT_EQ(Bytes(hive, kDataKey, "TTFontSubTable"), fonts);
  EXPECT_EQ(Bytes(hive, kDataKey, "PrinterData"), Product("res/drivedir/printerdata.dat"));
  EXPECT_EQ(Bytes(hive, kPrinterKey, "Default DevMode"),
            Product(nt ? "res/drivedir/dfdevmdnt.dat" : "res/drivedir/dfdevmd.dat"));
  EXPECT_EQ(Bytes(hive, kEntryKey, "DisplayName"), Sz("Zentaq"));
  EXPECT_EQ(Bytes(hive, kEntryKey, "UninstallString"), Sz("c:\\zentaq\\setup.exe uninstall"));
  EXPECT_EQ(Config(m, "Quiet"), "0");
  EXPECT_EQ(Config(m, "Uninstall"), nt ? "<absent>" : "");
}

INSTANTIATE_TEST_SUITE_P(Systems, FreshInstall,
                         ::testing::Values(System{"xp", true}, System{"2000", true}, System{"nt4", true},
                                           System{"nt351", true, false},
                                           System{"98", false}, System{"me", false}),
                         [](const auto& param) { return std::string("os_") + param.param.os; });

// Bit 31 set, major version 3: the 9x library names, the NT branch everywhere
// (refused by this machine's spooler, whose environment is "Windows 4.0").
TEST(Win32sInstall, TakesTheNtBranchWithThe9xLibraryNames) {
  const winsim::OsInfo& info = Info("win32s");
  TestMachine m("win32s");
  m.StageProduct();
  m.Write(kIni, "[Parameters]\r\nUninstall=1\r\n");
  RunResult run = m.Setup();
  EXPECT_EQ(run.status, kFailed) << "no printer";
  std::vector<std::string> log = LogTexts(m);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0] + ", " + log[1], "is_winnt = FALSE, is_win4 = FALSE");
  EXPECT_TRUE(Contains(log, "AddMonitor: 1805"));
  EXPECT_TRUE(Contains(log, "AddPrinterDriver: 1805"));
  EXPECT_EQ(run.out.rfind("Initializing Spooler\n\nAdding printer driver\n\nEnumerating", 0), 0u) << run.out;
  EXPECT_EQ(Summary(m), (std::vector<std::string>{"Sleep 3000", "Sleep 1000", "Sleep 1000", "Sleep 1000", kReadme}));
  EXPECT_TRUE(m.Exists(std::string(info.system_dir) + "\\ztqmona95.dll"));
  EXPECT_TRUE(m.Exists(std::string(info.driver_dir) + "\\Zentaqui.dll"));
  EXPECT_FALSE(m.Exists(std::string(info.driver_dir) + "\\ztqdriver.SPD"));
  EXPECT_EQ(Config(m, "Uninstall"), "1");
}

TEST(EarlyEnd, NineXWithoutPostScriptDriverGuidesTheUserAndStops) {
  TestMachine m("98");
  m.StageProduct("c:\\zentaq", false);
  RunResult run = m.Setup();
  EXPECT_EQ(run.status, kFailed);
  EXPECT_EQ(Summary(m),
            (std::vector<std::string>{
                "Sleep 1000",
                Box("Please install the Apple Laserwriter II NT printer driver and re-run setup. Step-by-step help "
                    "will appear to assist you."),
                "Run rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\download.htm 0x200 0x0 1",
                "Sleep 5000", "Run rundll32.exe shell32.dll,SHHelpShortcuts_RunDLL AddPrinter 0x200 0x0 1"}));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(LogTexts(m).size(), 3u);
  EXPECT_TRUE(HasKey(m, kPortKey)) << "nothing is undone";
  EXPECT_FALSE(HasKey(m, kPrinterKey));
}

class MonitorDenied : public ::testing::TestWithParam<const char*> {};

TEST_P(MonitorDenied, ShowsTheRightsMessageBeforeAnyPortRecord) {
  TestMachine m("xp", GetParam());
  m.StageProduct();
  RunResult run = m.Setup();
  EXPECT_EQ(run.status, kFailed);
  EXPECT_EQ(Summary(m), (std::vector<std::string>{
                            "Sleep 3000", Box("Your user account does not have administrative rights and cannot add "
                                              "a printer to this computer. Please obtain administrative rights and "
                                              "run install again.")}));
  EXPECT_EQ(run.out, "Initializing Spooler\n\n");
  EXPECT_FALSE(HasKey(m, kPortKey));
  EXPECT_EQ(LogTexts(m).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Causes, MonitorDenied, ::testing::Values("admin = no\n", "[faults]\nAddMonitorA = 5\n"));

TEST(DriverRefused, RpcUnavailableOpensTheInstructionsInsteadOfWritingTheEntry) {
  TestMachine m("xp", "[faults]\nAddPrinterDriverA = 1722\n");
  m.StageProduct();
  m.Write(kIni, "[Parameters]\r\nQuiet=1\r\n");
  const std::string rpc = "Run rundll32.exe url.dll,FileProtocolHandler c:\\zentaq\\res\\drivedir\\"
                          "rpcinaccessible.html 0x200 0x0 1";
  const std::string box = Box(
      "Setup has determined that you need to manually configure ZENTAQ due to the settings of your Remote "
      "Procedure Call service. Instructions will follow.");
  // Quiet silences the page, never the message.
  EXPECT_EQ(m.Setup().status, kFailed);
  EXPECT_EQ(Summary(m), (std::vector<std::string>{"Sleep 3000", "Sleep 1000", "Sleep 1000", box}));
  EXPECT_TRUE(Contains(LogTexts(m), "AddPrinterDriver: 1722"));
  EXPECT_TRUE(Contains(LogTexts(m), "AddPrinter: 1797"));
  EXPECT_FALSE(m.Exists(std::string(kStaging) + "rpcinaccessible.tmp"));
  EXPECT_EQ(m.Read(std::string(kStaging) + "rpcinaccessible.html"), Product("res/drivedir/rpcinaccessible.tmp"));
  EXPECT_FALSE(HasKey(m, kEntryKey));
  // Again, not quiet: the page is in place already, the rename fails silently, the same page opens.
  m.Setup();
  EXPECT_EQ(Since(Summary(m), Summary(m).size() - 2), (std::vector<std::string>{box, rpc}));
}

TEST(DriverRefused, OtherCodesAreLoggedAndTheInstallCompletes) {
  TestMachine m("xp", "[faults]\nAddPrinterDriverA = 5\n");
  m.StageProduct();
  EXPECT_EQ(m.Setup().status, kFailed);
  EXPECT_EQ(Summary(m), (std::vector<std::string>{"Sleep 3000", "Sleep 1000", "Sleep 1000", kReadme}));
  EXPECT_TRUE(Contains(LogTexts(m), "AddPrinterDriver: 5"));
  EXPECT_TRUE(HasKey(m, kEntryKey));
}

TEST(PrinterExists, IsLoggedAndCountsAsInPlace) {
  TestMachine m("xp", "[faults]\nAddPrinterA = 1802\n");
  m.StageProduct();
  RunResult run = m.Setup();
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(LogTexts(m), "AddPrinter: 1802"));
  EXPECT_NE(run.out.find("Adding printer\n\nConfiguring printer\n\n"), std::string::npos);
}

// Every copy of the branch fails on a missing source, one log line each in
// the order of the copies, with the driver directory after the libraries.
TEST(Sources, MissingSourcesAreLoggedInTheOrderOfTheCopies) {
  for (const char* os : {"xp", "98"}) {
    const bool nt = std::string(os) == "xp";
    TestMachine m(os);
    m.StageProduct();
    std::vector<std::string> names = {nt ? "ztqmon.dll" : "ztqmon95.dll", nt ? "ztqmona.dll" : "ztqmona95.dll", ""};
    for (const char* name : {"Pscript.dll", "Zentaqui.dll", "Pscript.hlp"})
      if (nt) names.push_back(name);
    if (!nt) names.push_back("ztqdriver.SPD");
    names.push_back("gs.PPD");
    names.push_back("fontsub.tbl");
    std::vector<std::string> expected = {nt ? "is_winnt = TRUE" : "is_winnt = FALSE", "is_win4 = TRUE"};
    for (const std::string& name : names) {
      if (name.empty()) {
        expected.push_back("Printer Driver Directory: " + std::string(Info(os).driver_dir));
        continue;
      }
      m.Remove(kStaging + name);
      expected.push_back("CopyFile InFile.Open Failed: " + std::string(kStaging) + name);
    }
    EXPECT_EQ(m.Setup().status, kFailed);
    std::vector<std::string> log = LogTexts(m);
    log.resize(std::min(log.size(), expected.size()));
    EXPECT_EQ(log, expected) << os;
  }
}

TEST(PrinterClose, AFailedCloseIsTracedOnly) {
  TestMachine m("xp", "[faults]\nClosePrinter = 6\n");
  m.StageProduct();
  RunResult run = m.Setup();
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Closing printer\n\nClosePrinter: 6\n\nConfiguring printer\n\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(LogTexts(m).size(), 3u);
}

// Quiet: a nonzero number silences the readme of one install; "0" is written
// back. The editor check comes last, after the launch, quiet or not.
class Quiet : public ::testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(Quiet, SilencesOneLaunchAndIsReset) {
  TestMachine m("2000");
  m.StageProduct();
  if (GetParam().first != nullptr) m.Write(kIni, std::string("[Parameters]\r\nQuiet=") + GetParam().first + "\r\n");
  m.Write("c:\\zentaq\\res\\utilities\\readme.html", "This is version 4.19 of Markalon");
  EXPECT_EQ(m.Setup().status, 0);
  std::vector<std::string> events = Summary(m);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.back().rfind("Box Setup has detected you have an old version of Markalon", 0), 0u);
  EXPECT_EQ(events[events.size() - 2] == kReadme, GetParam().second);
  EXPECT_EQ(Contains(events, kReadme), GetParam().second);
  EXPECT_EQ(Config(m, "Quiet"), "0");
}

// On NT the install removes a mapping of the configuration file into the
// registry and makes the running process drop it: Quiet is then read from
// and written to the file itself.
TEST(ConfigurationFile, AMappingIntoTheRegistryIsRemovedAndTheFileUsedAgain) {
  const std::string mapping = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\zentaq.ini";
  TestMachine m("xp");
  m.StageProduct();
  m.Write(kIni, "[Parameters]\r\nQuiet=1\r\n");
  Seed(m, mapping, "Parameters", "SYS:Zentaq\\Parameters");
  EXPECT_EQ(m.Setup().status, 0);
  EXPECT_FALSE(Contains(Summary(m), kReadme));
  EXPECT_EQ(m.Read(kIni), "[Parameters]\r\nQuiet=0\r\n");
  EXPECT_FALSE(HasKey(m, mapping));
  EXPECT_FALSE(HasKey(m, "SOFTWARE\\Zentaq"));
}

INSTANTIATE_TEST_SUITE_P(Values, Quiet,
                         ::testing::Values(std::make_pair(nullptr, true), std::make_pair("1", false),
                                           std::make_pair(" -3", false), std::make_pair("word", true),
                                           std::make_pair("", true)));

TEST(Sources, FromAnotherFolderCopyThereButDevModeAndPagesComeFromTheInstallRoot) {
  TestMachine m("xp", "module = d:\\cdrom\\setup.exe\n");  // a folder of 8 characters
  m.StageProduct("c:\\zentaq");
  m.StageProduct("d:\\cdrom");
  for (const char* name : {"ztqmon.dll", "fontsub.tbl", "printerdata.dat", "dfdevmdnt.dat"}) {
    m.Write(std::string("d:\\cdrom\\res\\drivedir\\") + name, std::string("cd ") + name);
    m.Write(std::string(kStaging) + name, std::string("root ") + name);
  }
  ASSERT_EQ(m.Setup().status, 0);
  EXPECT_EQ(m.Read(std::string(Info("xp").system_dir) + "\\ztqmon.dll"), "cd ztqmon.dll");
  winsim::Hive hive = HiveOf(m);
  EXPECT_EQ(Bytes(hive, kPortKey, "Command"), Sz("d:\\cdrom\\res\\convert\\gswin32c.exe"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Command").size(), 34u);
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments"), Sz("@d:\\cdrom\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments").size(), 62u);
  EXPECT_EQ(Bytes(hive, kDataKey, "TTFontSubTable"), "cd fontsub.tbl");
  EXPECT_EQ(Bytes(hive, kDataKey, "PrinterData"), "cd printerdata.dat");
  EXPECT_EQ(Bytes(hive, kPrinterKey, "Default DevMode"), "root dfdevmdnt.dat");
  EXPECT_EQ(LogTexts(m).size(), 3u);
  EXPECT_EQ(Summary(m).back(), kReadme);
}

// A deep folder: the lengths follow it, and a failed copy's line holds the
// whole source path. Without its data file the driver is refused.
TEST(Sources, ADeepFolderKeepsWholePathsAndAMissingSourceIsLogged) {
  std::string folder = "d:";
  for (int i = 0; folder.size() < 150; ++i) folder += "\\distribution folder " + std::to_string(i);
  TestMachine m("xp", "module = " + folder + "\\setup.exe\n");
  m.StageProduct("c:\\zentaq");
  m.StageProduct(folder);
  m.Remove(folder + "\\res\\drivedir\\gs.PPD");
  EXPECT_EQ(m.Setup().status, kFailed);
  winsim::Hive hive = HiveOf(m);
  EXPECT_EQ(Bytes(hive, kPortKey, "Command").size(), folder.size() + 26);
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments").size(), folder.size() + 54);
  std::vector<std::string> log = LogTexts(m);
  EXPECT_TRUE(Contains(log, "CopyFile InFile.Open Failed: " + folder + "\\res\\drivedir\\gs.PPD"));
  EXPECT_EQ(m.Read(std::string(Info("xp").driver_dir) + "\\fontsub.tbl"), Product("res/drivedir/fontsub.tbl"));
  EXPECT_TRUE(Contains(log, "AddPrinterDriver: 2"));
}

TEST(Sources, ADestinationHeldOpenKeepsItsOldContent) {
  TestMachine m("xp");
  m.StageProduct();
  const std::string held = std::string(Info("xp").driver_dir) + "\\gs.PPD";
  m.Write(held, "old description");
  m.Use();
  HANDLE handle = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  RunResult run = m.Setup();
  CloseHandle(handle);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(m.Read(held), "old description");
  EXPECT_TRUE(Contains(LogTexts(m), "CopyFile OutFile.Open Failed: c:\\zentaq\\res\\drivedir\\gs.PPD"));
}

}  // namespace

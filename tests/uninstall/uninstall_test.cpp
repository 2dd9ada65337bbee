// Runs that follow runs on one machine: uninstalls after an install or with
// nothing installed, the 9x family's two runs around a reboot, and installs
// over an earlier installation whose monitor library the spooler holds.
#include <fstream>

#include "install/install_checks.h"

using namespace checks;

namespace {

const char kAsk[] = "Are your sure you want to uninstall zentaq?";
const char kFinal[] =
    "Please uninstall Markalon if it is on your system and then delete c:\\zentaq and its contents from your "
    "computer to fully uninstall zentaq.";
const char kRebootText[] = "Please reboot and re-run uninstall to fully remove the ZENTAQ Printer Driver";
const char kNotify[] = "SHChangeNotify 0x1A 0x0";  // the entry's deletion

// Every value under the product's keys, for comparing two installs.
void Dump(const winsim::RegKey* key, std::string* out) {
  if (key == nullptr) return;
  *out += "[" + key->Path() + "]\n";
  for (const auto& v : key->values) *out += v.name + "=" + std::string(v.data.begin(), v.data.end()) + "\n";
  for (const auto& subkey : key->subkeys) Dump(subkey.get(), out);
}
std::string Records(const TestMachine& m) {
  winsim::Hive hive = HiveOf(m);
  std::string out;
  for (const char* path : {kMonitorKey, kPrinterKey, kNtDriverKey, kEntryKey}) Dump(hive.Find(path), &out);
  return out;
}

// Which of the product's keys exist.
std::string Present(const TestMachine& m) {
  winsim::Hive hive = HiveOf(m);
  std::string present;
  const std::pair<const char*, const char*> keys[] = {{kMonitorKey, "monitor "}, {kPrinterKey, "printer "},
                                                      {kNtDriverKey, "driver "}, {k9xDriverKey, "driver "},
                                                      {kEntryKey, "entry"}};
  for (const auto& key : keys)
    if (hive.Find(key.first) != nullptr) present += key.second;
  return present;
}

// The journal events and log texts of the next run.
struct Outcome {
  RunResult result;
  std::vector<std::string> events, log;
};
Outcome Next(const TestMachine& m, const std::vector<std::string>& args = {}) {
  size_t events = Summary(m).size(), log = LogTexts(m).size();
  Outcome run;
  run.result = m.Setup(args);
  run.events = Since(Summary(m), events);
  run.log = Since(LogTexts(m), log);
  return run;
}

class NtUninstall : public ::testing::TestWithParam<const char*> {};

TEST_P(NtUninstall, RemovesEverythingInOneRunAndAReinstallGivesTheSameRecords) {
  TestMachine m(GetParam());
  m.StageProduct();
  ASSERT_EQ(m.Setup().status, 0);
  const std::string installed = Records(m);
  m.Answer({"yes"});
  Outcome run = Next(m, {"uninstall"});
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  // The final message after the second restart and before the entry goes.
  EXPECT_EQ(run.events, (std::vector<std::string>{Box(kAsk), "Restart", "Restart", Box(kFinal), kNotify}));
  EXPECT_EQ(run.log, std::vector<std::string>{}) << "every removal succeeded";
  EXPECT_EQ(Present(m), "");
  EXPECT_EQ(Config(m, "Uninstall"), "<absent>");
  EXPECT_TRUE(m.Exists(std::string(Info(GetParam()).system_dir) + "\\ztqmon.dll")) << "no file is deleted";

  EXPECT_EQ(m.Setup().status, 0);
  EXPECT_EQ(Records(m), installed);
}

INSTANTIATE_TEST_SUITE_P(Systems, NtUninstall, ::testing::Values("xp", "2000"));

TEST(NineXUninstall, TakesTwoRunsAroundARebootAndAnInstallStartsOver) {
  TestMachine m("98");
  m.StageProduct();
  ASSERT_EQ(m.Setup().status, 0);
  m.Answer({"yes"});
  Outcome first = Next(m, {"uninstall"});
  EXPECT_EQ(first.result.status, kReboot);
  EXPECT_EQ(first.events, (std::vector<std::string>{Box(kAsk), Box(kRebootText)}));
  // The spooler took the driver's key with the driver.
  EXPECT_EQ(first.log, std::vector<std::string>{"RegDeleteKey Windows 4.0 return: 2"});
  EXPECT_EQ(Present(m), "entry");
  EXPECT_EQ(Config(m, "Uninstall"), "1");

  m.Use();
  winsim::Reboot();
  m.Answer({"yes"});
  Outcome second = Next(m, {"uninstall"});
  EXPECT_EQ(second.result.status, 0);
  EXPECT_EQ(second.events, (std::vector<std::string>{Box(kAsk), Box(kFinal), kNotify}));
  EXPECT_EQ(second.log, (std::vector<std::string>{"DeletePrinterDriver: 1797", "DeleteMonitor: 3000",
                                                  "RegDeleteKey Windows 4.0 return: 2"}));
  EXPECT_EQ(Present(m), "");
  EXPECT_EQ(Config(m, "Uninstall"), "1");

  // Nothing holds the library after the reboot: a plain install.
  Outcome install = Next(m);
  EXPECT_EQ(install.result.status, 0);
  EXPECT_EQ(install.log.size(), 3u);
  EXPECT_EQ(Config(m, "Uninstall"), "");
}

// The drivers key still holds the driver when the spooler refused to delete
// it: its removal's 0 is logged too. Any value but the empty one in
// "Uninstall" means that an uninstall has run since the install.
TEST(NineXUninstall, LogsTheKeysRemovalAndTakesAnyValueButEmptyForALaterRun) {
  TestMachine m("98", "[faults]\nDeletePrinterDriverA = 5\nOpenPrinterA = 1722\n");
  m.StageProduct();
  ASSERT_EQ(m.Setup().status, 0);
  m.Write(kIni, "[Parameters]\r\nUninstall=0\r\n");
  m.Answer({"yes"});
  Outcome run = Next(m, {"uninstall"});
  EXPECT_EQ(run.result.status, 0);
  // The printer the spooler couldn't open keeps its port's monitor (3008); the registry takes both keys.
  EXPECT_EQ(run.log, (std::vector<std::string>{"DeletePrinterDriver: 5", "DeleteMonitor: 3008",
                                               "RegDeleteKey Windows 4.0 return: 0"}));
  EXPECT_EQ(run.events, (std::vector<std::string>{Box(kAsk), Box(kFinal), kNotify}));
  EXPECT_EQ(Present(m), "");
  EXPECT_EQ(Config(m, "Uninstall"), "1");
}

// The third machine's keys can't be opened: the drivers key's line is missing,
// and no code that an earlier log line left behind is logged for it.
TEST(NothingInstalled, LogsTheRefusedDeletionsAndClosesPerBranch) {
  const std::pair<std::string, std::string> machines[] = {
      {"xp", ""}, {"98", ""}, {"98", "[faults]\nRegOpenKeyExA = 2\n"}};
  for (const auto& [os, faults] : machines) {
    const bool nt = os == "xp", keys_open = faults.empty();
    TestMachine m(os, faults);
    m.StageProduct();
    m.Answer({"yes"});
    Outcome run = Next(m, {"uninstall"});
    // No printer: no "startrpc" line. On 9x the drivers key lacks the driver.
    std::vector<std::string> log{"DeletePrinterDriver: 1797", "DeleteMonitor: 3000"};
    if (!nt && keys_open) log.push_back("RegDeleteKey Windows 4.0 return: 2");
    EXPECT_EQ(run.log, log) << os;
    std::vector<std::string> events{Box(kAsk), Box(kRebootText)};
    if (nt) events = {Box(kAsk), "Restart", "Restart", Box(kFinal), kNotify};
    EXPECT_EQ(run.events, events) << os;
    EXPECT_EQ(run.result.status, nt ? 0 : kReboot) << os;
    EXPECT_EQ(Config(m, "Uninstall"), nt ? "<absent>" : "1") << os;
  }
}

TEST(Win32sUninstall, TakesTheNtBranchWithoutTheConfigurationFile) {
  TestMachine m("win32s");
  m.StageProduct();
  m.Write(kIni, "[Parameters]\r\nQuiet=0\r\n");
  m.Answer({"yes"});
  Outcome run = Next(m, {"uninstall"});
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(std::count(run.events.begin(), run.events.end(), "Sleep 500"), 4) << "two spooler restarts";
  EXPECT_EQ(Since(run.events, run.events.size() - 2), (std::vector<std::string>{Box(kFinal), kNotify}));
  EXPECT_EQ(m.Read(kIni), "[Parameters]\r\nQuiet=0\r\n");
}

TEST(Upgrade, OnNtTheQuietUninstallFreesTheHeldLibrary) {
  TestMachine m("xp");
  m.StageProduct();
  ASSERT_EQ(m.Setup().status, 0);
  const std::string library = std::string(Info("xp").system_dir) + "\\ztqmon.dll";
  m.Use();
  ASSERT_TRUE(winsim::IsLibraryHeld(library));
  m.Write(std::string(kStaging) + "ztqmon.dll", "the new release's monitor");
  Outcome run = Next(m);
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(Boxes(run.events), std::vector<std::string>{});
  EXPECT_EQ(run.events.front() + " " + run.events[1], "Restart Restart");
  EXPECT_EQ(run.events.back(), kReadme);
  EXPECT_EQ(m.Read(library), "the new release's monitor");
  EXPECT_EQ(Present(m), "monitor printer driver entry");
}

// A library that nothing holds (left behind, or no longer loaded after a
// reboot) is deleted before its size is looked at: a plain install follows,
// without a quiet uninstall or a question, whatever its size.
TEST(Upgrade, ALibraryNothingHoldsIsReplacedWithoutUninstallOrQuestion) {
  for (const char* os : {"98", "xp"}) {
    const bool nt = std::string(os) == "xp";
    const std::string library = std::string(Info(os).system_dir) + (nt ? "\\ztqmon.dll" : "\\ztqmon95.dll");
    TestMachine m(os);
    m.StageProduct();
    m.Write(library, "an old release's monitor library, of another size");
    Outcome run = Next(m);
    EXPECT_EQ(run.result.status, 0) << os;
    EXPECT_EQ(run.events, (std::vector<std::string>{nt ? "Sleep 3000" : "Sleep 1000", "Sleep 1000", kReadme})) << os;
    EXPECT_EQ(run.log.size(), 3u) << os;
    EXPECT_EQ(m.Read(library), Product(std::string("res/drivedir/") + (nt ? "ztqmon.dll" : "ztqmon95.dll")));
  }
}

// Records of an earlier installation that no spooler call removed are
// cleared on NT before the install writes its own.
TEST(Upgrade, OnNtStaleRecordsOfAnEarlierInstallationAreCleared) {
  TestMachine m("xp");
  m.StageProduct();
  const std::string printers = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
  for (const std::string& key : {printers + "ZENTAQ", printers + "ZENTAQ,0", std::string(kMonitorKey),
                                 std::string(kNtDriverKey)})
    Seed(m, key, "Stale", "left by an earlier installation");
  ASSERT_EQ(m.Setup().status, 0);
  winsim::Hive hive = HiveOf(m);
  EXPECT_EQ(hive.Find(printers + "ZENTAQ,0"), nullptr);
  for (const char* key : {kPrinterKey, kMonitorKey, kNtDriverKey}) {
    ASSERT_NE(hive.Find(key), nullptr) << key;
    EXPECT_EQ(Bytes(hive, key, "Stale"), "<absent>") << key;
  }
}

// A spooler that takes 2 s to stop: each restart waits for it before the
// start, so the uninstall's removals and the reinstall find it running (a
// start refused while it stopped left it stopped: the removals failed with
// 1722, or the new monitor and driver were refused with the RPC message).
TEST(SlowSpooler, IsRunningAgainAfterEachRestartOfTheUninstallAndTheUpgrade) {
  TestMachine m("xp", "[spooler]\nstop_ms = 2000\n");
  m.StageProduct();
  ASSERT_EQ(m.Setup().status, 0);
  m.Write(std::string(kStaging) + "ztqmon.dll", "the new release's monitor");
  Outcome upgrade = Next(m);
  EXPECT_EQ(upgrade.result.status, 0) << upgrade.result.err;
  EXPECT_EQ(Boxes(upgrade.events), std::vector<std::string>{});
  EXPECT_EQ(upgrade.log, (std::vector<std::string>{"is_winnt = TRUE", "is_win4 = TRUE",
                                                   "Printer Driver Directory: " + std::string(Info("xp").driver_dir)}));
  EXPECT_EQ(m.Read(std::string(Info("xp").system_dir) + "\\ztqmon.dll"), "the new release's monitor");
  EXPECT_EQ(Present(m), "monitor printer driver entry");

  m.Answer({"yes"});
  Outcome uninstall = Next(m, {"uninstall"});
  EXPECT_EQ(uninstall.result.status, 0) << uninstall.result.err;
  EXPECT_EQ(uninstall.log, std::vector<std::string>{}) << "every removal succeeded";
  EXPECT_EQ(Present(m), "");
  std::vector<std::string> starts;
  for (const std::string& event : uninstall.events)
    if (event.rfind("StartService", 0) == 0) starts.push_back(event);
  EXPECT_EQ(starts, (std::vector<std::string>{"StartService Spooler 0", "StartService Spooler 0"}));
  m.Use();
  EXPECT_EQ(winsim::SpoolerState(), winsim::ServiceState::kRunning);
}

// A library that can't be deleted for another reason counts as held; no
// uninstall frees it.
TEST(Upgrade, OnNtALibraryThatStaysHeldEndsWithTheRebootMessage) {
  const std::string library = std::string(Info("2000").system_dir) + "\\ztqmon.dll";
  TestMachine m("2000", "[attributes]\n" + library + " = readonly\n");
  m.StageProduct();
  m.Write(library, "an old release's monitor");
  Outcome run = Next(m);
  EXPECT_EQ(run.result.status, kReboot);
  EXPECT_EQ(run.events, (std::vector<std::string>{"Restart", "Restart", kNotify,
                                                  Box("In order to upgrade zentaq you must reboot and re-run "
                                                      "setup.")}));
  EXPECT_EQ(m.Read(library), "an old release's monitor");
  EXPECT_FALSE(m.Exists(std::string(Info("2000").system_dir) + "\\ztqmona.dll")) << "nothing copied";
}

TEST(Upgrade, OnNineXASameSizeLibraryIsLeftAndItsCopyFails) {
  for (bool staged : {true, false}) {
    TestMachine m("98");
    m.StageProduct();
    ASSERT_EQ(m.Setup().status, 0);
    // A staged library that can't be examined counts as the same size.
    if (!staged) m.Remove(std::string(kStaging) + "ztqmon95.dll");
    Seed(m, kPortKey, "Command", "changed since");
    Seed(m, kPortKey, "Extra", "another program's");
    Outcome run = Next(m);
    EXPECT_EQ(run.result.status, 0) << "the printer is in place";
    EXPECT_EQ(Boxes(run.events), std::vector<std::string>{});
    EXPECT_TRUE(Contains(run.log, std::string(staged ? "CopyFile OutFile" : "CopyFile InFile") +
                                      ".Open Failed: c:\\zentaq\\res\\drivedir\\ztqmon95.dll"));
    EXPECT_TRUE(Contains(run.log, "AddMonitor: 3006"));
    EXPECT_TRUE(Contains(run.log, "AddPrinter: 1802"));
    // The monitor is there already: its port record is written all the same.
    winsim::Hive hive = HiveOf(m);
    EXPECT_EQ(Bytes(hive, kPortKey, "Command"), Sz("c:\\zentaq\\res\\convert\\gswin32c.exe"));
    EXPECT_EQ(Text(hive, kPortKey, "Extra"), "another program's");
  }
}

TEST(Upgrade, OnNineXAnotherSizeClearsTheOldInstallationAndAsksForAReboot) {
  const std::string reboot = Box("In order to upgrade zentaq you must reboot and then re-run setup.");
  const std::string refused = Box(
      "In order to upgrade zentaq you must delete the existing ZENTAQ printer from Windows Printer Settings and "
      "re-run setup.");
  // The spooler's deletions and the registry's each stand on their own: a
  // printer that refuses is still cleared from the registry, and keys that
  // refuse leave the printer and the monitor gone all the same.
  for (std::string fault : {"", "DeletePrinter = 5", "RegDeleteKeyA = 5"}) {
    const bool printer_refuses = fault == "DeletePrinter = 5", keys_refuse = fault == "RegDeleteKeyA = 5";
    TestMachine m("98");
    m.StageProduct();
    ASSERT_EQ(m.Setup().status, 0);
    m.Write(std::string(kStaging) + "ztqmon95.dll", "a new release's monitor library, of another size");
    m.Write(std::string(kStaging) + "gs.PPD", "a new release's description file");
    std::ofstream(m.root() + "/machine.ini", std::ios::app) << "[faults]\n" << fault << "\n";
    Outcome run = Next(m);
    EXPECT_EQ(run.result.status, kReboot);
    std::vector<std::string> boxes{reboot};
    if (printer_refuses) boxes.insert(boxes.begin(), refused);
    EXPECT_EQ(Boxes(run.events), boxes);
    EXPECT_EQ(run.events.back(), reboot);
    EXPECT_EQ(run.log, (std::vector<std::string>{"is_winnt = FALSE", "is_win4 = TRUE",
                                                 keys_refuse ? "RegDeleteKey Windows 4.0 return: 5"
                                                             : "RegDeleteKey Windows 4.0 return: 0"}));
    EXPECT_EQ(Present(m), keys_refuse ? "driver entry" : "entry") << fault;
    EXPECT_EQ(m.Read(std::string(Info("98").driver_dir) + "\\gs.PPD"), Product("res/drivedir/gs.PPD"));
    EXPECT_EQ(run.result.out, "");
  }
}

}  // namespace

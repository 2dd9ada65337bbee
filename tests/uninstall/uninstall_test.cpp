// Uninstall runs on one machine after an install, or on a machine where
// nothing is installed: what goes, in which order, what the user is told,
// and how the 9x family's two runs around a reboot hang together.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/install_checks.h"
#include "platform/win32.h"

using namespace checks;

namespace {

const char kAsk[] = "Are your sure you want to uninstall zentaq?";
const char kFinal[] =
    "Please uninstall Markalon if it is on your system and then delete c:\\zentaq and its contents from your "
    "computer to fully uninstall zentaq.";
const char kReboot[] = "Please reboot and re-run uninstall to fully remove the ZENTAQ Printer Driver";
const char kRestart[] = "ControlService Spooler 1";  // prefix: the result follows
const char kNotify[] = "SHChangeNotify 0x1A 0x0";

// The journal events from `from` on, with the spooler restarts shortened to
// "Restart" (stop request, 500 ms, start request, 500 ms).
std::vector<std::string> EventsSince(const TestMachine& machine, size_t from) {
  std::vector<std::string> all = Summary(machine);
  std::vector<std::string> events;
  for (size_t i = from; i < all.size(); ++i) {
    if (all[i].rfind(kRestart, 0) == 0 && i + 3 < all.size() && all[i + 1] == "Sleep 500" &&
        all[i + 2].rfind("StartService Spooler", 0) == 0 && all[i + 3] == "Sleep 500") {
      events.push_back("Restart");
      i += 3;
    } else {
      events.push_back(all[i]);
    }
  }
  return events;
}

std::vector<std::string> LogSince(const TestMachine& machine, size_t from) {
  std::vector<std::string> log = LogTexts(machine);
  return std::vector<std::string>(log.begin() + static_cast<long>(std::min(from, log.size())), log.end());
}

std::string UninstallKey(const TestMachine& machine) {
  machine.Use();
  char value[512] = {};
  GetPrivateProfileStringA("Parameters", "Uninstall", "<absent>", value, sizeof(value), "c:\\zentaq\\res\\zentaq.ini");
  return value;
}

// Every value under a key and its subkeys, as text, for comparing runs.
void Dump(const winsim::RegKey* key, std::string* out) {
  if (key == nullptr) {
    *out += "<absent>";
    return;
  }
  *out += "[" + key->Path() + "]\n";
  for (const auto& value : key->values)
    *out += value.name + "=" + std::to_string(value.type) + ":" + std::string(value.data.begin(), value.data.end()) +
            "\n";
  for (const auto& subkey : key->subkeys) Dump(subkey.get(), out);
}

std::string Records(const TestMachine& machine) {
  winsim::Hive hive = HiveOf(machine);
  std::string out;
  for (const char* path : {kMonitorKey, kPrinterKey, kNtDriverKey, kEntryKey}) Dump(hive.Find(path), &out);
  return out;
}

class NtUninstall : public ::testing::TestWithParam<const char*> {};

TEST_P(NtUninstall, RemovesEverythingInOneRunAndAReinstallGivesTheSameRecords) {
  TestMachine machine(GetParam());
  machine.StageProduct();
  ASSERT_EQ(machine.Setup().status, 0);
  const std::string installed = Records(machine);
  const size_t journal_mark = Summary(machine).size();
  const size_t log_mark = LogTexts(machine).size();

  machine.Answer({"yes"});
  RunResult run = machine.Setup({"uninstall"});
  EXPECT_EQ(run.status, 0) << run.err;

  // Two spooler restarts; the final message after the second and before the
  // entry goes.
  EXPECT_EQ(EventsSince(machine, journal_mark),
            (std::vector<std::string>{Box(kAsk), "Restart", "Restart", Box(kFinal), kNotify}));
  EXPECT_EQ(LogSince(machine, log_mark), std::vector<std::string>{}) << "every removal succeeded";
  winsim::Hive hive = HiveOf(machine);
  EXPECT_FALSE(HasKey(hive, kPrinterKey));
  EXPECT_FALSE(HasKey(hive, kMonitorKey));
  EXPECT_FALSE(HasKey(hive, kNtDriverKey));
  EXPECT_FALSE(HasKey(hive, kEntryKey));
  EXPECT_EQ(UninstallKey(machine), "<absent>") << "the NT branch leaves the configuration file alone";
  // No file is deleted.
  EXPECT_TRUE(machine.Exists(std::string(Info(GetParam()).system_dir) + "\\ztqmon.dll"));

  RunResult again = machine.Setup();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Records(machine), installed);
}

INSTANTIATE_TEST_SUITE_P(Systems, NtUninstall, ::testing::Values("xp", "2000"));

TEST(NineXUninstall, TakesTwoRunsAroundARebootAndAnInstallStartsOver) {
  TestMachine machine("98");
  machine.StageProduct();
  ASSERT_EQ(machine.Setup().status, 0);
  EXPECT_EQ(UninstallKey(machine), "");
  size_t journal_mark = Summary(machine).size();
  size_t log_mark = LogTexts(machine).size();

  // First run: the monitor library stays loaded until the next boot.
  machine.Answer({"yes"});
  RunResult first = machine.Setup({"uninstall"});
  EXPECT_EQ(first.status, 3010);
  EXPECT_EQ(EventsSince(machine, journal_mark), (std::vector<std::string>{Box(kAsk), Box(kReboot)}));
  std::vector<std::string> log = LogSince(machine, log_mark);
  ASSERT_FALSE(log.empty());
  // The spooler already removed the driver's key with the driver.
  EXPECT_EQ(log[0], "RegDeleteKey Windows 4.0 return: 2");
  winsim::Hive hive = HiveOf(machine);
  EXPECT_FALSE(HasKey(hive, kPrinterKey));
  EXPECT_FALSE(HasKey(hive, kMonitorKey));
  EXPECT_FALSE(HasKey(hive, k9xDriverKey));
  EXPECT_TRUE(HasKey(hive, kEntryKey));
  EXPECT_EQ(UninstallKey(machine), "1");

  machine.Use();
  winsim::Reboot();
  journal_mark = Summary(machine).size();
  log_mark = LogTexts(machine).size();

  // Second run: nothing left to remove; the final message and the entry goes.
  machine.Answer({"yes"});
  RunResult second = machine.Setup({"uninstall"});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(EventsSince(machine, journal_mark), (std::vector<std::string>{Box(kAsk), Box(kFinal), kNotify}));
  log = LogSince(machine, log_mark);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "DeletePrinterDriver: 1797");
  EXPECT_EQ(log[1], "DeleteMonitor: 3000");
  EXPECT_EQ(log[2], "RegDeleteKey Windows 4.0 return: 2");
  EXPECT_FALSE(HasKey(HiveOf(machine), kEntryKey));
  EXPECT_EQ(UninstallKey(machine), "1");

  // After the reboot nothing holds the library: the install starts from scratch.
  RunResult install = machine.Setup();
  EXPECT_EQ(install.status, 0) << install.err;
  EXPECT_EQ(UninstallKey(machine), "");
  EXPECT_TRUE(HasKey(HiveOf(machine), kEntryKey));
  EXPECT_TRUE(HasKey(HiveOf(machine), kPrinterKey));
}

struct Nothing {
  const char* os;
  std::vector<std::string> events;  // after the question
};

class NothingInstalled : public ::testing::TestWithParam<Nothing> {};

TEST_P(NothingInstalled, LogsTheRefusedDeletionsAndClosesAsUsual) {
  const Nothing nothing = GetParam();
  TestMachine machine(nothing.os);
  machine.StageProduct();

  machine.Answer({"yes"});
  RunResult run = machine.Setup({"uninstall"});
  std::vector<std::string> expected{Box(kAsk)};
  expected.insert(expected.end(), nothing.events.begin(), nothing.events.end());
  EXPECT_EQ(EventsSince(machine, 0), expected);
  std::vector<std::string> log = LogTexts(machine);
  ASSERT_GE(log.size(), 2u);
  // No printer, so no "startrpc" line.
  EXPECT_EQ(log[0], "DeletePrinterDriver: 1797");
  EXPECT_EQ(log[1], "DeleteMonitor: 3000");
  EXPECT_FALSE(HasKey(HiveOf(machine), kEntryKey));
  if (std::string(nothing.os) == "98") {
    // The drivers key is there without the driver: the not-found code.
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2], "RegDeleteKey Windows 4.0 return: 2");
    EXPECT_EQ(run.status, 3010);
    EXPECT_EQ(UninstallKey(machine), "1");
  } else {
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(UninstallKey(machine), "<absent>");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Systems, NothingInstalled,
    ::testing::Values(Nothing{"xp", {"Restart", "Restart", Box(kFinal), kNotify}}, Nothing{"98", {Box(kReboot)}}),
    [](const ::testing::TestParamInfo<Nothing>& param) { return std::string("os_") + param.param.os; });

// Win32s: bit 31 set, major version 3. The NT branch: spooler restarts, the
// final message at once, no configuration file.
TEST(Win32sUninstall, TakesTheNtBranch) {
  TestMachine machine("win32s");
  machine.StageProduct();
  machine.Write("c:\\zentaq\\res\\zentaq.ini", "[Parameters]\r\nQuiet=0\r\n");

  machine.Answer({"yes"});
  RunResult run = machine.Setup({"uninstall"});
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> events = EventsSince(machine, 0);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0], Box(kAsk));
  EXPECT_EQ(events[events.size() - 2], Box(kFinal));
  EXPECT_EQ(events.back(), kNotify);
  EXPECT_EQ(std::count(events.begin(), events.end(), "Sleep 500"), 4) << "two spooler restarts";
  EXPECT_EQ(UninstallKey(machine), "<absent>");
  EXPECT_EQ(machine.Read("c:\\zentaq\\res\\zentaq.ini"), "[Parameters]\r\nQuiet=0\r\n");
}

}  // namespace

// Whole installs on fresh machines of each system: what the spooler, the
// hive, the system and driver directories, the journal, the setup log and
// standard output hold afterwards.
#include <gtest/gtest.h>

#include "install/install_checks.h"
#include "platform/win32.h"

using namespace checks;

namespace {

struct System {
  const char* os;
  bool nt;  // the NT branch
};

std::string Profile(const TestMachine& machine, const char* key) {
  machine.Use();
  char value[512] = {};
  GetPrivateProfileStringA("Parameters", key, "<absent>", value, sizeof(value), "c:\\zentaq\\res\\zentaq.ini");
  return value;
}

class FreshInstall : public ::testing::TestWithParam<System> {};

TEST_P(FreshInstall, LeavesAWorkingPrinterWithTheRecordsOfItsBranch) {
  const System system = GetParam();
  const winsim::OsInfo& info = Info(system.os);
  const std::string library = system.nt ? "ztqmon.dll" : "ztqmon95.dll";
  const std::string companion = system.nt ? "ztqmona.dll" : "ztqmona95.dll";
  const std::string sys = std::string(info.system_dir) + "\\";
  const std::string drv = std::string(info.driver_dir) + "\\";
  TestMachine machine(system.os);
  machine.StageProduct();

  RunResult run = machine.Setup();
  ASSERT_EQ(run.status, 0) << run.err;

  EXPECT_EQ(LogTexts(machine), (std::vector<std::string>{system.nt ? "is_winnt = TRUE" : "is_winnt = FALSE",
                                                         "is_win4 = TRUE",
                                                         std::string("Printer Driver Directory: ") + info.driver_dir}));
  std::string traces = system.nt ? "Initializing Spooler\n\nAdding printer driver\n\n"
                                 : "Adding printer driver\n\nDriver directory: " + std::string(info.driver_dir) + "\n\n";
  traces += "Enumerating ports\n\nAdding printer\n\nClosing printer\n\nConfiguring printer\n\n"
            "Completing printer setup...\n\n";
  EXPECT_EQ(run.out, traces);
  // NT: 3 s before the monitor, 1 s after. 9x: nothing before the monitor,
  // 1 s after it, 1 s before the driver. Then the readme, and no editor warning.
  std::vector<std::string> journal = system.nt ? std::vector<std::string>{"Sleep 3000", "Sleep 1000", Readme()}
                                               : std::vector<std::string>{"Sleep 1000", "Sleep 1000", Readme()};
  EXPECT_EQ(Summary(machine), journal);

  // Files: the branch's set, byte for byte, and nothing of the other branch.
  EXPECT_EQ(machine.Read(sys + library), Product("res/drivedir/" + library));
  EXPECT_EQ(machine.Read(sys + companion), Product("res/drivedir/" + companion));
  for (const char* name : {"gs.PPD", "fontsub.tbl"})
    EXPECT_EQ(machine.Read(drv + name), Product(std::string("res/drivedir/") + name)) << name;
  for (const char* name : {"Pscript.dll", "Zentaqui.dll"})
    EXPECT_EQ(machine.Exists(drv + name), system.nt) << name;
  EXPECT_EQ(machine.Exists(drv + "ztqdriver.SPD"), !system.nt);
  if (system.nt) {
    EXPECT_EQ(machine.Read(drv + "Pscript.hlp"), Product("res/drivedir/Pscript.hlp"));
  } else {
    EXPECT_EQ(machine.Read(drv + "ztqdriver.SPD"), Product("res/drivedir/ztqdriver.SPD"));
  }

  winsim::Hive hive = HiveOf(machine);
  // The port record: twelve values in their order, strings with their NUL.
  const winsim::RegKey* port = hive.Find(kPortKey);
  ASSERT_NE(port, nullptr);
  std::vector<std::string> order;
  for (const auto& value : port->values) order.push_back(value.name);
  EXPECT_EQ(order, (std::vector<std::string>{"Arguments", "Command", "Delay", "Description", "LogFileDebug",
                                             "LogFileName", "LogFileUse", "Output", "Printer", "PrintError",
                                             "RunUser", "ShowWindow"}));
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments"),
            Sz("@c:\\zentaq\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Arguments").size(), 62u);
  EXPECT_EQ(Bytes(hive, kPortKey, "Command"), Sz("c:\\zentaq\\res\\convert\\gswin32c.exe"));
  EXPECT_EQ(Bytes(hive, kPortKey, "Command").size(), 34u);
  EXPECT_EQ(Bytes(hive, kPortKey, "Description"), Sz("ZENTAQ Redirected Port"));
  EXPECT_EQ(Bytes(hive, kPortKey, "LogFileName"), Sz(""));
  EXPECT_EQ(Bytes(hive, kPortKey, "Printer"), Sz("ZENTAQ"));
  const std::pair<const char*, DWORD> numbers[] = {{"Delay", 300}, {"LogFileDebug", 0}, {"LogFileUse", 0},
                                                   {"Output", 1},   {"PrintError", 0},   {"RunUser", 0},
                                                   {"ShowWindow", 2}};
  for (const auto& number : numbers) {
    EXPECT_EQ(Type(hive, kPortKey, number.first), static_cast<DWORD>(REG_DWORD)) << number.first;
    EXPECT_EQ(Bytes(hive, kPortKey, number.first), Dw(number.second)) << number.first;
  }
  for (const char* name : {"Arguments", "Command", "Description", "LogFileName", "Printer"})
    EXPECT_EQ(Type(hive, kPortKey, name), static_cast<DWORD>(REG_SZ)) << name;

  // The spooler's registrations.
  EXPECT_EQ(Text(hive, kMonitorKey, "Driver"), library);
  EXPECT_EQ(Text(hive, kPrinterKey, "Port"), "ZENTAQPORT");
  EXPECT_EQ(Text(hive, kPrinterKey, "Printer Driver"), "ZENTAQ Printer Driver");
  EXPECT_EQ(Text(hive, kPrinterKey, "Print Processor"), "winprint");
  EXPECT_EQ(Dword(hive, kPrinterKey, "Attributes"), system.nt ? 0 : 0x40);

  // The printer's configuration: each value the whole of its file.
  std::string fonts = Product("res/drivedir/fontsub.tbl");
  EXPECT_EQ(Bytes(hive, kDriverDataKey, "TTFontSubTableSize"), Dw(static_cast<DWORD>(fonts.size())));
  EXPECT_EQ(Bytes(hive, kDriverDataKey, "TTFontSubTable"), fonts);
  EXPECT_EQ(Type(hive, kDriverDataKey, "TTFontSubTable"), static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(Bytes(hive, kDriverDataKey, "PrinterData"), Product("res/drivedir/printerdata.dat"));
  EXPECT_EQ(Bytes(hive, kPrinterKey, "Default DevMode"),
            Product(system.nt ? "res/drivedir/dfdevmdnt.dat" : "res/drivedir/dfdevmd.dat"));

  EXPECT_EQ(Bytes(hive, kEntryKey, "DisplayName"), Sz("Zentaq"));
  EXPECT_EQ(Bytes(hive, kEntryKey, "UninstallString"), Sz("c:\\zentaq\\setup.exe uninstall"));

  EXPECT_EQ(Profile(machine, "Quiet"), "0");
  EXPECT_EQ(Profile(machine, "Uninstall"), system.nt ? "<absent>" : "");
}

INSTANTIATE_TEST_SUITE_P(Systems, FreshInstall,
                         ::testing::Values(System{"xp", true}, System{"2000", true}, System{"nt4", true},
                                           System{"98", false}, System{"me", false}),
                         [](const ::testing::TestParamInfo<System>& param) {
                           return std::string("os_") + param.param.os;
                         });

// Bit 31 set and a major version below 4: the library names of the 9x family
// but the NT branch everywhere, which this machine's spooler (environment
// "Windows 4.0") refuses.
TEST(FreshInstallWin32s, TakesTheNtBranchWithThe9xLibraryNames) {
  const winsim::OsInfo& info = Info("win32s");
  const std::string sys = std::string(info.system_dir) + "\\";
  const std::string drv = std::string(info.driver_dir) + "\\";
  TestMachine machine("win32s");
  machine.StageProduct();
  machine.Write("c:\\zentaq\\res\\zentaq.ini", "[Parameters]\r\nUninstall=1\r\n");

  RunResult run = machine.Setup();
  EXPECT_EQ(run.status, 1603) << "the printer could not be created";

  std::vector<std::string> log = LogTexts(machine);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "is_winnt = FALSE");
  EXPECT_EQ(log[1], "is_win4 = FALSE");
  EXPECT_NE(std::find(log.begin(), log.end(), "AddMonitor: 1805"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "AddPrinterDriver: 1805"), log.end());
  EXPECT_EQ(run.out.rfind("Initializing Spooler\n\nAdding printer driver\n\nEnumerating ports\n\n", 0), 0u)
      << run.out;
  EXPECT_EQ(run.out.find("Driver directory: "), std::string::npos);
  std::vector<std::string> journal = Summary(machine);
  ASSERT_GE(journal.size(), 4u);
  EXPECT_EQ(journal[0], "Sleep 3000");

  EXPECT_TRUE(machine.Exists(sys + "ztqmon95.dll"));
  EXPECT_TRUE(machine.Exists(sys + "ztqmona95.dll"));
  EXPECT_FALSE(machine.Exists(sys + "ztqmon.dll"));
  EXPECT_TRUE(machine.Exists(drv + "Zentaqui.dll"));
  EXPECT_FALSE(machine.Exists(drv + "ztqdriver.SPD"));
  // The NT branch leaves the 9x key of the configuration file alone.
  EXPECT_EQ(Profile(machine, "Uninstall"), "1");
}

}  // namespace

// The simulated spooler's ports, drivers and printers: the codes Windows
// gives, the records in the hive, and an install cycle taken apart again.
#include <cstdio>
#include <cstring>

#include "sim/spooler_test_helpers.h"

namespace {

const char kMonitor[] = "ZENTAQ Monitor";
const char kDriver[] = "ZENTAQ Printer Driver";

std::string DriverKey(const char* name) {
  bool nt = winsim::Machine::Get().os().nt_family;
  return std::string(kPrint) + "Environments\\" + Native() + (nt ? "\\Drivers\\Version-2\\" : "\\Drivers\\") + name;
}

HANDLE Open(const char* name, PRINTER_DEFAULTSA* defaults, Outcome* outcome) {
  HANDLE printer = reinterpret_cast<HANDLE>(1);
  *outcome = Call([&] { return OpenPrinterA(S(name), &printer, defaults); });
  return printer;
}

// A machine with the monitor and its port registered.
void RegisterPort(const TestMachine& m) {
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  AddPortRecord(kMonitor, "ZENTAQPORT", "ZENTAQ Redirected Port");
}

TEST(EnumPorts, ListsTheLocalPortsFirstThenEachRegisteredMonitorsPortRecords) {
  TestMachine m("xp", "[spooler]\nlocal_ports = LPT1: , FILE:\n");
  m.Use();
  RegisterPort(m);
  DWORD needed = 0, count = 0;
  EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 2, nullptr, 0, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  size_t strings = 0;
  for (const char* s : {"LPT1:", "Local Port", "Local Port", "FILE:", "Local Port", "Local Port", "ZENTAQPORT", kMonitor,
                        "ZENTAQ Redirected Port"})
    strings += 2 * (strlen(s) + 1);
  EXPECT_EQ(needed, 3 * sizeof(PORT_INFO_2A) + strings);

  std::vector<BYTE> buffer(needed + 1);
  EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 2, buffer.data(), needed - 1, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  for (DWORD room : {needed, needed + 1}) {
    EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 2, buffer.data(), room, &needed, &count); }), Ok());
    ASSERT_EQ(count, 3u);
    PORT_INFO_2A ports[3];
    memcpy(ports, buffer.data(), sizeof ports);
    EXPECT_STREQ(ports[0].pPortName, "LPT1:");
    EXPECT_STREQ(ports[1].pPortName, "FILE:");
    EXPECT_STREQ(ports[1].pMonitorName, "Local Port");
    EXPECT_STREQ(ports[2].pPortName, "ZENTAQPORT");
    EXPECT_STREQ(ports[2].pMonitorName, kMonitor);
    EXPECT_STREQ(ports[2].pDescription, "ZENTAQ Redirected Port");
    EXPECT_EQ(ports[2].fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
  }
  EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 3, buffer.data(), needed, &needed, &count); }),
            Fails(ERROR_INVALID_LEVEL));
  EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 2, buffer.data(), needed, nullptr, &count); }), Fails(1780))
      << "the NT spooler's RPC layer refuses a NULL pointer";
}

TEST(AddPrinterDriver, OnNtWantsItsThreeFilesAndRecordsTheDriver) {
  TestMachine m("xp");
  m.Use();
  DriverFiles files = StageDriverFiles(m, true);
  for (std::string* missing : {&files.driver, &files.data, &files.config}) {
    std::string kept = *missing;
    *missing = DriverFile("absent.dll");
    EXPECT_EQ(AddDriver(files.Info(kDriver)), Fails(ERROR_FILE_NOT_FOUND));
    *missing = kept;
  }
  EXPECT_EQ(Key(DriverKey(kDriver)), nullptr);

  // Pscript.hlp is absent: the help file is not checked; pscript.dll is
  // found as Pscript.dll.
  DRIVER_INFO_3A info = files.Info(kDriver);
  EXPECT_EQ(Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); }), Ok());
  std::string key = DriverKey(kDriver);
  EXPECT_EQ(TextOf(key, "Driver"), DriverFile("pscript.dll") + '\0');
  EXPECT_EQ(TextOf(key, "Data File"), DriverFile("gs.PPD") + '\0');
  EXPECT_EQ(TextOf(key, "Configuration File"), DriverFile("Zentaqui.dll") + '\0');
  EXPECT_EQ(TextOf(key, "Help File"), DriverFile("Pscript.hlp") + '\0');
  EXPECT_EQ(TextOf(key, "Datatype"), std::string("RAW\0", 4));
  EXPECT_EQ(TextOf(key, "Version"), std::string("\2\0\0\0", 4));

  info.pEnvironment = S("Windows 4.0");
  EXPECT_EQ(Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); }),
            Fails(ERROR_INVALID_ENVIRONMENT));
  info.pEnvironment = nullptr;
  EXPECT_EQ(Call([&] { return AddPrinterDriverA(nullptr, 4, reinterpret_cast<LPBYTE>(&info)); }),
            Fails(ERROR_INVALID_LEVEL));
  EXPECT_EQ(Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); }), Ok())
      << "adding a driver again updates it";
}

TEST(AddPrinterDriver, OnNineXLooksUpBareNamesInTheDriverDirectoryAndKeepsTheDependentFiles) {
  TestMachine m("98");
  m.Use();
  m.Write(DriverFile("PSCRIPT.DRV"), "placeholder");
  DRIVER_INFO_3A info{};
  info.cVersion = 2;
  info.pName = S(kDriver);
  info.pEnvironment = S("Windows 4.0");
  info.pDriverPath = S("Pscript.drv");
  info.pConfigFile = S("Pscript.drv");
  info.pDataFile = S("ztqdriver.SPD");
  info.pHelpFile = S("Pscript.hlp");
  const char dependent[] = "msprint.cat\0PSCRIPT.DRV\0ZTQDRIVER.SPD\0";
  info.pDependentFiles = S(dependent);
  EXPECT_EQ(AddDriver(info), Fails(ERROR_FILE_NOT_FOUND));
  m.Write("c:\\zentaq\\ztqdriver.SPD", "not in the driver directory");
  EXPECT_EQ(AddDriver(info), Fails(ERROR_FILE_NOT_FOUND));
  m.Write(DriverFile("ZTQDRIVER.spd"), "placeholder");
  EXPECT_EQ(AddDriver(info), Ok());
  std::string key = std::string(kPrint) + "Environments\\Windows 4.0\\Drivers\\" + kDriver;
  const winsim::RegValue* list = Key(key) ? Key(key)->Value("Dependent Files") : nullptr;
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(std::string(list->data.begin(), list->data.end()), std::string(dependent, sizeof dependent));
  EXPECT_EQ(TextOf(key, "Driver"), std::string("Pscript.drv\0", 12));
}

TEST(DeletePrinterDriver, RefusesAnUnknownDriverAndOneInUse) {
  TestMachine m("xp");
  m.Use();
  RegisterPort(m);
  DriverFiles files = StageDriverFiles(m, true);
  auto remove = [] { return Call([] { return DeletePrinterDriverA(nullptr, S(Native()), S(kDriver)); }); };
  EXPECT_EQ(remove(), Fails(ERROR_UNKNOWN_PRINTER_DRIVER));
  ASSERT_EQ(AddDriver(files.Info(kDriver)), Ok());
  ASSERT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "ZENTAQPORT", kDriver)), Ok());
  EXPECT_EQ(remove(), Fails(ERROR_PRINTER_DRIVER_IN_USE));
  EXPECT_EQ(Call([] { return DeletePrinterDriverA(nullptr, S("Windows 4.0"), S(kDriver)); }),
            Fails(ERROR_INVALID_ENVIRONMENT));

  // The installer's own registry deletion takes the printer away just as well.
  HKEY printers = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kPrint) + "Printers").c_str(), 0, KEY_ALL_ACCESS, &printers),
            0);
  EXPECT_EQ(RegDeleteKeyA(printers, "ZENTAQ"), 0);
  RegCloseKey(printers);
  EXPECT_EQ(remove(), Ok());
  EXPECT_EQ(Key(DriverKey(kDriver)), nullptr);
  EXPECT_EQ(remove(), Fails(ERROR_UNKNOWN_PRINTER_DRIVER));
}

TEST(AddPrinter, ChecksNameDriverPortAndProcessorAndRecordsThePrinter) {
  TestMachine m("98");
  m.Use();
  RegisterPort(m);
  m.Write(DriverFile("Pscript.drv"), "placeholder");
  m.Write(DriverFile("ztqdriver.SPD"), "placeholder");
  DRIVER_INFO_3A driver{};
  driver.cVersion = 2;
  driver.pName = S(kDriver);
  driver.pDriverPath = driver.pConfigFile = S("Pscript.drv");
  driver.pDataFile = S("ztqdriver.SPD");
  ASSERT_EQ(AddDriver(driver), Ok());

  EXPECT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "ZENTAQPORT", "No Such Driver")), Fails(ERROR_UNKNOWN_PRINTER_DRIVER));
  EXPECT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "NOSUCHPORT", kDriver)), Fails(ERROR_UNKNOWN_PORT));
  EXPECT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "LPT1:,NOSUCHPORT", kDriver)), Fails(ERROR_UNKNOWN_PORT));
  PRINTER_INFO_2A info = PrinterInfo("ZENTAQ", "ZENTAQPORT", kDriver);
  info.pPrintProcessor = S("lpdprint");
  EXPECT_EQ(AddPrinter(info), Fails(ERROR_UNKNOWN_PRINTPROCESSOR));
  for (const char* bad : {"ZENTAQ,0", "Printers\\ZENTAQ", ""})
    EXPECT_EQ(AddPrinter(PrinterInfo(bad, "ZENTAQPORT", kDriver)), Fails(ERROR_INVALID_PRINTER_NAME)) << bad;
  EXPECT_EQ(Key(std::string(kPrint) + "Printers\\ZENTAQ"), nullptr);

  info = PrinterInfo("ZENTAQ", "ZENTAQPORT", kDriver);
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  EXPECT_EQ(AddPrinter(info), Ok());
  EXPECT_EQ(AddPrinter(info), Fails(ERROR_PRINTER_ALREADY_EXISTS));
  EXPECT_EQ(AddPrinter(PrinterInfo("zentaq", "LPT1:", kDriver)), Fails(ERROR_PRINTER_ALREADY_EXISTS));
  std::string key = std::string(kPrint) + "Printers\\ZENTAQ";
  EXPECT_EQ(TextOf(key, "Name"), std::string("ZENTAQ\0", 7));
  EXPECT_EQ(TextOf(key, "Port"), std::string("ZENTAQPORT\0", 11));
  EXPECT_EQ(TextOf(key, "Printer Driver"), std::string(kDriver) + '\0');
  EXPECT_EQ(TextOf(key, "Print Processor"), std::string("winprint\0", 9));
  EXPECT_EQ(TextOf(key, "Datatype"), std::string("RAW\0", 4));
  EXPECT_EQ(TextOf(key, "Attributes"), std::string("\x40\0\0\0", 4));
}

TEST(PrinterHandles, OpenDeleteAndCloseAsWindowsAllows) {
  TestMachine m("xp");
  m.Use();
  RegisterPort(m);
  ASSERT_EQ(AddDriver(StageDriverFiles(m, true).Info(kDriver)), Ok());
  ASSERT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "ZENTAQPORT", kDriver)), Ok());
  // The installer writes its printer data below the printer's key.
  HKEY data = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (std::string(kPrint) + "Printers\\ZENTAQ\\PrinterDriverData").c_str(), &data), 0);
  RegCloseKey(data);

  Outcome outcome;
  EXPECT_EQ(Open("No Such Printer", nullptr, &outcome), nullptr);
  EXPECT_EQ(outcome, Fails(ERROR_INVALID_PRINTER_NAME));

  // A handle opened without defaults may print but not delete, on NT.
  HANDLE use = Open("zentaq", nullptr, &outcome);
  EXPECT_EQ(outcome, Ok());
  EXPECT_EQ(Call([&] { return DeletePrinter(use); }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([&] { return ClosePrinter(use); }), Ok());
  EXPECT_EQ(Call([&] { return ClosePrinter(use); }), Fails(ERROR_INVALID_HANDLE));

  PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = Open("ZENTAQ", &all, &outcome);
  EXPECT_EQ(outcome, Ok());
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Ok());
  EXPECT_EQ(Key(std::string(kPrint) + "Printers\\ZENTAQ"), nullptr);
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Fails(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(Call([&] { return ClosePrinter(printer); }), Ok());
  EXPECT_EQ(Call([] { return DeletePrinter(nullptr); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([] { return ClosePrinter(nullptr); }), Fails(ERROR_INVALID_HANDLE));
}

TEST(PrinterHandles, OnNineXAHandleWithoutDefaultsDeletes) {
  TestMachine m("98");
  m.Use();
  m.Write(DriverFile("Pscript.drv"), "placeholder");
  m.Write(DriverFile("gs.PPD"), "placeholder");
  DRIVER_INFO_3A driver{};
  driver.pName = S(kDriver);
  driver.pDriverPath = driver.pConfigFile = S("Pscript.drv");
  driver.pDataFile = S("gs.PPD");
  ASSERT_EQ(AddDriver(driver), Ok());
  ASSERT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "FILE:", kDriver)), Ok());
  Outcome outcome;
  HANDLE printer = Open("ZENTAQ", nullptr, &outcome);
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Ok());
  EXPECT_TRUE(ClosePrinter(printer));
}

TEST(PrinterChanges, NeedAdministrativeRights) {
  TestMachine m("xp");
  m.Use();
  RegisterPort(m);
  DriverFiles files = StageDriverFiles(m, true);
  ASSERT_EQ(AddDriver(files.Info(kDriver)), Ok());
  ASSERT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "ZENTAQPORT", kDriver)), Ok());
  // The same machine, now used by someone without rights.
  FILE* ini = fopen((m.root() + "/machine.ini").c_str(), "a");
  ASSERT_NE(ini, nullptr);
  fputs("[machine]\nadmin = no\n", ini);
  fclose(ini);
  m.Use();

  EXPECT_EQ(AddDriver(files.Info("Another Driver")), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(AddPrinter(PrinterInfo("Another", "LPT1:", kDriver)), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([] { return DeletePrinterDriverA(nullptr, nullptr, S(kDriver)); }), Fails(ERROR_ACCESS_DENIED));
  PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
  Outcome outcome;
  EXPECT_EQ(Open("ZENTAQ", &all, &outcome), nullptr);
  EXPECT_EQ(outcome, Fails(ERROR_ACCESS_DENIED));
  HANDLE use = Open("ZENTAQ", nullptr, &outcome);
  EXPECT_EQ(outcome, Ok()) << "a user may open a printer to print";
  EXPECT_EQ(Call([&] { return DeletePrinter(use); }), Fails(ERROR_ACCESS_DENIED));
  ClosePrinter(use);
}

// Monitor, port record, driver and printer as an install makes them, then
// taken away in reverse order as the uninstall does: each step shows in what
// the spooler enumerates.
TEST(InstallCycle, EnumerationFollowsEveryRegistrationAndRemoval) {
  TestMachine m("2000");
  m.Use();
  RegisterPort(m);
  ASSERT_EQ(AddDriver(StageDriverFiles(m, true).Info(kDriver)), Ok());
  ASSERT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "ZENTAQPORT", kDriver)), Ok());
  EXPECT_EQ(MonitorNames(), (Names{"Local Port", kMonitor}));
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:", "ZENTAQPORT"}));

  PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
  Outcome outcome;
  HANDLE printer = Open("ZENTAQ", &all, &outcome);
  ASSERT_EQ(outcome, Ok());
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Ok());
  EXPECT_EQ(Call([&] { return ClosePrinter(printer); }), Ok());
  EXPECT_EQ(Call([] { return DeletePrinterDriverA(nullptr, S("Windows NT x86"), S(kDriver)); }), Ok());
  EXPECT_EQ(DeleteMonitor(kMonitor), Ok());

  EXPECT_EQ(MonitorNames(), (Names{"Local Port"}));
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:"}));
  Open("ZENTAQ", nullptr, &outcome);
  EXPECT_EQ(outcome, Fails(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(Key(std::string(kPrint) + "Monitors\\" + kMonitor), nullptr);
  EXPECT_EQ(Key(DriverKey(kDriver)), nullptr);
  EXPECT_EQ(Key(std::string(kPrint) + "Printers\\ZENTAQ"), nullptr);

  // Registered again from scratch, everything comes back.
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  EXPECT_EQ(MonitorNames(), (Names{"Local Port", kMonitor}));
}

}  // namespace

// The simulated spooler's ports, drivers and printers: the codes Windows
// gives, the records in the hive, and an install cycle taken apart again.
#include <cstring>

#include "sim/spooler_test_helpers.h"

namespace {

std::string DriverKey() {
  return std::string(kPrint) + "Environments\\" + Os().environment + (Os().nt_family ? "\\Drivers\\Version-2\\" : "\\Drivers\\") + kDriver;
}
const std::string kPrinterKey = std::string(kPrint) + "Printers\\ZENTAQ";

Outcome Open(const char* name, DWORD access, HANDLE* printer) {
  PRINTER_DEFAULTSA defaults{nullptr, nullptr, access};
  *printer = reinterpret_cast<HANDLE>(1);
  return Call([&] { return OpenPrinterA(S(name), printer, access ? &defaults : nullptr); });
}

TEST(EnumPorts, ListsTheLocalPortsFirstThenTheRegisteredMonitorsPortRecords) {
  TestMachine m("xp", "[spooler]\nlocal_ports = LPT1: , FILE:\n");
  m.Use();
  RegisterPort(m);
  DWORD needed = 0, count = 0;
  EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 2, nullptr, 0, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  size_t strings = 2 * (sizeof("LPT1:") + sizeof("FILE:") + 4 * sizeof("Local Port") + sizeof("ZENTAQPORT") +
                        sizeof(kMonitor) + sizeof("Redirected"));
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
    EXPECT_STREQ(ports[1].pMonitorName, "Local Port");
    EXPECT_STREQ(ports[2].pPortName, "ZENTAQPORT");
    EXPECT_STREQ(ports[2].pMonitorName, kMonitor);
    EXPECT_STREQ(ports[2].pDescription, "Redirected");
  }
  EXPECT_EQ(Call([&] { return EnumPortsA(nullptr, 2, buffer.data(), needed, nullptr, &count); }), Fails(1780))
      << "RPC_X_NULL_REF_POINTER, from the NT spooler's RPC layer";
}

TEST(AddPrinterDriver, OnNtWantsTheDriverDataAndConfigurationFiles) {
  TestMachine m("xp");
  m.Use();
  NtDriver driver(m);
  for (std::string* missing : {&driver.driver, &driver.data, &driver.config}) {
    std::string kept = *missing;
    *missing = DriverFile("absent.dll");
    EXPECT_EQ(driver.Add(), Fails(ERROR_FILE_NOT_FOUND));
    *missing = kept;
  }
  EXPECT_EQ(driver.Add("Windows 4.0"), Fails(ERROR_INVALID_ENVIRONMENT));
  EXPECT_EQ(Key(DriverKey()), nullptr);
  // pscript.dll is found as Pscript.dll; the help file is not looked for.
  EXPECT_EQ(driver.Add(), Ok());
  EXPECT_EQ(Bytes(DriverKey(), "Driver"), driver.driver + '\0');
  EXPECT_EQ(Bytes(DriverKey(), "Configuration File"), driver.config + '\0');
  EXPECT_EQ(Bytes(DriverKey(), "Version"), std::string("\2\0\0\0", 4));
  EXPECT_EQ(driver.Add(), Ok()) << "adding a driver again updates it";
}

TEST(AddPrinterDriver, OnNineXLooksUpBareNamesInTheDriverDirectoryAndKeepsTheDependentFiles) {
  TestMachine m("98");
  m.Use();
  m.Write(DriverFile("PSCRIPT.DRV"), "placeholder");
  m.Write("c:\\zentaq\\ztqdriver.SPD", "not in the driver directory");
  const char dependent[] = "msprint.cat\0PSCRIPT.DRV\0ZTQDRIVER.SPD\0";
  DRIVER_INFO_3A info{2, S(kDriver), S("Windows 4.0"), S("Pscript.drv"), S("ztqdriver.SPD"), S("Pscript.drv"),
                      S("Pscript.hlp"), S(dependent), nullptr, S("RAW")};
  auto add = [&] { return Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); }); };
  EXPECT_EQ(add(), Fails(ERROR_FILE_NOT_FOUND));
  m.Write(DriverFile("ZTQDRIVER.spd"), "placeholder");
  EXPECT_EQ(add(), Ok());
  EXPECT_EQ(Bytes(DriverKey(), "Dependent Files"), std::string(dependent, sizeof dependent));
  EXPECT_EQ(Key(DriverKey())->Value("Dependent Files")->type, static_cast<DWORD>(REG_MULTI_SZ));
}

TEST(AddPrinter, ChecksDriverPortAndProcessorAndRecordsThePrinterOnce) {
  TestMachine m("xp");
  m.Use();
  RegisterPort(m);
  ASSERT_EQ(NtDriver(m).Add(), Ok());
  EXPECT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT", "No Such Driver"), Fails(ERROR_UNKNOWN_PRINTER_DRIVER));
  EXPECT_EQ(AddPrinter("ZENTAQ", "NOSUCHPORT"), Fails(ERROR_UNKNOWN_PORT));
  EXPECT_EQ(AddPrinter("ZENTAQ", "LPT1:,NOSUCHPORT"), Fails(ERROR_UNKNOWN_PORT));
  EXPECT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT", kDriver, "lpdprint"), Fails(ERROR_UNKNOWN_PRINTPROCESSOR));
  for (const char* bad : {"ZENTAQ,0", "Printers\\ZENTAQ", ""})
    EXPECT_EQ(AddPrinter(bad, "ZENTAQPORT"), Fails(ERROR_INVALID_PRINTER_NAME)) << bad;
  EXPECT_EQ(Key(kPrinterKey), nullptr);

  EXPECT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT"), Ok());
  EXPECT_EQ(AddPrinter("zentaq", "LPT1:"), Fails(ERROR_PRINTER_ALREADY_EXISTS));
  EXPECT_EQ(Bytes(kPrinterKey, "Port"), std::string("ZENTAQPORT", 11));
  EXPECT_EQ(Bytes(kPrinterKey, "Printer Driver"), std::string(kDriver, sizeof kDriver));
  EXPECT_EQ(Bytes(kPrinterKey, "Print Processor"), std::string("winprint", 9));
  EXPECT_EQ(Bytes(kPrinterKey, "Attributes"), std::string(4, '\0'));
  EXPECT_EQ(Bytes(kPrinterKey, "Datatype"), std::string("RAW", 4)) << "winprint's default";
  // The strings the caller left NULL are recorded empty.
  for (const char* value : {"Share Name", "Description", "Location", "Parameters", "Separator File"})
    EXPECT_EQ(Bytes(kPrinterKey, value), std::string(1, '\0')) << value;
  for (const char* value : {"Priority", "Default Priority", "StartTime", "UntilTime", "Status"})
    EXPECT_EQ(Bytes(kPrinterKey, value), std::string(4, '\0')) << value;
}

// An installer writes printer data straight into Printers\<name>; when the
// printer itself could not be added then, the key is no printer: it can't be
// opened, and adding the printer later takes the key over, data kept.
TEST(AddPrinter, AKeyHoldingOnlyPrinterDataIsNoPrinter) {
  TestMachine m("xp");
  m.Use();
  RegisterPort(m);
  ASSERT_EQ(NtDriver(m).Add(), Ok());
  HKEY data = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (kPrinterKey + "\\PrinterDriverData").c_str(), &data), ERROR_SUCCESS);
  const BYTE bytes[] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExA(data, "PrinterData", 0, REG_BINARY, bytes, sizeof bytes), ERROR_SUCCESS);
  RegCloseKey(data);

  HANDLE printer = nullptr;
  EXPECT_EQ(Open("ZENTAQ", 0, &printer), Fails(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT"), Ok());
  EXPECT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT"), Fails(ERROR_PRINTER_ALREADY_EXISTS));
  EXPECT_EQ(Bytes(kPrinterKey + "\\PrinterDriverData", "PrinterData"), std::string("\1\2\3", 3));
  EXPECT_EQ(Open("ZENTAQ", 0, &printer), Ok());
  ClosePrinter(printer);
}

TEST(PrinterHandles, DeleteNeedsAHandleOpenedForItOnNtAndRights) {
  TestMachine m("xp");
  m.Use();
  RegisterPort(m);
  ASSERT_EQ(NtDriver(m).Add(), Ok());
  ASSERT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT"), Ok());
  HANDLE printer = nullptr;
  EXPECT_EQ(Open("No Such Printer", 0, &printer), Fails(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(printer, nullptr);
  // A handle opened without defaults may print, not delete.
  EXPECT_EQ(Open("zentaq", 0, &printer), Ok());
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([&] { return ClosePrinter(printer); }), Ok());
  EXPECT_EQ(Call([&] { return ClosePrinter(printer); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([] { return DeletePrinter(nullptr); }), Fails(ERROR_INVALID_HANDLE));

  FILE* ini = fopen((m.root() + "/machine.ini").c_str(), "a");  // the same machine, a user without rights
  ASSERT_NE(ini, nullptr);
  fputs("[machine]\nadmin = no\n", ini);
  fclose(ini);
  m.Use();
  EXPECT_EQ(Open("ZENTAQ", PRINTER_ALL_ACCESS, &printer), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(AddPrinter("Another", "LPT1:"), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(NtDriver(m).Add(), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([] { return DeletePrinterDriverA(nullptr, nullptr, S(kDriver)); }), Fails(ERROR_ACCESS_DENIED));
}

// Monitor, port record, driver and printer as an install makes them, then
// removed in reverse order as the uninstall does it; enumeration shows each step.
class InstallCycle : public ::testing::TestWithParam<const char*> {};

TEST_P(InstallCycle, EnumerationFollowsEveryRegistrationAndRemoval) {
  TestMachine m(GetParam());
  m.Use();
  RegisterPort(m);
  m.Write(DriverFile("Pscript.dll"), "placeholder");
  DRIVER_INFO_3A info{2, S(kDriver), nullptr, S("pscript.dll"), S("pscript.dll"), S("pscript.dll"),
                      nullptr, nullptr, nullptr, nullptr};
  ASSERT_EQ(Call([&] { return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&info)); }), Ok());
  ASSERT_EQ(AddPrinter("ZENTAQ", "ZENTAQPORT"), Ok());
  HKEY data = nullptr;  // the installer writes its printer data below the printer's key
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (kPrinterKey + "\\PrinterDriverData").c_str(), &data), 0);
  RegCloseKey(data);
  EXPECT_EQ(MonitorNames(), (Names{"Local Port", kMonitor}));
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:", "ZENTAQPORT"}));

  auto delete_driver = [] { return Call([] { return DeletePrinterDriverA(nullptr, S(Os().environment), S(kDriver)); }); };
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_PRINT_MONITOR_IN_USE));
  EXPECT_EQ(delete_driver(), Fails(ERROR_PRINTER_DRIVER_IN_USE));
  HANDLE printer = nullptr;
  ASSERT_EQ(Open("ZENTAQ", PRINTER_ALL_ACCESS, &printer), Ok());
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Ok());
  EXPECT_EQ(Key(kPrinterKey), nullptr);
  EXPECT_EQ(Call([&] { return DeletePrinter(printer); }), Fails(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(Call([&] { return ClosePrinter(printer); }), Ok());
  EXPECT_EQ(delete_driver(), Ok());
  EXPECT_EQ(delete_driver(), Fails(ERROR_UNKNOWN_PRINTER_DRIVER));
  EXPECT_EQ(DeleteMonitor("Local Port"), Fails(ERROR_PRINT_MONITOR_IN_USE));
  EXPECT_EQ(DeleteMonitor("ZENTAQ MONITOR"), Ok());
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_UNKNOWN_PRINT_MONITOR));

  EXPECT_EQ(MonitorNames(), (Names{"Local Port"}));
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:"}));
  EXPECT_EQ(Open("ZENTAQ", 0, &printer), Fails(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(Key(std::string(kPrint) + "Monitors\\" + kMonitor), nullptr) << "its port records went with it";
  EXPECT_EQ(Key(DriverKey()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Systems, InstallCycle, ::testing::Values("2000", "95"));

// The installer deletes the spooler's keys itself too; the spooler sees that.
TEST(InstallCycle, RegistryDeletionsActOnTheSpooler) {
  TestMachine m("98");
  m.Use();
  RegisterPort(m);
  HKEY monitors = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kPrint) + "Monitors").c_str(), 0, KEY_ALL_ACCESS, &monitors), 0);
  EXPECT_EQ(RegDeleteKeyA(monitors, kMonitor), 0);
  RegCloseKey(monitors);
  EXPECT_EQ(MonitorNames(), (Names{"Local Port"}));
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:"}));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Added());
}

}  // namespace

// The simulated spooler's driver directory and port monitors: the answers
// and codes Windows gives, the Enum buffer layout, and the monitor library
// that stays held until the spooler restarts (NT) or the machine boots (9x).
#include <cstring>

#include "sim/spooler_test_helpers.h"

namespace {

const char kMonitor[] = "ZENTAQ Monitor";

class DriverDirectory : public ::testing::TestWithParam<const char*> {};

TEST_P(DriverDirectory, IsTheSystemsFolderAndReportsTheRoomItNeeds) {
  TestMachine m(GetParam());
  m.Use();
  std::string expected = winsim::Machine::Get().os().driver_dir;
  DWORD size = static_cast<DWORD>(expected.size() + 1);
  char buffer[300];
  DWORD needed = 0;

  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buffer, size - 1, &needed); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(buffer[0], 'x') << "a buffer too small is left alone";
  for (DWORD room : {size, size + 1}) {
    needed = 0;
    EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buffer, room, &needed); }),
              Ok());
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(needed, size);
  }
  EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, S(Native()), 1, (LPBYTE)buffer, 300, &needed); }),
            Ok());
  const char* foreign = winsim::Machine::Get().os().nt_family ? "Windows 4.0" : "Windows NT x86";
  EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, S(foreign), 1, (LPBYTE)buffer, 300, &needed); }),
            Fails(ERROR_INVALID_ENVIRONMENT));
  EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 2, (LPBYTE)buffer, 300, &needed); }),
            Fails(ERROR_INVALID_LEVEL));
}

INSTANTIATE_TEST_SUITE_P(Systems, DriverDirectory, ::testing::Values("xp", "2000", "nt4", "98", "95"));

// EnumMonitorsA's buffer: the records from the start, the strings packed
// down from the end; on NT each string takes the room of its Unicode form.
class EnumMonitorsBuffer : public ::testing::TestWithParam<const char*> {};

TEST_P(EnumMonitorsBuffer, FitsExactlyInTheSizeReportedAndNoLess) {
  TestMachine m(GetParam());
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  bool nt = winsim::Machine::Get().os().nt_family;
  size_t unit = nt ? 2 : 1;
  DWORD expected = static_cast<DWORD>(2 * sizeof(MONITOR_INFO_1A) + unit * (strlen("Local Port") + 1) +
                                      unit * (strlen(kMonitor) + 1));
  DWORD needed = 0, count = 7;

  EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, expected);
  EXPECT_EQ(count, 0u);

  std::vector<BYTE> buffer(expected + 1, 0xcc);
  count = 7;
  EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 1, buffer.data(), expected - 1, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, expected);
  EXPECT_EQ(count, 0u);

  for (DWORD room : {expected, expected + 1}) {
    std::fill(buffer.begin(), buffer.end(), 0xcc);
    EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 1, buffer.data(), room, &needed, &count); }), Ok());
    ASSERT_EQ(count, 2u);
    MONITOR_INFO_1A records[2];
    memcpy(records, buffer.data(), sizeof records);
    EXPECT_STREQ(records[0].pName, "Local Port");
    EXPECT_STREQ(records[1].pName, kMonitor);
    // The first record's string ends the buffer; the strings follow the records.
    EXPECT_EQ(reinterpret_cast<BYTE*>(records[0].pName), buffer.data() + room - unit * (strlen("Local Port") + 1));
    EXPECT_GE(reinterpret_cast<BYTE*>(records[1].pName), buffer.data() + sizeof records);
    if (room == expected) {
      EXPECT_EQ(buffer[expected], 0xcc) << "nothing written past the size given";
    }
  }
  EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 3, buffer.data(), expected, &needed, &count); }),
            Fails(ERROR_INVALID_LEVEL));
}

TEST_P(EnumMonitorsBuffer, LevelTwoGivesEnvironmentAndLibrary) {
  TestMachine m(GetParam());
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  DWORD needed = 0, count = 0;
  EnumMonitorsA(nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  ASSERT_EQ(Call([&] { return EnumMonitorsA(nullptr, 2, buffer.data(), needed, &needed, &count); }), Ok());
  ASSERT_EQ(count, 2u);
  MONITOR_INFO_2A records[2];
  memcpy(records, buffer.data(), sizeof records);
  EXPECT_STREQ(records[1].pName, kMonitor);
  EXPECT_STREQ(records[1].pEnvironment, Native());
  EXPECT_STREQ(records[1].pDLLName, "ztqmon.dll");
}

INSTANTIATE_TEST_SUITE_P(Systems, EnumMonitorsBuffer, ::testing::Values("xp", "98"));

TEST(EnumMonitors, AListLongerThanTheInstallersBufferDoesNotFit) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("mon.dll"), "monitor");
  for (int i = 0; i < 60; ++i) {
    std::string name = "A Monitor With A Rather Long Name Number " + std::to_string(i);
    ASSERT_EQ(AddMonitor(name.c_str(), "mon.dll"), Ok());
  }
  std::vector<BYTE> buffer(4096);
  DWORD needed = 0, count = 0;
  EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 1, buffer.data(), 4096, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, 4096u);
  EXPECT_EQ(count, 0u);
}

TEST(AddMonitor, RegistersOnceAndHoldsItsLibrary) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  EXPECT_EQ(TextOf(std::string(kPrint) + "Monitors\\" + kMonitor, "Driver"), std::string("ztqmon.dll\0", 11));
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("ZTQMON.DLL")));
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MonitorNames(), (Names{"Local Port", kMonitor}));

  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Fails(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
  EXPECT_EQ(AddMonitor("zentaq monitor", "ztqmon.dll"), Fails(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
  EXPECT_EQ(AddMonitor("Local Port", "ztqmon.dll"), Fails(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
}

TEST(AddMonitor, RefusesWhatItCannotLoadOrMayNotRecord) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  m.Write("c:\\zentaq\\ztqmon2.dll", "not in the system directory");
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon2.dll"), Fails(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll", "Windows 4.0"), Fails(ERROR_INVALID_ENVIRONMENT));
  EXPECT_EQ(AddMonitor("Bad\\Name", "ztqmon.dll"), Fails(ERROR_INVALID_PARAMETER));
  MONITOR_INFO_2A info{S(kMonitor), nullptr, S("ztqmon.dll")};
  EXPECT_EQ(Call([&] { return AddMonitorA(nullptr, 1, reinterpret_cast<LPBYTE>(&info)); }),
            Fails(ERROR_INVALID_LEVEL));
  EXPECT_EQ(Key(std::string(kPrint) + "Monitors\\" + kMonitor), nullptr);
  EXPECT_TRUE(winsim::HeldLibraries().empty());
  // A NULL environment is the native one.
  EXPECT_EQ(Call([&] { return AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)); }), Ok());
}

TEST(AddMonitor, OnNineXTheForeignEnvironmentIsNt) {
  TestMachine m("98");
  m.Use();
  m.Write(SystemFile("ztqmon95.dll"), "monitor");
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon95.dll", "Windows NT x86"), Fails(ERROR_INVALID_ENVIRONMENT));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon95.dll", "windows 4.0"), Ok());
}

TEST(AddMonitor, TakesOverAKeyThatHoldsOnlyPortRecords) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  AddPortRecord(kMonitor, "ZENTAQPORT");
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:"})) << "an unregistered monitor offers no port";
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_UNKNOWN_PRINT_MONITOR));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:", "ZENTAQPORT"}));
}

TEST(DeleteMonitor, RemovesTheKeyWithItsPortsOnceAndNotWhileAPrinterUsesThem) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  DriverFiles files = StageDriverFiles(m, true);
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  AddPortRecord(kMonitor, "ZENTAQPORT");
  ASSERT_EQ(AddDriver(files.Info("ZENTAQ Printer Driver")), Ok());
  ASSERT_EQ(AddPrinter(PrinterInfo("ZENTAQ", "ZENTAQPORT", "ZENTAQ Printer Driver")), Ok());

  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_PRINT_MONITOR_IN_USE));
  EXPECT_NE(Key(std::string(kPrint) + "Monitors\\" + kMonitor + "\\Ports\\ZENTAQPORT"), nullptr);
  EXPECT_EQ(DeleteMonitor("Local Port"), Fails(ERROR_PRINT_MONITOR_IN_USE));

  HANDLE printer = nullptr;
  PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  ASSERT_TRUE(OpenPrinterA(S("ZENTAQ"), &printer, &defaults));
  ASSERT_TRUE(DeletePrinter(printer));
  ClosePrinter(printer);

  EXPECT_EQ(DeleteMonitor("ZENTAQ MONITOR"), Ok());
  EXPECT_EQ(Key(std::string(kPrint) + "Monitors\\" + kMonitor), nullptr);
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_UNKNOWN_PRINT_MONITOR));
  EXPECT_EQ(MonitorNames(), (Names{"Local Port"}));
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:"}));
}

TEST(MonitorChanges, NeedAdministrativeRights) {
  TestMachine m("xp", "admin = no");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  // Checked before anything else: a user without rights learns nothing more.
  EXPECT_EQ(AddMonitor(kMonitor, "missing.dll"), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MonitorNames(), (Names{"Local Port"})) << "reading needs no rights";
  EXPECT_TRUE(winsim::HeldLibraries().empty());
}

// The product's upgrade guard relies on this: a library that the spooler
// has loaded can't be deleted until the spooler lets it go.
TEST(HeldLibrary, OnNtIsFreedByAStopOfTheSpoolerAndNotByDeletingTheMonitor) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Ok());
  ASSERT_EQ(DeleteMonitor(kMonitor), Ok());
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED));

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, "Spooler", SERVICE_STOP | SERVICE_START);
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(StartServiceA(service, 0, nullptr));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);

  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon.dll").c_str()); }), Ok());
}

TEST(HeldLibrary, OnNineXIsFreedOnlyByARebootAfterTheMonitorIsGone) {
  TestMachine m("98");
  m.Use();
  m.Write(SystemFile("ztqmon95.dll"), "monitor");
  m.Write(SystemFile("other.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon95.dll"), Ok());
  ASSERT_EQ(AddMonitor("Other Monitor", "other.dll"), Ok());
  ASSERT_EQ(DeleteMonitor(kMonitor), Ok());
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon95.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED));
  SC_HANDLE manager = nullptr;
  EXPECT_EQ(Call([&] { return (manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) != nullptr; }),
            Fails(ERROR_CALL_NOT_IMPLEMENTED));

  winsim::Reboot();
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon95.dll").c_str()); }), Ok());
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("other.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED))
      << "a monitor still registered is loaded again at boot";
}

}  // namespace

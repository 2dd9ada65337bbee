// The simulated spooler's driver directory and port monitors: the codes
// Windows gives, the Enum buffer layout, and a monitor library that stays
// held until the spooler restarts (NT) or the machine boots (9x).
#include <cstring>

#include "sim/spooler_test_helpers.h"

namespace {

class OnSystem : public ::testing::TestWithParam<const char*> {};

TEST_P(OnSystem, DriverDirectoryIsTheSystemsFolderAndFitsExactly) {
  TestMachine m(GetParam());
  m.Use();
  std::string expected = Os().driver_dir;
  DWORD size = static_cast<DWORD>(expected.size() + 1), needed = 0;
  char buffer[300] = "untouched";
  EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buffer, size - 1, &needed); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, size);
  EXPECT_STREQ(buffer, "untouched");
  for (DWORD room : {size, size + 1}) {
    EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buffer, room, &needed); }),
              Ok());
    EXPECT_EQ(buffer, expected);
  }
  const char* foreign = Os().nt_family ? "Windows 4.0" : "Windows NT x86";
  EXPECT_EQ(Call([&] { return GetPrinterDriverDirectoryA(nullptr, S(foreign), 1, (LPBYTE)buffer, 300, &needed); }),
            Fails(ERROR_INVALID_ENVIRONMENT));
}

// The records from the start, the strings packed down from the end; on NT
// each string takes the room of its Unicode form, as the ANSI functions
// there convert the Unicode answer in place.
TEST_P(OnSystem, EnumMonitorsFitsInTheSizeItReportsAndNoLess) {
  TestMachine m(GetParam());
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Added());
  size_t unit = Os().nt_family ? 2 : 1;
  DWORD expected = static_cast<DWORD>(2 * sizeof(MONITOR_INFO_1A) + unit * sizeof("Local Port") + unit * sizeof(kMonitor));
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
    EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 1, buffer.data(), room, &needed, &count); }), Ok());
    ASSERT_EQ(count, 2u);
    MONITOR_INFO_1A records[2];
    memcpy(records, buffer.data(), sizeof records);
    EXPECT_STREQ(records[0].pName, "Local Port");
    EXPECT_STREQ(records[1].pName, kMonitor);
    EXPECT_EQ(reinterpret_cast<BYTE*>(records[0].pName), buffer.data() + room - unit * sizeof("Local Port"));
    if (room == expected) {
      EXPECT_EQ(buffer[expected], 0xcc) << "nothing is written past the size given";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Systems, OnSystem, ::testing::Values("xp", "nt4", "98"));

TEST(EnumMonitors, AListLongerThanTheInstallersBufferDoesNotFit) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("mon.dll"), "monitor");
  for (int i = 0; i < 60; ++i)
    ASSERT_EQ(AddMonitor(("A Monitor With A Rather Long Name, Number " + std::to_string(i)).c_str(), "mon.dll"), Added());
  BYTE buffer[4096];
  DWORD needed = 0, count = 0;
  EXPECT_EQ(Call([&] { return EnumMonitorsA(nullptr, 1, buffer, 4096, &needed, &count); }),
            Fails(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, 4096u);
}

TEST(AddMonitor, RegistersOnceAndHoldsItsLibrary) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  m.Write("c:\\zentaq\\elsewhere.dll", "not in the system directory");
  EXPECT_EQ(AddMonitor(kMonitor, "elsewhere.dll"), Fails(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll", "Windows 4.0"), Fails(ERROR_INVALID_ENVIRONMENT));
  EXPECT_EQ(AddMonitor("Bad\\Name", "ztqmon.dll"), Fails(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(AddMonitor(kMonitor, nullptr), Fails(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(AddMonitor(kMonitor, ""), Fails(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(winsim::HeldLibraries().empty());

  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Added());
  EXPECT_EQ(Bytes(std::string(kPrint) + "Monitors\\" + kMonitor, "Driver"), std::string("ztqmon.dll", 11));
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ZTQMON.DLL").c_str()); }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(AddMonitor("zentaq monitor", "ztqmon.dll"), Fails(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
  EXPECT_EQ(MonitorNames(), (Names{"Local Port", kMonitor}));
  // Listed in the order of their keys; the local monitor first without one.
  winsim::ChangeHive([](winsim::Hive& hive) { return hive.Remove(std::string(kPrint) + "Monitors\\Local Port"); });
  EXPECT_EQ(MonitorNames(), (Names{"Local Port", kMonitor}));
  winsim::ChangeHive([](winsim::Hive& hive) {
    winsim::RegKey* local = hive.Create(std::string(kPrint) + "Monitors\\Local Port");
    local->SetValue("Driver", REG_SZ, reinterpret_cast<const uint8_t*>("localspl.dll"), 13);
    return true;
  });
  EXPECT_EQ(MonitorNames(), (Names{kMonitor, "Local Port"}));
}

TEST(AddMonitor, TakesOverAKeyThatHoldsOnlyPortRecords) {
  TestMachine m("98");
  m.Use();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (std::string(kPrint) + "Monitors\\" + kMonitor + "\\Ports\\P").c_str(), &key), 0);
  RegCloseKey(key);
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:"})) << "a monitor not registered offers no port";
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_UNKNOWN_PRINT_MONITOR));
  m.Write(SystemFile("ztqmon95.dll"), "monitor");
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon95.dll", "Windows NT x86"), Fails(ERROR_INVALID_ENVIRONMENT));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon95.dll", "windows 4.0"), Added());
  EXPECT_EQ(PortNames(), (Names{"LPT1:", "COM1:", "FILE:", "P"}));
}

TEST(MonitorChanges, NeedAdministrativeRightsBeforeAnythingElse) {
  TestMachine m("xp", "admin = no");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  EXPECT_EQ(AddMonitor(kMonitor, "missing.dll"), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(DeleteMonitor(kMonitor), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MonitorNames(), (Names{"Local Port"})) << "reading needs no rights";
  EXPECT_TRUE(winsim::HeldLibraries().empty());
}

// The upgrade guard relies on this: a library that the spooler has loaded
// can't be deleted until the spooler lets go of it.
TEST(HeldLibrary, OnNtIsFreedByAStopOfTheSpoolerNotByDeletingTheMonitor) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Added());
  ASSERT_EQ(DeleteMonitor(kMonitor), Ok());
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, "Spooler", SERVICE_STOP);
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon.dll").c_str()); }), Ok());
}

TEST(HeldLibrary, OnNineXIsFreedOnlyByARebootAfterTheMonitorIsGone) {
  TestMachine m("98");
  m.Use();
  m.Write(SystemFile("ztqmon95.dll"), "monitor");
  m.Write(SystemFile("other.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon95.dll"), Added());
  ASSERT_EQ(AddMonitor("Other", "other.dll"), Added());
  ASSERT_EQ(DeleteMonitor(kMonitor), Ok());
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon95.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED));
  winsim::Reboot();
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("ztqmon95.dll").c_str()); }), Ok());
  EXPECT_EQ(Call([&] { return DeleteFileA(SystemFile("other.dll").c_str()); }), Fails(ERROR_ACCESS_DENIED))
      << "a monitor still registered is loaded again at boot";
}

}  // namespace

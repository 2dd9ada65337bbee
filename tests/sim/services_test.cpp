// The service control manager of the simulated machine and the spooler's
// running state: stop and start as Windows answers them, the journal, the
// monitor libraries that go and come with the spooler, and a state that
// outlives the process but not a boot.
#include <cstring>
#include <functional>

#include "sim/spooler_test_helpers.h"

namespace {

struct Spooler {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, "spooler", SERVICE_STOP | SERVICE_START);
  ~Spooler() {
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  Outcome Stop() {
    SERVICE_STATUS status;
    return Call([&] { return ControlService(service, SERVICE_CONTROL_STOP, &status); });
  }
  Outcome Start() { return Call([&] { return StartServiceA(service, 0, nullptr); }); }
};

Outcome Enumerate() {
  DWORD needed = 0, count = 0;
  BYTE buffer[4096];
  return Call([&] { return EnumMonitorsA(nullptr, 1, buffer, sizeof buffer, &needed, &count); });
}

TEST(SpoolerService, StopsAndStartsOnceEachAndJournalsEveryRequest) {
  TestMachine m("xp");
  m.Use();
  std::string settings = m.MachineFile("machine.ini");
  Spooler spooler;
  EXPECT_EQ(spooler.Stop(), Ok());
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE)) << "a stopped spooler answers no call";
  EXPECT_EQ(spooler.Stop(), Fails(ERROR_SERVICE_NOT_ACTIVE));
  m.Use();  // as another process on the machine finds it
  EXPECT_FALSE(winsim::SpoolerRunning());
  EXPECT_EQ(m.MachineFile("machine.ini"), settings);
  EXPECT_EQ(spooler.Start(), Ok());
  EXPECT_EQ(spooler.Start(), Fails(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_EQ(Enumerate(), Ok());
  EXPECT_EQ(m.JournalLines(), (Names{"ControlService\tSpooler\t1\t0", "ControlService\tSpooler\t1\t1062",
                                     "StartService\tSpooler\t0", "StartService\tSpooler\t1056"}));
}

TEST(SpoolerService, StoppedAtBootStartsOnRequestAndABootForgetsWhatProgramsDid) {
  TestMachine m("nt4", "spooler = stopped");
  m.Use();
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(Spooler().Start(), Ok());
  EXPECT_EQ(Enumerate(), Ok());
  winsim::ForgetSpoolerState();
  EXPECT_FALSE(winsim::SpoolerRunning());
}

TEST(SpoolerService, StopUnloadsEveryMonitorAndStartLoadsTheRegisteredOnes) {
  TestMachine m("xp");
  m.Use();
  for (const char* file : {"kept.dll", "gone.dll", "vanished.dll"}) m.Write(SystemFile(file), "monitor");
  ASSERT_EQ(AddMonitor("Kept", "kept.dll"), Ok());
  ASSERT_EQ(AddMonitor("Gone", "gone.dll"), Ok());
  ASSERT_EQ(AddMonitor("Vanished", "vanished.dll"), Ok());
  ASSERT_EQ(DeleteMonitor("Gone"), Ok());
  Spooler spooler;
  ASSERT_EQ(spooler.Stop(), Ok());
  EXPECT_TRUE(winsim::HeldLibraries().empty());
  m.Remove(SystemFile("vanished.dll"));  // a registered monitor whose library is missing loads nothing
  ASSERT_EQ(spooler.Start(), Ok());
  EXPECT_EQ(winsim::HeldLibraries(), (Names{winsim::CanonicalPath(SystemFile("kept.dll"))}));
}

TEST(ServiceControl, RefusesBadHandlesOtherServicesAndMissingRights) {
  TestMachine m("xp", "admin = no");
  m.Use();
  SERVICE_STATUS status;
  EXPECT_EQ(Call([] { return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) != nullptr; }),
            Fails(ERROR_ACCESS_DENIED));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, 0x0001);  // SC_MANAGER_CONNECT
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(Call([&] { return OpenServiceA(manager, "Spooler", SERVICE_STOP) != nullptr; }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([&] { return OpenServiceA(manager, "NoSuchService", SERVICE_QUERY_STATUS) != nullptr; }),
            Fails(ERROR_SERVICE_DOES_NOT_EXIST));
  SC_HANDLE query = OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS);
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(Call([&] { return ControlService(query, SERVICE_CONTROL_STOP, &status); }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([&] { return ControlService(manager, SERVICE_CONTROL_STOP, &status); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return StartServiceA(nullptr, 0, nullptr); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return OpenServiceA(nullptr, "Spooler", 0) != nullptr; }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return CloseServiceHandle(query); }), Ok());
  EXPECT_EQ(Call([&] { return CloseServiceHandle(query); }), Fails(ERROR_INVALID_HANDLE));
  CloseServiceHandle(manager);
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(m.JournalLines(), (Names{"ControlService\tSpooler\t1\t5", "ControlService\t\t1\t6", "StartService\t\t6"}));
}

TEST(ServiceControl, IsNotImplementedOnNineXWhoseSpoolerNeverStops) {
  TestMachine m("98", "spooler = stopped");
  m.Use();
  SC_HANDLE any = reinterpret_cast<SC_HANDLE>(0x100);
  SERVICE_STATUS status;
  EXPECT_EQ(Call([] { return OpenSCManagerA(nullptr, nullptr, 0) != nullptr; }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return OpenServiceA(any, "Spooler", 0) != nullptr; }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return ControlService(any, SERVICE_CONTROL_STOP, &status); }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return StartServiceA(any, 0, nullptr); }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return CloseServiceHandle(any); }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Enumerate(), Ok());
}

// [faults] and a stopped spooler reach every spooler function before it
// looks at its arguments.
TEST(SpoolerCalls, EachFailsWithItsFaultAndWithAStoppedSpooler) {
  static BYTE buffer[512];
  static DWORD needed, count;
  const std::vector<std::pair<const char*, std::function<bool()>>> apis{
      {"GetPrinterDriverDirectoryA", [] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, buffer, 512, &needed); }},
      {"EnumMonitorsA", [] { return EnumMonitorsA(nullptr, 1, buffer, 512, &needed, &count); }},
      {"EnumPortsA", [] { return EnumPortsA(nullptr, 2, buffer, 512, &needed, &count); }},
      {"AddMonitorA", [] { return AddMonitorA(nullptr, 2, buffer); }},
      {"DeleteMonitorA", [] { return DeleteMonitorA(nullptr, nullptr, S("Local Port")); }},
      {"AddPrinterDriverA", [] { return AddPrinterDriverA(nullptr, 3, buffer); }},
      {"DeletePrinterDriverA", [] { return DeletePrinterDriverA(nullptr, nullptr, S("x")); }},
      {"AddPrinterA", [] { return AddPrinterA(nullptr, 2, buffer) != nullptr; }},
      {"OpenPrinterA", [] { HANDLE h; return OpenPrinterA(S("x"), &h, nullptr) != 0; }},
      {"DeletePrinter", [] { return DeletePrinter(nullptr) != 0; }},
  };
  for (const auto& api : apis) {
    TestMachine faulty("xp", std::string("[faults]\n") + api.first + " = 31\n");
    faulty.Use();
    memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(Call(api.second), Fails(31)) << api.first;
    TestMachine stopped("2000", "spooler = stopped");
    stopped.Use();
    EXPECT_EQ(Call(api.second), Fails(RPC_S_SERVER_UNAVAILABLE)) << api.first;
  }
}

}  // namespace

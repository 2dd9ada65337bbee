// The service control manager of the simulated machine and the spooler's
// running state: stop, start and status as Windows answers them, a stop that
// takes its time, the journal, the monitor libraries that go and come with
// the spooler, and a state that outlives the process but not a boot.
#include <unistd.h>

#include <cstring>
#include <functional>

#include "sim/spooler_test_helpers.h"

namespace {

struct Spooler {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, "spooler", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
  ~Spooler() {
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  Outcome Stop() {
    SERVICE_STATUS status;
    return Call([&] { return ControlService(service, SERVICE_CONTROL_STOP, &status); });
  }
  Outcome Start() { return Call([&] { return StartServiceA(service, 0, nullptr); }); }
  // The state and the wait hint that QueryServiceStatus reports, "failed" when it fails.
  std::string Query() {
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status)) return "failed";
    static const char* const kStates[] = {"?", "stopped", "start pending", "stop pending", "running"};
    std::string state = status.dwCurrentState < 5 ? kStates[status.dwCurrentState] : "?";
    return status.dwWaitHint ? state + " " + std::to_string(status.dwWaitHint) : state;
  }
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

// A stop takes stop_ms. Meanwhile the service is STOP_PENDING: it takes no
// control and no start, and the spooler still answers and holds its
// monitors. On the virtual clock only Sleep brings the end nearer, from one
// process to the next; then the spooler is stopped until someone starts it.
TEST(SpoolerService, AStopUnderWayEndsAfterStopMsOfSleepAndStaysStopped) {
  TestMachine m("xp", "[spooler]\nstop_ms = 1200\n");
  m.Use();
  m.Write(SystemFile("kept.dll"), "monitor");
  ASSERT_EQ(AddMonitor("Kept", "kept.dll"), Added());
  Spooler spooler;
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(status.dwControlsAccepted, 0u);
  EXPECT_EQ(spooler.Query(), "stop pending 1200");
  EXPECT_EQ(spooler.Start(), Fails(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_EQ(spooler.Stop(), Fails(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  EXPECT_EQ(Enumerate(), Ok());
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("kept.dll")));
  Sleep(1000);
  m.Use();  // as another process on the machine finds it
  EXPECT_EQ(Spooler().Query(), "stop pending 200");
  Sleep(200);
  EXPECT_EQ(spooler.Query(), "stopped");
  EXPECT_FALSE(winsim::IsLibraryHeld(SystemFile("kept.dll")));
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE));
  Sleep(5000);
  EXPECT_EQ(spooler.Query(), "stopped");
  EXPECT_EQ(spooler.Start(), Ok());
  EXPECT_EQ(spooler.Query(), "running");
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("kept.dll")));
  EXPECT_EQ(m.JournalLines(), (Names{"ControlService\tSpooler\t1\t0", "StartService\tSpooler\t1056",
                                     "ControlService\tSpooler\t1\t1061", "Sleep\t1000", "Sleep\t200",
                                     "Sleep\t5000", "StartService\tSpooler\t0"}));

  // A boot ends a stop under way: the spooler starts as machine.ini has it.
  ASSERT_EQ(spooler.Stop(), Ok());
  winsim::ForgetSpoolerState();
  EXPECT_EQ(spooler.Query(), "running");
}

// On the real clock the stop ends stop_ms after the request, host time,
// whether or not anyone sleeps meanwhile.
TEST(SpoolerService, OnTheRealClockAStopEndsInHostTime) {
  TestMachine m("2000", "clock = real\n[spooler]\nstop_ms = 300\n");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(AddMonitor(kMonitor, "ztqmon.dll"), Added());
  Spooler spooler;
  ASSERT_EQ(spooler.Stop(), Ok());
  EXPECT_EQ(spooler.Query().rfind("stop pending", 0), 0u);
  auto remove = [&] { return DeleteFileA(SystemFile("ztqmon.dll").c_str()); };
  EXPECT_EQ(Call(remove), Fails(ERROR_ACCESS_DENIED)) << "held until the spooler has stopped";
  usleep(400 * 1000);
  EXPECT_EQ(Call(remove), Ok()) << "the stopped spooler let go of it, though nobody asked the service";
  // The same seen from the list of held libraries.
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  ASSERT_EQ(spooler.Start(), Ok());
  ASSERT_EQ(winsim::HeldLibraries().size(), 1u);
  ASSERT_EQ(spooler.Stop(), Ok());
  usleep(400 * 1000);
  EXPECT_TRUE(winsim::HeldLibraries().empty());
  m.Use();
  EXPECT_EQ(Spooler().Query(), "stopped");
}

TEST(SpoolerService, StoppedAtBootStartsOnRequestAndABootForgetsWhatProgramsDid) {
  TestMachine m("nt4", "spooler = stopped");
  m.Use();
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(Spooler().Query(), "stopped");
  EXPECT_EQ(Call([] { return QueryServiceStatus(Spooler().service, nullptr); }), Fails(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Spooler().Start(), Ok());
  EXPECT_EQ(Enumerate(), Ok());
  // Codes 128 to 255 are the services' own (the spooler has none); outside
  // 1 to 255 the request itself is wrong.
  Spooler all;
  CloseServiceHandle(all.service);
  all.service = OpenServiceA(all.manager, "Spooler", 0xF01FF);  // SERVICE_ALL_ACCESS
  SERVICE_STATUS status;
  for (DWORD control : {0u, 255u, 256u})
    EXPECT_EQ(Call([&] { return ControlService(all.service, control, &status); }),
              Fails(control == 255 ? ERROR_INVALID_SERVICE_CONTROL : ERROR_INVALID_PARAMETER))
        << control;
  winsim::ForgetSpoolerState();
  EXPECT_FALSE(winsim::SpoolerRunning());
}

TEST(SpoolerService, StopUnloadsEveryMonitorAndStartLoadsTheRegisteredOnes) {
  TestMachine m("xp");
  m.Use();
  for (const char* file : {"kept.dll", "gone.dll", "vanished.dll"}) m.Write(SystemFile(file), "monitor");
  ASSERT_EQ(AddMonitor("Kept", "kept.dll"), Added());
  ASSERT_EQ(AddMonitor("Gone", "gone.dll"), Added());
  ASSERT_EQ(AddMonitor("Vanished", "vanished.dll"), Added());
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
  // Databases by name: the active one, the failed one that opens for nobody, none of that name.
  EXPECT_EQ(Call([] { return CloseServiceHandle(OpenSCManagerA(nullptr, "ServicesActive", 0x0001)); }), Ok());
  EXPECT_EQ(Call([] { return OpenSCManagerA(nullptr, "ServicesFailed", 0x0001) != nullptr; }),
            Fails(1065));  // ERROR_DATABASE_DOES_NOT_EXIST
  EXPECT_EQ(Call([] { return OpenSCManagerA(nullptr, "DoesNotExist", 0x0001) != nullptr; }),
            Fails(ERROR_INVALID_NAME));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, 0x0001);  // SC_MANAGER_CONNECT
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(Call([&] { return OpenServiceA(manager, "Spooler", SERVICE_STOP) != nullptr; }), Fails(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Call([&] { return OpenServiceA(manager, "NoSuchService", SERVICE_QUERY_STATUS) != nullptr; }),
            Fails(ERROR_SERVICE_DOES_NOT_EXIST));
  SC_HANDLE query = OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS);
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(Call([&] { return QueryServiceStatus(query, &status); }), Ok());
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(status.dwControlsAccepted, 1u);  // SERVICE_ACCEPT_STOP
  // The handle first, then the pointer (ERROR_INVALID_ADDRESS after NT 4.0), then the right to ask.
  EXPECT_EQ(Call([&] { return QueryServiceStatus(nullptr, nullptr); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return QueryServiceStatus(manager, &status); }), Fails(ERROR_INVALID_HANDLE));
  SC_HANDLE read_only = OpenServiceA(manager, "Spooler", 0x00020000);  // READ_CONTROL
  ASSERT_NE(read_only, nullptr);
  EXPECT_EQ(Call([&] { return QueryServiceStatus(read_only, nullptr); }), Fails(487));
  EXPECT_EQ(Call([&] { return QueryServiceStatus(read_only, &status); }), Fails(ERROR_ACCESS_DENIED));
  CloseServiceHandle(read_only);
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
  EXPECT_EQ(Call([&] { return QueryServiceStatus(any, &status); }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
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

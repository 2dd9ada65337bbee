// The service control manager of the simulated machine and the spooler's
// running state: stop and start as Windows answers them, the journal, the
// monitor libraries that go and come with the spooler, and a state that
// outlives the process but not a reboot.
#include <cstring>
#include <functional>

#include "sim/spooler_test_helpers.h"

namespace {

struct Service {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  explicit Service(DWORD access = SERVICE_STOP | SERVICE_START, const char* name = "Spooler") {
    manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    service = OpenServiceA(manager, name, access);
  }
  ~Service() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
  Outcome Stop(SERVICE_STATUS* status = nullptr) {
    SERVICE_STATUS ignored;
    return Call([&] { return ControlService(service, SERVICE_CONTROL_STOP, status ? status : &ignored); });
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
  Service spooler;
  ASSERT_NE(spooler.service, nullptr);
  SERVICE_STATUS status{};
  EXPECT_EQ(spooler.Stop(&status), Ok());
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_FALSE(winsim::SpoolerRunning());
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE)) << "a stopped spooler answers no call";
  EXPECT_EQ(spooler.Stop(&status), Fails(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(spooler.Start(), Ok());
  EXPECT_EQ(spooler.Start(), Fails(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_EQ(Enumerate(), Ok());
  EXPECT_EQ(m.JournalLines(), (Names{"ControlService\tSpooler\t1\t0", "ControlService\tSpooler\t1\t1062",
                                     "StartService\tSpooler\t0", "StartService\tSpooler\t1056"}));
}

TEST(SpoolerService, StateOutlivesTheProcessWithoutTouchingMachineIniButNotABoot) {
  TestMachine m("2000");
  m.Use();
  std::string settings = m.MachineFile("machine.ini");
  EXPECT_EQ(Service().Stop(), Ok());
  m.Use();  // as another process on the machine would find it
  EXPECT_FALSE(winsim::SpoolerRunning());
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(m.MachineFile("machine.ini"), settings);

  winsim::ForgetSpoolerState();
  EXPECT_TRUE(winsim::SpoolerRunning()) << "after a boot machine.ini's state holds again";
}

TEST(SpoolerService, StoppedAtBootStartsOnRequest) {
  TestMachine m("xp", "spooler = stopped");
  m.Use();
  EXPECT_EQ(Enumerate(), Fails(RPC_S_SERVER_UNAVAILABLE));
  Service spooler;
  EXPECT_EQ(spooler.Stop(), Fails(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(spooler.Start(), Ok());
  EXPECT_EQ(Enumerate(), Ok());
}

TEST(SpoolerService, StopUnloadsEveryMonitorAndStartLoadsTheRegisteredOnes) {
  TestMachine m("xp");
  m.Use();
  for (const char* file : {"kept.dll", "gone.dll", "vanished.dll"}) m.Write(SystemFile(file), "monitor");
  ASSERT_EQ(AddMonitor("Kept", "kept.dll"), Ok());
  ASSERT_EQ(AddMonitor("Gone", "gone.dll"), Ok());
  ASSERT_EQ(AddMonitor("Vanished", "vanished.dll"), Ok());
  ASSERT_EQ(DeleteMonitor("Gone"), Ok());
  EXPECT_EQ(winsim::HeldLibraries().size(), 3u);

  Service spooler;
  ASSERT_EQ(spooler.Stop(), Ok());
  EXPECT_TRUE(winsim::HeldLibraries().empty());
  m.Remove(SystemFile("vanished.dll"));  // a registered monitor whose library is missing loads nothing
  ASSERT_EQ(spooler.Start(), Ok());
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("kept.dll")));
  EXPECT_EQ(winsim::HeldLibraries().size(), 1u);
}

TEST(ServiceControl, RefusesBadHandlesUnknownServicesAndOtherControls) {
  TestMachine m("xp");
  m.Use();
  SC_HANDLE none = nullptr;
  SERVICE_STATUS status;
  EXPECT_EQ(Call([&] { return OpenServiceA(none, "Spooler", SERVICE_START) != nullptr; }),
            Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return ControlService(none, SERVICE_CONTROL_STOP, &status); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return StartServiceA(none, 0, nullptr); }), Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return CloseServiceHandle(none); }), Fails(ERROR_INVALID_HANDLE));

  Service unknown(SERVICE_START, "NoSuchService");
  EXPECT_EQ(unknown.service, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  Service lower(SERVICE_STOP | SERVICE_START, "spooler");
  EXPECT_NE(lower.service, nullptr) << "service names ignore case";
  // The manager handle is not a service handle.
  EXPECT_EQ(Call([&] { return ControlService(lower.manager, SERVICE_CONTROL_STOP, &status); }),
            Fails(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Call([&] { return ControlService(lower.service, 2, &status); }), Fails(ERROR_INVALID_SERVICE_CONTROL))
      << "the spooler can't be paused";
  Service start_only(SERVICE_START);
  EXPECT_EQ(start_only.Stop(), Fails(ERROR_ACCESS_DENIED)) << "a handle without SERVICE_STOP";
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(m.JournalLines("StartService"), (Names{"StartService\t\t6"}));
}

TEST(ServiceControl, WithoutRightsOnlyReadingIsAllowed) {
  TestMachine m("xp", "admin = no");
  m.Use();
  EXPECT_EQ(Call([] { return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) != nullptr; }),
            Fails(ERROR_ACCESS_DENIED));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, 0x0001);  // SC_MANAGER_CONNECT
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(Call([&] { return OpenServiceA(manager, "Spooler", SERVICE_STOP | SERVICE_START) != nullptr; }),
            Fails(ERROR_ACCESS_DENIED));
  SC_HANDLE query = OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS);
  EXPECT_NE(query, nullptr);
  EXPECT_EQ(Call([&] { return CloseServiceHandle(query); }), Ok());
  EXPECT_EQ(Call([&] { return CloseServiceHandle(manager); }), Ok());
  EXPECT_EQ(Call([&] { return CloseServiceHandle(manager); }), Fails(ERROR_INVALID_HANDLE));
}

TEST(ServiceControl, IsNotImplementedOnNineX) {
  TestMachine m("98", "spooler = stopped");
  m.Use();
  SC_HANDLE fake = reinterpret_cast<SC_HANDLE>(0x100);
  SERVICE_STATUS status;
  EXPECT_EQ(Call([] { return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) != nullptr; }),
            Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return OpenServiceA(fake, "Spooler", SERVICE_START) != nullptr; }),
            Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return ControlService(fake, SERVICE_CONTROL_STOP, &status); }),
            Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return StartServiceA(fake, 0, nullptr); }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Call([&] { return CloseServiceHandle(fake); }), Fails(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Enumerate(), Ok()) << "the 9x spooler is part of the system and never stopped";
}

// [faults] and a stopped spooler reach every spooler function before it
// looks at its arguments.
TEST(SpoolerCalls, EveryOneFailsWithItsFaultAndWithAStoppedSpooler) {
  struct Api {
    const char* name;
    std::function<bool()> call;
  };
  static BYTE buffer[512];
  static DWORD needed, count;
  const std::vector<Api> apis{
      {"GetPrinterDriverDirectoryA", [] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, buffer, 512, &needed); }},
      {"EnumMonitorsA", [] { return EnumMonitorsA(nullptr, 1, buffer, 512, &needed, &count); }},
      {"EnumPortsA", [] { return EnumPortsA(nullptr, 2, buffer, 512, &needed, &count); }},
      {"AddMonitorA", [] { return AddMonitorA(nullptr, 2, buffer); }},
      {"DeleteMonitorA", [] { return DeleteMonitorA(nullptr, nullptr, S("Local Port")); }},
      {"AddPrinterDriverA", [] { return AddPrinterDriverA(nullptr, 3, buffer); }},
      {"DeletePrinterDriverA", [] { return DeletePrinterDriverA(nullptr, nullptr, S("x")); }},
      {"AddPrinterA", [] { return AddPrinterA(nullptr, 2, buffer) != nullptr; }},
      {"OpenPrinterA", [] { HANDLE h; return OpenPrinterA(S("x"), &h, nullptr); }},
      {"DeletePrinter", [] { return DeletePrinter(nullptr); }},
  };
  for (const Api& api : apis) {
    TestMachine faulty("xp", std::string("[faults]\n") + api.name + " = 31\n");
    faulty.Use();
    memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(Call(api.call), Fails(31)) << api.name;
    TestMachine stopped("nt4", "spooler = stopped");
    stopped.Use();
    EXPECT_EQ(Call(api.call), Fails(RPC_S_SERVER_UNAVAILABLE)) << api.name;
  }
}

}  // namespace

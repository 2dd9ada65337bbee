// RestartSpooler: the stop request, 500 ms, the start request, 500 ms,
// whatever the system answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"
#include "support/spooler_restart.h"

namespace {

using Lines = std::vector<std::string>;

void AddMonitor(const char* name, const char* library) {
  MONITOR_INFO_2A info{const_cast<char*>(name), nullptr, const_cast<char*>(library)};
  ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
}

std::string SystemFile(const char* name) { return std::string(winsim::Machine::Get().os().system_dir) + "\\" + name; }

TEST(RestartSpooler, OnNtStopsAndStartsTheSpoolerWhichLetsGoOfDeletedMonitors) {
  TestMachine m("xp");
  m.Use();
  m.Write(SystemFile("ztqmon.dll"), "monitor");
  m.Write(SystemFile("other.dll"), "monitor");
  AddMonitor("ZENTAQ Monitor", "ztqmon.dll");
  AddMonitor("Other", "other.dll");
  ASSERT_TRUE(DeleteMonitorA(nullptr, nullptr, const_cast<char*>("ZENTAQ Monitor")));
  ASSERT_FALSE(DeleteFileA(SystemFile("ztqmon.dll").c_str()));

  SetLastError(0);
  RestartSpooler();
  EXPECT_EQ(m.JournalLines(), (Lines{"ControlService\tSpooler\t1\t0", "Sleep\t500", "StartService\tSpooler\t0",
                                     "Sleep\t500"}));
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_TRUE(DeleteFileA(SystemFile("ztqmon.dll").c_str())) << "the deleted monitor's library is free";
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("other.dll"))) << "the registered one is loaded again";
}

TEST(RestartSpooler, StartsASpoolerThatWasStopped) {
  TestMachine m("nt4", "spooler = stopped");
  m.Use();
  RestartSpooler();
  EXPECT_EQ(m.JournalLines(), (Lines{"ControlService\tSpooler\t1\t1062", "Sleep\t500", "StartService\tSpooler\t0",
                                     "Sleep\t500"}));
  EXPECT_TRUE(winsim::SpoolerRunning());
}

// Every call fails, and the routine still makes both pauses and returns.
TEST(RestartSpooler, WithoutRightsOrOnNineXEveryCallFailsAndBothPausesRemain) {
  struct Case {
    const char* os;
    const char* extra;
    DWORD code;
  };
  for (const Case& c : {Case{"xp", "admin = no", ERROR_INVALID_HANDLE}, Case{"98", "", ERROR_CALL_NOT_IMPLEMENTED},
                        Case{"95", "", ERROR_CALL_NOT_IMPLEMENTED}}) {
    TestMachine m(c.os, c.extra);
    m.Use();
    RestartSpooler();
    std::string code = std::to_string(c.code);
    EXPECT_EQ(m.JournalLines(), (Lines{"ControlService\t\t1\t" + code, "Sleep\t500", "StartService\t\t" + code,
                                       "Sleep\t500"}))
        << c.os << " " << c.extra;
    EXPECT_TRUE(winsim::SpoolerRunning());
  }
}

}  // namespace

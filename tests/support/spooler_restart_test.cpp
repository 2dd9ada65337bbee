// RestartSpooler: the stop request, 500 ms, the start request, 500 ms,
// whatever the system answers; between them, and after them, the waits for a
// spooler slow to stop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_machine.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"
#include "support/spooler_restart.h"

namespace {

using Lines = std::vector<std::string>;

std::string SystemFile(const char* name) { return std::string(winsim::Machine::Get().os().system_dir) + "\\" + name; }

TEST(RestartSpooler, OnNtLetsGoOfDeletedMonitorsAndLoadsTheRegisteredOnes) {
  TestMachine m("xp");
  m.Use();
  for (const char* name : {"ztqmon.dll", "other.dll"}) {
    m.Write(SystemFile(name), "monitor");
    MONITOR_INFO_2A info{const_cast<char*>(name), nullptr, const_cast<char*>(name)};
    ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
  }
  ASSERT_TRUE(DeleteMonitorA(nullptr, nullptr, const_cast<char*>("ztqmon.dll")));
  RestartSpooler();
  EXPECT_EQ(m.JournalLines(), (Lines{"ControlService\tSpooler\t1\t0", "Sleep\t500", "StartService\tSpooler\t0",
                                     "Sleep\t500"}));
  EXPECT_TRUE(DeleteFileA(SystemFile("ztqmon.dll").c_str()));
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("other.dll")));
}

TEST(RestartSpooler, StartsASpoolerThatWasStopped) {
  TestMachine m("nt4", "spooler = stopped");
  m.Use();
  RestartSpooler();
  EXPECT_EQ(m.JournalLines(), (Lines{"ControlService\tSpooler\t1\t1062", "Sleep\t500", "StartService\tSpooler\t0",
                                     "Sleep\t500"}));
  EXPECT_TRUE(winsim::SpoolerRunning());
}

// A spooler slower to stop than the first pause: the start waits for the
// stopped state, asking every 250 ms, and the spooler runs again with the
// registered monitors. Nothing more is journaled than the pauses.
TEST(RestartSpooler, WaitsForASlowStopBeforeItStarts) {
  TestMachine m("xp", "[spooler]\nstop_ms = 2000\n");
  m.Use();
  m.Write(SystemFile("kept.dll"), "monitor");
  MONITOR_INFO_2A info{const_cast<char*>("Kept"), nullptr, const_cast<char*>("kept.dll")};
  ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
  RestartSpooler();
  Lines polls(6, "Sleep\t250");  // 500 + 6 x 250: the 2000 ms of the stop
  Lines expected{"ControlService\tSpooler\t1\t0", "Sleep\t500"};
  expected.insert(expected.end(), polls.begin(), polls.end());
  expected.insert(expected.end(), {"StartService\tSpooler\t0", "Sleep\t500"});
  EXPECT_EQ(m.JournalLines(), expected);
  EXPECT_EQ(winsim::SpoolerState(), winsim::ServiceState::kRunning);
  EXPECT_TRUE(winsim::IsLibraryHeld(SystemFile("kept.dll")));
}

// A spooler that takes longer than the 30 s wait: the start comes while it
// is still stopping and fails, and there is no start to wait for; the
// spooler stops later and is left so.
TEST(RestartSpooler, TheWaitForTheStopEndsAfterThirtySeconds) {
  TestMachine m("2000", "[spooler]\nstop_ms = 40000\n");
  m.Use();
  RestartSpooler();
  Lines polls(120, "Sleep\t250");
  Lines expected{"ControlService\tSpooler\t1\t0", "Sleep\t500"};
  expected.insert(expected.end(), polls.begin(), polls.end());
  expected.insert(expected.end(), {"StartService\tSpooler\t1056", "Sleep\t500"});
  EXPECT_EQ(m.JournalLines(), expected);
  DWORD left = 0;
  EXPECT_EQ(winsim::SpoolerState(&left), winsim::ServiceState::kStopPending);
  EXPECT_EQ(left, 40000u - 31000u);
  Sleep(left);
  EXPECT_EQ(winsim::SpoolerState(), winsim::ServiceState::kStopped);
}

// A stop or a start that the system refuses leaves nothing under way to wait
// for: the routine is the four steps and the two pauses, as on a spooler
// that stops at once.
TEST(RestartSpooler, ARefusedStopOrStartIsNotWaitedFor) {
  const struct {
    const char* faults;
    Lines journal;
    winsim::ServiceState after;
  } cases[] = {
      {"ControlService = 1051",  // ERROR_DEPENDENT_SERVICES_RUNNING
       {"ControlService\tSpooler\t1\t1051", "Sleep\t500", "StartService\tSpooler\t1056", "Sleep\t500"},
       winsim::ServiceState::kRunning},
      {"StartServiceA = 1058",  // ERROR_SERVICE_DISABLED
       {"ControlService\tSpooler\t1\t0", "Sleep\t500", "Sleep\t250", "Sleep\t250",
        "StartService\tSpooler\t1058", "Sleep\t500"},
       winsim::ServiceState::kStopped},
  };
  for (const auto& c : cases) {
    TestMachine m("xp", std::string("[spooler]\nstop_ms = 1000\n[faults]\n") + c.faults + "\n");
    m.Use();
    RestartSpooler();
    EXPECT_EQ(m.JournalLines(), c.journal) << c.faults;
    EXPECT_EQ(winsim::SpoolerState(), c.after) << c.faults;
  }
}

// Without rights the manager refuses and the NULL handle makes the rest fail;
// on 9x there is no manager at all. Both pauses remain.
TEST(RestartSpooler, WithoutRightsOrOnNineXEveryCallFailsAndBothPausesRemain) {
  for (auto c : {std::make_pair("xp\nadmin = no", "6"), std::make_pair("98", "120"), std::make_pair("95", "120")}) {
    TestMachine m(c.first);
    m.Use();
    RestartSpooler();
    EXPECT_EQ(m.JournalLines(), (Lines{std::string("ControlService\t\t1\t") + c.second, "Sleep\t500",
                                       std::string("StartService\t\t") + c.second, "Sleep\t500"}))
        << c.first;
    EXPECT_TRUE(winsim::SpoolerRunning());
  }
}

}  // namespace

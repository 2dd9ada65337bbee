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

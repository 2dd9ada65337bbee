// The spooler's lists that the install traces: the monitors in phase A, the
// ports in phase F. Only the first entry is compared, and each list gets one
// buffer of 4096 bytes; nothing else depends on them.
#include "install/install_checks.h"

using namespace checks;

namespace {

// The port listing is a trace only: the printer is added whatever it shows.
TEST(PortListing, TracesOnlyAProductPortAtTheHeadAndOnlyWhatFits) {
  std::string many;
  for (int i = 1; i <= 300; ++i) many += "COM" + std::to_string(i) + ":,";
  const std::pair<std::string, std::string> cases[] = {
      {"", "Enumerating ports\n\nPort found\n\nAdding printer\n\n"},
      {"zentaqport", "Enumerating ports\n\nAdding printer\n\n"},
      {many, "Enumerating ports\n\nEnumPorts failed\n\nAdding printer\n\n"}};
  for (const auto& c : cases) {
    TestMachine m("xp", "[spooler]\nlocal_ports = " + c.first + "\n");
    m.StageProduct();
    RunResult run = m.Setup();
    EXPECT_EQ(run.status, 0) << c.first;
    EXPECT_NE(run.out.find(c.second), std::string::npos) << run.out;
  }
}

// Only the spooler's first monitor is compared with the product's, case and all.
TEST(MonitorListing, TracesOnlyTheProductMonitorAtTheHeadAndOnlyWhatFits) {
  const std::string monitors = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "Initializing Spooler\n\n"},
      {{"Local Port", "ZENTAQ Monitor"}, "Initializing Spooler\n\n"},
      {{"ZENTAQ Monitor", "Local Port"}, "Monitor found\n\nInitializing Spooler\n\n"},
      {{"zentaq monitor", "Local Port"}, "Initializing Spooler\n\n"},
      {std::vector<std::string>(300, "Monitor of another product "), "EnumMonitors failed\n\nInitializing"}};
  for (const auto& c : cases) {
    TestMachine m("xp");
    m.StageProduct();
    if (!c.first.empty()) {
      m.Use();
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, monitors.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
      RegDeleteKeyA(key, "Local Port");  // listed in the order of the keys, made anew below
      RegCloseKey(key);
    }
    for (size_t i = 0; i < c.first.size(); ++i)
      Seed(m, monitors + "\\" + c.first[i] + (c.first.size() > 2 ? std::to_string(i) : ""), "Driver", "localspl.dll");
    RunResult run = m.Setup();
    EXPECT_EQ(run.status, 0) << c.second;
    EXPECT_EQ(run.out.rfind(c.second, 0), 0u) << run.out;
  }
}

// Phase A's monitor list and phase F's port list get one buffer of 4096
// bytes each: a list of exactly that size fits, one byte more doesn't. (9x
// packs single-byte strings, so every size can be met.)
DWORD Needed(const TestMachine& m, bool ports) {
  m.Use();
  DWORD needed = 0, count = 0;
  if (ports) EnumPortsA(nullptr, 2, nullptr, 0, &needed, &count);
  if (!ports) EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &count);
  return needed;
}

TEST(Listings, OneBufferOf4096BytesHoldsAListOfExactlyThatSize) {
  const std::string monitor = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
  TestMachine probe("98", "[spooler]\nlocal_ports = A:\n");
  probe.StageProduct();
  Seed(probe, monitor + "M", "Driver", "other.dll");
  const DWORD monitors = Needed(probe, false);
  ASSERT_EQ(probe.Setup().status, 0);
  const DWORD ports = Needed(probe, true);
  for (DWORD size : {4096u, 4097u}) {
    TestMachine m("98", "[spooler]\nlocal_ports = " + std::string(1 + size - ports, 'A') + ":\n");
    m.StageProduct();
    Seed(m, monitor + std::string(1 + size - monitors, 'M'), "Driver", "other.dll");
    ASSERT_EQ(Needed(m, false), size);
    RunResult run = m.Setup();
    EXPECT_EQ(Needed(m, true), size);
    EXPECT_EQ(run.out.find("EnumMonitors failed") != std::string::npos, size > 4096) << size;
    EXPECT_EQ(run.out.find("EnumPorts failed") != std::string::npos, size > 4096) << size;
  }
}

}  // namespace

// The fault matrix: for every boundary function that a scenario calls, a run
// with that function failing on its first call and one with it failing on
// every call, and what the run must then show.
#pragma once

#include <string>
#include <vector>

namespace matrix {

// Exit statuses as a POSIX parent sees them (the low byte).
constexpr int kOk = 0;
constexpr int kFailed = 1603 & 0xFF;
constexpr int kCancelled = 1602 & 0xFF;
constexpr int kReboot = 3010 & 0xFF;

struct Row {
  const char* scenario;  // install-xp, install-98, upgrade-xp, uninstall-xp, uninstall-98
  const char* api;       // "-": the run without faults
  const char* fault;     // "CODE@1": the first call fails; "CODE": every call fails
  int status;
  // The last progress trace of an install: "-" none, D "Initializing Spooler",
  // E "Adding printer driver", F "Enumerating ports", G "Configuring printer",
  // H "Completing printer setup...".
  const char* reached;
  // Message boxes in order, by short name (see BoxName), comma separated.
  const char* boxes;
  // The setup log's texts, '|' separated; "=" the fault-free run's log.
  const char* log;
};

const std::vector<Row>& InstallRows();
const std::vector<Row>& UninstallRows();

}  // namespace matrix

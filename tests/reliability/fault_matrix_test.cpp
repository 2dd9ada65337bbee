// Runs the fault matrix. The functions of a scenario are those that its
// fault-free run calls (the simulated machine names each on its first call
// in the file that WINSIM_CALL_LOG names), so a function that the program
// starts to call fails the test until its rows are written; rows of a
// function no longer called fail it too.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "app/texts.h"
#include "fault_matrix.h"
#include "harness.h"

namespace {

using matrix::Row;

struct Scenario {
  const char* name;
  const char* os;
  bool installed;  // the product is installed before the run
  std::vector<std::string> args;
};

void PrintTo(const Scenario& value, std::ostream* out) { *out << value.name; }

const Scenario kScenarios[] = {
    {"install-xp", "xp", false, {}},
    {"install-98", "98", false, {}},
    {"upgrade-xp", "xp", true, {}},
    {"uninstall-xp", "xp", true, {"uninstall"}},
    {"uninstall-98", "98", true, {"uninstall"}},
};

// A run may take long under the sanitizers, but never this long.
constexpr int kLimitMs = 60000;

std::string BoxName(const std::string& text) {
  static const std::map<std::string, std::string> kNames = {
      {texts::kAskUninstall, "ask"},           {texts::kUninstallFinal, "final"},
      {texts::kUninstallReboot, "reboot"},     {texts::kNoAdminRights, "admin"},
      {texts::kRpcInaccessible, "rpc"},        {texts::kInstallPostScriptDriver, "pscript"},
      {texts::kUpgradeRebootNt, "upgrade-nt"}, {texts::kUpgradeReboot9x, "upgrade-9x"},
      {texts::kUpgradeDeletePrinter, "delete-printer"}};
  auto found = kNames.find(text);
  if (found != kNames.end()) return found->second;
  if (text.compare(0, sizeof texts::kEditorOutdatedBefore - 1, texts::kEditorOutdatedBefore) == 0) return "editor";
  return "?" + text;
}

std::string Reached(const std::string& out) {
  static const std::pair<const char*, const char*> kTraces[] = {
      {"H", texts::kTraceCompleting},     {"G", texts::kTraceConfiguringPrinter}, {"F", texts::kTraceEnumeratingPorts},
      {"E", texts::kTraceAddingDriver},   {"D", texts::kTraceInitializingSpooler}};
  for (const auto& trace : kTraces)
    if (out.find(trace.second) != std::string::npos) return trace.first;
  return "-";
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) joined += (i ? separator : "") + items[i];
  return joined;
}

// Shorthands of the log column, longest first.
const std::pair<const char*, const char*> kShorthands[] = {
    {"$ntdir", "Printer Driver Directory: C:\\WINDOWS\\system32\\spool\\drivers\\w32x86"},
    {"$9xdir", "Printer Driver Directory: C:\\WINDOWS\\SYSTEM"},
    {"$nt", "is_winnt = TRUE|is_win4 = TRUE"},
    {"$9x", "is_winnt = FALSE|is_win4 = TRUE"},
    {"read:", "CopyFile Read Failed: c:\\zentaq\\res\\drivedir\\"},
    {"missing:", "CopyFile InFile.Open Failed: \\res\\drivedir\\"},
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string Expand(std::string log) {
  for (const auto& shorthand : kShorthands) log = Replace(log, shorthand.first, shorthand.second);
  return log;
}

std::string Shorten(std::string log) {
  for (const auto& shorthand : kShorthands) log = Replace(log, shorthand.second, shorthand.first);
  return log;
}

// The C++ spelling of a text inside the table's string literals.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

struct Observed {
  int status = -1;
  std::string reached, boxes, log;
  std::vector<std::string> faults;  // what went wrong regardless of the row

  std::string AsRow(const Row& row) const {
    char text[64];
    snprintf(text, sizeof text, "%d", status);
    return std::string("{\"") + row.scenario + "\", \"" + row.api + "\", \"" + row.fault + "\", " + text + ", \"" +
           reached + "\", \"" + boxes + "\", \"" + Literal(Shorten(log)) + "\"},";
  }
};

// Runs the setup program on a copy of `prepared` with `fault` in [faults].
Observed RunOnce(const std::string& prepared, const Scenario& scenario, const std::string& api,
                 const std::string& fault, const std::vector<std::string>& env = {}) {
  std::string root = rel::CopyTree(prepared, "matrix");
  if (api != "-") rel::AppendFile(root + "/machine.ini", "\n[faults]\n" + api + " = " + fault + "\n");
  rel::Outcome outcome = rel::RunSetup(root, scenario.args, env, kLimitMs);

  Observed seen;
  seen.status = outcome.status;
  seen.reached = Reached(outcome.out);
  std::vector<std::string> boxes;
  for (const std::string& text : rel::BoxTexts(rel::ReadFile(root + "/journal.log"))) boxes.push_back(BoxName(text));
  seen.boxes = Join(boxes, ",");
  std::string bad_line;
  seen.log = Join(rel::LogTexts(rel::ReadFile(rel::LogPath(root)), &bad_line), "|");

  if (outcome.timed_out) seen.faults.push_back("did not end within the time limit");
  if (outcome.signal) seen.faults.push_back("ended by signal " + std::to_string(outcome.signal));
  if (rel::HasSanitizerReport(outcome.err)) seen.faults.push_back("sanitizer report:\n" + outcome.err);
  if (!bad_line.empty()) seen.faults.push_back("setup log line not whole: " + bad_line);
  std::string journal = rel::BadJournalLine(rel::ReadFile(root + "/journal.log"));
  if (!journal.empty()) seen.faults.push_back("journal line not whole: " + journal);
  std::string hive = rel::HiveError(root);
  if (!hive.empty()) seen.faults.push_back("hive does not parse: " + hive);
  rel::RemoveTree(root);
  return seen;
}

std::string Prepare(const Scenario& scenario) {
  std::string root = rel::FreshMachine(scenario.os);
  if (scenario.installed) {
    rel::Outcome install = rel::RunSetup(root, {}, {}, kLimitMs);
    if (install.status != matrix::kOk) ADD_FAILURE() << "preparing install failed:\n" << install.err;
    rel::WriteFile(root + "/journal.log", "");
    rel::WriteFile(rel::LogPath(root), "");
    if (!scenario.args.empty()) rel::WriteFile(root + "/answers", "yes\n");
  }
  return root;
}

std::vector<Row> RowsOf(const std::string& scenario) {
  std::vector<Row> rows;
  for (const auto* table : {&matrix::InstallRows(), &matrix::UninstallRows()})
    for (const Row& row : *table)
      if (scenario == row.scenario) rows.push_back(row);
  return rows;
}

// The code a new row starts from: what the function's failure most often
// is on a real machine.
const char* DefaultCode(const std::string& api) {
  static const std::map<std::string, const char*> kCodes = {
      {"GetPrinterDriverDirectoryA", "1722"}, {"EnumMonitorsA", "1722"},     {"AddPrinterDriverA", "1722"},
      {"EnumPortsA", "1722"},                 {"AddPrinterA", "1722"},       {"OpenPrinterA", "1722"},
      {"DeletePrinter", "1722"},              {"DeletePrinterDriverA", "1722"}, {"DeleteMonitorA", "1722"},
      {"ClosePrinter", "6"},                  {"CloseHandle", "6"},          {"FindClose", "6"},
      {"FreeEnvironmentStringsA", "6"},       {"CloseServiceHandle", "6"},   {"WriteFile", "112"},
      {"FindFirstFileA", "2"},                {"CreateProcessA", "2"},       {"GetModuleHandleA", "126"},
      {"GetModuleFileNameA", "8"},            {"GetSystemDirectoryA", "8"},  {"GetEnvironmentStrings", "8"},
      {"MessageBoxA", "8"}};
  auto found = kCodes.find(api);
  return found == kCodes.end() ? "5" : found->second;
}

bool EveryCall(const Row& row) { return std::string(row.fault).find('@') == std::string::npos; }

class FaultMatrix : public testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrix, EveryCalledFunctionFailingOnceAndAlways) {
  const Scenario& scenario = GetParam();
  std::vector<Row> rows = RowsOf(scenario.name);
  const Row* base = nullptr;
  for (const Row& row : rows)
    if (std::string(row.api) == "-") base = &row;
  ASSERT_NE(base, nullptr) << "no fault-free row for " << scenario.name;

  std::string prepared = Prepare(scenario);
  std::string calls = rel::NewTempDir("calls") + "/calls";
  Observed clean = RunOnce(prepared, scenario, "-", "", {"WINSIM_CALL_LOG=" + calls});
  std::vector<std::string> called;
  std::istringstream list(rel::ReadFile(calls));
  for (std::string api; std::getline(list, api);) called.push_back(api);
  rel::RemoveTree(calls.substr(0, calls.rfind('/')));
  ASSERT_GT(called.size(), 5u) << "the call log stayed (nearly) empty";

  // Every called function has both rows, and every row's function is called.
  std::set<std::string> called_set(called.begin(), called.end());
  for (const std::string& api : called) {
    bool first = false, every = false;
    for (const Row& row : rows)
      if (api == row.api) (EveryCall(row) ? every : first) = true;
    if (first && every) continue;
    // What the run does now, as rows to check against the failure rules
    // before they go into the table.
    std::string suggestion;
    for (std::string fault : {std::string(DefaultCode(api)) + "@1", std::string(DefaultCode(api))}) {
      Row row{scenario.name, api.c_str(), fault.c_str(), 0, "", "", ""};
      Observed seen = RunOnce(prepared, scenario, api, fault);
      if (seen.log == Expand(base->log)) seen.log = "=";
      suggestion += "\n  " + seen.AsRow(row);
    }
    ADD_FAILURE() << scenario.name << " calls " << api << " but the matrix lacks its rows; it does now:" << suggestion;
  }
  for (const Row& row : rows)
    EXPECT_TRUE(std::string(row.api) == "-" || called_set.count(row.api))
        << scenario.name << " no longer calls " << row.api << ": remove its rows";

  int runs = 0;
  for (const Row& row : rows) {
    Observed seen = std::string(row.api) == "-" ? clean : RunOnce(prepared, scenario, row.api, row.fault);
    ++runs;
    std::string expected_log = Expand(std::string(row.log) == "=" ? base->log : row.log);
    for (const std::string& fault : seen.faults) ADD_FAILURE() << row.api << " = " << row.fault << ": " << fault;
    bool same = seen.status == row.status && seen.reached == row.reached && seen.boxes == row.boxes &&
                seen.log == expected_log;
    EXPECT_TRUE(same) << "expected and observed:\n  " << Observed{row.status, row.reached, row.boxes, row.log, {}}.AsRow(row)
                      << "\n  " << seen.AsRow(row) << (seen.log == Expand(base->log) ? "  (log as without faults: \"=\")" : "");
  }
  rel::RemoveTree(prepared);
  printf("figure: fault matrix %s: %zu functions, %d runs\n", scenario.name, called.size(), runs);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, testing::ValuesIn(kScenarios), rel::ScenarioName());

}  // namespace

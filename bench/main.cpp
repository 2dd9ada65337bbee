// setup_bench: runs the measurements and prints them as one table, with the
// machine they ran on. Always exits 0 once the table is printed: a goal that
// is not met is a figure to read, not a failure.
//
//   setup_bench [--small] [--repeats N] [--pairs N] [--copy-mib N] [--keys N]
//               [--no-real-clock] [--suite BUILD_DIR]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "bench_machine.h"
#include "measurements.h"

namespace bench {

namespace {

std::string FirstLineWith(const std::string& path, const std::string& prefix) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(line.find(':') + 2);
  return "?";
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = 0, five = 0, fifteen = 0;
  in >> one >> five >> fifteen;
  return Format("%.2f %.2f %.2f", one, five, fifteen);
}

void PrintTable(const std::vector<Row>& rows) {
  const char* line = "%-3s  %-48s  %-12s  %-18s  %-18s  %-16s  %-4s  %s\n";
  printf(line, "#", "measure", "result", "reference", "ratio", "goal", "met", "note");
  for (const Row& r : rows)
    printf(line, r.id.c_str(), r.measure.c_str(), r.result.c_str(), r.reference.c_str(), r.ratio.c_str(),
           r.goal.c_str(), r.goal == "-" ? "-" : r.met ? "yes" : "NO", r.note.c_str());
}

// The slowest tests of a ctest run, from its lines
// "  n/N Test  #k: name ....   Passed   1.23 sec".
std::vector<std::pair<double, std::string>> SlowestTests(const std::string& output, size_t count) {
  std::vector<std::pair<double, std::string>> tests;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    size_t colon = line.find(": ");
    size_t sec = line.rfind(" sec");
    if (line.find(" Test ") == std::string::npos || colon == std::string::npos || sec == std::string::npos) continue;
    size_t number = line.find_last_of(' ', sec - 1);
    std::string name = line.substr(colon + 2, line.find(' ', colon + 2) - colon - 2);
    tests.emplace_back(atof(line.c_str() + number + 1), name);
  }
  std::sort(tests.rbegin(), tests.rend());
  if (tests.size() > count) tests.resize(count);
  return tests;
}

}  // namespace

std::vector<std::string>& Footnotes() {
  static std::vector<std::string> lines;
  return lines;
}

// One ctest run of the suite, leaving out the labels `without`; the Wine
// runs of setup.exe (and this benchmark itself) always.
Row SuiteRun(const Options& options, const std::string& id, const std::string& what, const std::string& without) {
  ProcessRun run = RunProcess({"/bin/sh", "-c",
                               "exec ctest --test-dir '" + options.suite_dir + "' -j2 -LE '" + without +
                                   "' -E '[Ww]ine' 2>&1"});
  Row row;
  row.id = id;
  row.measure = what;
  row.result = Format("%.1f s", run.wall_ms / 1000);
  row.reference = options.suite_dir;
  row.ratio = row.result;
  row.goal = "<= 60 s";
  row.met = run.wall_ms <= 60000 && run.status == 0;
  row.note = "one run";
  size_t failed = run.out.find("The following tests FAILED:");
  if (run.status != 0) {
    row.note = "tests failed";
    std::string names = id + ": failed:";
    std::istringstream lines(failed == std::string::npos ? "" : run.out.substr(failed));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.find(" - ") != std::string::npos)
      names += " " + line.substr(line.find(" - ") + 3) + ";";
    Footnotes().push_back(names);
  }
  std::string slowest = id + ": slowest tests:";
  for (const auto& test : SlowestTests(run.out, 5)) slowest += Format(" %s %.1f s;", test.second.c_str(), test.first);
  Footnotes().push_back(slowest);
  return row;
}

std::vector<Row> MeasureSuite(const Options& options) {
  return {SuiteRun(options, "5", "test suite (ctest -j2, without the Wine runs)", "wine|bench"),
          SuiteRun(options, "5b", "the same without the reliability label", "wine|bench|reliability")};
}

}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  Options options;
  options.self = "/proc/self/exe";
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) options.self.assign(self, static_cast<size_t>(n));

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "setup_bench: %s needs a value\n", arg.c_str());
        exit(2);
      }
      return argv[++i];
    };
    if (arg == "--copy-child") return CopyChild(value());
    if (arg == "--touch-child") return TouchChild(atoi(value().c_str()));
    if (arg == "--small") {
      options.repeats = 1, options.pairs = 2, options.copy_mib = 4, options.keys = 2000;
      options.real_clock = false;
    } else if (arg == "--repeats") {
      options.repeats = std::max(1, atoi(value().c_str()));
    } else if (arg == "--pairs") {
      options.pairs = std::max(1, atoi(value().c_str()));
    } else if (arg == "--copy-mib") {
      options.copy_mib = std::max(1, atoi(value().c_str()));
    } else if (arg == "--keys") {
      options.keys = std::max(1, atoi(value().c_str()));
    } else if (arg == "--no-real-clock") {
      options.real_clock = false;
    } else if (arg == "--suite") {
      options.suite_dir = value();
    } else {
      fprintf(stderr, "setup_bench: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }

  printf("machine: %ld cores, %s; load average %s at the start\n", sysconf(_SC_NPROCESSORS_ONLN),
         FirstLineWith("/proc/cpuinfo", "model name").c_str(), LoadAverage().c_str());
  fflush(stdout);
  std::vector<Row> rows;
  try {
    auto add = [&](const std::vector<Row>& more) { rows.insert(rows.end(), more.begin(), more.end()); };
    if (options.real_clock) add(MeasurePauses(options));
    add(MeasurePairs(options));
    add(MeasureCopy(options));
    add(MeasureCrowdedHive(options));
    add(MeasureSystemCalls(options));
    if (!options.suite_dir.empty()) add(MeasureSuite(options));
  } catch (const std::exception& error) {
    fprintf(stderr, "setup_bench: %s\n", error.what());
    return 1;
  }
  PrintTable(rows);
  for (const std::string& line : Footnotes()) printf("%s\n", line.c_str());
  printf("load average %s at the end; times are the best of the repeated runs (wall clock)\n",
         LoadAverage().c_str());
  return 0;
}

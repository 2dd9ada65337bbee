// The measurements of the benchmark, each giving rows of the table.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Options {
  int repeats = 3;        // runs of each timed case; the best one counts
  int pairs = 20;         // install + uninstall pairs on the virtual clock
  int copy_mib = 256;     // size of the copied file
  int keys = 100000;      // keys added to the crowded hive
  bool real_clock = true; // the runs that wait out the real pauses
  std::string suite_dir;  // a build folder whose ctest run is timed ("" skips it)
  std::string self;       // this program, for the copy child
};

struct Row {
  std::string id;
  std::string measure;
  std::string result;     // what was measured
  std::string reference;  // what it is compared with
  std::string ratio;      // the figure the goal speaks of
  std::string goal;
  bool met = false;
  std::string note;
};

std::vector<Row> MeasurePauses(const Options& options);
std::vector<Row> MeasurePairs(const Options& options);
std::vector<Row> MeasureCrowdedHive(const Options& options);
std::vector<Row> MeasureCopy(const Options& options);
std::vector<Row> MeasureSuite(const Options& options);
std::vector<Row> MeasureSystemCalls(const Options& options);

// The child process of the copy measurement: CopyFile of c:\big.bin to
// c:\big-copy.bin on the machine `root`; prints the resident set before the
// copy (KiB) and the routine's result.
int CopyChild(const std::string& root);
// The child that touches `mib` MiB of fresh memory once, page by page, as a
// read into a new buffer does: what fresh pages cost on this machine.
int TouchChild(int mib);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Lines printed below the table.
std::vector<std::string>& Footnotes();

}  // namespace bench

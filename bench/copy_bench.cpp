// The program's file copy against dd with one block of the file's size (the
// floor of a copy through one buffer of the whole file, which is how the
// program copies) and cp (which copies inside the kernel): a large file on a
// simulated machine, copied by a child process that does nothing else, so
// that its peak resident set is the copy's. Beside it, what the first touch
// of that much fresh memory costs here, which both the program and dd pay.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "bench_machine.h"
#include "measurements.h"
#include "platform/sim/machine.h"
#include "support/file_copy.h"

namespace bench {

namespace {

// A source that doesn't compress or repeat within a page.
void WriteSource(const std::string& path, int mib) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  std::vector<uint32_t> block(1 << 18);  // 1 MiB
  uint32_t x = 2463534242u;
  for (int m = 0; m < mib; ++m) {
    for (uint32_t& word : block) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      word = x;
    }
    fwrite(block.data(), sizeof(uint32_t), block.size(), f);
  }
  if (fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

bool SameContent(const std::string& a, const std::string& b) {
  FILE* fa = fopen(a.c_str(), "rb");
  FILE* fb = fopen(b.c_str(), "rb");
  bool same = fa && fb;
  static char ba[1 << 16], bb[1 << 16];
  while (same) {
    size_t na = fread(ba, 1, sizeof ba, fa), nb = fread(bb, 1, sizeof bb, fb);
    same = na == nb && memcmp(ba, bb, na) == 0;
    if (na == 0) break;
  }
  if (fa) fclose(fa);
  if (fb) fclose(fb);
  return same;
}

}  // namespace

int CopyChild(const std::string& root) {
  struct rusage usage;
  winsim::Machine::Open(root);
  getrusage(RUSAGE_SELF, &usage);
  long before = usage.ru_maxrss;
  int result = CopyFile("c:\\big.bin", "c:\\big-copy.bin");
  printf("%ld %d\n", before, result);
  return result == 1 ? 0 : 1;
}

int TouchChild(int mib) {
  size_t size = static_cast<size_t>(mib) << 20;
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  char* memory = static_cast<char*>(malloc(size));
  if (!memory) return 1;
  for (size_t at = 0; at < size; at += 4096) memory[at] = 1;
  clock_gettime(CLOCK_MONOTONIC, &end);
  double ms = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
  printf("%.1f %d\n", ms, memory[size / 2]);
  return 0;
}

std::vector<Row> MeasureCopy(const Options& options) {
  ScratchDir dir("copy");
  std::string root = dir.path() + "/machine";
  MakeMachine(root, "xp", "clock = virtual\n");
  std::string source = root + "/drive_c/big.bin";
  std::string ours = root + "/drive_c/big-copy.bin", theirs = root + "/drive_c/cp-copy.bin";
  WriteSource(source, options.copy_mib);  // and so in the page cache, for both

  std::string dd_copy = root + "/drive_c/dd-copy.bin";
  double best_ours = std::numeric_limits<double>::max(), best_cp = best_ours, best_dd = best_ours;
  double cpu_ours = best_ours, cpu_cp = best_ours, cpu_dd = best_ours, best_touch = best_ours;
  long peak_kib = 0, start_kib = 0;
  std::string note;
  for (int i = 0; i < options.repeats; ++i) {
    // Every copy makes a new file, as the first install does.
    unlink(theirs.c_str());
    ProcessRun cp = RunProcess({"/bin/cp", source, theirs});
    unlink(dd_copy.c_str());
    ProcessRun dd = RunProcess({"/bin/dd", "if=" + source, "of=" + dd_copy, Format("bs=%dM", options.copy_mib),
                                "status=none"});
    unlink(ours.c_str());
    ProcessRun copy = RunProcess({options.self, "--copy-child", root});
    ProcessRun touch = RunProcess({options.self, "--touch-child", std::to_string(options.copy_mib)});
    if (dd.status != 0 || touch.status != 0) note = Format("dd / touch exit statuses %d, %d", dd.status, touch.status);
    best_dd = std::min(best_dd, dd.wall_ms);
    cpu_dd = std::min(cpu_dd, dd.cpu_ms);
    best_touch = std::min(best_touch, atof(touch.out.c_str()));
    if (cp.status != 0 || copy.status != 0) note = Format("exit statuses %d, %d", copy.status, cp.status);
    best_cp = std::min(best_cp, cp.wall_ms);
    best_ours = std::min(best_ours, copy.wall_ms);
    cpu_cp = std::min(cpu_cp, cp.cpu_ms);
    cpu_ours = std::min(cpu_ours, copy.cpu_ms);
    peak_kib = std::max(peak_kib, copy.max_rss_kib);
    start_kib = std::max(start_kib, atol(copy.out.c_str()));
  }
  if (note.empty() && !SameContent(source, ours)) note = "the copy differs from the source";

  long size_kib = options.copy_mib * 1024L;
  Row time;
  time.id = "3a";
  time.measure = Format("CopyFile of %d MiB, time", options.copy_mib);
  time.result = Format("%.1f ms", best_ours);
  time.reference = Format("%.1f ms dd", best_dd);
  double ratio = best_ours / best_dd;
  time.ratio = Format("%.2fx", ratio);
  time.goal = "<= 1.1x dd";
  time.met = ratio <= 1.1 && note.empty();
  time.note = note.empty() ? Format("best of %d; CPU %.0f / %.0f ms; cp %.1f ms (CPU %.0f)", options.repeats,
                                    cpu_ours, cpu_dd, best_cp, cpu_cp)
                           : note;

  Row touch;
  touch.id = "3c";
  touch.measure = Format("first touch of %d MiB of fresh memory", options.copy_mib);
  touch.result = Format("%.1f ms", best_touch);
  touch.reference = Format("%.1f ms copy - dd", best_ours - best_dd);
  touch.ratio = Format("%.0f%% of the copy", 100.0 * best_touch / best_ours);
  touch.goal = "-";
  touch.note = "malloc + one write per page; paid by the copy's and dd's buffers alike";

  Row memory;
  memory.id = "3b";
  memory.measure = Format("CopyFile of %d MiB, peak memory", options.copy_mib);
  memory.result = Format("%.1f MiB", peak_kib / 1024.0);
  memory.reference = Format("%d MiB file", options.copy_mib);
  memory.ratio = Format("file + %.1f MiB", (peak_kib - size_kib) / 1024.0);
  memory.goal = "<= file + 8 MiB";
  memory.met = peak_kib <= size_kib + 8 * 1024 && note.empty();
  memory.note = Format("peak RSS; %.1f MiB before the copy", start_kib / 1024.0);
  return {time, memory, touch};
}

}  // namespace bench

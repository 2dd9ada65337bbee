// Micro-benchmarks of the hive: reading system.reg, writing it, and one
// change of a value on a machine whose hive holds many keys. They show where
// the time of an install on a large hive goes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench_machine.h"
#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"

namespace {

void BM_ParseHive(benchmark::State& state) {
  std::string text = bench::LargeHiveText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    winsim::Hive hive = winsim::Hive::Parse(text, "system.reg");
    // A process never frees its hive: freeing is left out of the time.
    state.PauseTiming();
    { winsim::Hive gone = std::move(hive); }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseHive)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SerializeHive(benchmark::State& state) {
  winsim::Hive hive = winsim::Hive::Parse(bench::LargeHiveText(static_cast<int>(state.range(0))), "system.reg");
  for (auto _ : state) benchmark::DoNotOptimize(hive.Serialize());
}
BENCHMARK(BM_SerializeHive)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// One RegSetValueEx-like change under the machine lock, persisted.
void BM_ChangeValue(benchmark::State& state) {
  bench::ScratchDir dir("hive-micro");
  bench::MakeMachine(dir.path(), "xp", "clock = virtual\n");
  bench::AddKeys(dir.path(), static_cast<int>(state.range(0)));
  winsim::Machine::Open(dir.path());
  winsim::ReadHive();
  uint32_t n = 0;
  for (auto _ : state) {
    winsim::ChangeHive([&](winsim::Hive& hive) {
      ++n;
      hive.Create("SOFTWARE\\Bench")->SetValue("Counter", REG_DWORD, reinterpret_cast<const uint8_t*>(&n), 4);
      return true;
    });
  }
}
BENCHMARK(BM_ChangeValue)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

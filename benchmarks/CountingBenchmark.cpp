// The counting engine on the two-package preset (2 × 8 cores × 2 threads,
// configuration 0): the derived pass over both packages, and a whole
// sampling round (every counter sampler's pass, the usage pass, the display
// tick). The program is started for real on the simulated machine and its
// samplers are held; the benchmark runs their passes itself. Allocations are
// counted at malloc, underneath every operator new.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unistd.h>

#include "app/CTarvelle2App.h"
#include "counters/DerivedMetrics.h"
#include "counters/model/SampleClock.h"
#include "cpu/ProcessorPin.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace {

std::atomic<int64_t> g_mallocs{0};

}  // namespace

extern "C" void* __libc_malloc(size_t size);
// Counts every allocation of the program; glibc lets the executable
// interpose malloc.
extern "C" void* malloc(size_t size) {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

namespace tv2 {
namespace {

class RunningProgram {
 public:
  RunningProgram() {
    folder = std::filesystem::temp_directory_path() / ("tv2-bench-counting-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb-2p"));
    machine->useManualClock();
    machine->advanceMs(1000);
    machine->setLoadAll(0.7);
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath((folder / "tarvelle2").string());
    app = std::make_unique<CTarvelle2App>(*platform, shell);
    ready = app->InitInstance();
    if (!ready) return;
    app->PauseSampling();
    // Two samples of everything, so that every figure has inputs.
    for (int i = 0; i < 6; ++i) round();
  }
  ~RunningProgram() {
    if (ready) app->ExitInstance();
    app.reset();
    std::filesystem::remove_all(folder);
  }

  // 300 ms of machine time and one pass of everything that samples in it.
  void round() {
    machine->advanceMs(300);
    for (CProcessor_2* package : app->processors) {
      for (LogicalProcessorRecord& record : package->threads) {
        ProcessorPin pin(platform->processors(), app->groups.groupMode, record);
        app->engine().counterPass(record, *package);
      }
    }
    for (int32_t g = 0; g < app->groups.groupCount; ++g) app->engine().usagePass(g);
    for (int i = 0; i < 3; ++i) app->engine().tick();
  }

  std::filesystem::path folder;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  AppShell shell;
  std::unique_ptr<CTarvelle2App> app;
  bool ready = false;
};

void reportAllocations(benchmark::State& state, int64_t before) {
  state.counters["allocs/iter"] = benchmark::Counter(static_cast<double>(g_mallocs.load() - before) /
                                                     static_cast<double>(state.iterations()));
}

void BM_DerivedPassTwoPackages(benchmark::State& state) {
  RunningProgram program;
  if (!program.ready) {
    state.SkipWithError("start-up failed");
    return;
  }
  int64_t before = g_mallocs.load();
  for (auto _ : state) {
    for (CProcessor_2* package : program.app->processors) {
      std::shared_lock lock(package->countersLock);
      ComputeDerivedMetrics(*package);
    }
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_DerivedPassTwoPackages);

// One counter sampler's pass on the first processor of package 0, whose list
// also holds the package's sensors (temperatures and four energy rails).
void BM_CounterPassFirstProcessor(benchmark::State& state) {
  RunningProgram program;
  if (!program.ready) {
    state.SkipWithError("start-up failed");
    return;
  }
  CProcessor_2& package = *program.app->processors.At(0);
  LogicalProcessorRecord& record = package.threads[0];
  ProcessorPin pin(program.platform->processors(), program.app->groups.groupMode, record);
  int64_t before = g_mallocs.load();
  for (auto _ : state) {
    program.machine->advanceMs(300);
    program.app->engine().counterPass(record, package);
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_CounterPassFirstProcessor);

// Everything that happens in 300 ms of sampling: 32 counter passes (the
// thread moved to each processor in turn, as each sampler is bound to its
// own), the usage pass and three display ticks with one derived pass.
void BM_SamplingRoundTwoPackages(benchmark::State& state) {
  RunningProgram program;
  if (!program.ready) {
    state.SkipWithError("start-up failed");
    return;
  }
  int64_t before = g_mallocs.load();
  for (auto _ : state) program.round();
  reportAllocations(state, before);
}
BENCHMARK(BM_SamplingRoundTwoPackages);

}  // namespace
}  // namespace tv2

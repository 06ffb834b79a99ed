// The whole 300 ms round of a kernel-backed machine: every logical
// processor's counter pass (one group read, the event, power and sensor
// counters of its list) and then the derived pass over the package, on the
// simulated modern-intel-hybrid (16 logical processors, the kernel's groups
// read through the simulated service) started by the real program.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/AppShell.h"
#include "app/CTarvelle2App.h"
#include "counters/DerivedMetrics.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2 {
namespace {

struct HybridProgram {
  HybridProgram() {
    folder = std::filesystem::temp_directory_path() / ("tv2-kernel-round-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("modern-intel-hybrid"));
    machine->useManualClock();
    machine->setLoadAll(0.6);
    machine->advanceMs(1000);
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath((folder / "tarvelle2").string());
    app = std::make_unique<CTarvelle2App>(*platform, shell);
    started = app->InitInstance();
    if (started) app->PauseSampling();
  }
  ~HybridProgram() {
    if (started) app->ExitInstance();
    app.reset();
    std::filesystem::remove_all(folder);
  }
  void round() {
    for (CProcessor_2* package : app->processors) {
      for (LogicalProcessorRecord& record : package->threads) app->engine().counterPass(record, *package);
      std::shared_lock lock(package->countersLock);
      ComputeDerivedMetrics(*package);
    }
  }
  std::filesystem::path folder;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  AppShell shell;
  std::unique_ptr<CTarvelle2App> app;
  bool started = false;
};

void BM_KernelRoundHybrid(benchmark::State& state) {
  HybridProgram program;
  if (!program.started || !program.app->SelectedProcessor()->kernelCounters) {
    state.SkipWithError("the program did not start kernel-backed");
    return;
  }
  program.round();  // first readings
  int64_t counters = 0;
  for (const LogicalProcessorRecord& t : program.app->SelectedProcessor()->threads) counters += t.counters.count;
  for (auto _ : state) {
    state.PauseTiming();
    program.machine->advanceMs(300);
    state.ResumeTiming();
    program.round();
  }
  state.counters["processors"] = static_cast<double>(program.app->SelectedProcessor()->threads.size());
  state.counters["counters"] = static_cast<double>(counters);
}
BENCHMARK(BM_KernelRoundHybrid)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tv2

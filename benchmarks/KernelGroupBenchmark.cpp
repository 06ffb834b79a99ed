// One pass over a processor's counting group: a single read() of the group
// leader through the kernel counter service, as a counter sampler does it.
// This machine has no hardware PMU, so the group is what its kernel offers:
// the msr PMU's counters (tsc, and aperf/mperf where present) with the
// software cpu-clock. The calling thread is bound to processor 0 as every
// counter sampler is bound to its own; the second figure reads processor
// 1's group from processor 0, which makes the kernel ask the other
// processor. Needs the right to count all processors (root here).

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "platform/linux/LinuxPlatform.h"

namespace {

using namespace tv2;

struct KernelGroup {
  explicit KernelGroup(int index, bool msr) {
    platform = std::make_unique<LinuxPlatform>();
    KernelCounterService* service = platform->kernelCounters();
    KernelCounterInventory inventory = service->inventory();
    if (msr) {
      for (KernelEvent event : {KernelEvent::kMsrTsc, KernelEvent::kMsrAperf, KernelEvent::kMsrMperf})
        if (inventory.msrEvents & kernelEventBit(event)) events.push_back(event);
    }
    events.push_back(KernelEvent::kCpuClock);
    KernelOpenError error;
    if (!platform->processors().setThreadGroupAffinity(GroupAffinity{1, 0})) {
      problem = "cannot bind to processor 0";
      return;
    }
    group = service->openGroup(0, index, events, &error);
    if (group == nullptr) problem = error.reason;
  }
  std::unique_ptr<LinuxPlatform> platform;
  std::vector<KernelEvent> events;
  std::unique_ptr<KernelEventGroup> group;
  std::string problem;
};

void readGroup(benchmark::State& state, int index, bool msr) {
  KernelGroup setup(index, msr);
  if (setup.group == nullptr) {
    state.SkipWithError(setup.problem.c_str());
    return;
  }
  KernelGroupReading reading;
  for (auto _ : state) {
    if (!setup.group->read(&reading)) {
      state.SkipWithError("the group read failed");
      break;
    }
    benchmark::DoNotOptimize(reading);
  }
  state.counters["events"] = static_cast<double>(setup.events.size());
}

void BM_KernelGroupRead_MsrClock(benchmark::State& state) { readGroup(state, 0, true); }
void BM_KernelGroupRead_Clock(benchmark::State& state) { readGroup(state, 0, false); }
void BM_KernelGroupRead_OtherProcessor(benchmark::State& state) { readGroup(state, 1, true); }

BENCHMARK(BM_KernelGroupRead_MsrClock);
BENCHMARK(BM_KernelGroupRead_Clock);
BENCHMARK(BM_KernelGroupRead_OtherProcessor);

}  // namespace

// The cost of the sampling hot path: one counter-sampler pass over 15
// counters, one usage pass, and a single history push. Allocations made
// during the measured loops are counted and reported per iteration.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "app/SamplingEngine.h"
#include "counters/MetricCatalogue.h"
#include "counters/model/CCounter.h"
#include "counters/model/SampleClock.h"
#include "cpu/ProcessorDiscovery.h"
#include "hw/CKMDriver.h"
#include "hw/CTimer.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

// The replacement pair below is malloc/free underneath; GCC cannot see that
// they match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<int64_t> g_allocations{0};

}  // namespace

void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace tv2 {
namespace {

class SyntheticTimer : public CTimer {
 public:
  SyntheticTimer() : CTimer(nullptr, 14318180.0, 18446744073709551616.0) {}
  double ReadTicks() override {
    now = now < 0 ? 1.0 : now + 4295454.0;  // 300 ms of a 14.3 MHz HPET
    return now;
  }
};

// A rate counter over a register that advances steadily: the same work an
// event counter does per sample (two readings, an interval, a rate, a push).
class SyntheticRateCounter : public CCounter {
 public:
  using CCounter::CCounter;
  double Read() override {
    m_register += 1'000'000'000.0;
    return m_register;
  }
  void Update(CTimer* timer) override {
    double raw = Read();
    if (raw < 0) return;
    previousRaw = currentRaw.load();
    currentRaw = raw;
    double elapsed = timer->now - m_previousTicks;
    m_previousTicks = timer->now;
    if (previousRaw <= 0 || elapsed <= 0) return;
    rawDelta = raw - previousRaw;
    float rate = static_cast<float>(rawDelta / (elapsed / timer->frequency) / 1e6);
    value = rate;
    if (rate >= 0) Push(rate);
  }

 private:
  double m_register = 0;
  double m_previousTicks = -1;
};

struct Machine {
  Machine() {
    platform = std::make_unique<sim::SimPlatform>(std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("nehalem")));
    DetectProcessors(platform->processors(), processors, groups);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->CreateDriverMutex("Global\\kzor-bench", nullptr);
    engine = std::make_unique<SamplingEngine>(*platform);
    engine->setSources(driver.get(), &timer, nullptr, &processors, &groups);
    engine->setProcessorTimes(platform->processorTimes());
  }
  ~Machine() {
    engine.reset();
    processors.DeleteAll();
  }
  std::unique_ptr<sim::SimPlatform> platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  std::unique_ptr<CKMDriver> driver;
  SyntheticTimer timer;
  std::unique_ptr<SamplingEngine> engine;
};

void BM_CounterPass15(benchmark::State& state) {
  Machine m;
  CProcessor_2& package = *m.processors.At(0);
  LogicalProcessorRecord& entry = package.threads[0];
  for (int i = 0; i < 15; ++i) entry.counters.Append(new SyntheticRateCounter(package.counterCount++));
  m.engine->counterPass(entry, package);  // warm-up: first readings
  int64_t before = g_allocations.load();
  for (auto _ : state) m.engine->counterPass(entry, package);
  state.counters["allocs/pass"] =
      benchmark::Counter(static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CounterPass15);

void BM_UsagePass8(benchmark::State& state) {
  Machine m;
  AddDerivedMetrics(*m.processors.At(0), CounterBuildContext{});
  m.engine->usagePass(0);
  int64_t before = g_allocations.load();
  for (auto _ : state) m.engine->usagePass(0);
  state.counters["allocs/pass"] =
      benchmark::Counter(static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_UsagePass8);

void BM_HistoryPush(benchmark::State& state) {
  CDataTable table;
  uint32_t clock = 0;
  for (auto _ : state) {
    table.Push(clock, 1.5f);
    clock += 100;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_HistoryPush);

}  // namespace
}  // namespace tv2

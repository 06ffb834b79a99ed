#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/SamplingEngine.h"
#include "counters/MetricCatalogue.h"
#include "counters/model/SampleClock.h"
#include "cpu/ProcessorDiscovery.h"
#include "hw/CKMDriver.h"
#include "hw/CTimer.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2 {
namespace {

using sim::SimMachine;
using sim::SimMachineConfig;
using sim::SimPlatform;

// A time base that counts its own reads, so a test can tell which sampling
// pass a counter update belonged to.
class CountingTimer : public CTimer {
 public:
  CountingTimer() : CTimer(nullptr, 1000.0, 1e18) {}
  double ReadTicks() override {
    now = now + 1.0;
    return now;
  }
};

// Records the timer reading of every update it receives.
class ProbeCounter : public CCounter {
 public:
  using CCounter::CCounter;
  void Update(CTimer* timer) override { seen.push_back(timer->now); }
  std::vector<double> seen;  // written only by the pass that updates it
};

SimMachineConfig fourSingleThreadCores() {
  SimMachineConfig config;
  config.name = "four-cores";
  config.model.vendor = "GenuineIntel";
  config.model.signature = 0x206A7;
  config.model.brand = "Test CPU";
  config.model.coresPerPackage = 4;
  config.model.threadsPerCore = 1;
  return config;
}

class SamplingEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleClock::reset();
    machine = std::make_shared<SimMachine>(fourSingleThreadCores());
    platform = std::make_unique<SimPlatform>(machine);
    DetectProcessors(platform->processors(), processors, groups);
    ASSERT_EQ(processors.count, 1);
    engine = std::make_unique<SamplingEngine>(*platform);
  }
  void TearDown() override {
    engine.reset();
    processors.DeleteAll();
    SampleClock::reset();
  }

  std::shared_ptr<SimMachine> machine;
  std::unique_ptr<SimPlatform> platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  std::unique_ptr<SamplingEngine> engine;
};

TEST_F(SamplingEngineTest, ContendingCounterSamplersCompleteOrSkipWholePasses) {
  CKMDriver driver(*platform);
  ASSERT_TRUE(driver.CreateDriverMutex("Global\\kzor-contention", nullptr));
  CountingTimer timer;
  engine->setSources(&driver, nullptr, &timer, &processors, &groups);

  CProcessor_2& package = *processors.At(0);
  constexpr int kCounters = 15;
  std::vector<std::vector<ProbeCounter*>> probes(2);
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < kCounters; ++i) {
      auto* probe = new ProbeCounter(package.counterCount++);
      package.threads[t].counters.Append(probe);
      probes[t].push_back(probe);
    }
  }

  std::atomic<bool> go{false};
  std::atomic<int> skipped{0};
  auto sampler = [&](int t) {
    while (!go) std::this_thread::yield();
    for (int pass = 0; pass < 2000; ++pass) {
      size_t before = probes[t][0]->seen.size();
      engine->counterPass(package.threads[t], package);
      if (probes[t][0]->seen.size() == before) ++skipped;
    }
  };
  // A third party (another program using the driver) holds the lock at times.
  auto intruder = [&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) {
      uint32_t error = 0;
      if (driver.Acquire(&error, 50)) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        driver.Release();
      }
      std::this_thread::yield();
    }
  };
  std::thread a(sampler, 0);
  std::thread b(sampler, 1);
  std::thread c(intruder);
  go = true;
  a.join();
  b.join();
  c.join();

  for (int t = 0; t < 2; ++t) {
    const std::vector<double>& first = probes[t][0]->seen;
    // Every counter of a list saw exactly the same passes: none was skipped
    // halfway through a list.
    for (ProbeCounter* probe : probes[t]) EXPECT_EQ(probe->seen, first);
    // Readings only grow: no counter was updated twice in one pass.
    for (size_t i = 1; i < first.size(); ++i) EXPECT_LT(first[i - 1], first[i]);
  }
  // No pass of one sampler ran inside a pass of the other: they never saw the
  // same timer reading.
  for (double reading : probes[0][0]->seen) {
    EXPECT_EQ(std::count(probes[1][0]->seen.begin(), probes[1][0]->seen.end(), reading), 0);
  }
  EXPECT_EQ(probes[0][0]->seen.size() + probes[1][0]->seen.size() + skipped, 4000u);
}

TEST_F(SamplingEngineTest, NoDriverOrNoTimerSamplesNothing) {
  CProcessor_2& package = *processors.At(0);
  auto* probe = new ProbeCounter(package.counterCount++);
  package.threads[0].counters.Append(probe);

  engine->setSources(nullptr, nullptr, nullptr, &processors, &groups);
  engine->counterPass(package.threads[0], package);
  EXPECT_TRUE(probe->seen.empty());

  CKMDriver driver(*platform);
  ASSERT_TRUE(driver.CreateDriverMutex("Global\\kzor-notimer", nullptr));
  engine->setSources(&driver, nullptr, nullptr, &processors, &groups);
  engine->counterPass(package.threads[0], package);
  EXPECT_TRUE(probe->seen.empty());
  // And the lock was given back.
  uint32_t error = 0;
  std::thread other([&] {
    EXPECT_EQ(driver.Acquire(&error, 0), 1);
    driver.Release();
  });
  other.join();
}

TEST_F(SamplingEngineTest, UsagePassFeedsTheWorkloadIntoTheTimeCounters) {
  machine->useManualClock();
  // Some history first: a total of 0 counts as no reading.
  machine->setLoadAll(0.5, 0.5);
  machine->advanceMs(1000);
  machine->setLoad(0, 1.0, 0.75);
  machine->setLoad(1, 1.0, 0.75);
  machine->setLoad(2, 0.0);
  machine->setLoad(3, 0.0);
  CProcessor_2& package = *processors.At(0);
  AddDerivedMetrics(package, CounterBuildContext{});
  engine->setSources(nullptr, nullptr, nullptr, &processors, &groups);
  engine->setProcessorTimes(platform->processorTimes());

  engine->usagePass(0);  // first sample: the base
  machine->advanceMs(500);
  SampleClock::advance(500);
  engine->usagePass(0);

  constexpr float kHalfSecond = 5'000'000.0f;  // 100 ns units
  for (int cpu = 0; cpu < 4; ++cpu) {
    const LogicalProcessorRecord& t = package.threads[cpu];
    ASSERT_EQ(t.idleTime->history->count, 1) << cpu;
    ASSERT_EQ(t.kernelTime->history->count, 1) << cpu;
    ASSERT_EQ(t.userTime->history->count, 1) << cpu;
    float idle = t.idleTime->value;
    float kernel = t.kernelTime->value;
    float user = t.userTime->value;
    bool loaded = cpu < 2;
    EXPECT_NEAR(idle, loaded ? 0.0f : kHalfSecond, 1.0f) << cpu;
    EXPECT_NEAR(user, loaded ? 0.75f * kHalfSecond : 0.0f, 1.0f) << cpu;
    // Kernel time includes idle time; together with user time it covers the interval.
    EXPECT_NEAR(kernel + user, kHalfSecond, 1.0f) << cpu;
    EXPECT_EQ(static_cast<float>(t.userTime->history->times[0]), 500.0f);
  }
}

TEST_F(SamplingEngineTest, FailingOrMissingTimesAreSkippedSilently) {
  CProcessor_2& package = *processors.At(0);
  engine->setSources(nullptr, nullptr, nullptr, &processors, &groups);
  engine->setProcessorTimes(platform->processorTimes());
  engine->usagePass(0);  // no time counters built: nothing to feed
  engine->usagePass(7);  // no such group

  AddDerivedMetrics(package, CounterBuildContext{});
  platform->setProcessorTimesFailing(true);
  engine->usagePass(0);
  engine->usagePass(0);
  EXPECT_EQ(package.threads[0].idleTime->currentRaw, -1.0);
}

TEST_F(SamplingEngineTest, TickAdvancesTheClockAndRunsTheDerivedPassEveryThirdTick) {
  CKMDriver driver(*platform);
  ASSERT_TRUE(driver.CreateDriverMutex("Global\\kzor-tick", nullptr));
  engine->setSources(&driver, nullptr, nullptr, &processors, &groups);
  int derived = 0;
  int redraws = 0;
  engine->setDerivedPass([&](CProcessor_2&) { ++derived; });
  engine->setPaneNotifier([&] { ++redraws; });
  for (int i = 0; i < 9; ++i) engine->tick();
  EXPECT_EQ(SampleClock::now(), 900u);
  EXPECT_EQ(derived, 3);
  EXPECT_EQ(redraws, 9);

  // The pass runs also when another holder keeps the driver lock.
  std::atomic<bool> held{false};
  std::atomic<bool> done{false};
  std::thread holder([&] {
    uint32_t error = 0;
    ASSERT_EQ(driver.Acquire(&error, 1000), 1);
    held = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    driver.Release();
  });
  while (!held) std::this_thread::yield();
  for (int i = 0; i < 3; ++i) engine->tick();
  done = true;
  holder.join();
  EXPECT_EQ(derived, 4);
}

// The fixed rhythm: every counter sampler passes every 300 ms, every usage
// sampler every 500 ms, and each display tick moves the sample clock 100 ms,
// with the derived pass on every 300 ms of clock (ticks 3, 6, 9, ...).
TEST_F(SamplingEngineTest, FixedPeriodsOfThreeHundredFiveHundredAndOneHundredMilliseconds) {
  engine->setSources(nullptr, nullptr, nullptr, &processors, &groups);
  engine->createThreads();
  ASSERT_EQ(engine->usageThreadCount(), 1);
  ASSERT_EQ(engine->counterThreadCount(), 4);
  struct Expected {
    const SamplerThread* thread;
    int64_t periodMs;
  };
  const Expected expected[] = {{engine->usageThread(0), 500},   {engine->counterThread(0), 300},
                               {engine->counterThread(1), 300}, {engine->counterThread(2), 300},
                               {engine->counterThread(3), 300}};
  for (const Expected& e : expected) {
    ASSERT_NE(e.thread, nullptr);
    EXPECT_EQ(e.thread->period().count(), e.periodMs);
  }
  engine->stopAndJoin();

  engine = std::make_unique<SamplingEngine>(*platform);  // a stopped engine ticks without the derived pass
  CKMDriver driver(*platform);
  ASSERT_TRUE(driver.CreateDriverMutex("Global\\kzor-periods", nullptr));
  engine->setSources(&driver, nullptr, nullptr, &processors, &groups);
  std::vector<uint32_t> passClocks;
  engine->setDerivedPass([&](CProcessor_2&) { passClocks.push_back(SampleClock::now()); });
  for (uint32_t tick = 1; tick <= 10; ++tick) {
    engine->tick();
    EXPECT_EQ(SampleClock::now(), tick * 100);
  }
  EXPECT_EQ(passClocks, (std::vector<uint32_t>{300, 600, 900}));
}

TEST_F(SamplingEngineTest, RebuildNeverFreesCountersAUsageSamplerReads) {
  CProcessor_2& package = *processors.At(0);
  AddDerivedMetrics(package, CounterBuildContext{});
  engine->setSources(nullptr, nullptr, nullptr, &processors, &groups);
  engine->setProcessorTimes(platform->processorTimes());
  std::atomic<bool> done{false};
  std::thread usage([&] {
    while (!done) engine->usagePass(0);
  });
  // The user-interface thread rebuilds the lists again and again; under
  // AddressSanitizer a counter used after it was freed would stop the test.
  for (int i = 0; i < 300; ++i) {
    std::unique_lock lock(package.countersLock);
    package.ClearCounters();
    AddDerivedMetrics(package, CounterBuildContext{});
  }
  done = true;
  usage.join();
  // Idle, kernel and user time, usage and the time-stamp counter.
  EXPECT_EQ(package.threads[0].counters.count, 5);
}

}  // namespace
}  // namespace tv2

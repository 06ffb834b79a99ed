// Busy times integrated from the workload over the machine clock, and the
// service that reports them per group.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

constexpr int64_t kUnitsPerMs = 10000;  // 100 ns units

int64_t busy(const ProcessorTimes& t) { return t.kernel - t.idle + t.user; }

std::shared_ptr<SimMachine> manualMachine(const char* preset) {
  auto m = std::make_shared<SimMachine>(SimMachine::preset(preset).value());
  m->useManualClock();
  return m;
}

TEST(SimProcessorTimesTest, TimesFollowTheLoad) {
  auto m = manualMachine("nehalem");
  m->setLoad(0, 1.0, 0.75);
  m->setLoad(1, 0.0);
  m->setLoad(2, 0.5, 0.5);
  const ProcessorTimes full0 = m->times(0), idle0 = m->times(1), half0 = m->times(2);
  m->advanceMs(1000);
  const ProcessorTimes full = m->times(0), idle = m->times(1), half = m->times(2);

  EXPECT_EQ(full.idle, full0.idle);
  EXPECT_EQ(busy(full) - busy(full0), 1000 * kUnitsPerMs);
  EXPECT_EQ(full.user - full0.user, 750 * kUnitsPerMs);
  EXPECT_EQ(idle.idle - idle0.idle, 1000 * kUnitsPerMs);
  EXPECT_EQ(idle.kernel - idle0.kernel, 1000 * kUnitsPerMs);  // kernel includes idle
  EXPECT_EQ(idle.user, idle0.user);
  EXPECT_EQ(half.idle - half0.idle, 500 * kUnitsPerMs);
  EXPECT_EQ(half.user - half0.user, 250 * kUnitsPerMs);
  EXPECT_EQ(half.kernel - half0.kernel, 750 * kUnitsPerMs);

  // A new load applies from the moment it is set, not retroactively.
  m->setLoad(1, 1.0, 0.0);
  m->advanceMs(200);
  const ProcessorTimes later = m->times(1);
  EXPECT_EQ(later.idle, idle.idle);
  EXPECT_EQ(later.kernel - idle.kernel, 200 * kUnitsPerMs);
  EXPECT_EQ(later.user, idle.user);

  // Without any advance nothing moves.
  const ProcessorTimes still = m->times(1);
  EXPECT_EQ(still.kernel, later.kernel);
}

TEST(SimProcessorTimesTest, OutOfRangeLoadsAreClamped) {
  auto m = manualMachine("atom");
  m->setLoad(0, 7.0, -1.0);
  m->setLoad(1, std::numeric_limits<double>::quiet_NaN(), 2.0);
  const ProcessorTimes over0 = m->times(0), nan0 = m->times(1);
  m->advanceMs(10);
  const ProcessorTimes over = m->times(0), nan = m->times(1);
  EXPECT_EQ(over.idle, over0.idle);
  EXPECT_EQ(over.user, over0.user);
  EXPECT_EQ(over.kernel - over0.kernel, 10 * kUnitsPerMs);
  EXPECT_EQ(nan.idle - nan0.idle, 10 * kUnitsPerMs);
  // An absurd advance saturates instead of wrapping the clock.
  const uint64_t before = m->nowNs();
  m->advanceMs(UINT64_MAX);
  EXPECT_GT(m->nowNs(), before);
  EXPECT_GE(m->times(0).kernel, over.kernel);
}

TEST(SimProcessorTimesTest, RealClockMovesOnItsOwn) {
  SimMachine m(SimMachine::preset("atom").value());
  const uint64_t start = m.nowNs();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_GE(m.nowNs() - start, 2000000u);
  m.advanceMs(5000);  // skips ahead
  EXPECT_GE(m.nowNs() - start, 5002000000u);
  m.useManualClock();
  const uint64_t frozen = m.nowNs();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(m.nowNs(), frozen);
}

TEST(SimProcessorTimesTest, ServiceReportsGroupsInGroupOrder) {
  auto m = manualMachine("large");
  SimPlatform platform(m);
  m->setLoad(m->cpuAt(1, 3), 1.0, 1.0);
  ProcessorTimesService* service = platform.processorTimes();
  ASSERT_NE(service, nullptr);
  std::vector<ProcessorTimes> before(40), group1(40);
  ASSERT_EQ(service->query(1, before.data(), 40), kOk);
  m->advanceMs(100);
  ASSERT_EQ(service->query(1, group1.data(), 40), kOk);
  EXPECT_EQ(group1[3].user - before[3].user, 100 * kUnitsPerMs);
  EXPECT_EQ(group1[3].idle, before[3].idle);
  EXPECT_EQ(group1[2].user, before[2].user);
  EXPECT_EQ(group1[2].idle - before[2].idle, 100 * kUnitsPerMs);

  std::vector<ProcessorTimes> tooMany(41);
  EXPECT_NE(service->query(1, tooMany.data(), 41), kOk);
  EXPECT_NE(service->query(2, tooMany.data(), 1), kOk);
  EXPECT_NE(service->query(0, nullptr, 1), kOk);
  EXPECT_EQ(service->query(0, tooMany.data(), 5), kOk);

  platform.setProcessorTimesFailing(true);
  EXPECT_EQ(service->query(0, tooMany.data(), 5), SimProcessorTimesService::kInjectedError);
  platform.setProcessorTimesFailing(false);
  platform.setProcessorTimesAvailable(false);
  EXPECT_EQ(platform.processorTimes(), nullptr);
}

TEST(SimProcessorTimesTest, SamplersAndLoadChangesRunConcurrently) {
  // Two samplers (one per group) read while a test thread changes loads and the
  // clock runs; every total only grows and idle + busy keeps to elapsed time.
  auto m = std::make_shared<SimMachine>(SimMachine::preset("large").value());
  SimPlatform platform(m);
  std::atomic<bool> stop{false};
  std::atomic<int> faults{0};
  std::atomic<int> passes{0};
  auto sampler = [&](int group) {
    std::vector<ProcessorTimes> last(40), now(40);
    while (!stop.load()) {
      if (platform.processorTimes()->query(group, now.data(), 40) != kOk) {
        faults++;
      }
      for (int i = 0; i < 40; ++i) {
        if (now[i].idle < last[i].idle || now[i].user < last[i].user ||
            now[i].kernel < last[i].kernel || now[i].kernel < now[i].idle) {
          faults++;
        }
      }
      last.swap(now);
      passes++;
    }
  };
  std::thread a(sampler, 0), b(sampler, 1);
  for (int round = 0; round < 200 || passes.load() < 50; ++round) {
    m->setLoad(round % 80, (round % 5) / 4.0, (round % 3) / 2.0);
    if (round % 50 == 0) {
      m->advanceMs(10);
    }
  }
  m->setLoadAll(0.3);
  stop = true;
  a.join();
  b.join();
  EXPECT_EQ(faults.load(), 0);
}

}  // namespace
}  // namespace tv2::sim

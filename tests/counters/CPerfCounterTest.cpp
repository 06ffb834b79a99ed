#include <gtest/gtest.h>

#include "counters/CPerfCounter.h"
#include "counters/PmuProgramming.h"
#include "counters/PmuRegisters.h"
#include "counters/model/SampleClock.h"
#include "hw/CACPITimer.h"
#include "hw/CHPETTimer.h"
#include "tests/counters/SimDriverHarness.h"

namespace tv2 {
namespace {

using testing::ManualTimer;
using testing::SimDriverHarness;

// Counts written by the test into a general counter whose select is off, so
// that the register holds exactly what each sample should see.
class PerfCounterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleClock::reset();
    record = &sim.package().threads[0];
    pin = sim.pin(*record);
    ASSERT_TRUE(pin->pinned());
    cpu = sim.cpuOf(*record);
    ASSERT_TRUE(sim.machine->hardware().writeMsr(cpu, kMsrIntelPerfEvtSel0, 0));
  }
  void setCount(uint64_t count) { ASSERT_TRUE(sim.machine->hardware().writeMsr(cpu, kMsrIntelPmc0, count)); }
  void sample(double ticks, uint64_t count) {
    setCount(count);
    timer.now = ticks;
    counter.Update(&timer);
  }

  SimDriverHarness sim{"intel-snb"};
  LogicalProcessorRecord* record = nullptr;
  std::unique_ptr<ProcessorPin> pin;
  int cpu = 0;
  ManualTimer timer{CACPITimer::kFrequency, CACPITimer::kWrapLength};
  CPerfCounter counter{0, kMsrIntelPmc0, sim.driver.get()};
};

TEST_F(PerfCounterTest, RateIsMillionsOfEventsPerSecondOfTimerTime) {
  // 300 ms of the ACPI timer are 1073863 ticks.
  const double ticks = 0.3 * CACPITimer::kFrequency;
  EXPECT_NEAR(ticks, 1073863.0, 1.0);
  sample(5000, 1000);
  EXPECT_EQ(counter.history->count, 0);  // the first sample only sets the base
  sample(5000 + 1073863, 1000 + 900'000'000);
  EXPECT_EQ(counter.rawDelta, 900'000'000.0);
  EXPECT_NEAR(counter.value, 3000.0f, 0.01f);
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_EQ(counter.history->values[0], counter.value);
  EXPECT_EQ(counter.sampleTime - counter.previousTime, 1073863.0);
}

TEST_F(PerfCounterTest, ZeroReadingRecordsNothingAndNeitherDoesTheSampleAfterIt) {
  sample(1000, 0);
  EXPECT_EQ(counter.currentRaw, 0.0);
  sample(2000, 5000);
  EXPECT_EQ(counter.history->count, 0);  // its previous reading was 0
  sample(3000, 10000);
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_NEAR(counter.value, 5000.0f / 1000.0f * CACPITimer::kFrequency / 1e6, 1e-3);
}

TEST_F(PerfCounterTest, OneTimerWrapBetweenSamplesIsCorrected) {
  // 0xFFFFFF to 0x000010 is 17 ticks of the 24-bit timer.
  sample(0xFFFFFF, 1000);
  sample(0x000010, 1000 + 17000);
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_NEAR(counter.value, 17000.0 / 17.0 * CACPITimer::kFrequency / 1e6, 0.01);
}

TEST_F(PerfCounterTest, FailedReadsAndBackwardCountsAreDropped) {
  sample(1000, 1'000'000);
  sample(2000, 2'000'000);
  ASSERT_EQ(counter.history->count, 1);
  float good = counter.value;

  // Someone reset the counter: no figure for that interval (the last one
  // stays shown, never a negative rate), and the next interval counts from
  // the new reading.
  sample(3000, 10);
  EXPECT_EQ(counter.history->count, 1);
  EXPECT_EQ(counter.value, good);
  sample(4000, 10 + 1'000'000);
  ASSERT_EQ(counter.history->count, 2);
  EXPECT_EQ(counter.value, good);

  // A failed read gives -1 and leaves the sample times alone.
  setCount(20);
  sim.machine->hardware().setMsrFailing(kMsrIntelPmc0, true);
  double sampleTime = counter.sampleTime;
  timer.now = 5000;
  counter.Update(&timer);
  EXPECT_EQ(counter.Read(), -1.0);
  EXPECT_EQ(counter.currentRaw, -1.0);
  EXPECT_EQ(counter.sampleTime, sampleTime);
  EXPECT_EQ(counter.history->count, 2);
  EXPECT_EQ(counter.history->values[1], good);

  // Without a driver nothing can be read at all.
  CPerfCounter orphan(1, kMsrIntelPmc0, nullptr);
  EXPECT_EQ(orphan.Read(), -1.0);
}

// Real counting: a programmed select and the machine's HPET over 300 ms
// steps give the workload's true rate.
TEST(PerfCounterCountingTest, ProgrammedEventsFollowTheWorkload) {
  SimDriverHarness sim("intel-snb");
  const LogicalProcessorRecord& record = sim.package().threads[2];
  auto pin = sim.pin(record);
  ASSERT_TRUE(pin->pinned());
  int cpu = sim.cpuOf(record);
  sim.machine->setLoad(cpu, 0.6);
  ProgramEventSelect(*sim.driver, kMsrIntelPerfEvtSel0 + 1, 0x4300C4);  // branches retired
  CHPETTimer hpet(sim.driver.get(), static_cast<int32_t>(0xFED00000u));
  hpet.frequency = 1e15 / 69841279.0;
  CPerfCounter branches(0, kMsrIntelPmc0 + 1, sim.driver.get());
  CPerfCounter tsc(1, kMsrTimeStampCounter, sim.driver.get());
  for (int i = 0; i < 4; ++i) {
    ASSERT_GE(hpet.ReadTicks(), 0.0);
    branches.Update(&hpet);
    tsc.Update(&hpet);
    sim.machine->advanceMs(300);
  }
  // The freshly programmed counter first reads 0, so the first point comes
  // with the third sample.
  EXPECT_EQ(branches.history->count, 2);
  EXPECT_EQ(tsc.history->count, 3);
  double trueMillions = sim.machine->trueRate(cpu, sim::SimEvent::kBranches) / 1e6;
  ASSERT_GT(trueMillions, 0.0);
  EXPECT_NEAR(branches.value, trueMillions, trueMillions * 0.01);
  EXPECT_NEAR(tsc.value, sim.machine->tscMhz(), sim.machine->tscMhz() * 0.01);
}

}  // namespace
}  // namespace tv2

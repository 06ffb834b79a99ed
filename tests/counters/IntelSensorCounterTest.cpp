#include <gtest/gtest.h>

#include <cmath>

#include "counters/Intel_SNB_PowerCounter.h"
#include "counters/Intel_SNB_TemperatureCounter.h"
#include "counters/PmuRegisters.h"
#include "counters/model/SampleClock.h"
#include "hw/CHPETTimer.h"
#include "tests/counters/SimDriverHarness.h"

namespace tv2 {
namespace {

using sim::SimPowerDomain;
using testing::SimDriverHarness;

constexpr double kHpetPeriodFs = 69841279.0;

TEST(IntelTemperatureTest, ReadoutCountsDownFromTjMax) {
  SimDriverHarness sim("intel-b133");  // TjMax 100
  const CoreRecord& core = sim.package().cores[2];
  auto pin = sim.pin(*core.threads.front());
  sim.machine->setCoreTemperature(0, core.coreId, 65.0);
  Intel_SNB_TemperatureCounter counter(0, kMsrThermStatus, 100.0f, sim.driver.get());
  EXPECT_EQ(counter.Read(), 35.0);
  counter.Update(nullptr);
  EXPECT_EQ(counter.value, 65.0f);
  EXPECT_EQ(counter.history->count, 1);  // a level: one reading is enough

  // At the limit the readout is 0: no point, and the last reading stays.
  sim.machine->setCoreTemperature(0, core.coreId, 100.0);
  EXPECT_EQ(counter.Read(), 0.0);
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 1);
  EXPECT_EQ(counter.currentRaw, 35.0);
  EXPECT_EQ(counter.value, 65.0f);

  sim.machine->hardware().setMsrFailing(kMsrThermStatus, true);
  EXPECT_EQ(counter.Read(), -1.0);
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 1);
}

TEST(IntelTemperatureTest, PackageStatusFollowsTheHottestCore) {
  SimDriverHarness sim("intel-snb");  // TjMax 98
  CProcessor_2& package = sim.package();
  auto pin = sim.pin(package.threads[0]);
  for (const CoreRecord& core : package.cores) sim.machine->setCoreTemperature(0, core.coreId, 50.0);
  sim.machine->setCoreTemperature(0, package.cores[3].coreId, 71.0);
  Intel_SNB_TemperatureCounter counter(0, kMsrPackageThermStatus, 98.0f, sim.driver.get());
  counter.Update(nullptr);
  EXPECT_EQ(counter.value, static_cast<float>(sim.machine->trueTemperature(0)));
  EXPECT_EQ(counter.value, 71.0f);
}

class IntelPowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleClock::reset();
    pin = sim.pin(sim.package().threads[0]);
    ASSERT_TRUE(pin->pinned());
    hpet.frequency = 1e15 / kHpetPeriodFs;
    counter.energyRegister = kMsrPackageEnergyStatus;
  }
  void setPackageWatts(double watts) {
    sim::SimPowerDraw draw;
    draw.coresW = watts;
    sim.machine->setPower(0, draw);
  }
  void sample() {
    ASSERT_GE(hpet.ReadTicks(), 0.0);
    counter.Update(&hpet);
  }
  uint32_t energyCount() { return static_cast<uint32_t>(sim.msr(0, kMsrPackageEnergyStatus)); }

  SimDriverHarness sim{"intel-snb"};  // energy unit 2^-16 J
  std::unique_ptr<ProcessorPin> pin;
  CHPETTimer hpet{sim.driver.get(), static_cast<int32_t>(0xFED00000u)};
  Intel_SNB_PowerCounter counter{0, sim.driver.get()};
};

TEST_F(IntelPowerTest, EnergyGrowthOverTimerTimeIsWatts) {
  // 1000 W: 65536000 counts of 2^-16 J in one second.
  setPackageWatts(1000.0);
  sample();
  EXPECT_EQ(counter.energyUnit, 1.0 / 65536.0);
  uint32_t before = energyCount();
  sim.machine->advanceMs(1000);
  EXPECT_EQ(energyCount() - before, 65536000u);
  sample();
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_NEAR(counter.value, 1000.0f, 0.01f);

  // 16384 counts in 300 ms are about 0.83 W.
  setPackageWatts(16384.0 / 65536.0 / 0.3);
  sample();
  before = energyCount();
  sim.machine->advanceMs(300);
  EXPECT_EQ(energyCount() - before, 16384u);
  sample();
  EXPECT_NEAR(counter.value, 0.8333f, 0.0005f);
  EXPECT_NEAR(counter.value, sim.machine->truePower(0, SimPowerDomain::kPackage), 0.001);
}

TEST_F(IntelPowerTest, EnergyUnitIsLearntOnceAndNothingIsShownWithoutIt) {
  setPackageWatts(40.0);
  sim.machine->hardware().setMsrFailing(kMsrRaplPowerUnit, true);
  for (int i = 0; i < 3; ++i) {
    sample();
    sim.machine->advanceMs(300);
  }
  EXPECT_EQ(counter.energyUnit, -1.0);
  EXPECT_EQ(counter.history->count, 0);
  EXPECT_GE(counter.value, 0.0f);  // never a negative figure for want of a unit

  sim.machine->hardware().setMsrFailing(kMsrRaplPowerUnit, false);
  sample();
  EXPECT_EQ(counter.energyUnit, 1.0 / 65536.0);
  sim.machine->hardware().setMsrFailing(kMsrRaplPowerUnit, true);  // no longer needed
  sim.machine->advanceMs(300);
  sample();
  EXPECT_EQ(counter.history->count, 2);
  EXPECT_NEAR(counter.value, 40.0f, 0.4f);
}

TEST_F(IntelPowerTest, EnergyWrapIsCountedAcrossAndNeverShowsNegativeWatts) {
  setPackageWatts(95.0);
  // Up to 30 ms before the 32-bit count wraps (65536 J at 2^-16 J), then one
  // 300 ms sample across the wrap.
  uint64_t countsToWrap = (uint64_t{1} << 32) - energyCount();
  sim.machine->advanceMs(countsToWrap * 1000 / (95 * 65536) - 30);
  sample();
  sim.machine->advanceMs(300);
  sample();
  sim.machine->advanceMs(300);  // a past-the-wrap reading: the last sample wrapped
  ASSERT_LT(energyCount(), 95u * 65536);
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_NEAR(counter.value, 95.0f, 0.1f);
  sample();
  ASSERT_EQ(counter.history->count, 2);
  EXPECT_NEAR(counter.history->values[1], 95.0f, 0.1f);
}

}  // namespace
}  // namespace tv2

#include <gtest/gtest.h>

#include "counters/PmuProgramming.h"
#include "counters/PmuRegisters.h"
#include "tests/counters/SimDriverHarness.h"

namespace tv2 {
namespace {

using testing::SimDriverHarness;

constexpr uint64_t kFixedEnableBits = uint64_t{7} << 32;

TEST(PmuProgrammingTest, FixedCountersCountOnceEnabled) {
  SimDriverHarness sim("intel-snb");
  const LogicalProcessorRecord& record = sim.package().threads[1];
  auto pin = sim.pin(record);
  ASSERT_TRUE(pin->pinned());
  int cpu = sim.cpuOf(record);
  ASSERT_EQ(sim.package().generalCounterCount, 4);
  sim.machine->setLoad(cpu, 1.0);

  EnableFixedCounters(*sim.driver, sim.package().generalCounterCount);
  EXPECT_EQ(sim.msr(cpu, kMsrPerfGlobalControl), kFixedEnableBits | 0xF);
  EXPECT_EQ(sim.msr(cpu, kMsrFixedCounterControl), 0x333u);
  // Only the pinned processor was programmed.
  EXPECT_EQ(sim.msr(cpu + 1, kMsrFixedCounterControl), 0u);

  uint64_t before = sim.msr(cpu, kMsrFixedInstructions);
  sim.machine->advanceMs(100);
  double counted = static_cast<double>(sim.msr(cpu, kMsrFixedInstructions) - before);
  double expected = sim.machine->trueRate(cpu, sim::SimEvent::kInstructions) * 0.1;
  EXPECT_NEAR(counted, expected, expected * 0.001);
}

TEST(PmuProgrammingTest, GlobalEnableWrittenOnlyForTwoFourSixOrEightGeneralCounters) {
  EXPECT_EQ(generalCounterEnableBits(2), 0x3u);
  EXPECT_EQ(generalCounterEnableBits(4), 0xFu);
  EXPECT_EQ(generalCounterEnableBits(6), 0x3Fu);
  EXPECT_EQ(generalCounterEnableBits(8), 0xFFu);
  for (int odd : {0, 1, 3, 5, 7, 9}) EXPECT_EQ(generalCounterEnableBits(odd), 0u) << odd;

  sim::SimMachineConfig config = *sim::SimMachine::preset("intel-snb");
  config.model.pmuEax = 0x07300303;  // three general counters
  SimDriverHarness sim(config);
  ASSERT_EQ(sim.package().generalCounterCount, 3);
  const LogicalProcessorRecord& record = sim.package().threads[0];
  auto pin = sim.pin(record);
  int cpu = sim.cpuOf(record);
  uint64_t globalBefore = sim.msr(cpu, kMsrPerfGlobalControl);
  EnableFixedCounters(*sim.driver, 3);
  EXPECT_EQ(sim.msr(cpu, kMsrPerfGlobalControl), globalBefore);
  EXPECT_EQ(sim.msr(cpu, kMsrFixedCounterControl), 0x333u);
}

TEST(PmuProgrammingTest, EventSelectKeepsItsHighHalf) {
  SimDriverHarness sim("amd-bd");
  const LogicalProcessorRecord& record = sim.package().threads[3];
  auto pin = sim.pin(record);
  int cpu = sim.cpuOf(record);
  // Bits 35:32 carry event bits 11:8 on these parts.
  ASSERT_TRUE(sim.machine->hardware().writeMsr(cpu, amdPerfCtl(2), uint64_t{0x1} << 32));
  ProgramEventSelect(*sim.driver, amdPerfCtl(2), 0x4300C0);
  EXPECT_EQ(sim.msr(cpu, amdPerfCtl(2)), (uint64_t{0x1} << 32) | 0x4300C0);
}

TEST(PmuProgrammingTest, RegistersThatCannotBeReadAreNotWritten) {
  SimDriverHarness sim("amd-bd");
  const LogicalProcessorRecord& record = sim.package().threads[0];
  auto pin = sim.pin(record);
  int cpu = sim.cpuOf(record);
  ASSERT_TRUE(sim.machine->hardware().writeMsr(cpu, amdPerfCtl(1), 0x4300C0));
  sim.machine->hardware().setMsrReadFailing(amdPerfCtl(1), true);
  ProgramEventSelect(*sim.driver, amdPerfCtl(1), 0x430076);
  sim.machine->hardware().setMsrReadFailing(amdPerfCtl(1), false);
  EXPECT_EQ(sim.msr(cpu, amdPerfCtl(1)), 0x4300C0u) << "a failed read's all-ones high half went back";

  SimDriverHarness intel("intel-snb");
  const LogicalProcessorRecord& first = intel.package().threads[0];
  auto intelPin = intel.pin(first);
  int intelCpu = intel.cpuOf(first);
  intel.machine->hardware().setMsrReadFailing(kMsrFixedCounterControl, true);
  intel.machine->hardware().setMsrReadFailing(kMsrPerfGlobalControl, true);
  EnableFixedCounters(*intel.driver, 4);
  intel.machine->hardware().setMsrReadFailing(kMsrFixedCounterControl, false);
  intel.machine->hardware().setMsrReadFailing(kMsrPerfGlobalControl, false);
  EXPECT_EQ(intel.msr(intelCpu, kMsrFixedCounterControl), 0u);
  EXPECT_EQ(intel.msr(intelCpu, kMsrPerfGlobalControl) >> 32, 0u);
}

}  // namespace
}  // namespace tv2

#include <gtest/gtest.h>

#include "cpu/ModelGroups.h"
#include "cpu/ProcessorCapabilities.h"
#include "testing/SimDriverFixture.h"

namespace tv2 {
namespace {

using testing::presetConfig;
using testing::SimDriverMachine;

CProcessor_2& readCapabilities(SimDriverMachine& m) {
  EXPECT_TRUE(m.locked);
  ReadProcessorCapabilities(*m.driver, m.platform->processors(), m.groups.groupMode, m.processors);
  return *m.processors.At(0);
}

TEST(ModelGroups, OnlyExactCodesAreSupported) {
  EXPECT_EQ(classifyProcessor(0x10206A0), ModelGroup::Intel_SNB);
  EXPECT_EQ(classifyProcessor(0x10106A0), ModelGroup::Intel_B133);
  EXPECT_EQ(classifyProcessor(0x10106C0), ModelGroup::Intel_FSB);
  EXPECT_EQ(classifyProcessor(0x2600F10), ModelGroup::AMD_BD);
  EXPECT_EQ(classifyProcessor(0x2610F00), ModelGroup::AMD_TN);
  EXPECT_EQ(classifyProcessor(0x2700F00), ModelGroup::AMD_KV);
  // A different processor-type field (leaf 1 EAX bits 13:12) is outside the table.
  EXPECT_EQ(classifyProcessor(0x10206A0 | 0x1000), ModelGroup::kUnlisted);
  EXPECT_EQ(classifyProcessor(0x10906E0), ModelGroup::kUnlisted);
  EXPECT_EQ(classifyProcessor(-1), ModelGroup::kUnlisted);
}

TEST(Capabilities, SandyBridgeRatiosClocksAndTdp) {
  auto config = presetConfig("intel-snb");
  config.model.part.baseRatio = 34;
  config.model.part.turboRatios = 0x23242526;  // one active core first: 0x26 = 38
  SimDriverMachine m(config);
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.baseRatio, 34.0f);
  EXPECT_EQ(p.turboRatio, 38.0f);
  EXPECT_EQ(p.baseClock, 3400);
  EXPECT_EQ(p.turboClock, 3800);
  EXPECT_EQ(p.tdp, static_cast<int32_t>(config.model.part.tdpW));
}

TEST(Capabilities, NehalemUsesThe133MHzBusInSinglePrecision) {
  auto config = presetConfig("intel-b133");
  config.model.part.baseRatio = 20;
  SimDriverMachine m(config);
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.baseClock, 2666);  // 20 × 133.3334, truncated
}

TEST(Capabilities, AtomTakesItsBusClockFromMsrCdAndHasNoTurbo) {
  auto config = presetConfig("intel-fsb");
  config.model.part.busCode = 1;
  config.model.part.baseRatio = 12;
  SimDriverMachine m(config);
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.baseClock, 1600);
  EXPECT_EQ(p.turboClock, -1);
  EXPECT_EQ(p.turboRatio, -1.0f);
}

TEST(Capabilities, HiddenMonitoringLeafIsReadAndMiscEnableRestored) {
  auto config = presetConfig("intel-snb");
  config.firmware.limitCpuid = true;
  SimDriverMachine m(config);
  CProcessor_2& before = *m.processors.At(0);
  ASSERT_EQ(before.pmuVersion, 0) << "the BIOS limit hides leaf 0xA from discovery";
  uint32_t high0 = 0;
  uint32_t low0 = 0;
  ASSERT_TRUE(m.driver->ReadMsr(0x1A0, &high0, &low0));
  ASSERT_TRUE(low0 & (1u << 22));
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.pmuVersion, static_cast<int32_t>(config.model.pmuEax & 0xFF));
  EXPECT_EQ(p.generalCounterCount, static_cast<int32_t>((config.model.pmuEax >> 8) & 0xFF));
  EXPECT_EQ(p.fixedCounterCount, static_cast<int32_t>(config.model.pmuEdx & 0x1F));
  uint32_t high1 = 0;
  uint32_t low1 = 0;
  ASSERT_TRUE(m.driver->ReadMsr(0x1A0, &high1, &low1));
  EXPECT_EQ(high1, high0);
  EXPECT_EQ(low1, low0);
}

TEST(Capabilities, BulldozerBoostStatesGiveTurboFromPState0) {
  auto config = presetConfig("amd-bd");
  // fid 0x14, did 0 → (20 + 16) × 0.5 = 18 → 3600 MHz; two boost states.
  config.model.part.pStateMhz = {3600, 3400, 3100, 2600, 2100, 1600, 1400};
  config.model.part.boostStates = 2;
  SimDriverMachine m(config);
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.turboRatio, 18.0f);
  EXPECT_EQ(p.turboClock, 3600);
  EXPECT_EQ(p.baseRatio, 15.5f);  // P-state 2: 3100 MHz
  EXPECT_EQ(p.baseClock, 3100);
  EXPECT_GT(p.tdp, 0);
  EXPECT_EQ(p.tdp, static_cast<int32_t>(config.model.part.tdpW));
  // Bit 14 of 0:18.3 0x8C stays set.
  uint32_t nb = 0;
  ASSERT_TRUE(m.driver->ReadPciConfig(0, 24, 3, 0x8C, &nb));
  EXPECT_TRUE(nb & (1u << 14));
}

TEST(Capabilities, TrinityDoublesTheRatio) {
  auto config = presetConfig("amd-tn");
  config.model.part.pStateMhz = {3600, 3400, 3000};
  config.model.part.boostStates = 2;
  SimDriverMachine m(config);
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.turboRatio, 36.0f);
  EXPECT_EQ(p.turboClock, 3600);
  EXPECT_EQ(p.baseClock, 3000);
}

TEST(Capabilities, UnlistedProcessorKeepsNotAvailable) {
  SimDriverMachine m(presetConfig("unlisted"));
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.baseRatio, -1.0f);
  EXPECT_EQ(p.turboRatio, -1.0f);
  EXPECT_EQ(p.baseClock, -1);
  EXPECT_EQ(p.turboClock, -1);
  EXPECT_EQ(p.tdp, 0);
}

TEST(Capabilities, FailedReadsLeaveFieldsAndAffinityIsRestored) {
  auto config = presetConfig("intel-snb");
  SimDriverMachine m(config);
  m.machine->hardware().setMsrFailing(0xCE, true);
  GroupAffinity before;
  ASSERT_TRUE(m.platform->processors().getThreadGroupAffinity(&before));
  CProcessor_2& p = readCapabilities(m);
  EXPECT_EQ(p.baseRatio, -1.0f);
  EXPECT_EQ(p.baseClock, -1);
  EXPECT_GT(p.turboClock, 0);
  GroupAffinity after;
  ASSERT_TRUE(m.platform->processors().getThreadGroupAffinity(&after));
  EXPECT_EQ(after.mask, before.mask);
  EXPECT_EQ(after.group, before.group);
}

}  // namespace
}  // namespace tv2

// The processor table and the clock rules that hang on it, row by row: every
// supported code and its class, the front-side-bus clock codes of the small
// cores, and the Kaveri/Kabini P-states with and without boost states.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cpu/ModelGroups.h"
#include "cpu/ProcessorCapabilities.h"
#include "testing/SimDriverFixture.h"

namespace tv2 {
namespace {

using testing::presetConfig;
using testing::SimDriverMachine;

TEST(CapabilityTables, EveryListedCodeFallsIntoItsClassAndNothingElseDoes) {
  struct Entry {
    int32_t code;
    ModelGroup group;
  };
  const Entry table[] = {
      {0x10106A0, ModelGroup::Intel_B133}, {0x10106E0, ModelGroup::Intel_B133}, {0x1020650, ModelGroup::Intel_B133},
      {0x10206C0, ModelGroup::Intel_B133}, {0x10206E0, ModelGroup::Intel_B133}, {0x10206F0, ModelGroup::Intel_B133},
      {0x10206A0, ModelGroup::Intel_SNB},  {0x10206D0, ModelGroup::Intel_SNB},  {0x10306A0, ModelGroup::Intel_SNB},
      {0x10306C0, ModelGroup::Intel_SNB},  {0x10306E0, ModelGroup::Intel_SNB},  {0x10306F0, ModelGroup::Intel_SNB},
      {0x1040650, ModelGroup::Intel_SNB},  {0x1040660, ModelGroup::Intel_SNB},  {0x10106C0, ModelGroup::Intel_FSB},
      {0x1020660, ModelGroup::Intel_FSB},  {0x1030650, ModelGroup::Intel_FSB},  {0x1030660, ModelGroup::Intel_FSB},
      {0x2600F00, ModelGroup::AMD_BD},     {0x2600F10, ModelGroup::AMD_BD},     {0x2600F20, ModelGroup::AMD_BD},
      {0x2610F00, ModelGroup::AMD_TN},     {0x2610F10, ModelGroup::AMD_TN},     {0x2610F30, ModelGroup::AMD_TN},
      {0x2630F00, ModelGroup::AMD_KV},     {0x2700F00, ModelGroup::AMD_KV},
  };
  static_assert(sizeof table / sizeof table[0] == 26);
  for (const Entry& e : table) {
    SCOPED_TRACE(std::to_string(e.code));
    EXPECT_EQ(classifyProcessor(e.code), e.group);
    EXPECT_EQ(isIntelGroup(e.group), (e.code >> 24) == 1);
    EXPECT_EQ(isAmdGroup(e.group), (e.code >> 24) == 2);
    // Only exact codes: another processor-type field, the other vendor, or
    // a stepping left in fall outside the table.
    EXPECT_EQ(classifyProcessor(e.code | 0x1000), ModelGroup::kUnlisted);
    EXPECT_EQ(classifyProcessor(e.code ^ 0x3000000), ModelGroup::kUnlisted);
    EXPECT_EQ(classifyProcessor(e.code | 0x7), ModelGroup::kUnlisted);
  }
  // Neighbouring models outside the table.
  for (int32_t code : {0x1010650, 0x10206B0, 0x1040670, 0x10406E0, 0x2600F30, 0x2610F20, 0x2620F00, 0x2700F10,
                       0x2800F00, 0x1050650}) {
    EXPECT_EQ(classifyProcessor(code), ModelGroup::kUnlisted) << code;
  }
}

// MSR 0xCD bits 2:0 pick the bus clock of the small cores; the base clock is
// that bus clock times the MSR 0x17 ratio in single precision, truncated; code
// 7 sets nothing, and these parts have no turbo clock.
TEST(CapabilityTables, SmallCoreBusClockCodes) {
  struct Bus {
    int code;
    int32_t baseClock;  // with ratio 12
  };
  const Bus buses[] = {{0, 3200}, {1, 1600}, {2, 2400}, {3, 2000}, {4, 4000}, {5, 1200}, {6, 4800}, {7, -1}};
  for (const Bus& bus : buses) {
    SCOPED_TRACE(bus.code);
    auto config = presetConfig("intel-fsb");
    config.model.part.busCode = bus.code;
    config.model.part.baseRatio = 12;
    SimDriverMachine m(config);
    ASSERT_TRUE(m.locked);
    ReadProcessorCapabilities(*m.driver, m.platform->processors(), m.groups.groupMode, m.processors);
    const CProcessor_2& p = *m.processors.At(0);
    EXPECT_EQ(p.baseRatio, 12.0f);
    EXPECT_EQ(p.baseClock, bus.baseClock);
    EXPECT_EQ(p.turboClock, -1);
  }
  // The single-precision constants, not their two-decimal roundings: 133.33
  // × 12 would truncate to 1599, 166.66 × 12 to 1999.
  auto config = presetConfig("intel-fsb");
  config.model.part.busCode = 3;
  config.model.part.baseRatio = 3;
  SimDriverMachine m(config);
  ReadProcessorCapabilities(*m.driver, m.platform->processors(), m.groups.groupMode, m.processors);
  EXPECT_EQ(m.processors.At(0)->baseClock, 500);  // 3 × 166.6667 = 500.0001
}

// Kaveri (family 15h) and Kabini (family 16h): P-state 0 is the turbo state
// when there are boost states, else the base; ratios are stored doubled and
// the clock is 100 MHz per doubled ratio unit.
TEST(CapabilityTables, KaveriAndKabiniWithAndWithoutBoostStates) {
  struct Case {
    const char* preset;
    int boostStates;
    float baseRatio, turboRatio;
    int32_t baseClock, turboClock;
  };
  const Case cases[] = {
      {"amd-kv-15h", 0, 40.0f, -1.0f, 4000, -1}, {"amd-kv-15h", 1, 37.0f, 40.0f, 3700, 4000},
      {"amd-kv-15h", 2, 35.0f, 40.0f, 3500, 4000}, {"amd-kv-16h", 0, 40.0f, -1.0f, 4000, -1},
      {"amd-kv-16h", 1, 37.0f, 40.0f, 3700, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " with " + std::to_string(c.boostStates) + " boost states");
    auto config = presetConfig(c.preset);
    config.model.part.pStateMhz = {4000, 3700, 3500, 3300, 1700};
    config.model.part.boostStates = c.boostStates;
    SimDriverMachine m(config);
    ASSERT_TRUE(m.locked);
    ReadProcessorCapabilities(*m.driver, m.platform->processors(), m.groups.groupMode, m.processors);
    const CProcessor_2& p = *m.processors.At(0);
    EXPECT_EQ(classifyProcessor(p.processorCode), ModelGroup::AMD_KV);
    EXPECT_EQ(p.baseRatio, c.baseRatio);
    EXPECT_EQ(p.turboRatio, c.turboRatio);
    EXPECT_EQ(p.baseClock, c.baseClock);
    EXPECT_EQ(p.turboClock, c.turboClock);
  }
}

}  // namespace
}  // namespace tv2

#include <gtest/gtest.h>

#include "counters/AMD_BD_PowerCounter.h"
#include "counters/AMD_BD_TemperatureCounter.h"
#include "counters/AMD_KVG_PowerCounter.h"
#include "counters/AMD_KV_PowerCounter.h"
#include "counters/AMD_TNU_PowerCounter.h"
#include "counters/AMD_TN_PowerCounter.h"
#include "tests/counters/SimDriverHarness.h"

namespace tv2 {
namespace {

using sim::SimPowerDomain;
using testing::SimDriverHarness;

constexpr uint32_t kMsrMmioConfigBase = 0xC0010058;
constexpr uint64_t kWindow = 0xE0000000;

sim::SimPowerDraw draw(double cores, double uncore, double graphics = 0.0) {
  sim::SimPowerDraw d;
  d.coresW = cores;
  d.uncoreW = uncore;
  d.graphicsW = graphics;
  return d;
}

// The window dword of a northbridge register, as the program addresses it.
uint64_t windowAddress(int function, uint32_t reg) {
  return kWindow + ((uint64_t{0x18} << 15) | (static_cast<uint64_t>(function) << 12) | reg);
}

class AmdBulldozerTest : public ::testing::Test {
 protected:
  SimDriverHarness sim{"amd-bd"};
  Platform* platform = sim.platform.get();
};

TEST_F(AmdBulldozerTest, TemperatureReadsThePairAndRestoresItsIndex) {
  sim.machine->setTemperature(0, 57.0);
  uint32_t index = sim.configRegister(0, 0x18, 3, 0x1E8);
  AMD_BD_TemperatureCounter counter(0, sim.driver.get(), platform);
  counter.Update(nullptr);
  EXPECT_EQ(counter.value, static_cast<float>(sim.machine->trueTemperature(0)));
  EXPECT_EQ(counter.history->count, 1);
  EXPECT_EQ(counter.configBase, 0xE0000000u);  // learnt from MSR 0xC0010058
  EXPECT_EQ(sim.configRegister(0, 0x18, 3, 0x1E8), index);
  EXPECT_NE(sim.configRegister(0, 0x18, 3, 0x8C) & (1u << 14), 0u);  // stays set
}

TEST_F(AmdBulldozerTest, PackagePowerIsBaseLearntOncePlusReportedExcess) {
  sim.machine->setPower(0, draw(61.3, 15.0));
  AMD_BD_PowerCounter counter(0, sim.driver.get(), platform);
  counter.Update(nullptr);
  double truth = sim.machine->truePower(0, SimPowerDomain::kPackage);
  EXPECT_NEAR(counter.value, truth, 0.051);  // the register counts 0.1 W
  int32_t base = counter.basePower;
  EXPECT_GT(base, 0);
  EXPECT_LT(base, truth);

  // The base is not read again: its register failing changes nothing.
  sim.machine->hardware().setPciFailing(0, 0x18, 4, 0x1B8, true);
  sim.machine->setPower(0, draw(90.0, 15.0));
  counter.Update(nullptr);
  EXPECT_EQ(counter.basePower, base);
  EXPECT_NEAR(counter.value, sim.machine->truePower(0, SimPowerDomain::kPackage), 0.051);

  // Without a valid report there is no figure.
  sim.machine->hardware().setPciFailing(0, 0x18, 4, 0x15C, true);
  EXPECT_EQ(counter.Read(), -1.0);
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 2);
}

TEST_F(AmdBulldozerTest, WithoutAConfigurationWindowEveryReadGoesThroughThePorts) {
  sim.machine->hardware().setMsrFailing(kMsrMmioConfigBase, true);
  // The window would fail too: only the ports can give the right answers.
  for (uint32_t reg : {0x8Cu, 0x1E8u, 0x1ECu}) sim.machine->hardware().setPhysicalFailing(windowAddress(3, reg), true);
  for (uint32_t reg : {0x15Cu, 0x1B8u, 0x1C0u}) sim.machine->hardware().setPhysicalFailing(windowAddress(4, reg), true);
  sim.machine->hardware().setPhysicalFailing(windowAddress(5, 0xE8), true);
  sim.machine->setTemperature(0, 48.0);
  sim.machine->setPower(0, draw(44.4, 15.0));
  uint32_t address = 0;
  ASSERT_TRUE(sim.machine->hardware().readPort(0xCF8, &address));

  AMD_BD_TemperatureCounter temperature(0, sim.driver.get(), platform);
  AMD_BD_PowerCounter power(1, sim.driver.get(), platform);
  temperature.Update(nullptr);
  power.Update(nullptr);
  EXPECT_EQ(temperature.configBase, 0u);
  EXPECT_EQ(temperature.value, 48.0f);
  EXPECT_NEAR(power.value, sim.machine->truePower(0, SimPowerDomain::kPackage), 0.051);
  // The extended writes put the address port back as they found it.
  uint32_t after = 0;
  ASSERT_TRUE(sim.machine->hardware().readPort(0xCF8, &after));
  EXPECT_EQ(after, address);
}

TEST(AmdTrinityTest, CoreAndUncoreRailsFromTheLatchedTelemetry) {
  SimDriverHarness sim("amd-tn");
  sim.machine->setPower(0, draw(30.0, 9.0, 6.0));
  uint32_t index = sim.configRegister(0, 0, 0, 0xB8);
  uint32_t hold = sim.configRegister(0, 0x18, 5, 0x12C);
  uint32_t latch = sim.configRegister(0, 0x18, 5, 0x188);
  ASSERT_NE(hold & (1u << 6), 0u);  // the telemetry starts held

  AMD_TN_PowerCounter core(0, sim.driver.get(), sim.platform.get());
  AMD_TNU_PowerCounter uncore(1, sim.driver.get(), sim.platform.get());
  core.Update(nullptr);
  uncore.Update(nullptr);
  EXPECT_EQ(core.smuEnabled, 1);
  EXPECT_EQ(uncore.smuEnabled, 1);
  EXPECT_GT(core.currentScale, uncore.currentScale);  // 100 A cores, 40 A northbridge
  // Half a step of the current share (of 255) at each rail's voltage.
  double cores = sim.machine->truePower(0, SimPowerDomain::kCores);
  double rest = sim.machine->truePower(0, SimPowerDomain::kPackage) - cores;
  EXPECT_NEAR(core.value, cores, 0.5 * 100.0 / 255.0 * 1.30);
  EXPECT_NEAR(uncore.value, rest, 0.5 * 40.0 / 255.0 * 1.10);

  EXPECT_EQ(sim.configRegister(0, 0, 0, 0xB8), index);
  EXPECT_EQ(sim.configRegister(0, 0x18, 5, 0x12C), hold);
  EXPECT_EQ(sim.configRegister(0, 0x18, 5, 0x188), latch);
}

// Machines with much memory get the configuration window above 4 GB: the
// whole base is used, never its low half (which is ordinary memory there).
TEST(AmdConfigurationWindowTest, ABaseAboveFourGigabytesIsUsedWhole) {
  for (uint64_t base : {uint64_t{0xE0000000}, uint64_t{0x3E0000000}}) {
    sim::SimMachineConfig config = *sim::SimMachine::preset("amd-tn");
    config.firmware.configWindowBase = base;
    SimDriverHarness sim(config);
    sim.machine->setPower(0, draw(30.0, 9.0, 6.0));
    sim.machine->setTemperature(0, 51.0);
    uint32_t hold = sim.configRegister(0, 0x18, 5, 0x12C);

    AMD_BD_TemperatureCounter temperature(0, sim.driver.get(), sim.platform.get());
    AMD_TN_PowerCounter core(1, sim.driver.get(), sim.platform.get());
    temperature.Update(nullptr);
    core.Update(nullptr);
    EXPECT_EQ(temperature.configBase, static_cast<uint32_t>(base)) << std::hex << base;
    EXPECT_EQ(temperature.configBaseHigh, static_cast<uint32_t>(base >> 32)) << std::hex << base;
    EXPECT_EQ(temperature.value, 51.0f) << std::hex << base;
    EXPECT_NEAR(core.value, sim.machine->truePower(0, SimPowerDomain::kCores), 0.5 * 100.0 / 255.0 * 1.30)
        << std::hex << base;
    // The window writes (latch and hold bits) reached the right registers.
    EXPECT_EQ(sim.configRegister(0, 0x18, 5, 0x12C), hold) << std::hex << base;
    EXPECT_NE(sim.configRegister(0, 0x18, 3, 0x8C) & (1u << 14), 0u) << std::hex << base;
  }
}

class AmdKaveriTest : public ::testing::Test {
 protected:
  SimDriverHarness sim{"amd-kv-15h"};
  AMD_KV_PowerCounter package{0, sim.driver.get(), sim.platform.get()};
  AMD_KVG_PowerCounter graphics{1, sim.driver.get(), sim.platform.get()};
};

TEST_F(AmdKaveriTest, ManagementUnitFiguresAreWattsIn256ths) {
  // 10 W is 2560 in the unit's register.
  sim.machine->setPower(0, draw(3.0, 2.0, 5.0));
  uint32_t index = sim.configRegister(0, 0, 0, 0xB8);
  uint64_t start = sim.machine->nowNs();
  package.Update(nullptr);
  EXPECT_EQ(package.value, 10.0f);
  EXPECT_EQ(package.value, static_cast<float>(sim.machine->truePower(0, SimPowerDomain::kPackage)));
  // Five messages at 1 ms and the 20 ms averaging window.
  EXPECT_EQ(sim.machine->nowNs() - start, 25'000'000u);
  graphics.Update(nullptr);
  EXPECT_EQ(graphics.value, static_cast<float>(sim.machine->truePower(0, SimPowerDomain::kGraphics)));
  EXPECT_EQ(sim.configRegister(0, 0, 0, 0xB8), index);

  // 90000 / 256 W or more is not a valid figure.
  sim.machine->setPower(0, draw(300.0, 40.0, 12.0));
  EXPECT_GE(sim.machine->truePower(0, SimPowerDomain::kPackage) * 256.0, 90000.0);
  package.Update(nullptr);
  EXPECT_EQ(package.history->count, 1);
  EXPECT_EQ(package.currentRaw, -1.0);
}

TEST_F(AmdKaveriTest, SilentMailboxGivesUpAfterOneHundredAttemptsPerMessage) {
  sim.machine->hardware().setMailboxAnswering(false);
  uint64_t start = sim.machine->nowNs();
  EXPECT_EQ(package.Read(), -1.0);
  // Each of the four set-up messages is tried 100 times, 1 ms apart; the
  // averaging window is never opened.
  EXPECT_EQ(sim.machine->nowNs() - start, 400'000'000u);

  sim.machine->hardware().setMailboxAnswering(true);
  sim.machine->hardware().setPciFailing(0, 1, 0, 0x24, true);  // no mailbox address
  start = sim.machine->nowNs();
  EXPECT_EQ(package.Read(), -1.0);
  EXPECT_EQ(sim.machine->nowNs(), start);
}

}  // namespace
}  // namespace tv2

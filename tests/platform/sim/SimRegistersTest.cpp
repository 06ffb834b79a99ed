// Machine registers (MSRs) of the simulated machines: counters that count the
// workload, the CPUID limit, energy and thermal registers, and the figures each
// preset's registers report, decoded the way the program decodes them.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {
namespace {

constexpr uint64_t kMask48 = (1ull << 48) - 1;

std::shared_ptr<SimMachine> manualMachine(const std::string& preset) {
  auto m = std::make_shared<SimMachine>(SimMachine::preset(preset).value());
  m->useManualClock();
  return m;
}

uint64_t msr(SimMachine& m, int cpu, uint32_t index) {
  uint64_t value = 0;
  EXPECT_TRUE(m.hardware().readMsr(cpu, index, &value)) << std::hex << index;
  return value;
}

void writeMsr(SimMachine& m, int cpu, uint32_t index, uint64_t value) {
  EXPECT_TRUE(m.hardware().writeMsr(cpu, index, value)) << std::hex << index;
}

TEST(SimRegistersTest, EnabledSelectsCountTheirEventAtTheWorkloadRate) {
  auto m = manualMachine("intel-b133");
  SimActivity busy;
  busy.ipc = 2.0;
  busy.stallShare = 0.25;
  m->setActivity(1, busy);
  m->setLoad(1, 1.0, 0.75);
  writeMsr(*m, 1, 0x186, 0x4300C0);   // instructions, both modes
  writeMsr(*m, 1, 0x187, 0x4100C0);   // instructions, user mode only
  writeMsr(*m, 1, 0x188, 0x1C301C2);  // cycles without a retired uop
  writeMsr(*m, 1, 0x189, 0x0300C0);   // enable bit clear
  for (uint32_t pmc = 0xC1; pmc <= 0xC4; ++pmc) writeMsr(*m, 1, pmc, 0);
  m->advanceMs(500);

  const double instructions = m->trueRate(1, SimEvent::kInstructions) * 0.5;
  EXPECT_NEAR(instructions, 20 * (400.0 / 3) * 1e6 * 2.0 * 0.5, 1.0);
  EXPECT_NEAR(static_cast<double>(msr(*m, 1, 0xC1)), instructions, 1.0);
  EXPECT_NEAR(static_cast<double>(msr(*m, 1, 0xC2)), instructions * 0.75, 1.0);
  EXPECT_NEAR(static_cast<double>(msr(*m, 1, 0xC3)),
              m->trueRate(1, SimEvent::kUnhaltedCycles) * 0.5 * 0.25, 1.0);
  EXPECT_EQ(msr(*m, 1, 0xC4), 0u);
  // Another processor with the same select but no load counts nothing.
  writeMsr(*m, 2, 0x186, 0x4300C0);
  m->advanceMs(100);
  EXPECT_EQ(msr(*m, 2, 0xC1), 0u);

  // AMD core counters: unhalted cycles and the stalled-cycle threshold.
  auto amd = manualMachine("amd-bd");
  amd->setLoad(3, 0.5);
  writeMsr(*amd, 3, 0xC0010200, 0x430076);
  writeMsr(*amd, 3, 0xC0010202, 0x2C30076);  // every cycle: "total cycles"
  amd->advanceMs(1000);
  EXPECT_NEAR(static_cast<double>(msr(*amd, 3, 0xC0010201)), 3600e6 * 0.5, 1.0);
  EXPECT_EQ(msr(*amd, 3, 0xC0010203), msr(*amd, 3, 0xC0010201));
  // Northbridge counters: a 12-bit event, the whole package, from any core.
  amd->setLoad(6, 1.0);
  writeMsr(*amd, 0, 0xC0010240, (4ull << 32) | 0x40F7E0);
  writeMsr(*amd, 0, 0xC0010241, 0);
  amd->advanceMs(1000);
  EXPECT_NEAR(static_cast<double>(msr(*amd, 7, 0xC0010241)),
              amd->truePackageRate(0, SimEvent::kL3Requests), 1.0);
  EXPECT_NEAR(amd->truePackageRate(0, SimEvent::kL3Requests),
              amd->trueRate(3, SimEvent::kL2Misses) + amd->trueRate(6, SimEvent::kL2Misses), 1e-3);
}

TEST(SimRegistersTest, FixedCountersNeedBothControlsAndCountersWrapAt48Bits) {
  auto m = manualMachine("intel-snb");
  m->setLoad(0, 1.0);
  writeMsr(*m, 0, 0x38D, 0x333);
  m->advanceMs(10);
  EXPECT_EQ(msr(*m, 0, 0x30A), 0u);  // the global enable still holds them
  writeMsr(*m, 0, 0x38F, 0x70000000F);
  m->advanceMs(10);
  EXPECT_EQ(msr(*m, 0, 0x30A), 34'000'000u);  // 3400 MHz for 10 ms
  EXPECT_EQ(msr(*m, 0, 0x30B), 34'000'000u);  // reference cycles at the same clock
  const uint64_t tsc = msr(*m, 0, 0x10);
  m->advanceMs(10);
  EXPECT_EQ(msr(*m, 0, 0x10) - tsc, 34'000'000u);  // and the TSC, busy or not

  // A general counter takes bits 31:0 sign-extended and wraps at its width.
  writeMsr(*m, 0, 0x186, 0x43003C);
  writeMsr(*m, 0, 0xC1, 0xFFFFFFF0);
  EXPECT_EQ(msr(*m, 0, 0xC1), kMask48 - 15);
  m->advanceMs(1);
  EXPECT_EQ(msr(*m, 0, 0xC1), 3'400'000u - 16);

  // Reserved bits and read-only registers fail like #GP; the value stays.
  EXPECT_FALSE(m->hardware().writeMsr(0, 0x38F, 1ull << 40));
  EXPECT_FALSE(m->hardware().writeMsr(0, 0x186, 1ull << 32));
  EXPECT_FALSE(m->hardware().writeMsr(0, 0xCE, 0));
  EXPECT_EQ(msr(*m, 0, 0x38F), 0x70000000Fu);
  uint64_t value = 0;
  EXPECT_FALSE(m->hardware().readMsr(0, 0x18A, &value));  // a fifth counter
  EXPECT_FALSE(m->hardware().readMsr(0, 0xCD, &value));   // no front-side bus here
  EXPECT_FALSE(m->hardware().readMsr(8, 0x10, &value));   // no such processor
}

TEST(SimRegistersTest, CpuidLimitBitHidesAndRestoresTheMonitoringLeaf) {
  auto m = manualMachine("intel-snb");
  const uint64_t misc = msr(*m, 0, 0x1A0);
  EXPECT_EQ(misc & (1ull << 22), 0u);
  writeMsr(*m, 0, 0x1A0, misc | (1ull << 22));
  EXPECT_EQ(m->cpuid(0, 0, 0).eax, 2u);
  EXPECT_EQ(m->cpuid(0, 0xA, 0).eax, m->cpuid(0, 2, 0).eax);
  EXPECT_EQ(m->cpuid(1, 0xA, 0).eax, 0x07300403u);  // other processors keep theirs
  writeMsr(*m, 0, 0x1A0, misc);
  EXPECT_EQ(m->cpuid(0, 0, 0).eax, 0xDu);
  EXPECT_EQ(m->cpuid(0, 0xA, 0).eax, 0x07300403u);

  // A BIOS that sets the limit at power-up.
  SimMachineConfig config = SimMachine::preset("intel-b133").value();
  config.firmware.limitCpuid = true;
  SimMachine limited(config);
  EXPECT_EQ(limited.cpuid(5, 0, 0).eax, 2u);
  EXPECT_EQ(limited.cpuid(5, 0xA, 0).eax, limited.cpuid(5, 2, 0).eax);
}

TEST(SimRegistersTest, EnergyCountersFollowThePowerAndWrapAt32Bits) {
  auto m = manualMachine("intel-snb");
  m->setPower(0, SimPowerDraw{40.0, 14.0, 10.0, 0.0});  // package 64 W
  EXPECT_DOUBLE_EQ(m->truePower(0, SimPowerDomain::kPackage), 64.0);
  EXPECT_EQ((msr(*m, 0, 0x606) >> 8) & 0x1F, 16u);  // 2^-16 J per count
  const uint64_t pkg0 = msr(*m, 0, 0x611), cores0 = msr(*m, 0, 0x639), gfx0 = msr(*m, 0, 0x641);
  m->advanceMs(1000);
  EXPECT_EQ(msr(*m, 0, 0x611) - pkg0, 64u * 65536);
  EXPECT_EQ(msr(*m, 7, 0x639) - cores0, 40u * 65536);  // package-wide, from any processor
  EXPECT_EQ(msr(*m, 0, 0x641) - gfx0, 10u * 65536);
  uint64_t value = 0;
  EXPECT_FALSE(m->hardware().readMsr(0, 0x619, &value));  // no DRAM rail on this part

  // 2^32 counts are 65536 J: past that the register starts again from 0.
  m->advanceMs(1'100'000);
  const uint64_t counts = 64ull * 65536 * 1101 + pkg0;
  EXPECT_EQ(msr(*m, 0, 0x611), counts % (1ull << 32));

  // Power that follows the load: a busy package draws more.
  m->followLoadPower(0);
  const double idle = m->truePower(0, SimPowerDomain::kCores);
  m->setLoadAll(1.0);
  EXPECT_GT(m->truePower(0, SimPowerDomain::kCores), idle);
}

// The energy integration is exact whatever instant the draw was set at and
// however often the totals are read in between: a fixed draw over a second
// gives exactly that many joules, and the count a register derives from it
// never comes out one short or one long.
TEST(SimRegistersTest, EnergyOverAStretchOfFixedDrawIsExactForAnyStartAndReadPattern) {
  const SimMachineConfig config = SimMachine::preset("intel-snb").value();
  std::vector<SimLogicalProcessor> cpus(4);
  for (int i = 0; i < 4; ++i) cpus[static_cast<size_t>(i)].core = i;
  for (uint64_t start = 1; start < 4'000'000; start += 65'537) {
    SimWorkloadModel w(config, cpus);
    w.setLoad(1, 0.37, 0.5);  // a load-following draw before the fixed one
    w.advanceTo(start);
    w.setPower(0, SimPowerDraw{40.0, 14.0, 10.0, 0.0});
    const uint64_t before = w.energyNanojoules(0, SimPowerDomain::kPackage);
    const uint64_t cores = w.energyNanojoules(0, SimPowerDomain::kCores);
    // Reads at irregular instants split the second into uneven steps.
    for (uint64_t t = start + 13; t < start + 1'000'000'000; t += 999'983 + (t % 7) * 12'347) w.advanceTo(t);
    w.advanceTo(start + 1'000'000'000);
    const uint64_t after = w.energyNanojoules(0, SimPowerDomain::kPackage);
    ASSERT_EQ(after - before, 64'000'000'000u) << start;
    ASSERT_EQ(w.energyNanojoules(0, SimPowerDomain::kCores) - cores, 40'000'000'000u) << start;
    // In 2^-16 J counts, as the register keeps them.
    const auto counts = [](uint64_t nj) {
      __extension__ using Wide = unsigned __int128;
      return static_cast<uint64_t>((static_cast<Wide>(nj) << 16) / 1'000'000'000u);
    };
    ASSERT_EQ(counts(after) - counts(before), 64u * 65536) << start;
  }
}

TEST(SimRegistersTest, ThermalStatusReadsTheDistanceBelowTjMax) {
  auto m = manualMachine("intel-snb");
  EXPECT_EQ((msr(*m, 0, 0x1A2) >> 16) & 0xFF, 98u);
  m->setTemperature(0, 60.0);
  m->setCoreTemperature(0, 2, 71.4);
  EXPECT_EQ(msr(*m, 0, 0x19C), (1ull << 31) | (1ull << 27) | (38ull << 16));
  EXPECT_EQ((msr(*m, 5, 0x19C) >> 16) & 0x7F, 27u);  // core 2's second thread
  EXPECT_EQ((msr(*m, 0, 0x1B1) >> 16) & 0x7F, 27u);  // the package: its hottest core
  m->setTemperature(0, 105.0);
  EXPECT_EQ(msr(*m, 3, 0x19C) & 0x7F0003, 3u);  // at the limit: readout 0, status bits
}

// What the program derives from each canonical preset's registers.
TEST(SimRegistersTest, PresetsReportTheirPartsFigures) {
  auto b133 = manualMachine("intel-b133");
  EXPECT_EQ((msr(*b133, 0, 0xCE) >> 8) & 0xFF, 20u);
  EXPECT_EQ(msr(*b133, 0, 0x1AD) & 0xFF, 22u);
  uint64_t value = 0;
  EXPECT_FALSE(b133->hardware().readMsr(0, 0x611, &value));  // no RAPL before Sandy Bridge

  auto snb2p = manualMachine("intel-snb-2p");
  EXPECT_EQ((msr(*snb2p, 16, 0x614) & 0x7FFF) >> 3, 135u);
  EXPECT_TRUE(snb2p->hardware().readMsr(31, 0x619, &value));

  auto fsb = manualMachine("intel-fsb");
  EXPECT_EQ((msr(*fsb, 1, 0x17) >> 8) & 0x1F, 12u);
  EXPECT_EQ(msr(*fsb, 1, 0xCD) & 7, 1u);
  EXPECT_FALSE(fsb->hardware().readMsr(0, 0x1A2, &value));

  // AMD P-states: ratio (fid + 16) / 2^did in 100 MHz steps, boost states first.
  const auto mhz = [](uint64_t p) { return 100 * ((p & 0x3F) + 16) >> ((p >> 6) & 7); };
  struct Amd {
    const char* preset;
    uint64_t boostMhz, baseMhz;
    int boostStates;
  };
  for (const Amd& a : {Amd{"amd-bd", 4200, 3600, 2}, Amd{"amd-tn", 4200, 3800, 2},
                       Amd{"amd-kv-15h", 4000, 3700, 1}, Amd{"amd-kv-16h", 2000, 2000, 0}}) {
    SCOPED_TRACE(a.preset);
    auto m = manualMachine(a.preset);
    EXPECT_EQ(mhz(msr(*m, 0, 0xC0010064)), a.boostMhz);
    EXPECT_EQ(mhz(msr(*m, 0, 0xC0010064 + static_cast<uint32_t>(a.boostStates))), a.baseMhz);
    EXPECT_EQ(msr(*m, 0, 0xC0010058) & 0xFFF00001, 0xE0000001u);
  }
  // Family 16h has four core counters, family 15h six.
  auto kv16 = manualMachine("amd-kv-16h");
  EXPECT_TRUE(kv16->hardware().readMsr(0, 0xC0010207, &value));
  EXPECT_FALSE(kv16->hardware().readMsr(0, 0xC0010208, &value));
  EXPECT_TRUE(manualMachine("amd-bd")->hardware().readMsr(0, 0xC001020B, &value));
}

TEST(SimRegistersTest, FaultsAndCountersInUse) {
  auto m = manualMachine("intel-snb");
  m->hardware().setMsrFailing(0x611, true);
  uint64_t value = 0;
  EXPECT_FALSE(m->hardware().readMsr(0, 0x611, &value));
  m->hardware().setMsrFailing(0x611, false);
  EXPECT_TRUE(m->hardware().readMsr(0, 0x611, &value));

  EXPECT_EQ(msr(*m, 3, 0x186), 0u);
  m->hardware().occupyCounters();
  for (uint32_t select = 0x186; select <= 0x189; ++select) {
    EXPECT_NE(msr(*m, 3, select), 0u);
  }
  // The program's reset makes them free again.
  for (uint32_t select = 0x186; select <= 0x189; ++select) writeMsr(*m, 3, select, 0);
  EXPECT_EQ(msr(*m, 3, 0x186), 0u);
}

// One reader per processor, as the program's samplers, while the workload
// changes: counters only grow and ThreadSanitizer stays quiet.
TEST(SimRegistersTest, ConcurrentReadersWhileTheWorkloadChanges) {
  auto m = manualMachine("intel-b133");
  const int cpus = m->logicalProcessorCount();
  for (int cpu = 0; cpu < cpus; ++cpu) writeMsr(*m, cpu, 0x186, 0x4300C0);
  std::atomic<bool> stop{false};
  std::atomic<int> regressions{0};
  std::vector<std::thread> readers;
  for (int cpu = 0; cpu < cpus; ++cpu) {
    readers.emplace_back([&, cpu] {
      uint64_t last = 0;
      while (!stop.load()) {
        uint64_t value = 0;
        if (!m->hardware().readMsr(cpu, 0xC1, &value) || value < last) ++regressions;
        last = value;
      }
    });
  }
  for (int step = 0; step < 200; ++step) {
    m->setLoad(step % cpus, (step % 3) / 2.0);
    m->advanceMs(5);
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(regressions.load(), 0);
}

}  // namespace
}  // namespace tv2::sim

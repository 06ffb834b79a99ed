// Firmware tables and platform timers of the simulated machines, found the way
// the program finds them: a byte scan for the root pointer, then the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

uint32_t dword(const uint8_t* p) {
  uint32_t value = 0;
  std::memcpy(&value, p, 4);
  return value;
}

// Address of the RSDT named by the first valid root pointer in the range, or 0.
uint32_t findRsdp(SimHardware& hw, uint64_t address, uint32_t length) {
  std::vector<uint8_t> bytes(length + 4);
  if (!hw.readPhysical(address, length, bytes.data())) {
    return 0;
  }
  for (uint32_t at = 0; at < length; at += 16) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < 20; ++i) sum = static_cast<uint8_t>(sum + bytes[at + i]);
    if (std::memcmp(&bytes[at], "RSD PTR ", 8) == 0 && sum == 0) {
      return dword(&bytes[at + 16]);
    }
  }
  return 0;
}

struct Timers {
  uint32_t pmPort = 0;
  uint32_t hpetBase = 0;
};

// Follows the RSDT's first 17 entries to the FADT's timer port and the HPET.
Timers scanTables(SimHardware& hw) {
  Timers found;
  uint32_t rsdt = findRsdp(hw, 0, 1024);
  if (rsdt == 0) rsdt = findRsdp(hw, 0xE0000, 0x20000);
  uint8_t root[104] = {};
  if (rsdt == 0 || !hw.readPhysical(rsdt, sizeof root, root) || std::memcmp(root, "RSDT", 4) != 0) {
    return found;
  }
  const uint32_t entries = std::min<uint32_t>((dword(root + 4) - 36) / 4, 17);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t address = dword(root + 36 + 4 * i);
    uint8_t header[36] = {};
    if (!hw.readPhysical(address, 36, header)) continue;
    const uint32_t length = dword(header + 4);
    std::vector<uint8_t> table(length);
    if (length == 0 || length > 4096 || !hw.readPhysical(address, length, table.data())) continue;
    if (std::memcmp(header, "FACP", 4) == 0 && (header[8] < 3 || length < 300)) {
      found.pmPort = dword(&table[76]);
    } else if (std::memcmp(header, "HPET", 4) == 0 && (table[40] & 1) == 0) {
      found.hpetBase = dword(&table[44]);
    }
  }
  return found;
}

Timers scanWith(const SimFirmwareConfig& firmware) {
  SimMachineConfig config = SimMachine::preset("intel-snb").value();
  config.firmware = firmware;
  SimMachine m(config);
  return scanTables(m.hardware());
}

TEST(SimFirmwareTest, RootPointerFoundByAByteScanLeadsToTheTimers) {
  const Timers plain = scanWith({});
  EXPECT_EQ(plain.pmPort, 0x408u);
  EXPECT_EQ(plain.hpetBase, 0xFED00000u);

  SimMachineConfig config = SimMachine::preset("amd-bd").value();
  config.firmware.rsdpPlace = SimRsdpPlace::kFirstKb;
  SimMachine amd(config);
  EXPECT_NE(findRsdp(amd.hardware(), 0, 1024), 0u);
  EXPECT_EQ(findRsdp(amd.hardware(), 0xE0000, 0x20000), 0u);
  EXPECT_EQ(scanTables(amd.hardware()).pmPort, 0x808u);

  SimFirmwareConfig decoy;
  decoy.decoyRsdp = true;
  EXPECT_EQ(scanWith(decoy).pmPort, 0x408u);  // the bad copy is skipped

  // Each fault loses what it breaks and nothing else.
  SimFirmwareConfig f;
  f.rsdpChecksumBad = true;
  EXPECT_EQ(scanWith(f).pmPort, 0u);
  f = {};
  f.rsdpPlace = SimRsdpPlace::kNowhere;
  EXPECT_EQ(scanWith(f).hpetBase, 0u);
  f = {};
  f.rsdtSignatureBad = true;
  EXPECT_EQ(scanWith(f).hpetBase, 0u);
  f = {};
  f.fadtFault = SimTableFault::kZeroLength;
  EXPECT_EQ(scanWith(f).pmPort, 0u);
  EXPECT_EQ(scanWith(f).hpetBase, 0xFED00000u);
  f = {};
  f.hpetFault = SimTableFault::kUnbacked;
  EXPECT_EQ(scanWith(f).hpetBase, 0u);
  EXPECT_EQ(scanWith(f).pmPort, 0x408u);
  f = {};
  f.fadtRevision = 5;
  f.fadtLength = 300;
  EXPECT_EQ(scanWith(f).pmPort, 0u);
  f = {};
  f.extraTables = 16;  // FACP is the 17th entry, HPET the 19th
  EXPECT_EQ(scanWith(f).pmPort, 0x408u);
  EXPECT_EQ(scanWith(f).hpetBase, 0u);
}

uint64_t hpetCounter(SimHardware& hw, uint32_t base) {
  uint8_t bytes[8] = {};
  EXPECT_TRUE(hw.readPhysical(base + 0xF4, 4, bytes + 4));
  EXPECT_TRUE(hw.readPhysical(base + 0xF0, 4, bytes));
  uint64_t value = 0;
  std::memcpy(&value, bytes, 8);
  return value;
}

TEST(SimFirmwareTest, HpetCountsAtItsPeriodUnlessStopped) {
  auto machine = std::make_shared<SimMachine>(SimMachine::preset("intel-snb").value());
  machine->useManualClock();
  SimPlatform platform(machine);
  SimHardware& hw = machine->hardware();
  uint8_t period[4] = {};
  ASSERT_TRUE(hw.readPhysical(0xFED00004, 4, period));
  EXPECT_EQ(dword(period), 69841279u);

  // The program's start-up check sleeps one second between two readings; on a
  // manual clock that sleep moves the clock instead of waiting.
  const uint64_t t0 = hpetCounter(hw, 0xFED00000);
  platform.sleepMs(1000);
  // Within a couple of ticks: the start-up check only needs a counter that moves.
  EXPECT_NEAR(static_cast<double>(hpetCounter(hw, 0xFED00000) - t0), 14318180.04, 2.5);

  hw.setHpetRunning(false);
  const uint64_t stopped = hpetCounter(hw, 0xFED00000);
  platform.sleepMs(1000);
  EXPECT_EQ(hpetCounter(hw, 0xFED00000), stopped);
  uint8_t config[4] = {};
  ASSERT_TRUE(hw.readPhysical(0xFED00010, 4, config));
  EXPECT_EQ(config[0] & 1, 0);

  // A firmware that never started it.
  SimMachineConfig off = SimMachine::preset("intel-b133").value();
  off.firmware.hpetRunning = false;
  SimMachine never(off);
  never.useManualClock();
  never.advanceMs(1000);
  EXPECT_EQ(hpetCounter(never.hardware(), 0xFED00000), 0u);
}

TEST(SimFirmwareTest, PmTimerCounts24BitsAndUnbackedAccessesFail) {
  SimMachine m(SimMachine::preset("intel-fsb").value());
  m.useManualClock();
  SimHardware& hw = m.hardware();
  uint32_t before = 0, after = 0;
  ASSERT_TRUE(hw.readPort(0x408, &before));
  m.advanceMs(1000);
  ASSERT_TRUE(hw.readPort(0x408, &after));
  EXPECT_LT(after, 1u << 24);
  EXPECT_EQ((after - before) & 0xFFFFFF, 3579545u);
  m.advanceMs(5000);  // wraps after about 4.7 s
  ASSERT_TRUE(hw.readPort(0x408, &before));
  EXPECT_EQ(before, static_cast<uint32_t>((m.nowNs() * 3579545ull / 1000000000ull) & 0xFFFFFF));

  hw.setPortFailing(0x408, true);
  EXPECT_FALSE(hw.readPort(0x408, &before));
  EXPECT_FALSE(hw.writePort(0x80, 0));
  uint8_t bytes[16] = {};
  EXPECT_FALSE(hw.readPhysical(0x100000, 4, bytes));
  EXPECT_FALSE(hw.readPhysical(0xFFFF0, 32, bytes));   // runs past the BIOS area
  EXPECT_FALSE(hw.writePhysicalDword(0xFED000F0, 0));  // the HPET is read-only here
  hw.setPhysicalFailing(0xFED000F4, true);
  EXPECT_FALSE(hw.readPhysical(0xFED000F0, 8, bytes));
}

}  // namespace
}  // namespace tv2::sim

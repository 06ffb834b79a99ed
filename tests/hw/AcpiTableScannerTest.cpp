#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "hw/AcpiTableScanner.h"
#include "hw/CACPITimer.h"
#include "hw/CHPETTimer.h"
#include "driver/protocol/LittleEndian.h"
#include "testing/SimDriverFixture.h"

namespace tv2 {
namespace {

using testing::presetConfig;
using testing::SimDriverMachine;

struct Scan {
  std::unique_ptr<CTimer> acpi;
  std::unique_ptr<CTimer> hpet;
};

Scan scan(SimDriverMachine& m) {
  EXPECT_TRUE(m.locked);
  Scan result;
  AcpiTableScanner scanner(*m.driver, *m.platform);
  scanner.ScanAcpiTables(&result.acpi, &result.hpet);
  return result;
}

sim::SimMachineConfig withFirmware(void (*edit)(sim::SimFirmwareConfig&)) {
  auto config = presetConfig("intel-snb");
  edit(config.firmware);
  return config;
}

// The scanner over a memory image of a few regions, recording every read, so
// that tables the simulated firmware cannot build (a header claiming fewer
// bytes than it has) can be tried.
class ImageScanner : public AcpiTableScanner {
 public:
  using AcpiTableScanner::AcpiTableScanner;
  std::map<uint32_t, std::vector<uint8_t>> regions;
  std::vector<std::pair<uint32_t, uint32_t>> reads;

  void put(uint32_t address, std::vector<uint8_t> bytes) { regions[address] = std::move(bytes); }

 protected:
  int readMemory(uint32_t address, uint32_t length, void* out) override {
    reads.emplace_back(address, length);
    for (const auto& [base, bytes] : regions) {
      if (address >= base && address - base <= bytes.size() && length <= bytes.size() - (address - base)) {
        std::memcpy(out, bytes.data() + (address - base), length);
        return 1;
      }
    }
    return 0;
  }
};

std::vector<uint8_t> table(const char* signature, uint32_t statedLength, size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  std::memcpy(bytes.data(), signature, 4);
  storeLe32(bytes.data() + 4, statedLength);
  return bytes;
}

TEST(AcpiScan, TablesShorterThanTheirHeaderAreSkippedUnread) {
  SimDriverMachine m(presetConfig("intel-snb"));
  ImageScanner scanner(*m.driver, *m.platform);
  std::vector<uint8_t> rsdp(20, 0);
  std::memcpy(rsdp.data(), "RSD PTR ", 8);
  storeLe32(rsdp.data() + 16, 0x10000);
  uint8_t sum = 0;
  for (uint8_t byte : rsdp) sum = static_cast<uint8_t>(sum + byte);
  rsdp[8] = static_cast<uint8_t>(-sum);
  std::vector<uint8_t> biosArea(0x20000, 0);
  std::copy(rsdp.begin(), rsdp.end(), biosArea.begin() + 0x6A0);
  scanner.put(0xE0000, biosArea);
  // Entries: tables claiming 1, 2, 3 and 35 bytes, then a good FADT.
  std::vector<uint8_t> rsdt = table("RSDT", 36 + 5 * 4, 104);
  const uint32_t addresses[] = {0x20000, 0x21000, 0x22000, 0x23000, 0x24000};
  for (int i = 0; i < 5; ++i) storeLe32(rsdt.data() + 36 + 4 * i, addresses[i]);
  scanner.put(0x10000, rsdt);
  scanner.put(0x20000, table("FACP", 1, 64));
  scanner.put(0x21000, table("FACP", 2, 64));
  scanner.put(0x22000, table("FACP", 3, 64));
  scanner.put(0x23000, table("HPET", 35, 64));
  std::vector<uint8_t> fadt = table("FACP", 244, 244);
  fadt[8] = 4;
  storeLe32(fadt.data() + 76, 0x808);
  scanner.put(0x24000, fadt);

  std::unique_ptr<CTimer> acpi;
  std::unique_ptr<CTimer> hpet;
  scanner.ScanAcpiTables(&acpi, &hpet);
  ASSERT_NE(acpi, nullptr) << "the good table after the short ones is still read";
  EXPECT_EQ(acpi->baseAddress, 0x808);
  EXPECT_EQ(hpet, nullptr);
  for (const auto& [address, length] : scanner.reads)
    EXPECT_GE(length, 36u) << "a table of " << length << " bytes read at " << std::hex << address;
}

TEST(AcpiScan, APortNumberBeyondSixteenBitsIsNoTimer) {
  SimDriverMachine m(presetConfig("intel-snb"));
  ImageScanner scanner(*m.driver, *m.platform);
  std::vector<uint8_t> rsdp(20, 0);
  std::memcpy(rsdp.data(), "RSD PTR ", 8);
  storeLe32(rsdp.data() + 16, 0x10000);
  uint8_t sum = 0;
  for (uint8_t byte : rsdp) sum = static_cast<uint8_t>(sum + byte);
  rsdp[8] = static_cast<uint8_t>(-sum);
  std::vector<uint8_t> firstKb(1024, 0);
  std::copy(rsdp.begin(), rsdp.end(), firstKb.begin() + 0x200);
  scanner.put(0, firstKb);
  std::vector<uint8_t> rsdt = table("RSDT", 40, 104);
  storeLe32(rsdt.data() + 36, 0x20000);
  scanner.put(0x10000, rsdt);
  std::vector<uint8_t> fadt = table("FACP", 244, 244);
  fadt[8] = 2;
  storeLe32(fadt.data() + 76, 0x80000808);
  scanner.put(0x20000, fadt);
  std::unique_ptr<CTimer> acpi;
  std::unique_ptr<CTimer> hpet;
  scanner.ScanAcpiTables(&acpi, &hpet);
  EXPECT_EQ(acpi, nullptr);
  // The same table with a 16-bit port gives the timer.
  storeLe32(fadt.data() + 76, 0x808);
  scanner.put(0x20000, fadt);
  scanner.ScanAcpiTables(&acpi, &hpet);
  ASSERT_NE(acpi, nullptr);
  EXPECT_EQ(acpi->baseAddress, 0x808);
}

TEST(AcpiScan, FindsBothTimersFromTheBiosArea) {
  auto config = presetConfig("intel-snb");
  SimDriverMachine m(config);
  auto start = std::chrono::steady_clock::now();
  Scan s = scan(m);
  // The one-second running check runs on the machine's virtual clock.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  ASSERT_NE(s.acpi, nullptr);
  EXPECT_EQ(s.acpi->baseAddress, static_cast<int32_t>(config.firmware.pmTimerPort));
  EXPECT_EQ(s.acpi->frequency, 3579545.0);
  EXPECT_EQ(s.acpi->wrapLength, 16777216.0);
  ASSERT_NE(s.hpet, nullptr);
  EXPECT_EQ(static_cast<uint32_t>(s.hpet->baseAddress), config.firmware.hpetBase);
  EXPECT_DOUBLE_EQ(s.hpet->frequency, 1e15 / config.firmware.hpetPeriodFs);
}

TEST(AcpiScan, RootPointerInTheFirstKbAndDecoysWithBadChecksums) {
  SimDriverMachine first(withFirmware([](sim::SimFirmwareConfig& f) { f.rsdpPlace = sim::SimRsdpPlace::kFirstKb; }));
  AcpiTableScanner scanner(*first.driver, *first.platform);
  EXPECT_EQ(scanner.FindRsdp(0, 1024), 1);
  EXPECT_NE(scan(first).acpi, nullptr);

  // A copy with a bad checksum earlier in the area is skipped; the search goes on.
  SimDriverMachine decoy(withFirmware([](sim::SimFirmwareConfig& f) { f.decoyRsdp = true; }));
  EXPECT_NE(scan(decoy).acpi, nullptr);

  SimDriverMachine bad(withFirmware([](sim::SimFirmwareConfig& f) { f.rsdpChecksumBad = true; }));
  Scan none = scan(bad);
  EXPECT_EQ(none.acpi, nullptr);
  EXPECT_EQ(none.hpet, nullptr);

  SimDriverMachine missing(withFirmware([](sim::SimFirmwareConfig& f) { f.rsdpPlace = sim::SimRsdpPlace::kNowhere; }));
  EXPECT_EQ(scan(missing).acpi, nullptr);

  SimDriverMachine rsdt(withFirmware([](sim::SimFirmwareConfig& f) { f.rsdtSignatureBad = true; }));
  EXPECT_EQ(scan(rsdt).acpi, nullptr);
}

TEST(AcpiScan, FadtRevisionAndLengthDecideThePmTimer) {
  SimDriverMachine old(withFirmware([](sim::SimFirmwareConfig& f) {
    f.fadtRevision = 4;
    f.fadtLength = 244;
  }));
  EXPECT_NE(scan(old).acpi, nullptr);
  SimDriverMachine modern(withFirmware([](sim::SimFirmwareConfig& f) {
    f.fadtRevision = 5;
    f.fadtLength = 300;
  }));
  EXPECT_EQ(scan(modern).acpi, nullptr);
  SimDriverMachine noPort(withFirmware([](sim::SimFirmwareConfig& f) { f.pmTimerPort = 0; }));
  EXPECT_EQ(scan(noPort).acpi, nullptr);
}

TEST(AcpiScan, BrokenTablesAreSkipped) {
  for (auto fault : {sim::SimTableFault::kZeroLength, sim::SimTableFault::kTooLong, sim::SimTableFault::kUnbacked}) {
    auto config = presetConfig("intel-snb");
    config.firmware.fadtFault = fault;
    SimDriverMachine m(config);
    Scan s = scan(m);
    EXPECT_EQ(s.acpi, nullptr) << static_cast<int>(fault);
    EXPECT_NE(s.hpet, nullptr) << "the other tables are still read";
  }
}

TEST(AcpiScan, OnlyTheFirst17RsdtEntriesAreExamined) {
  // 16 tables ahead of FACP, APIC and HPET: the FADT is the 17th entry and
  // still read, the HPET table (19th) is not.
  SimDriverMachine edge(withFirmware([](sim::SimFirmwareConfig& f) { f.extraTables = 16; }));
  Scan s = scan(edge);
  EXPECT_NE(s.acpi, nullptr);
  EXPECT_EQ(s.hpet, nullptr);
  SimDriverMachine m(withFirmware([](sim::SimFirmwareConfig& f) { f.extraTables = 20; }));
  s = scan(m);
  EXPECT_EQ(s.acpi, nullptr);
  EXPECT_EQ(s.hpet, nullptr);
}

TEST(AcpiScan, HpetInIoSpaceOrNotRunningIsRejected) {
  SimDriverMachine io(withFirmware([](sim::SimFirmwareConfig& f) { f.hpetAddressSpace = 1; }));
  EXPECT_EQ(scan(io).hpet, nullptr);
  SimDriverMachine stopped(withFirmware([](sim::SimFirmwareConfig& f) { f.hpetRunning = false; }));
  Scan s = scan(stopped);
  EXPECT_EQ(s.hpet, nullptr);
  EXPECT_NE(s.acpi, nullptr);
}

TEST(AcpiScan, ImplausibleHpetPeriodIsRejected) {
  SimDriverMachine zero(withFirmware([](sim::SimFirmwareConfig& f) { f.hpetPeriodFs = 0; }));
  EXPECT_EQ(scan(zero).hpet, nullptr);
  SimDriverMachine huge(withFirmware([](sim::SimFirmwareConfig& f) { f.hpetPeriodFs = 0x80000000u; }));
  EXPECT_EQ(scan(huge).hpet, nullptr);
}

TEST(PlatformTimers, ReadingsAdvanceWithTheMachineClockAndWrapsAreCorrected) {
  SimDriverMachine m(presetConfig("intel-snb"));
  Scan s = scan(m);
  ASSERT_NE(s.acpi, nullptr);
  ASSERT_NE(s.hpet, nullptr);
  double a0 = s.acpi->ReadTicks();
  double h0 = s.hpet->ReadTicks();
  ASSERT_GE(a0, 0);
  ASSERT_GE(h0, 0);
  EXPECT_LT(a0, 16777216.0);
  m.machine->advanceMs(300);
  s.acpi->ReadTicks();
  s.hpet->ReadTicks();
  EXPECT_NEAR(s.acpi->TicksSince(a0), 0.3 * 3579545.0, 2.0);
  EXPECT_NEAR(s.hpet->TicksSince(h0) / s.hpet->frequency, 0.3, 1e-6);

  // A 24-bit reading that went from just below the wrap to 0x10.
  s.acpi->now = 16.0;
  EXPECT_EQ(s.acpi->TicksSince(16777215.0), 17.0);

  // A failed read: the ACPI timer keeps its reading, the HPET's becomes -1.
  m.machine->hardware().setPortFailing(static_cast<uint32_t>(s.acpi->baseAddress), true);
  double kept = s.acpi->now;
  EXPECT_EQ(s.acpi->ReadTicks(), -1.0);
  EXPECT_EQ(s.acpi->now, kept);
  m.machine->hardware().setPhysicalFailing(static_cast<uint32_t>(s.hpet->baseAddress) + 0xF4, true);
  EXPECT_EQ(s.hpet->ReadTicks(), -1.0);
  EXPECT_EQ(s.hpet->now, -1.0);
}

}  // namespace
}  // namespace tv2

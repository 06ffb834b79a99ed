#include "hw/AcpiTableScanner.h"

#include <cstring>
#include <vector>

#include "hw/CACPITimer.h"
#include "hw/CHPETTimer.h"
#include "hw/CKMDriver.h"
#include "platform/Platform.h"

namespace tv2 {
namespace {

constexpr uint32_t kHeaderBytes = 36;
constexpr uint32_t kFadtPmTimerOffset = 76;
constexpr uint32_t kHpetAddressSpaceOffset = 40;
constexpr uint32_t kHpetAddressOffset = 44;
// A counter period above 100 ns (10^8 fs) is not a valid HPET; 0 or a
// negative period would make the frequency infinite or negative.
constexpr int32_t kMaxHpetPeriodFs = 100000000;
constexpr uint32_t kHpetCheckMs = 1000;

uint32_t readU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

AcpiTableScanner::AcpiTableScanner(CKMDriver& driver, Platform& platform) : m_driver(driver), m_platform(platform) {}

int AcpiTableScanner::readMemory(uint32_t address, uint32_t length, void* out) {
  return m_driver.ReadPhysicalMemory(0, address, length, out);
}

int AcpiTableScanner::FindRsdp(uint32_t address, uint32_t length) {
  if (length == 0) return 0;
  // Spare bytes keep the last position's 20-byte sum inside the buffer,
  // whatever the length.
  std::vector<uint8_t> buffer(static_cast<size_t>(length) + 20, 0);
  if (!readMemory(address, length, buffer.data())) return 0;
  for (uint32_t offset = 0; offset < length; offset += 16) {
    const uint8_t* p = buffer.data() + offset;
    if (std::memcmp(p, "RSD PTR ", 8) != 0) continue;
    uint8_t sum = 0;
    for (int i = 0; i < 20; ++i) sum = static_cast<uint8_t>(sum + p[i]);
    if (sum != 0) continue;
    std::memcpy(m_rsdp.data(), p, m_rsdp.size());
    return 1;
  }
  return 0;
}

void AcpiTableScanner::ScanAcpiTables(std::unique_ptr<CTimer>* acpiTimer, std::unique_ptr<CTimer>* hpetTimer) {
  if (!FindRsdp(0, 1024) && !FindRsdp(0xE0000, 0x20000)) return;

  uint32_t rsdtAddress = readU32(m_rsdp.data() + 16);
  uint8_t rsdt[kRsdtReadBytes] = {};
  if (!readMemory(rsdtAddress, kRsdtReadBytes, rsdt)) return;
  if (std::memcmp(rsdt, "RSDT", 4) != 0) return;
  uint32_t rsdtLength = readU32(rsdt + 4);
  uint32_t entries = rsdtLength > kHeaderBytes ? (rsdtLength - kHeaderBytes) / 4 : 0;
  // Only the entries inside the bytes read are examined.
  uint32_t maxEntries = (kRsdtReadBytes - kHeaderBytes) / 4;
  if (entries > maxEntries) entries = maxEntries;

  for (uint32_t i = 0; i < entries; ++i) {
    uint32_t tableAddress = readU32(rsdt + kHeaderBytes + 4 * i);
    uint8_t header[kHeaderBytes] = {};
    if (!readMemory(tableAddress, kHeaderBytes, header)) continue;
    uint32_t length = readU32(header + 4);
    // Shorter than its own header is no table (and too short to compare a
    // signature with).
    if (length < kHeaderBytes || length > kMaxTableLength) continue;
    std::vector<uint8_t> table(length, 0);
    if (!readMemory(tableAddress, length, table.data())) continue;
    if (std::memcmp(table.data(), "FACP", 4) == 0) {
      readFadt(table.data(), length, header[8], acpiTimer);
    } else if (std::memcmp(table.data(), "HPET", 4) == 0) {
      readHpetTable(table.data(), length, hpetTimer);
    }
  }
}

void AcpiTableScanner::readFadt(const uint8_t* table, uint32_t length, uint8_t revision,
                                std::unique_ptr<CTimer>* acpiTimer) {
  // A table too short to hold the port field has no port; reading past its
  // end would take whatever followed it in memory.
  if (length < kFadtPmTimerOffset + 4) return;
  uint32_t port = readU32(table + kFadtPmTimerOffset);
  // I/O ports are 16 bits: a larger number is no port a timer could sit at
  // (and the host serves none).
  if ((revision < 3 || length < 300) && port != 0 && port <= 0xFFFF) {
    *acpiTimer = std::make_unique<CACPITimer>(&m_driver, static_cast<int32_t>(port));
  }
}

void AcpiTableScanner::readHpetTable(const uint8_t* table, uint32_t length, std::unique_ptr<CTimer>* hpetTimer) {
  if (length < kHpetAddressOffset + 8) return;
  uint8_t addressSpace = table[kHpetAddressSpaceOffset];
  uint32_t base = readU32(table + kHpetAddressOffset);
  if (base == 0 || (addressSpace & 1) != 0) return;  // only memory space

  auto timer = std::make_unique<CHPETTimer>(&m_driver, static_cast<int32_t>(base));
  uint32_t capabilities = 0;
  uint32_t period = 0;
  // The capabilities word first, as the block's own order has it; only the
  // period (its high half) decides.
  uint8_t word[4];
  if (readMemory(base, 4, word)) capabilities = readU32(word);
  (void)capabilities;
  if (!readMemory(base + 4, 4, word)) return;
  period = readU32(word);
  auto signedPeriod = static_cast<int32_t>(period);
  if (signedPeriod <= 0 || signedPeriod > kMaxHpetPeriodFs) return;
  timer->frequency = 1e15 / static_cast<double>(signedPeriod);

  double t0 = timer->ReadTicks();
  m_platform.sleepMs(kHpetCheckMs);
  double t1 = timer->ReadTicks();
  if (t0 < 0 || t1 < 0 || !(t1 - t0 > 0)) return;  // not running: no HPET
  *hpetTimer = std::move(timer);
}

}  // namespace tv2

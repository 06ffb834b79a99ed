#include "driver/protocol/FirmwareTables.h"

#include <algorithm>
#include <cstring>

#include "driver/protocol/LittleEndian.h"

namespace tv2 {

namespace {

constexpr size_t kPmTimerOffset = 76;
constexpr size_t kHpetAddressSpaceOffset = 40;
constexpr size_t kHpetAddressOffset = 44;
constexpr size_t kRsdpSize = 20;
// The entries the client looks at: those inside the bytes it reads.
constexpr size_t kMaxRootEntries = (FirmwareTables::kRootReadSize - FirmwareTables::kHeaderSize) / 4;

bool findRsdp(HardwareBackend& hardware, uint64_t address, uint32_t length, uint32_t* rsdt) {
  // Spare bytes keep the last position's 20-byte sum inside the buffer.
  std::vector<uint8_t> area(length + kRsdpSize, 0);
  if (!hardware.readPhysical(address, length, area.data())) return false;
  for (uint32_t offset = 0; offset < length; offset += 16) {
    if (std::memcmp(area.data() + offset, "RSD PTR ", 8) != 0) continue;
    uint8_t sum = 0;
    for (size_t i = 0; i < kRsdpSize; ++i) sum = static_cast<uint8_t>(sum + area[offset + i]);
    if (sum != 0) continue;
    *rsdt = loadLe32(area.data() + offset + 16);
    return true;
  }
  return false;
}

}  // namespace

std::optional<uint32_t> FirmwareTables::pmTimerPortFromFadt(const uint8_t* table, size_t size) {
  if (table == nullptr || size < kPmTimerOffset + 4) return std::nullopt;
  if (std::memcmp(table, "FACP", 4) != 0) return std::nullopt;
  uint32_t length = loadLe32(table + 4);
  if (length < kPmTimerOffset + 4 || length > size) return std::nullopt;
  uint32_t port = loadLe32(table + kPmTimerOffset);
  // Ports are 16 bits; anything larger is not a port the timer could sit at.
  if (port == 0 || port > 0xFFFF) return std::nullopt;
  return port;
}

std::optional<uint64_t> FirmwareTables::hpetBaseFromTable(const uint8_t* table, size_t size) {
  if (table == nullptr || size < kHpetAddressOffset + 8) return std::nullopt;
  if (std::memcmp(table, "HPET", 4) != 0) return std::nullopt;
  uint32_t length = loadLe32(table + 4);
  if (length < kHpetAddressOffset + 8 || length > size) return std::nullopt;
  if (table[kHpetAddressSpaceOffset] != 0) return std::nullopt;  // memory space only
  // The client names the block by its low half; a base above 4 GB is not one
  // it reads.
  uint64_t base = static_cast<uint64_t>(loadLe32(table + kHpetAddressOffset + 4)) << 32 |
                  loadLe32(table + kHpetAddressOffset);
  if (base == 0 || base > 0xFFFFFFFFull) return std::nullopt;
  return base;
}

FirmwareTables FirmwareTables::walk(HardwareBackend& hardware) {
  FirmwareTables found;
  uint32_t rsdt = 0;
  if (!findRsdp(hardware, 0, 1024, &rsdt) && !findRsdp(hardware, 0xE0000, 0x20000, &rsdt)) return found;
  uint8_t header[kHeaderSize];
  if (!hardware.readPhysical(rsdt, kHeaderSize, header) || std::memcmp(header, "RSDT", 4) != 0) return found;
  uint32_t length = loadLe32(header + 4);
  if (length < kHeaderSize || length > kLargestTable) return found;
  std::vector<uint8_t> root(length);
  if (!hardware.readPhysical(rsdt, length, root.data())) return found;
  found.tables.push_back(PhysicalRange{rsdt, std::max(length, kRootReadSize)});

  size_t entries = std::min<size_t>((length - kHeaderSize) / 4, kMaxRootEntries);
  for (size_t entry = 0; entry < entries; ++entry) {
    uint32_t address = loadLe32(root.data() + kHeaderSize + 4 * entry);
    uint8_t tableHeader[kHeaderSize];
    if (!hardware.readPhysical(address, kHeaderSize, tableHeader)) continue;
    uint32_t tableLength = loadLe32(tableHeader + 4);
    if (tableLength < kHeaderSize) continue;
    if (tableLength > kLargestTable) {
      found.tables.push_back(PhysicalRange{address, kHeaderSize});
      continue;
    }
    found.tables.push_back(PhysicalRange{address, tableLength});
    bool fadt = std::memcmp(tableHeader, "FACP", 4) == 0;
    bool hpet = std::memcmp(tableHeader, "HPET", 4) == 0;
    if ((!fadt || found.pmTimerPort.has_value()) && (!hpet || found.hpetBase.has_value())) continue;
    std::vector<uint8_t> table(tableLength);
    if (!hardware.readPhysical(address, tableLength, table.data())) continue;
    if (fadt) found.pmTimerPort = pmTimerPortFromFadt(table.data(), table.size());
    if (hpet) found.hpetBase = hpetBaseFromTable(table.data(), table.size());
  }
  return found;
}

}  // namespace tv2

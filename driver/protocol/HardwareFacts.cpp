#include "driver/protocol/HardwareFacts.h"

#include <cstring>
#include <vector>

#include "driver/protocol/LittleEndian.h"

namespace tv2 {

namespace {

constexpr size_t kTableHeaderSize = 36;
constexpr size_t kPmTimerOffset = 76;
constexpr uint32_t kLargestTable = 4096;

bool findRsdp(HardwareBackend& hardware, uint64_t address, uint32_t length, uint32_t* rsdt) {
  std::vector<uint8_t> area(length + 20, 0);
  if (!hardware.readPhysical(address, length, area.data())) return false;
  for (uint32_t offset = 0; offset < length; offset += 16) {
    if (std::memcmp(area.data() + offset, "RSD PTR ", 8) != 0) continue;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < 20; ++i) sum = static_cast<uint8_t>(sum + area[offset + i]);
    if (sum != 0) continue;
    *rsdt = loadLe32(area.data() + offset + 16);
    return true;
  }
  return false;
}

}  // namespace

std::optional<uint32_t> HardwareFacts::pmTimerPortFromFadt(const uint8_t* table, size_t size) {
  if (table == nullptr || size < kPmTimerOffset + 4) return std::nullopt;
  if (std::memcmp(table, "FACP", 4) != 0) return std::nullopt;
  uint32_t length = loadLe32(table + 4);
  if (length < kPmTimerOffset + 4 || length > size) return std::nullopt;
  uint32_t port = loadLe32(table + kPmTimerOffset);
  // Ports are 16 bits; anything larger is not a port the timer could sit at.
  if (port == 0 || port > 0xFFFF) return std::nullopt;
  return port;
}

std::optional<uint32_t> HardwareFacts::findPmTimerPort(HardwareBackend& hardware) {
  uint32_t rsdt = 0;
  if (!findRsdp(hardware, 0, 1024, &rsdt) && !findRsdp(hardware, 0xE0000, 0x20000, &rsdt))
    return std::nullopt;
  uint8_t header[kTableHeaderSize];
  if (!hardware.readPhysical(rsdt, kTableHeaderSize, header) || std::memcmp(header, "RSDT", 4) != 0)
    return std::nullopt;
  uint32_t length = loadLe32(header + 4);
  if (length < kTableHeaderSize || length > kLargestTable) return std::nullopt;
  std::vector<uint8_t> root(length);
  if (!hardware.readPhysical(rsdt, length, root.data())) return std::nullopt;
  for (size_t entry = kTableHeaderSize; entry + 4 <= length; entry += 4) {
    uint32_t address = loadLe32(root.data() + entry);
    uint8_t tableHeader[kTableHeaderSize];
    if (!hardware.readPhysical(address, kTableHeaderSize, tableHeader)) continue;
    if (std::memcmp(tableHeader, "FACP", 4) != 0) continue;
    uint32_t tableLength = loadLe32(tableHeader + 4);
    if (tableLength < kTableHeaderSize || tableLength > kLargestTable) continue;
    std::vector<uint8_t> fadt(tableLength);
    if (!hardware.readPhysical(address, tableLength, fadt.data())) continue;
    return pmTimerPortFromFadt(fadt.data(), fadt.size());
  }
  return std::nullopt;
}

bool HardwareFacts::configWindow(HardwareBackend& hardware, uint64_t* base, uint64_t* size) {
  uint64_t value = 0;
  if (!hardware.readMsr(0, kMmioConfigMsr, &value) || (value & 1) == 0) return false;
  uint32_t busRange = static_cast<uint32_t>((value >> 2) & 0xF);
  if (busRange > 8) return false;  // beyond 256 buses the field is reserved
  *base = value & 0x0000FFFFFFF00000ull;
  *size = (uint64_t{1} << busRange) << 20;
  return *base != 0;
}

std::optional<uint64_t> HardwareFacts::mailboxBase(HardwareBackend& hardware) {
  uint32_t id = 0;
  // Only AMD's own graphics function carries the mailbox; the same place on
  // another machine is some other device's register block.
  if (!readConfig(hardware, 0x80000800, &id) || (id & 0xFFFF) != kAtiVendor) return std::nullopt;
  uint32_t bar = 0;
  if (!readConfig(hardware, 0x80000824, &bar) || bar == 0 || bar == 0xFFFFFFFF) return std::nullopt;
  return static_cast<uint64_t>(bar & ~0xFu);
}

PolicyFacts HardwareFacts::learn(HardwareBackend& hardware, std::optional<uint32_t> knownPmTimerPort) {
  PolicyFacts facts;
  facts.pmTimerPort = knownPmTimerPort.has_value() ? knownPmTimerPort : findPmTimerPort(hardware);
  if (!configWindow(hardware, &facts.configWindowBase, &facts.configWindowSize)) {
    facts.configWindowBase = 0;
    facts.configWindowSize = 0;
  }
  facts.mailboxBase = mailboxBase(hardware);
  return facts;
}

bool HardwareFacts::readConfig(HardwareBackend& hardware, uint32_t address, uint32_t* value) {
  uint32_t saved = 0;
  if (!hardware.readPort(AccessPolicy::kConfigAddressPort, &saved)) return false;
  if (!hardware.writePort(AccessPolicy::kConfigAddressPort, address & ~3u)) return false;
  bool ok = hardware.readPort(AccessPolicy::kConfigDataPort, value);
  hardware.writePort(AccessPolicy::kConfigAddressPort, saved);
  return ok;
}

}  // namespace tv2

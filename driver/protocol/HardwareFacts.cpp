#include "driver/protocol/HardwareFacts.h"

#include <cstring>
#include <utility>
#include <vector>

#include "driver/protocol/FirmwareTables.h"
#include "driver/protocol/LittleEndian.h"

namespace tv2 {

std::optional<uint32_t> HardwareFacts::pmTimerPortFromFadt(const uint8_t* table, size_t size) {
  return FirmwareTables::pmTimerPortFromFadt(table, size);
}

std::optional<uint32_t> HardwareFacts::findPmTimerPort(HardwareBackend& hardware) {
  return FirmwareTables::walk(hardware).pmTimerPort;
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
  // The walk always runs: the tables it finds are the physical memory the
  // host serves reads of.
  FirmwareTables tables = FirmwareTables::walk(hardware);
  facts.pmTimerPort = knownPmTimerPort.has_value() ? knownPmTimerPort : tables.pmTimerPort;
  facts.firmwareTables = std::move(tables.tables);
  facts.hpetBase = tables.hpetBase;
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

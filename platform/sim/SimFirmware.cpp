#include "platform/sim/SimFirmware.h"

#include <algorithm>
#include <cstring>

namespace tv2::sim {

namespace {

constexpr uint32_t kHeaderSize = 36;
constexpr int kHeaderChecksum = 9;
constexpr uint32_t kRsdpSize = 20;
constexpr int kRsdpChecksum = 8;
constexpr uint32_t kTooLongLength = 5000;
constexpr uint32_t kHpetLength = 56;
constexpr uint32_t kMadtLength = 52;
constexpr uint32_t kExtraLength = 40;

void put8(uint8_t* p, uint32_t value) { p[0] = static_cast<uint8_t>(value); }

void put16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

void put64(uint8_t* p, uint64_t value) {
  put32(p, static_cast<uint32_t>(value));
  put32(p + 4, static_cast<uint32_t>(value >> 32));
}

void putText(uint8_t* p, const char* text, size_t size) { std::memcpy(p, text, size); }

uint8_t sumOf(const uint8_t* bytes, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) {
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  return sum;
}

}  // namespace

SimFirmware::SimFirmware(const SimFirmwareConfig& config) {
  m_regions.push_back({0, std::vector<uint8_t>(kLowMemorySize)});
  m_regions.push_back({kBiosAreaBase, std::vector<uint8_t>(kBiosAreaSize)});
  m_regions.push_back({kTablesBase, std::vector<uint8_t>(kTablesSize)});

  std::vector<uint32_t> entries;
  uint64_t slot = kTablesBase + kTableSlot;
  const int extras = std::clamp(config.extraTables, 0, kMaxExtraTables);
  for (int i = 0; i < extras; ++i, slot += kTableSlot) {
    entries.push_back(static_cast<uint32_t>(putExtra(slot)));
  }
  entries.push_back(static_cast<uint32_t>(putFadt(slot, config)));
  slot += kTableSlot;
  entries.push_back(static_cast<uint32_t>(putMadt(slot)));
  slot += kTableSlot;
  if (config.hpetTable) {
    entries.push_back(static_cast<uint32_t>(putHpet(slot, config)));
  }

  const auto rsdtLength = static_cast<uint32_t>(kHeaderSize + 4 * entries.size());
  uint8_t* rsdt = putHeader(kTablesBase, config.rsdtSignatureBad ? "RSDX" : "RSDT", rsdtLength, 1);
  for (size_t i = 0; i < entries.size(); ++i) {
    put32(rsdt + kHeaderSize + 4 * i, entries[i]);
  }
  seal(rsdt, rsdtLength, kHeaderChecksum);

  const uint64_t rsdp = config.rsdpPlace == SimRsdpPlace::kFirstKb ? kRsdpFirstKb : kRsdpBiosArea;
  if (config.decoyRsdp) {
    putRsdp(rsdp - kDecoyDistance, false);
  }
  if (config.rsdpPlace != SimRsdpPlace::kNowhere) {
    putRsdp(rsdp, !config.rsdpChecksumBad);
  }
}

bool SimFirmware::read(uint64_t address, uint32_t length, uint8_t* out) const {
  if (out == nullptr && length > 0) {
    return false;
  }
  for (const Region& r : m_regions) {
    const uint64_t size = r.bytes.size();
    if (address >= r.base && address - r.base <= size && length <= size - (address - r.base)) {
      if (length > 0) {
        std::memcpy(out, r.bytes.data() + (address - r.base), length);
      }
      return true;
    }
  }
  return false;
}

uint8_t* SimFirmware::at(uint64_t address, uint64_t length) {
  for (Region& r : m_regions) {
    const uint64_t size = r.bytes.size();
    if (address >= r.base && address - r.base <= size && length <= size - (address - r.base)) {
      return r.bytes.data() + (address - r.base);
    }
  }
  return nullptr;  // only reached by a layout mistake; callers write nothing then
}

void SimFirmware::putRsdp(uint64_t address, bool checksumGood) {
  uint8_t* p = at(address, kRsdpSize);
  if (p == nullptr) {
    return;
  }
  putText(p, "RSD PTR ", 8);
  putText(p + 9, "TVSIM ", 6);
  put8(p + 15, 0);  // ACPI 1.0
  put32(p + 16, static_cast<uint32_t>(kTablesBase));
  seal(p, kRsdpSize, kRsdpChecksum);
  if (!checksumGood) {
    p[kRsdpChecksum] = static_cast<uint8_t>(p[kRsdpChecksum] + 1);
  }
}

uint8_t* SimFirmware::putHeader(uint64_t address, const char* signature, uint32_t length,
                                int revision) {
  uint8_t* p = at(address, kTableSlot);
  if (p == nullptr) {
    return m_scratch.data();  // a layout mistake then writes nowhere that matters
  }
  putText(p, signature, 4);
  put32(p + 4, length);
  put8(p + 8, static_cast<uint32_t>(revision));
  putText(p + 10, "TVSIM ", 6);
  putText(p + 16, "TARVSIM ", 8);
  put32(p + 24, 1);
  putText(p + 28, "TVSM", 4);
  put32(p + 32, 1);
  return p;
}

uint64_t SimFirmware::putFadt(uint64_t address, const SimFirmwareConfig& config) {
  const auto length =
      static_cast<uint32_t>(std::clamp<int>(config.fadtLength, kHeaderSize, kTableSlot));
  uint8_t* p = putHeader(address, "FACP", length, config.fadtRevision);
  const uint32_t port = config.pmTimerPort;
  put8(p + 45, 1);  // preferred profile: desktop
  if (port >= 8) {
    put32(p + 56, port - 8);  // PM1a event block
    put32(p + 64, port - 4);  // PM1a control block
    put8(p + 88, 4);
    put8(p + 89, 2);
  }
  put32(p + 76, port);  // PM_TMR_BLK
  put8(p + 91, port != 0 ? 4 : 0);
  put32(p + 112, 1);  // flags: WBINVD; TMR_VAL_EXT clear, the timer has 24 bits
  if (length >= 220 && port != 0) {
    // X_PM_TMR_BLK: system I/O, 32 bits wide, dword access.
    put8(p + 208, 1);
    put8(p + 209, 32);
    put8(p + 211, 3);
    put64(p + 212, port);
  }
  seal(p, length, kHeaderChecksum);
  return faulty(address, config.fadtFault, p);
}

uint64_t SimFirmware::putHpet(uint64_t address, const SimFirmwareConfig& config) {
  uint8_t* p = putHeader(address, "HPET", kHpetLength, 1);
  put32(p + 36, 0x8086A201);  // event timer block id
  put8(p + 40, static_cast<uint32_t>(config.hpetAddressSpace));
  put8(p + 41, 64);
  put64(p + 44, config.hpetBase);
  put16(p + 53, 0x80);  // minimum clock tick
  seal(p, kHpetLength, kHeaderChecksum);
  return faulty(address, config.hpetFault, p);
}

uint64_t SimFirmware::putMadt(uint64_t address) {
  uint8_t* p = putHeader(address, "APIC", kMadtLength, 1);
  put32(p + 36, 0xFEE00000);  // local APIC address
  put32(p + 40, 1);           // PC-AT compatible
  const uint8_t localApic[] = {0, 8, 0, 0, 1, 0, 0, 0};
  std::memcpy(p + 44, localApic, sizeof localApic);
  seal(p, kMadtLength, kHeaderChecksum);
  return address;
}

uint64_t SimFirmware::putExtra(uint64_t address) {
  uint8_t* p = putHeader(address, "SSDT", kExtraLength, 2);
  seal(p, kExtraLength, kHeaderChecksum);
  return address;
}

void SimFirmware::seal(uint8_t* table, uint32_t length, int checksumOffset) {
  table[checksumOffset] = 0;
  table[checksumOffset] = static_cast<uint8_t>(0x100 - sumOf(table, length));
}

uint64_t SimFirmware::faulty(uint64_t address, SimTableFault fault, uint8_t* table) {
  switch (fault) {
    case SimTableFault::kZeroLength:
      put32(table + 4, 0);
      break;
    case SimTableFault::kTooLong:
      put32(table + 4, kTooLongLength);
      break;
    case SimTableFault::kUnbacked:
      return kUnbackedTable;
    case SimTableFault::kNone:
      break;
  }
  return address;
}

}  // namespace tv2::sim

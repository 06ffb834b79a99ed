#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/sim/SimHardwareConfig.h"

namespace tv2::sim {

// The firmware's part of physical memory: the first 4 KB, the BIOS area
// 0xE0000-0xFFFFF and the ACPI tables at kTablesBase, built once from a
// SimFirmwareConfig and immutable afterwards. Everything else is not backed
// here.
//
// Tables: RSDP (ACPI 1.0, 20 bytes) at kRsdpBiosArea or kRsdpFirstKb; RSDT at
// kTablesBase listing the extra tables ("SSDT"), then FACP, APIC and HPET, each
// in a slot of kTableSlot bytes after it. Every table carries a valid checksum
// unless a fault says otherwise.
class SimFirmware {
 public:
  static constexpr uint64_t kLowMemorySize = 0x1000;
  static constexpr uint64_t kBiosAreaBase = 0xE0000;
  static constexpr uint64_t kBiosAreaSize = 0x20000;
  static constexpr uint64_t kRsdpBiosArea = 0xF6A70;
  static constexpr uint64_t kRsdpFirstKb = 0x200;
  static constexpr uint64_t kDecoyDistance = 0x20;  // the decoy lies this far ahead
  static constexpr uint64_t kTablesBase = 0x7FEE0000;
  static constexpr uint64_t kTablesSize = 0x10000;
  static constexpr uint64_t kTableSlot = 0x200;
  static constexpr uint64_t kUnbackedTable = 0x7FFF0000;
  static constexpr int kMaxExtraTables = 32;

  explicit SimFirmware(const SimFirmwareConfig& config);

  // Copies length bytes from address; false unless one region backs them all.
  bool read(uint64_t address, uint32_t length, uint8_t* out) const;

 private:
  struct Region {
    uint64_t base = 0;
    std::vector<uint8_t> bytes;
  };

  uint8_t* at(uint64_t address, uint64_t length);
  void putRsdp(uint64_t address, bool checksumGood);
  // Writes a table header at address and returns the table's bytes.
  uint8_t* putHeader(uint64_t address, const char* signature, uint32_t length, int revision);
  uint64_t putFadt(uint64_t address, const SimFirmwareConfig& config);
  uint64_t putHpet(uint64_t address, const SimFirmwareConfig& config);
  uint64_t putMadt(uint64_t address);
  uint64_t putExtra(uint64_t address);
  static void seal(uint8_t* table, uint32_t length, int checksumOffset);
  static uint64_t faulty(uint64_t address, SimTableFault fault, uint8_t* table);

  std::vector<Region> m_regions;
  std::array<uint8_t, kTableSlot> m_scratch{};
};

}  // namespace tv2::sim

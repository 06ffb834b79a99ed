#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "driver/protocol/HardwareBackend.h"

namespace tv2 {

// A stretch of physical memory: [base, base + length).
struct PhysicalRange {
  uint64_t base = 0;
  uint64_t length = 0;

  bool contains(uint64_t address, uint64_t size) const {
    return size != 0 && address >= base && address - base < length && size <= length - (address - base);
  }
};

// What the host's own walk of the firmware's tables finds: the root pointer
// (first KB, then 0xE0000-0xFFFFF), the root table it names, and the tables
// that root table lists among the entries the client reads (the first 17). The walk reads through the backend the host serves
// from, trusts no length it reads, and never reads more than kLargestTable
// bytes of one table.
struct FirmwareTables {
  static constexpr size_t kHeaderSize = 36;
  static constexpr uint32_t kLargestTable = 4096;
  // The client reads this much of the root table whatever its length (the
  // header and up to 17 entries).
  static constexpr uint32_t kRootReadSize = 104;
  // The HPET's register block.
  static constexpr uint64_t kHpetBlockSize = 0x400;

  // The root table (at least kRootReadSize bytes) and each listed table by
  // its stated length: whole when it is a table the client reads whole (36
  // to kLargestTable bytes), else its header alone. A table whose header
  // states fewer than 36 bytes is no table.
  std::vector<PhysicalRange> tables;
  // The PM timer port of the first FADT listed.
  std::optional<uint32_t> pmTimerPort;
  // The register block an HPET table in memory space names.
  std::optional<uint64_t> hpetBase;

  static FirmwareTables walk(HardwareBackend& hardware);

  // The PM timer port of an FADT ("FACP", PM_TMR_BLK at offset 76); none when
  // the table is not an FADT, is shorter than it claims or names port 0.
  static std::optional<uint32_t> pmTimerPortFromFadt(const uint8_t* table, size_t size);
  // The base of an HPET table's register block; none unless the table is an
  // HPET table of at least 52 bytes naming memory space and a base other than 0.
  static std::optional<uint64_t> hpetBaseFromTable(const uint8_t* table, size_t size);
};

}  // namespace tv2

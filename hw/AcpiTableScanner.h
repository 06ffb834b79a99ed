#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "hw/CTimer.h"

namespace tv2 {

class CKMDriver;
class Platform;

// Finds the platform timers through the ACPI tables in physical memory: the
// root pointer (first KB, then the BIOS area), the RSDT, then the FADT for the
// power-management timer port and the HPET table for the HPET's registers.
// Runs once at start-up with the driver lock held.
class AcpiTableScanner {
 public:
  static constexpr uint32_t kRsdtReadBytes = 104;  // so at most 17 entries
  static constexpr uint32_t kMaxTableLength = 4096;

  AcpiTableScanner(CKMDriver& driver, Platform& platform);

  // 1 when a root pointer with a valid checksum lies at a 16-byte boundary of
  // [address, address + length); its first 20 bytes are kept.
  int FindRsdp(uint32_t address, uint32_t length);

  // Creates the timers the tables describe. A later FADT replaces an earlier
  // timer; an HPET that does not advance over one second is dropped.
  void ScanAcpiTables(std::unique_ptr<CTimer>* acpiTimer, std::unique_ptr<CTimer>* hpetTimer);

  const std::array<uint8_t, 20>& rsdp() const { return m_rsdp; }

 private:
  void readFadt(const uint8_t* table, uint32_t length, uint8_t revision, std::unique_ptr<CTimer>* acpiTimer);
  void readHpetTable(const uint8_t* table, uint32_t length, std::unique_ptr<CTimer>* hpetTimer);

  CKMDriver& m_driver;
  Platform& m_platform;
  std::array<uint8_t, 20> m_rsdp{};
};

}  // namespace tv2

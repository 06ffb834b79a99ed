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
// Runs once at start-up with the driver lock held. Every length it reads is
// checked before use: a table is at least its 36-byte header and at most
// kMaxTableLength bytes, else it is skipped.
class AcpiTableScanner {
 public:
  static constexpr uint32_t kRsdtReadBytes = 104;  // so at most 17 entries
  static constexpr uint32_t kMaxTableLength = 4096;

  AcpiTableScanner(CKMDriver& driver, Platform& platform);
  virtual ~AcpiTableScanner() = default;
  AcpiTableScanner(const AcpiTableScanner&) = delete;
  AcpiTableScanner& operator=(const AcpiTableScanner&) = delete;

  // 1 when a root pointer with a valid checksum lies at a 16-byte boundary of
  // [address, address + length); its first 20 bytes are kept.
  int FindRsdp(uint32_t address, uint32_t length);

  // Creates the timers the tables describe. A later FADT replaces an earlier
  // timer; an HPET that does not advance over one second is dropped.
  void ScanAcpiTables(std::unique_ptr<CTimer>* acpiTimer, std::unique_ptr<CTimer>* hpetTimer);

  const std::array<uint8_t, 20>& rsdp() const { return m_rsdp; }

 protected:
  // The physical memory the tables are read from: the driver's, 1 or 0 as
  // CKMDriver::ReadPhysicalMemory. Tests and the fuzzer read an image instead.
  virtual int readMemory(uint32_t address, uint32_t length, void* out);

 private:
  void readFadt(const uint8_t* table, uint32_t length, uint8_t revision, std::unique_ptr<CTimer>* acpiTimer);
  void readHpetTable(const uint8_t* table, uint32_t length, std::unique_ptr<CTimer>* hpetTimer);

  CKMDriver& m_driver;
  Platform& m_platform;
  std::array<uint8_t, 20> m_rsdp{};
};

}  // namespace tv2

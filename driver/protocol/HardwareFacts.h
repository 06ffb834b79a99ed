#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "driver/protocol/AccessPolicy.h"
#include "driver/protocol/HardwareBackend.h"

namespace tv2 {

// Learns the facts the access policy needs from the machine itself, through
// the same backend that later serves the requests (ACPI tables, the AMD
// configuration window register, the graphics function's mailbox BAR).
class HardwareFacts {
 public:
  // MSR 0xC0010058: enable bit 0, base in bits 47:20, bus count 2^(bits 5:2).
  static constexpr uint32_t kMmioConfigMsr = 0xC0010058;
  static constexpr uint32_t kAtiVendor = 0x1002;

  // The PM timer port of an FADT ("FACP", PM_TMR_BLK at offset 76); none when
  // the table is not an FADT, is shorter than it claims or names port 0.
  static std::optional<uint32_t> pmTimerPortFromFadt(const uint8_t* table, size_t size);

  // Finds the FADT the way the monitor does (root pointer in the first KB,
  // then in 0xE0000-0xFFFFF; RSDT entries) and returns its PM timer port
  // (FirmwareTables::walk).
  static std::optional<uint32_t> findPmTimerPort(HardwareBackend& hardware);

  // Base and size of the configuration window; false when there is none.
  static bool configWindow(HardwareBackend& hardware, uint64_t* base, uint64_t* size);

  // The mailbox base of an AMD graphics function at 0:1.0.
  static std::optional<uint64_t> mailboxBase(HardwareBackend& hardware);

  // Everything above, and the tables and HPET block of the firmware walk. A
  // known port (from the kernel's copy of the FADT) wins over the walk's.
  static PolicyFacts learn(HardwareBackend& hardware, std::optional<uint32_t> knownPmTimerPort);

  // Reads a configuration dword through ports 0xCF8/0xCFC and puts back the
  // address that 0xCF8 held.
  static bool readConfig(HardwareBackend& hardware, uint32_t address, uint32_t* value);
};

}  // namespace tv2

#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/protocol/FirmwareTables.h"

namespace tv2 {

// A PCI configuration register: bus, device, function and register number
// (0..0xFFF, extended registers included).
struct ConfigRegister {
  int bus = 0;
  int device = 0;
  int function = 0;
  uint32_t reg = 0;
};

// What the host learns about the machine when it starts and the policy needs
// to tell the program's accesses from others.
struct PolicyFacts {
  // The ACPI power-management timer port named by the FADT.
  std::optional<uint32_t> pmTimerPort;
  // AMD memory-mapped configuration window (MSR 0xC0010058); size 0: none.
  uint64_t configWindowBase = 0;
  uint64_t configWindowSize = 0;
  // AMD management-unit mailbox (BAR at 0:1.0 register 0x24 of the graphics
  // function).
  std::optional<uint64_t> mailboxBase;
  // The firmware tables the host's own walk found, and the HPET register
  // block the HPET table names.
  std::vector<PhysicalRange> firmwareTables;
  std::optional<uint64_t> hpetBase;
};

// Which accesses the driver host performs for a client. Register reads are
// served as asked. Physical memory is read only where the monitor reads it:
// the first KB and 0xE0000-0xFFFFF (the root pointer's search), the firmware
// tables the host found itself, the HPET's register block, the AMD
// configuration window and the management-unit mailbox registers. Writes
// reach only what the monitor programs (configuration writes only on AMD's
// own devices, mailbox writes only the monitor's messages), and the ports
// only the PCI configuration mechanism and the ACPI timer. Registers of which the monitor changes single bits get a write mask,
// as msr-safe does: the other bits keep the value the register holds.
// Immutable after construction, so it may be shared between threads.
class AccessPolicy {
 public:
  static constexpr uint32_t kConfigAddressPort = 0xCF8;
  static constexpr uint32_t kConfigDataPort = 0xCFC;
  static constexpr uint32_t kMiscEnableMsr = 0x1A0;
  static constexpr uint64_t kCpuidLimitBit = uint64_t{1} << 22;
  // Offset of the message register in the management-unit mailbox.
  static constexpr uint64_t kMailboxMessageOffset = 0x250;
  static constexpr uint64_t kMailboxAnswerOffset = 0x254;
  static constexpr uint32_t kAmdVendor = 0x1022;

  enum class PhysicalWrite { kRefused, kConfigWindow, kMailbox };

  explicit AccessPolicy(PolicyFacts facts);

  const PolicyFacts& facts() const { return m_facts; }

  // Bits of the register a client may change; 0 when it may not be written.
  static uint64_t msrWriteMask(uint32_t index);
  static uint32_t configWriteMask(const ConfigRegister& target);

  bool mayReadPort(uint32_t port) const;
  // Port 0xCFC is further subject to configWriteMask of the addressed register.
  static bool mayWritePort(uint32_t port);

  PhysicalWrite classifyPhysicalWrite(uint64_t address) const;
  // True when [address, address + length) lies inside one of the areas the
  // monitor reads.
  bool mayReadPhysical(uint64_t address, uint64_t length) const;
  // The messages the monitor sends the management unit.
  static bool mayWriteMailboxMessage(uint32_t message);
  // True when the device id dword (vendor in bits 15:0, device in 31:16) of
  // the function target names is AMD's own device for that function, the
  // only place the monitor's configuration writes are meant for (on Intel
  // host bridges 0:0.0 register 0xB8 is the SMRAM base).
  static bool isAmdDeviceFor(const ConfigRegister& target, uint32_t deviceId);
  // True when [address, address + length) lies inside one function's 4 KB of
  // the configuration window.
  bool inConfigWindow(uint64_t address, uint64_t length) const;

  // The register a value written to 0xCF8 addresses: enable bit 31, bus
  // 23:16, device 15:11, function 10:8, register 7:2 and AMD-style register
  // bits 11:8 in address bits 27:24. False when the enable bit is clear.
  static bool decodeConfigAddress(uint32_t address, ConfigRegister* target);
  // The register an offset into the configuration window names.
  static ConfigRegister decodeWindowOffset(uint64_t offset);

 private:
  const PolicyFacts m_facts;
};

}  // namespace tv2

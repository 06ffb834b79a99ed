#pragma once

#include <cstdint>

namespace tv2 {

// The hardware a driver request finally touches. The driver host implements it
// over the kernel's interfaces (/dev/cpu/N/msr, sysfs PCI configuration files,
// port I/O, /dev/mem); the simulated machine implements it over its model.
// Every method returns false when the access fails (missing register, missing
// kernel interface, injected fault); out values are then unspecified.
class HardwareBackend {
 public:
  virtual ~HardwareBackend() = default;

  // Model-specific register access on logical processor cpu (the processor
  // number the device transport names).
  virtual bool readMsr(int32_t cpu, uint32_t index, uint64_t* value) = 0;
  virtual bool writeMsr(int32_t cpu, uint32_t index, uint64_t value) = 0;

  // 32-bit port access. Ports 0xCF8/0xCFC behave as the PCI configuration
  // mechanism: 0xCF8 keeps the address (enable bit 31, bus 23:16, device
  // 15:11, function 10:8, register 7:2, and AMD-style register bits 11:8 in
  // address bits 27:24), 0xCFC reads or writes that configuration dword.
  virtual bool readPort(uint32_t port, uint32_t* value) = 0;
  virtual bool writePort(uint32_t port, uint32_t value) = 0;

  // Physical memory below 4 GiB.
  virtual bool readPhysical(uint64_t address, uint32_t length, uint8_t* out) = 0;
  virtual bool writePhysicalDword(uint64_t address, uint32_t value) = 0;
};

}  // namespace tv2

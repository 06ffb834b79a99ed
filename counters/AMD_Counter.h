#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class CKMDriver;
class Platform;

// Base of the AMD family 15h/16h power and temperature counters, which read
// northbridge and management-unit registers in PCI configuration space.
// Their Read returns degrees or watts directly: a level, not a rate.
//
// Runs on the counter sampler of the package's first logical processor under
// the driver lock; the index/data register pairs rely on that lock. The
// learnt-once fields here and in the derived classes (configBase and its
// high half, basePower,
// smuEnabled, currentScale) are written and read only by that sampler.
class AMD_Counter : public CCounter {
 public:
  AMD_Counter(int32_t index, CKMDriver* driverClient, Platform* platform);

  // One positive reading records a point.
  void Update(CTimer* timer) override;

  // Configuration access, through the memory-mapped configuration space when
  // MSR 0xC0010058 names it, else through the configuration ports. Reads
  // return the dword shifted right by 8 × (register % 4).
  bool ReadConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg, uint32_t* out);
  bool WriteConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg, uint32_t data);
  // Sets bit 14 of 0:18.3 register 0x8C, which lets the port mechanism carry
  // register bits 11:8; it stays set.
  bool EnableExtendedConfig();

  // The configuration window (MSR 0xC0010058 bits 47:20), learnt once, on
  // the first access that can: low and high half of its physical address.
  // Both 0: no window, the configuration ports serve.
  uint32_t configBase = 0;
  uint32_t configBaseHigh = 0;
  uint32_t pciBus = 0;
  uint32_t pciDevice = 0x18;

 protected:
  // The northbridge function registers (device 0x18) the classes read.
  bool readNb(uint32_t function, uint32_t reg, uint32_t* out) {
    return EnableExtendedConfig() && ReadConfig(pciBus, pciDevice, function, reg, out);
  }
  bool writeNb(uint32_t function, uint32_t reg, uint32_t data) {
    return EnableExtendedConfig() && WriteConfig(pciBus, pciDevice, function, reg, data);
  }
  // A management-unit register through the index/data pair 0:0.0 0xB8/0xBC;
  // the index register is restored.
  bool readSmuRegister(uint32_t smuRegister, uint32_t* out);
  void sleepMs(uint32_t milliseconds);

  CKMDriver* m_driver;
  Platform* m_platform;

 private:
  void learnConfigBase();
  bool useWindow() const { return configBase != 0 || configBaseHigh != 0; }

  bool m_configLearnt = false;  // the MSR has been read
};

}  // namespace tv2

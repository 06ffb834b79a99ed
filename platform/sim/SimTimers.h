#pragma once

#include <cstdint>

#include "platform/sim/SimHardwareConfig.h"

namespace tv2::sim {

// The platform timers, both driven by the machine clock: the HPET's registers
// at the base the firmware names (when its table says memory space), and the
// ACPI power-management timer, a 24-bit counter at 3.579545 MHz on the port
// the FADT names.
//
// HPET: capabilities at +0 (64-bit counter, three timers), the period in
// femtoseconds at +4, the enable bit at +0x10, the main counter at +0xF0/+0xF4
// counting at 1e15 / period Hz while running. A stopped HPET keeps its count
// (0 if it never ran) and clears the enable bit; the program never starts it.
//
// Not thread-safe: SimHardware keeps it under its mutex.
class SimTimers {
 public:
  static constexpr uint32_t kHpetSize = 0x400;
  static constexpr uint64_t kPmTimerHz = 3579545;

  SimTimers(const SimFirmwareConfig& firmware, uint64_t nowNs);

  bool hpetPresent() const { return m_hpetPresent; }
  uint64_t hpetBase() const { return m_hpetBase; }
  // Dword register at offset (aligned, below kHpetSize).
  uint32_t hpetRegister(uint32_t offset, uint64_t nowNs) const;
  void setHpetRunning(bool running, uint64_t nowNs);
  uint64_t hpetTicks(uint64_t nowNs) const;

  uint32_t pmTimerPort() const { return m_pmTimerPort; }
  uint32_t pmTimer(uint64_t nowNs) const;

 private:
  const bool m_hpetPresent;
  const uint64_t m_hpetBase;
  const uint32_t m_periodFs;
  const uint32_t m_pmTimerPort;
  bool m_running;
  uint64_t m_ticksAtResume = 0;  // count when it last started or stopped
  uint64_t m_resumedNs = 0;      // machine time it last started
};

}  // namespace tv2::sim

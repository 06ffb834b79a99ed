#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimPmu.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {

// The MSRs of every logical processor: the time-stamp
// counter, the performance-monitoring registers (SimPmu), and what the part's
// kind adds: ratios and bus clock, miscellaneous enable, thermal status and
// target, running-average power limit units and energy counters, AMD P-states
// and the configuration base. Package registers answer the same on every
// processor of the package, core registers on both threads of a core.
//
// A register the part does not have fails, as the #GP of the hardware would; so
// does a write to a register that is read-only here (everything but 0x1A0 and
// the monitoring registers).
//
// Not thread-safe: SimHardware keeps it under its mutex.
class SimMsrSpace {
 public:
  static constexpr uint64_t kMiscEnablePowerUp = 0x850089;  // 0x1A0 of a client part
  static constexpr uint64_t kCpuidLimitBit = 1ull << 22;
  // The configuration window's base unless the firmware puts it elsewhere.
  static constexpr uint64_t kMmioConfigBase = 0xE0000000;

  SimMsrSpace(const SimMachineConfig& config, int cpuCount, int packageCount, bool hasL3);

  bool read(const SimWorkloadModel& workload, int cpu, uint32_t index, uint64_t nowNs,
            uint64_t* value) const;
  bool write(const SimWorkloadModel& workload, int cpu, uint32_t index, uint64_t value);

  // True while 0x1A0 bit 22 of that processor limits CPUID to leaf 2.
  bool cpuidLimited(int cpu) const;
  void occupyCounters(const SimWorkloadModel& workload) { m_pmu.occupy(workload); }

 private:
  bool readIntel(const SimWorkloadModel& w, int cpu, uint32_t index, uint64_t* value) const;
  bool readAmd(uint32_t index, uint64_t* value) const;
  uint64_t thermalStatus(double celsius) const;
  uint64_t energyStatus(const SimWorkloadModel& w, int cpu, SimPowerDomain domain) const;
  uint64_t pState(int index) const;

  const SimPartConfig m_part;
  const bool m_amd;
  const bool m_amdKind;
  const uint64_t m_configWindowBase;  // MSR 0xC0010058 base bits
  SimPmu m_pmu;
  std::vector<uint64_t> m_miscEnable;  // per processor (Intel)
};

}  // namespace tv2::sim

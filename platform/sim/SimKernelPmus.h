#pragma once

#include <cstdint>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/sim/SimActivity.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"

namespace tv2::sim {

// One core PMU as the simulated kernel drives it.
struct SimCorePmu {
  KernelCorePmu desc;
  int generalCounters = 0;
  // Intel fixed counters: 0 instructions, 1 cycles, 2 reference cycles.
  int fixedCounters = 0;
};

// The PMUs the machine's kernel registers and the events each offers, derived
// from the part: a "cpu" PMU (or "cpu_core" and "cpu_atom" on a hybrid part)
// with the counters CPUID describes, the msr PMU, and the power PMU with the
// rails the part has. Immutable after construction: any thread may read it.
class SimKernelPmus {
 public:
  explicit SimKernelPmus(const SimMachineConfig& config);

  // Empty when the kernel has no core PMU (SimKernelConfig::corePmu).
  const std::vector<SimCorePmu>& corePmus() const { return m_corePmus; }
  // Index into corePmus() of the processor's PMU; -1 when there is none.
  int pmuOf(const SimLogicalProcessor& cpu) const;
  uint32_t msrEvents() const { return m_msrEvents; }
  const std::vector<KernelPowerEvent>& powerEvents() const { return m_powerEvents; }
  bool offersPower(KernelEvent event) const;
  bool intel() const { return m_intel; }
  bool hasL3() const { return m_hasL3; }

  static bool isCoreEvent(KernelEvent event) { return event <= KernelEvent::kStalledCyclesBackend; }
  static bool isMsrEvent(KernelEvent event) {
    return event >= KernelEvent::kMsrAperf && event <= KernelEvent::kMsrTsc;
  }
  static bool isPowerEvent(KernelEvent event) {
    return event >= KernelEvent::kEnergyPackage && event <= KernelEvent::kEnergyRam;
  }
  static SimPowerDomain domainOf(KernelEvent event);
  // The workload event a core or msr event counts (kCount for the tsc, energy
  // and software events, which do not count workload events). The cache
  // events count the last level: the L3, or the L2 of a part without one.
  static SimEvent simEventOf(KernelEvent event, bool hasL3);

  static constexpr double kJoulesPerEnergyCount = 2.3283064365386962890625e-10;  // 2^-32 J
  // Type numbers the kernel gives its PMUs ("cpu" is PERF_TYPE_RAW).
  static constexpr uint32_t kCpuType = 4;
  static constexpr uint32_t kCpuAtomType = 10;

 private:
  std::vector<SimCorePmu> m_corePmus;
  bool m_hybrid = false;
  bool m_intel = false;
  bool m_hasL3 = false;
  uint32_t m_msrEvents = 0;
  std::vector<KernelPowerEvent> m_powerEvents;
};

}  // namespace tv2::sim

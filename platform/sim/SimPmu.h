#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/sim/SimEventDecoder.h"
#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {

// The performance-monitoring registers of a machine: per logical processor the
// Intel general counters with their selects, the fixed counters with their
// control and the global enable, or the AMD core counters (also at their
// legacy numbers 0xC0010000-7); per package the AMD northbridge counters.
//
// A counter holds the value it had when it was last written or reprogrammed
// plus what its event has counted since, cut to the counter width (so it wraps
// like the hardware's). Counts come from the workload model's totals, which the
// caller has advanced to the current time.
//
// Not thread-safe: SimHardware keeps it under its mutex.
class SimPmu {
 public:
  SimPmu(const SimProcessorModel& model, int cpuCount, int packageCount, bool hasL3);

  bool owns(uint32_t index) const;
  // For registers the PMU owns; false as the hardware's #GP would: no such
  // counter on this part, reserved bits written.
  bool read(const SimWorkloadModel& workload, int cpu, uint32_t index, uint64_t* value) const;
  bool write(const SimWorkloadModel& workload, int cpu, uint32_t index, uint64_t value);

  // Leaves an enabled select in every general counter of every processor, as
  // another monitoring program would.
  void occupy(const SimWorkloadModel& workload);

 private:
  enum class Kind {
    kNone,
    kSelect,
    kCounter,
    kFixed,
    kFixedCtrl,
    kGlobalCtrl,
    kNbSelect,
    kNbCounter
  };
  struct Slot {
    Kind kind = Kind::kNone;
    int n = 0;
  };
  struct Counter {
    uint64_t control = 0;  // the select as written (general and northbridge counters)
    uint64_t base = 0;     // value when last written or reprogrammed
    uint64_t start = 0;    // event count at that moment
    SimCounted counted;
  };
  struct CpuCounters {
    std::vector<Counter> general;
    std::array<Counter, 3> fixed;
    uint64_t fixedCtrl = 0;
    uint64_t globalCtrl = 0;
  };

  Slot slotOf(uint32_t index) const;
  uint64_t eventCount(const SimWorkloadModel& w, int cpu, const SimCounted& counted) const;
  uint64_t valueOf(const SimWorkloadModel& w, int cpu, const Counter& c, uint64_t mask) const;
  void reprogram(const SimWorkloadModel& w, int cpu, Counter* c, const SimCounted& counted,
                 uint64_t mask) const;
  void setValue(const SimWorkloadModel& w, int cpu, Counter* c, uint64_t value,
                uint64_t mask) const;
  // What each Intel counter of cpu counts under its current controls.
  void applyIntelControls(const SimWorkloadModel& w, int cpu);
  int packageOf(const SimWorkloadModel& w, int cpu) const;

  const bool m_amd;
  const bool m_northbridge;
  const SimPartKind m_kind;
  const bool m_hasL3;
  const int m_version;  // Intel architectural monitoring version, 0 = none
  const int m_generalCount;
  const int m_fixedCount;
  const uint64_t m_generalMask;
  const uint64_t m_fixedMask;
  std::vector<CpuCounters> m_cpus;
  std::vector<std::array<Counter, 4>> m_nbCounters;  // per package
};

}  // namespace tv2::sim

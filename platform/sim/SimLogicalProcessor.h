#pragma once

#include <cstdint>

namespace tv2::sim {

// What a logical processor has been doing, integrated over the machine clock.
// Nanosecond totals since the machine was created.
struct SimWorkload {
  double load = 0.0;       // 0..1
  double userShare = 0.75; // share of busy time in user mode, 0..1
  uint64_t lastNs = 0;     // machine time the totals below were integrated to
  uint64_t elapsedNs = 0;
  uint64_t busyNs = 0;
  uint64_t userNs = 0;
};

// One logical processor of the simulated machine. The identity fields are fixed
// at construction and read without a lock; per-processor state that changes
// (the workload now, registers in later additions) is guarded by the machine.
struct SimLogicalProcessor {
  uint32_t apicId = 0;
  int package = 0;      // package number (APIC id >> package shift)
  int core = 0;         // core id within the package
  int thread = 0;       // thread id within the core
  int computeUnit = 0;  // AMD compute unit within the package
  int group = 0;        // processor group
  int index = 0;        // position within the group

  // Guarded by SimMachine::m_stateMutex; written by setLoad() and times().
  SimWorkload workload;
};

}  // namespace tv2::sim

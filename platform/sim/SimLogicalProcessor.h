#pragma once

#include <cstdint>

namespace tv2::sim {

// The identity of one logical processor of the simulated machine, fixed at
// construction and read without a lock. What the processor does and holds
// (workload, registers) lives in SimHardware.
struct SimLogicalProcessor {
  uint32_t apicId = 0;
  int package = 0;      // package number (APIC id >> package shift)
  int core = 0;         // core id within the package
  int thread = 0;       // thread id within the core
  int computeUnit = 0;  // AMD compute unit within the package
  bool efficiency = false;  // an efficiency core of a hybrid part
  int group = 0;        // processor group
  int index = 0;        // position within the group
};

}  // namespace tv2::sim

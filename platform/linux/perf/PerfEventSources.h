#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/KernelCounterService.h"

namespace tv2 {

// An event of a PMU that lists it in its events/ folder (msr, power): the
// PMU's type and the config its events/NAME file gives.
struct PerfNamedEvent {
  bool present = false;
  uint32_t type = 0;
  uint64_t config = 0;
  // The events/NAME.scale file (power: joules per count); 1 without one.
  double scale = 1.0;
  std::string unit;  // events/NAME.unit ("Joules"); empty without one
};

// What the kernel needs to open each KernelEvent on each CPU, as read from
// sysfs. Built once, then only read.
struct PerfEventSources {
  // The core PMUs are cpu_core / cpu_atom: a generic hardware event names
  // its PMU in config bits 63:32.
  bool hybrid = false;
  std::vector<KernelCorePmu> corePmus;
  // Indexed by kernel CPU number: the index into corePmus of the CPU's core
  // PMU, -1 for none.
  std::vector<int> corePmuOfCpu;
  // Indexed by KernelEvent; only the msr and power events are used.
  std::array<PerfNamedEvent, kKernelEventCount> named{};
  // The power PMU's cpumask: the CPU that counts each package's energy.
  std::vector<int> powerCpus;
  // Indexed by kernel CPU number: physical package id, -1 unknown.
  std::vector<int> packageOfCpu;

  int corePmuOf(int cpu) const {
    return cpu >= 0 && cpu < static_cast<int>(corePmuOfCpu.size()) ? corePmuOfCpu[cpu] : -1;
  }
  int packageOf(int cpu) const {
    return cpu >= 0 && cpu < static_cast<int>(packageOfCpu.size()) ? packageOfCpu[cpu] : -1;
  }
};

}  // namespace tv2

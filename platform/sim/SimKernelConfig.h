#pragma once

#include <cstdint>

namespace tv2::sim {

// Which temperature driver the machine's kernel loads under hwmon.
enum class SimHwmonDriver {
  kNone,
  kCoretemp,  // Intel: "Package id N" and "Core N", whole degrees
  kK10temp,   // AMD: Tctl and Tdie of the package, eighths of a degree
};

// What the machine's kernel offers besides the registers: the counters it
// drives itself (perf events), the energy and temperature interfaces, and its
// perf_event_paranoid setting. A virtual machine's kernel has no core PMU, no
// energy interfaces and no hwmon sensors, only the msr PMU's tsc.
struct SimKernelConfig {
  bool corePmu = true;        // "cpu" (or "cpu_core" / "cpu_atom" on a hybrid part)
  bool msrAperfMperf = true;  // the msr PMU counts aperf and mperf besides tsc
  bool powerPmu = false;      // energy-* events of the rails the part has
  bool powercap = false;      // intel-rapl zones with energy_uj
  SimHwmonDriver hwmon = SimHwmonDriver::kNone;
  int paranoid = 2;           // /proc/sys/kernel/perf_event_paranoid at boot
  // The NMI watchdog's pinned cycles event on every processor: it keeps the
  // fixed cycles counter (Intel) or one general counter (AMD) for itself.
  bool nmiWatchdog = false;
  // powercap's max_energy_range_uj: energy_uj wraps to 0 past it.
  uint64_t maxEnergyRangeUj = 262143328850;
};

}  // namespace tv2::sim

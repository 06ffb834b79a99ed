#pragma once

#include <string>

#include "SysfsTree.h"

namespace tv2 {

// Recorded kernel trees of the machines the tests describe.
class KernelTrees {
 public:
  // CPUs `first`..`last` of `package` with core ids from `firstCore`,
  // `threads` consecutive CPUs per core.
  static void cpus(const SysfsTree& tree, int first, int last, int package, int firstCore, int threads);
  // A PMU with type `type` and event files name=content.
  static void pmu(const SysfsTree& tree, const std::string& name, int type,
                  std::initializer_list<std::pair<std::string, std::string>> events);

  // One package: CPUs 0-7 are 4 performance cores x 2 threads (cpu_core,
  // type 8), 8-15 eight efficiency cores (cpu_atom, type 10, core ids
  // 8..15); msr aperf/mperf/tsc, power pkg/cores/gpu, coretemp, powercap
  // package-0 with core and uncore, psys. Paranoid 2.
  static void alderLake(const SysfsTree& tree);
  // Ryzen 7 5800X: 8 cores x 2 threads (siblings 8 apart), PMU "cpu" with
  // the stalled-cycles events and no ref-cycles; power energy-pkg; k10temp
  // on 0000:00:18.3 (Tctl, Tccd1); powercap package-0. Paranoid 1.
  static void zen3(const SysfsTree& tree);
  // A virtual machine: 2 CPUs, software, tracepoint and msr (tsc, smi)
  // PMUs only, no hwmon, no powercap. Paranoid 2.
  static void virtualMachine(const SysfsTree& tree);
};

}  // namespace tv2

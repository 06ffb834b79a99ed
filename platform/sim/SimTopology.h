#pragma once

#include <string>
#include <vector>

#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"

namespace tv2::sim {

// How an initial APIC id splits into package, core and thread: the package
// number sits above packageShift bits, the core number between threadBits and
// packageShift, the thread number below threadBits.
struct SimApicLayout {
  int logicalField = 1;  // CPUID 1 EBX[23:16] as reported
  int coresField = 1;    // CPUID 4 EAX[31:26] + 1 as reported
  int packageShift = 0;
  int threadBits = 0;
  // False when the reported fields cannot hold the topology; the ids then use
  // the smallest split that keeps them unique, and discovery from the reported
  // fields is expected to go wrong (a deliberately inconsistent model).
  bool reportedSplitHolds = true;
};

// Builds the logical processors of a machine in OS order (package by package,
// core by core, thread by thread) and lays them out in processor groups.
class SimTopology {
 public:
  static constexpr int kMaxProcessors = 1024;
  static constexpr int kMaxGroupSize = 64;

  static SimApicLayout layoutFor(const SimProcessorModel& model);

  // Counts below one are raised to one and the machine is cut to
  // kMaxProcessors, so that any configuration yields a usable machine.
  static SimMachineConfig sanitized(SimMachineConfig config);

  // Processors with identity and group place filled in; *groups receives the
  // OS index of each group member in group order.
  static std::vector<SimLogicalProcessor> build(const SimMachineConfig& config,
                                                std::vector<std::vector<int>>* groups);

  // Empty when the configuration describes a machine the CPUID fields can
  // express faithfully; otherwise what is wrong, one finding per line.
  static std::string check(const SimMachineConfig& config);

  // Smallest b with 2^b >= n (0 for n <= 1).
  static int bitsFor(int n);
};

}  // namespace tv2::sim

#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimClock.h"
#include "platform/sim/SimCpuid.h"
#include "platform/sim/SimInstanceLockRegistry.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimMutexRegistry.h"
#include "platform/sim/SimTopology.h"

namespace tv2::sim {

// A whole simulated computer: its logical processors with their CPUID answers
// and workload, a clock, and the named objects its processes share. Any number
// of SimPlatform objects (processes) may run on one machine. Every method may
// be called from any thread.
//
// Processors are identified by their OS index ("cpu"), 0..logicalProcessorCount()-1.
// Calls with an index out of range do nothing and answer zero (-1 for places).
class SimMachine {
 public:
  explicit SimMachine(SimMachineConfig config);
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  static std::optional<SimMachineConfig> preset(std::string_view name);
  static std::vector<std::string> presetNames();
  // Empty when the configuration is sound; else one finding per line.
  static std::string checkConfig(const SimMachineConfig& config);

  // The configuration as built (counts below one raised, size capped).
  const SimMachineConfig& config() const { return m_config; }

  int logicalProcessorCount() const;
  int groupCount() const;
  int groupSize(int group) const;
  int cpuAt(int group, int index) const;
  // Group and index of a processor; false when there is no such processor.
  bool placeOf(int cpu, int* group, int* index) const;
  // Identity of a processor (APIC id, package, core, thread, place); null when
  // there is no such processor. The identity never changes.
  const SimLogicalProcessor* processor(int cpu) const;

  CpuidRegs cpuid(int cpu, uint32_t leaf, uint32_t subleaf) const;

  // Workload: load 0..1 and the share of busy time in user mode (values
  // outside 0..1 are clamped, NaN counts as 0). The change takes effect at the
  // current machine time.
  void setLoad(int cpu, double load, double userShare = 0.75);
  void setLoadAll(double load, double userShare = 0.75);
  // Idle, kernel (including idle) and user time since the machine was created,
  // in 100 ns units.
  ProcessorTimes times(int cpu);

  // Machine clock: the monotonic clock by default; manual for deterministic
  // tests (advanceMs then moves it; in real mode advanceMs skips ahead).
  void useManualClock();
  void advanceMs(uint64_t ms);
  uint64_t nowNs() const;

  // Named objects shared by the processes of this machine.
  const std::shared_ptr<SimMutexRegistry>& mutexes() const { return m_mutexes; }
  const std::shared_ptr<SimInstanceLockRegistry>& instanceLocks() const { return m_instanceLocks; }

 private:
  // Brings the totals of one processor up to machine time now. Requires
  // m_stateMutex.
  static void integrateLocked(SimWorkload* workload, uint64_t now);

  // Fixed at construction, read without a lock.
  const SimMachineConfig m_config;
  std::vector<std::vector<int>> m_groups;
  const SimCpuid m_cpuid;
  // Identity fields fixed at construction; each .workload is guarded by
  // m_stateMutex.
  std::vector<SimLogicalProcessor> m_cpus;
  // Guards the changing per-processor state in m_cpus. Taken before the clock's
  // own mutex, never after it.
  mutable std::mutex m_stateMutex;
  SimClock m_clock;  // thread-safe on its own
  const std::shared_ptr<SimMutexRegistry> m_mutexes;
  const std::shared_ptr<SimInstanceLockRegistry> m_instanceLocks;
};

}  // namespace tv2::sim

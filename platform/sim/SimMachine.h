#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimActivity.h"
#include "platform/sim/SimClock.h"
#include "platform/sim/SimCpuid.h"
#include "platform/sim/SimHardware.h"
#include "platform/sim/SimLoadSchedule.h"
#include "platform/sim/SimInstanceLockRegistry.h"
#include "platform/sim/SimKernelPerf.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimMutexRegistry.h"
#include "platform/sim/SimTopology.h"

namespace tv2::sim {

// A whole simulated computer: its logical processors with their CPUID answers,
// its hardware (registers, configuration space, memory, ports) and the workload
// that drives it, a clock, and the named objects its processes share. Any
// number of SimPlatform objects (processes) may run on one machine. Every
// method may be called from any thread.
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

  // Answers as the processor would now: while its 0x1A0 bit 22 is set (Intel),
  // leaf 0 reports 2 and the leaves above answer like leaf 2.
  CpuidRegs cpuid(int cpu, uint32_t leaf, uint32_t subleaf) const;

  // The hardware as a driver reaches it, with its fault switches.
  SimHardware& hardware() { return m_hardware; }
  // The perf events of the machine's kernel, shared by its processes, with
  // the paranoid level and the injected event errors.
  SimKernelPerf& kernel() { return m_kernel; }

  // Workload: load 0..1 and the share of busy time in user mode (values
  // outside 0..1 are clamped, NaN counts as 0). Every change takes effect at
  // the current machine time.
  void setLoad(int cpu, double load, double userShare = 0.75);
  void setLoadAll(double load, double userShare = 0.75);
  // From now on the machine sets the loads itself, step by step as its clock
  // runs (the user share stays as it was); a load set by hand ends that.
  void runLoadSchedule(const SimLoadSchedule& schedule);
  // What a busy processor does: clock, IPC, cache and branch behaviour.
  void setActivity(int cpu, const SimActivity& activity);
  void setActivityAll(const SimActivity& activity);
  SimActivity activity(int cpu) const;
  // Power and temperature follow the load (the part's SimPowerFigures) until
  // fixed here; the follow... calls return to the load.
  void setPower(int package, const SimPowerDraw& draw);
  void followLoadPower(int package);
  void setTemperature(int package, double celsius);                // every core
  void setCoreTemperature(int package, int core, double celsius);  // by core id
  void followLoadTemperature(int package);
  // Idle, kernel (including idle) and user time since the machine was created,
  // in 100 ns units.
  ProcessorTimes times(int cpu);

  // True values now: events per second of one processor (both modes) or of a
  // whole package, watts, degrees (core -1: the package, i.e. its hottest
  // core), the core clock while busy, joules since creation.
  double trueRate(int cpu, SimEvent event) const;
  double truePackageRate(int package, SimEvent event) const;
  double truePower(int package, SimPowerDomain domain) const;
  double trueTemperature(int package, int core = -1) const;
  double trueClockMhz(int cpu) const;
  double trueEnergyJoules(int package, SimPowerDomain domain);
  double tscMhz() const;

  // Machine clock: the monotonic clock by default; manual for deterministic
  // tests (advanceMs then moves it; in real mode advanceMs skips ahead).
  void useManualClock();
  bool manualClock() const;
  void advanceMs(uint64_t ms);
  uint64_t nowNs() const;

  // Named objects shared by the processes of this machine.
  const std::shared_ptr<SimMutexRegistry>& mutexes() const { return m_mutexes; }
  const std::shared_ptr<SimInstanceLockRegistry>& instanceLocks() const { return m_instanceLocks; }

 private:
  // Fixed at construction, read without a lock.
  const SimMachineConfig m_config;
  std::vector<std::vector<int>> m_groups;
  const SimCpuid m_cpuid;
  const std::vector<SimLogicalProcessor> m_cpus;
  SimClock m_clock;  // thread-safe on its own
  // Thread-safe on its own; its mutex is taken before the clock's, never after.
  SimHardware m_hardware;
  SimKernelPerf m_kernel;  // thread-safe on its own; takes its mutex before the hardware's
  const std::shared_ptr<SimMutexRegistry> m_mutexes;
  const std::shared_ptr<SimInstanceLockRegistry> m_instanceLocks;
};

}  // namespace tv2::sim

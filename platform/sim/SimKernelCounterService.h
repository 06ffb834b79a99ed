#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/sim/SimMachine.h"

namespace tv2::sim {

// Who the simulated process is, for the kernel's counters.
enum class SimKernelPrivilege {
  kRoot,       // opens CPU-wide events itself
  kHostGroup,  // a member of the system host's group: the host opens them
  kNone,       // neither: only a paranoid level of 0 or below lets it count
};

// The kernel's counters, power and temperature interfaces of a simulated
// machine as one process sees them: the machine's perf events (shared with
// its other processes), hwmon temperatures and powercap energy, all from the
// workload's truth. By default the process is root.
//
// Every method may be called from any thread: the inventory's fixed part is
// built at construction and only read afterwards, the privilege is atomic,
// and the machine is thread-safe on its own.
class SimKernelCounterService : public KernelCounterService {
 public:
  static constexpr const char* kHostGroup = "tarvelle2";
  // KernelCounterInventory::blockedReason is also set, on its own, when the
  // kernel has no core PMU, as the Linux service does.

  explicit SimKernelCounterService(std::shared_ptr<SimMachine> machine);

  // Switches. The paranoid level and event errors are the machine's (its
  // kernel's), the privilege this process's.
  void setPrivilege(SimKernelPrivilege privilege);
  SimKernelPrivilege privilege() const;
  void setParanoid(int level) { m_machine->kernel().setParanoid(level); }
  void setWatchdog(bool on) { m_machine->kernel().setWatchdog(on); }
  // Every count of one event (on every processor, for every process) is
  // multiplied by factor from now on; 1 makes it right again.
  void setEventError(KernelEvent event, double factor) { m_machine->kernel().setEventError(event, factor); }

  // Truth, for tests: what an event counts per second on a processor (OS
  // index; energy events in counts of the power PMU's unit), a rail's watts,
  // and a sensor's temperature unrounded.
  double trueRate(int cpu, KernelEvent event) const;
  double truePower(int package, KernelEvent energyEvent) const;
  double trueTemperature(int sensor) const;

  KernelCounterInventory inventory() override;
  std::unique_ptr<KernelEventGroup> openGroup(int group, int index, std::span<const KernelEvent> events,
                                              KernelOpenError* error) override;
  bool readTemperature(int sensor, int32_t* milliCelsius) override;
  bool readEnergy(int zone, uint64_t* microjoules, uint64_t* timeNs) override;
  // cpufreq's current clock: the processor's clock, readable by every user.
  bool readFrequency(int group, int index, uint32_t* kiloHertz) override;

 private:
  const std::shared_ptr<SimMachine> m_machine;
  // Fixed at construction, read without a lock: PMUs, processors, sensors, zones.
  const KernelCounterInventory m_fixed;
  const std::vector<int> m_packageCpu;  // a processor of each package, by package number
  std::atomic<SimKernelPrivilege> m_privilege{SimKernelPrivilege::kRoot};  // written by tests
};

}  // namespace tv2::sim

#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/sim/SimHardware.h"
#include "platform/sim/SimKernelPmus.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"

namespace tv2::sim {

// The perf events of the simulated machine's kernel: the counting groups every
// process on the machine has open, how they share each logical processor's
// counters, and what they have counted. One per machine.
//
// Counts come from the workload's totals. A group counts only while it is on
// the hardware. When the groups open on a processor need more counters than
// its PMU has, the kernel rotates them every kRotationNs: each rotation starts
// one group further along the list (groups in the order they were opened) and
// schedules groups until the first that does not fit; the group's time
// running then falls below its time enabled. Between two updates a group's
// counts grow by the workload's counts in that stretch times the share of it
// the group was running, so under a steady load count / time running is the
// true rate. Msr, power and software events take no counters and always run.
//
// Thread-safe: m_mutex guards every member below it and is taken before the
// hardware's mutex, never after.
class SimKernelPerf {
 public:
  static constexpr uint64_t kRotationNs = 4000000;  // perf_event_mux_interval_ms 4

  SimKernelPerf(const SimMachineConfig& config, const std::vector<SimLogicalProcessor>& cpus,
                SimHardware& hardware);
  SimKernelPerf(const SimKernelPerf&) = delete;
  SimKernelPerf& operator=(const SimKernelPerf&) = delete;

  const SimKernelPmus& pmus() const { return m_pmus; }

  // /proc/sys/kernel/perf_event_paranoid.
  void setParanoid(int level);
  int paranoid() const;
  // The NMI watchdog (kernel.nmi_watchdog) on or off.
  void setWatchdog(bool on);
  // Multiplies every count of one event by factor from now on (1: right
  // again), for tests that must notice one wrong event.
  void setEventError(KernelEvent event, double factor);

  // Opens events as one counting group on processor cpu (OS index). A
  // privileged opener is root or the system host; anyone else is refused
  // CPU-wide events while the paranoid level is above 0. 0 on failure, with
  // *error filled as the kernel's refusal would be.
  uint64_t open(int cpu, std::span<const KernelEvent> events, bool privileged, KernelOpenError* error);
  bool read(uint64_t id, KernelGroupReading* out);
  void close(uint64_t id);

  // Groups open on a processor, for tests.
  int openGroups(int cpu) const;

 private:
  enum class Kind { kCore, kMsr, kPower, kSoftware };
  struct Group {
    int cpu = 0;
    Kind kind = Kind::kSoftware;
    std::vector<KernelEvent> events;
    uint64_t enabledNs = 0;
    uint64_t runningNs = 0;
    std::array<double, KernelGroupReading::kMaxEvents> counts{};
    SimHardware::Totals last;  // the totals it has counted up to
  };
  // Counters taken on one processor's PMU while groups are scheduled.
  struct Usage {
    int general = 0;
    std::array<bool, 3> fixed{};
  };

  // What the kernel checks before it opens anything; false with *error set.
  bool validate(int cpu, std::span<const KernelEvent> events, bool privileged, Kind* kind,
                KernelOpenError* error) const;
  // What is taken before any group is scheduled: the watchdog's counter.
  Usage pinnedUsage(const SimCorePmu& pmu) const;
  // Takes the counters group needs from *usage; false (usage unspecified)
  // when they are not free.
  bool fits(const SimCorePmu& pmu, std::span<const KernelEvent> events, Usage* usage) const;
  // Brings every group of cpu up to the machine clock; the totals it used.
  SimHardware::Totals advanceLocked(int cpu);
  // Time each of the core groups (in rotation order) ran in [from, to).
  std::vector<uint64_t> runningLocked(const SimCorePmu& pmu, const std::vector<Group*>& core,
                                      uint64_t from, uint64_t to) const;
  // The growth of one event's count between two totals, before the share run.
  double growth(const Group& group, KernelEvent event, const SimHardware::Totals& now) const;

  const SimKernelPmus m_pmus;
  const std::vector<SimLogicalProcessor>& m_cpus;  // the machine's, outlives this
  const double m_tscMhz;
  SimHardware& m_hardware;  // thread-safe on its own, outlives this
  mutable std::mutex m_mutex;
  // Guarded by m_mutex; written by the setters, open and close, and read().
  int m_paranoid = 2;
  bool m_watchdog = false;
  std::array<double, kKernelEventCount> m_errors{};
  std::map<uint64_t, Group> m_groups;  // by id: ascending ids are the opening order
  uint64_t m_nextId = 1;
};

}  // namespace tv2::sim

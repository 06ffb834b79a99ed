#pragma once

#include <linux/perf_event.h>

#include <optional>
#include <string_view>

#include "platform/KernelCounterService.h"
#include "platform/linux/perf/PerfEventSources.h"

namespace tv2 {

// The fixed list of KernelEvent as perf_event_attr: generic hardware events
// on the CPU's core PMU, the msr and power PMUs' events as their sysfs files
// give them, and the software cpu-clock. Counting only: no sampling period,
// no exclusions (the whole processor is counted, as the register path does),
// every event read as part of its group with the enabled and running times.
class PerfEventTable {
 public:
  enum class Kind { kCore, kMsr, kPower, kSoftware };

  static constexpr uint64_t kReadFormat =
      PERF_FORMAT_GROUP | PERF_FORMAT_TOTAL_TIME_ENABLED | PERF_FORMAT_TOTAL_TIME_RUNNING;

  static Kind kind(KernelEvent event);
  // The event's file name under a PMU's events/ folder ("cpu-cycles",
  // "aperf", "energy-pkg"), also used in messages.
  static const char* name(KernelEvent event);
  // The event whose sysfs name is `name` among those of `kind`.
  static std::optional<KernelEvent> byName(Kind kind, std::string_view name);
  // The kernel's generic id (PERF_COUNT_HW_*) of a core event.
  static uint64_t genericId(KernelEvent event);

  // The CPU on which `event` is opened for processor `cpu`: the power PMU
  // counts a package's energy on the CPU its cpumask names; everything else
  // on `cpu` itself.
  static int countingCpu(const PerfEventSources& sources, int cpu, KernelEvent event);

  // Fills *attr for `event` on `cpu`. `leader`: the group's first event,
  // opened disabled so that the group starts counting as a whole. False
  // with *error filled (kErrorNotSupported, kErrorInvalidParameter) when the
  // kernel does not offer the event there.
  static bool attr(const PerfEventSources& sources, int cpu, KernelEvent event, bool leader,
                   perf_event_attr* attr, KernelOpenError* error);
};

}  // namespace tv2

#pragma once

#include <linux/perf_event.h>

#include <span>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/linux/perf/OwnedFd.h"
#include "platform/linux/perf/PerfEventSources.h"

namespace tv2 {

// Opens counting groups with perf_event_open: all processes (pid -1) on one
// CPU, the first event the leader, every descriptor close-on-exec. The
// leader is opened disabled and the whole group enabled once every member
// is in, so that all of its counts cover the same time.
class PerfGroupOpener {
 public:
  // Opens `events` on processor `cpu` (power events on the CPU that counts
  // the package). At most KernelGroupReading::kMaxEvents; power events only
  // with power events. On failure false, *fds empty, *error filled.
  static bool open(const PerfEventSources& sources, int cpu, std::span<const KernelEvent> events,
                   std::vector<OwnedFd>* fds, KernelOpenError* error);

  // Opens prepared attributes as one group on `cpu` and enables it; `names`
  // (same length) for messages. The attributes' disabled bits are left as
  // given.
  static bool openAttributes(int cpu, std::span<const perf_event_attr> attrs,
                             std::span<const char* const> names, std::vector<OwnedFd>* fds,
                             KernelOpenError* error);
};

}  // namespace tv2

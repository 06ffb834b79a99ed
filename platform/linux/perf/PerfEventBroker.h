#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/linux/perf/OwnedFd.h"

namespace tv2 {

// Opens counting groups for a process that may not open CPU-wide events
// itself: the system host opens the fixed events and hands the descriptors
// over. The caller then reads the group's leader with no further round trip.
//
// Threads: any; an implementation serialises its own requests.
class PerfEventBroker {
 public:
  virtual ~PerfEventBroker() = default;

  // Why the broker cannot open events for this process now, in one line
  // (host not installed, not in its group, no answer ...); empty when it can.
  virtual std::string unavailableReason() = 0;

  // Opens `events` as one counting group on kernel CPU `cpu`, enabled and
  // counting. On success *fds holds one descriptor per event in the order
  // asked, the group leader first. On failure false, *fds empty and *error
  // filled (the host's refusal or the kernel's errno with its text).
  virtual bool openGroup(int cpu, std::span<const KernelEvent> events, std::vector<OwnedFd>* fds,
                         KernelOpenError* error) = 0;
};

}  // namespace tv2

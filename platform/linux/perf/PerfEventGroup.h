#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/linux/perf/OwnedFd.h"

namespace tv2 {

// An open counting group, read whole with one read() of its leader. The
// descriptors were opened by this process or passed by the system host.
//
// Threads: read() by one thread at a time (the interface's contract); the
// descriptors are fixed at construction.
class PerfEventGroup : public KernelEventGroup {
 public:
  // `fds`: the group's descriptors, leader first, one per event.
  explicit PerfEventGroup(std::vector<OwnedFd> fds);

  bool read(KernelGroupReading* out) override;

  int eventCount() const { return static_cast<int>(m_fds.size()); }
  int leaderFd() const { return m_fds.empty() ? -1 : m_fds.front().get(); }

  // Checks one read of a group (nr, time enabled, time running, values) of
  // `bytes` bytes against the `expected` number of events and copies it out.
  static bool parse(const uint64_t* words, size_t bytes, int expected, KernelGroupReading* out);

 private:
  std::vector<OwnedFd> m_fds;
};

}  // namespace tv2

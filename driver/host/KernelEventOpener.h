#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/protocol/FrameCodec.h"
#include "platform/linux/perf/OwnedFd.h"
#include "platform/linux/perf/PerfEventSources.h"
#include "platform/linux/perf/PerfInventoryReader.h"

namespace tv2 {

// The host's side of "open these kernel events as one counting group on CPU
// N". What it opens is decided here and nowhere else: only events of the
// monitor's fixed list, at most one group's worth, on a CPU the kernel has
// online, each built from the host's own reading of sysfs and copied into a
// clean attribute that can only count: no sampling period or frequency, no
// sample record, no inheritance, every process (pid -1). The client names
// events by number and never sees or sends an attribute.
//
// Threads: the host's one thread.
class KernelEventOpener {
 public:
  // Reads what the kernel offers under sysRoot and procRoot once, now.
  KernelEventOpener(std::string sysRoot, std::string procRoot);

  // Returns the answer's status; on kStatusOk *fds holds one descriptor per
  // event, leader first, enabled and counting. *systemError is the kernel's
  // errno when it refused the open, else 0.
  uint32_t open(const RequestFrame& request, std::vector<OwnedFd>* fds, uint32_t* systemError);

 private:
  bool online(int cpu) const;

  const PerfInventoryReader m_reader;
  PerfEventSources m_sources;  // fixed after construction
};

}  // namespace tv2

#pragma once

#include <cstdint>

namespace tv2 {

// Keeps the host's one thread on the processor its current caller runs on.
// The monitor's samplers are each bound to a processor and ask for that
// processor's registers, in bursts. Serving a burst there turns every wake-up
// in both directions into a local one, and the kernel's MSR driver reads the
// register without asking another processor for it; on a virtual machine
// each of those cross-processor steps costs tens of microseconds. A move
// happens at most once per change of caller; a processor the host may not
// run on leaves it where it is.
//
// Threads: the host's one thread.
class CallerAffinity {
 public:
  // cpu: the processor the request's transport header names (-1: unknown).
  void follow(int32_t cpu);
  // The processor the host was last moved to; -1 before any move.
  int32_t current() const { return m_current; }

 private:
  int32_t m_lastAsked = -1;
  int32_t m_current = -1;
};

}  // namespace tv2

#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class KernelGroupCounter;

// One event of a logical processor's counting group as a rate in millions
// per second: the count's difference over the time the group was counting,
// so cycles read in MHz (unhalted: a halted processor does not count) and
// instructions in MIPS. A group shared with other users counts only part of
// the time; dividing by that part scales it. No figure for a pass whose
// group reading did not work or did not count.
//
// Threads: Update runs on the sampler of the logical processor whose list
// holds it and its group (which stands earlier in the same list).
class KernelEventCounter : public CCounter {
 public:
  KernelEventCounter(int32_t index, const KernelGroupCounter* group, int32_t slot);

  // The event's latest total count; -1 before the group's first reading.
  double Read() override;
  void Update(CTimer* timer) override;

  int32_t slot() const { return m_slot; }

 private:
  const KernelGroupCounter* m_group;
  const int32_t m_slot;
};

}  // namespace tv2

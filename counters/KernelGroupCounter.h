#pragma once

#include <cstdint>
#include <memory>

#include "counters/model/CCounter.h"
#include "platform/KernelCounterService.h"

namespace tv2 {

// Owns one of the kernel's counting groups (the events of a logical
// processor, or a package's energy events) and reads it whole, once per
// pass. It stands in its list before the counters that show its events, so
// they find this pass's differences ready. Its own figure is the share of
// the interval the group was counting on the hardware, in percent (below 100
// when the kernel shares the counters with other users and scales).
//
// Threads: Update and every accessor run on the sampler bound to the list's
// logical processor; ClearReadings on the user-interface thread under the
// package's exclusive counter lock, which no pass holds then.
class KernelGroupCounter : public CCounter {
 public:
  KernelGroupCounter(int32_t index, std::unique_ptr<KernelEventGroup> group, int32_t eventCount);

  // One read of the group; -1 when it fails.
  double Read() override;
  void Update(CTimer* timer) override;

  // Whether this pass gave differences to turn into figures: the read
  // worked, an earlier reading exists and the group counted for some time.
  bool fresh() const { return m_fresh; }
  // This pass's differences: count of event `slot` (in opening order), ns
  // enabled and ns counting. Only meaningful while fresh(); a slot outside
  // the group, or one whose count went down, gives false.
  bool countDelta(int32_t slot, double* count) const;
  double enabledDelta() const { return m_enabledDelta; }
  double runningDelta() const { return m_runningDelta; }
  // The latest count of a slot, for the raw reading of the event's counter.
  double lastCount(int32_t slot) const;

  int32_t eventCount() const { return m_eventCount; }

 private:
  std::unique_ptr<KernelEventGroup> m_group;
  const int32_t m_eventCount;
  KernelGroupReading m_current{};
  KernelGroupReading m_last{};    // the last reading that worked
  KernelGroupReading m_before{};  // the one before it: this pass's differences
  bool m_haveLast = false;
  bool m_readOk = false;
  bool m_fresh = false;
  double m_enabledDelta = 0;
  double m_runningDelta = 0;
};

}  // namespace tv2

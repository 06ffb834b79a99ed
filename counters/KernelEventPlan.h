#pragma once

#include <cstdint>
#include <vector>

#include "platform/KernelCounterService.h"

namespace tv2 {

class CProcessor_2;

// Which kernel events each configuration of a package counts. Every
// configuration is one counting group per logical processor with the
// cycles and instructions (and reference cycles where fixed counters take
// them), plus as many of the other figures' events as the processor's
// general counters hold at once, so that a group never has to share the
// hardware with itself. One general counter is left free for the kernel's
// own watchdog, which otherwise keeps a full group from ever counting.
//
// Built from the processor's counter counts (discovery) and the events its
// core PMUs offer; pure, used by the configurations and the catalogue alike.
struct KernelEventPlan {
  std::vector<std::vector<KernelEvent>> configurations;

  // offered: kernelEventBit of every event one of the package's core PMUs
  // lists (the union). No PMU: one configuration without events.
  static KernelEventPlan make(int32_t generalCounters, int32_t fixedCounters, uint32_t offered);
  // The plan of a package: its processors' PMUs in the inventory.
  static KernelEventPlan forPackage(const CProcessor_2& processor, const KernelCounterInventory& inventory);

  int32_t count() const { return static_cast<int32_t>(configurations.size()); }
  // The events of configuration `index`; empty outside the plan.
  const std::vector<KernelEvent>& events(int32_t index) const;
  bool counts(int32_t index, KernelEvent event) const;
};

// The inventory's processor entry of a logical processor; null when the
// kernel did not list it.
const KernelProcessor* findKernelProcessor(const KernelCounterInventory& inventory, int32_t group, int32_t index);

}  // namespace tv2

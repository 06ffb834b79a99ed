#include "counters/KernelEventPlan.h"

#include <algorithm>

#include "cpu/CProcessor_2.h"

namespace tv2 {
namespace {

using E = KernelEvent;

// Events that only mean something together go into one configuration: a hit
// rate needs its references and misses from the same time slice.
struct EventSet {
  E events[2];
  int32_t size;
};
constexpr EventSet kOptionalSets[] = {
    {{E::kCacheReferences, E::kCacheMisses}, 2},
    {{E::kBranchInstructions, E::kBranchMisses}, 2},
    {{E::kStalledCyclesBackend, E::kCount}, 1},
};

bool offers(uint32_t offered, E event) { return (offered & kernelEventBit(event)) != 0; }

}  // namespace

KernelEventPlan KernelEventPlan::make(int32_t generalCounters, int32_t fixedCounters, uint32_t offered) {
  KernelEventPlan plan;
  // Intel's three fixed counters take instructions, cycles and reference
  // cycles; elsewhere those use general counters too.
  const bool fixedBase = fixedCounters >= 3;
  std::vector<E> base;
  for (E event : {E::kCycles, E::kInstructions}) {
    if (offers(offered, event)) base.push_back(event);
  }
  if (fixedBase && offers(offered, E::kRefCycles)) base.push_back(E::kRefCycles);
  const int32_t general = std::max<int32_t>(generalCounters > 0 ? generalCounters : 4, 2) - 1;
  const int32_t room = std::max<int32_t>(fixedBase ? general : general - static_cast<int32_t>(base.size()), 1);

  std::vector<E> current = base;
  int32_t used = 0;
  for (const EventSet& set : kOptionalSets) {
    int32_t wanted = 0;
    for (int32_t i = 0; i < set.size; ++i) wanted += offers(offered, set.events[i]) ? 1 : 0;
    // A pair of which the PMU offers only one half gives no figure.
    if (wanted != set.size) continue;
    if (used > 0 && used + wanted > room) {
      plan.configurations.push_back(current);
      current = base;
      used = 0;
    }
    for (int32_t i = 0; i < set.size; ++i) current.push_back(set.events[i]);
    used += wanted;
  }
  plan.configurations.push_back(current);
  return plan;
}

KernelEventPlan KernelEventPlan::forPackage(const CProcessor_2& processor, const KernelCounterInventory& inventory) {
  uint32_t offered = 0;
  for (const LogicalProcessorRecord& thread : processor.threads) {
    const KernelProcessor* entry = findKernelProcessor(inventory, thread.group, thread.index);
    if (entry == nullptr || entry->pmu < 0 || entry->pmu >= static_cast<int>(inventory.corePmus.size())) continue;
    offered |= inventory.corePmus[static_cast<size_t>(entry->pmu)].events;
  }
  return make(processor.generalCounterCount, processor.fixedCounterCount, offered);
}

const std::vector<KernelEvent>& KernelEventPlan::events(int32_t index) const {
  static const std::vector<KernelEvent> kNone;
  if (index < 0 || index >= count()) return kNone;
  return configurations[static_cast<size_t>(index)];
}

bool KernelEventPlan::counts(int32_t index, KernelEvent event) const {
  const std::vector<KernelEvent>& list = events(index);
  return std::find(list.begin(), list.end(), event) != list.end();
}

const KernelProcessor* findKernelProcessor(const KernelCounterInventory& inventory, int32_t group, int32_t index) {
  for (const KernelProcessor& entry : inventory.processors) {
    if (entry.group == group && entry.index == index) return &entry;
  }
  return nullptr;
}

}  // namespace tv2

#include "app/KernelCounterSetup.h"

#include "counters/KernelEventPlan.h"
#include "cpu/ModelGroups.h"

namespace tv2 {

void ChooseCounterSources(CTList<CProcessor_2>& processors, const KernelCounterInventory* inventory) {
  for (CProcessor_2* processor : processors) {
    processor->kernelCounters =
        inventory != nullptr && classifyProcessor(processor->processorCode) == ModelGroup::kUnlisted;
    if (inventory == nullptr) continue;
    for (LogicalProcessorRecord& thread : processor->threads) {
      const KernelProcessor* entry = findKernelProcessor(*inventory, thread.group, thread.index);
      thread.coreType = KernelCoreType::kUnknown;
      if (entry != nullptr && entry->pmu >= 0 && entry->pmu < static_cast<int>(inventory->corePmus.size())) {
        thread.coreType = inventory->corePmus[static_cast<size_t>(entry->pmu)].coreType;
      }
    }
  }
}

std::string KernelCountersNotice(const KernelCounterInventory& inventory, const KernelOpenSummary& summary) {
  const std::string prefix = "event counters off: ";
  const std::string shown = "; usage is shown, with temperatures and clock where the kernel gives them";
  const bool blocked = !inventory.mayOpenDirectly && !inventory.hostOpens;
  // The platform's own line says exactly what is missing when it has one.
  if ((inventory.corePmus.empty() || blocked) && !inventory.blockedReason.empty()) {
    return prefix + inventory.blockedReason + shown;
  }
  if (inventory.corePmus.empty()) {
    return prefix + "the kernel offers no hardware performance counters (no PMU: a virtual machine or an "
                    "unsupported processor)" + shown;
  }
  if (blocked) return prefix + "this user may not open them" + shown;
  if (summary.opened == 0 && summary.failed > 0) {
    return prefix + (summary.firstReason.empty() ? std::string("the kernel refused them") : summary.firstReason) +
           shown;
  }
  return {};
}

}  // namespace tv2

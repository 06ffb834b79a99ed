#pragma once

#include <cstdint>
#include <memory>

#include "app/CCountersConfig.h"
#include "app/CProfile.h"
#include "app/ConfigurationViews.h"
#include "platform/KernelCounterService.h"

namespace tv2 {

class CProcessor_2;
class CTarvelle2App;

// How long a configuration switch waits for the driver lock.
inline constexpr uint32_t kRebuildLockWaitMs = 2000;

// The configurations of the processor's class, each with its name, index and
// default profile; *count receives how many (1, 2 or 3). A kernel-backed
// processor has those of its event plan (KernelEventPlan over the kernel's
// inventory). No processor: no configurations and a count of 0.
std::unique_ptr<CCountersConfig[]> CreateConfigurations(const CProcessor_2* processor, int32_t* count,
                                                        const KernelCounterInventory* kernel = nullptr);

// The configuration switch the left view runs on message 0x427: empties the
// graph slots, makes number current and rebuilds the selected processor's
// counters with that configuration (none when number is outside the array),
// then refreshes the left view and, when asked and the configuration has one,
// applies its default profile. Selecting the current number does nothing.
// True when the counters were rebuilt; on false (no processor, driver lock
// not obtained) the old counters stay and currentConfig keeps the new number.
bool SelectConfiguration(CTarvelle2App& app, ConfigurationViews& views, int32_t number, bool applyDefaultProfile);

// The locked rebuild: the driver lock within 2000 ms (none for a kernel-backed
// package, whose counters need no driver), the lists rebuilt under
// the package's exclusive counter lock, then every sampler's recorded binding
// applied again (building moved the user-interface thread, and without group
// functions the whole process). False, with nothing changed, when the lock
// was not obtained.
bool RebuildCounters(CTarvelle2App& app, CProcessor_2& processor, const CCountersConfig* configuration);

// Puts the profile's metrics into graph slots 0-3 in order, each as the first
// counter of the processor with type code 0x100 + the metric number; metrics
// the processor lacks take no slot, and at most four slots are filled. Returns
// the number of slots filled. User-interface thread.
int32_t ApplyProfile(const CProcessor_2& processor, const CProfile& profile, ConfigurationViews& views);

}  // namespace tv2

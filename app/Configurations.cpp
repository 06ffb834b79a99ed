#include "app/Configurations.h"

#include <cstdio>

#include "app/CTarvelle2App.h"
#include "counters/KernelEventPlan.h"
#include "counters/MetricCodes.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ModelGroups.h"

namespace tv2 {
namespace {

constexpr int32_t kGraphSlots = 4;


// Default profiles per configuration, by class.
constexpr int32_t kIntelCore0[] = {kMetricUsage, kMetricTemperature, kMetricL2HitRate, kMetricL3HitRate};
constexpr int32_t kIntelCore1[] = {kMetricUsage, kMetricInstructions, kMetricStallRatio, kMetricBranchHitRate};
constexpr int32_t kAtom0[] = {kMetricUsage, kMetricTemperature, kMetricL2RequestRate, kMetricL2HitRate};
constexpr int32_t kAtom1[] = {kMetricUsage, kMetricTemperature, kMetricBranchInstructionRate,
                              kMetricBranchHitRate};
constexpr int32_t kAtom2[] = {kMetricUsage, kMetricTemperature, kMetricUnhaltedCycles, kMetricStallRatio};
constexpr int32_t kAmd0[] = {kMetricUsage,      kMetricTemperature, kMetricPackagePower,
                             kMetricIpc,        kMetricL2HitRate,   kMetricL3HitRate};
constexpr int32_t kAmd1[] = {kMetricUsage,        kMetricTemperature, kMetricPackagePower,
                             kMetricInstructions, kMetricStallRatio,  kMetricBranchHitRate};
constexpr int32_t kOther0[] = {kMetricUsage,        kMetricTemperature,    kMetricPackagePower,
                               kMetricInstructions, kMetricUnhaltedCycles, kMetricIpc};

struct ProfileSpan {
  const int32_t* metrics;
  int32_t count;
};
template <size_t N>
constexpr ProfileSpan span(const int32_t (&metrics)[N]) {
  return {metrics, static_cast<int32_t>(N)};
}

// The default profiles of a processor's configurations, in configuration order.
int32_t defaultProfiles(int32_t processorCode, ProfileSpan* out) {
  switch (classifyProcessor(processorCode)) {
    case ModelGroup::Intel_B133:
    case ModelGroup::Intel_SNB:
      out[0] = span(kIntelCore0);
      out[1] = span(kIntelCore1);
      return 2;
    case ModelGroup::Intel_FSB:
      out[0] = span(kAtom0);
      out[1] = span(kAtom1);
      out[2] = span(kAtom2);
      return 3;
    case ModelGroup::AMD_KV:
      if (processorCode == kCodeAmdKabini) {
        out[0] = span(kAmd0);
        return 1;
      }
      [[fallthrough]];
    case ModelGroup::AMD_BD:
    case ModelGroup::AMD_TN:
      out[0] = span(kAmd0);
      out[1] = span(kAmd1);
      return 2;
    case ModelGroup::kUnlisted: break;
  }
  out[0] = span(kOther0);
  return 1;
}

// A kernel-backed configuration's default profile: usage, temperature and
// power, then what this configuration's events add, then the figures every
// one of them has.
void addKernelProfile(CProfile& profile, const KernelEventPlan& plan, int32_t index) {
  for (int32_t metric : {kMetricUsage, kMetricTemperature, kMetricPackagePower}) AddMetric(profile, metric);
  if (plan.counts(index, KernelEvent::kCacheReferences)) AddMetric(profile, kMetricL3HitRate);
  if (plan.counts(index, KernelEvent::kBranchInstructions)) AddMetric(profile, kMetricBranchHitRate);
  if (plan.counts(index, KernelEvent::kStalledCyclesBackend)) AddMetric(profile, kMetricStallRatio);
  for (int32_t metric : {kMetricIpc, kMetricInstructions, kMetricUnhaltedCycles}) AddMetric(profile, metric);
}

}  // namespace

std::unique_ptr<CCountersConfig[]> CreateConfigurations(const CProcessor_2* processor, int32_t* count,
                                                        const KernelCounterInventory* kernel) {
  *count = 0;
  if (processor == nullptr) return nullptr;
  ProfileSpan profiles[3];
  const bool kernelBacked = processor->kernelCounters && kernel != nullptr;
  KernelEventPlan plan;
  if (kernelBacked) plan = KernelEventPlan::forPackage(*processor, *kernel);
  int32_t n = kernelBacked ? plan.count() : defaultProfiles(processor->processorCode, profiles);
  auto configs = std::make_unique<CCountersConfig[]>(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    CCountersConfig& config = configs[static_cast<size_t>(i)];
    char name[32];
    std::snprintf(name, sizeof name, "配置 %d", static_cast<int>(i));
    config.name = name;
    config.index = i;
    config.profile = std::make_unique<CProfile>();
    if (kernelBacked) {
      addKernelProfile(*config.profile, plan, i);
    } else {
      for (int32_t m = 0; m < profiles[i].count; ++m) AddMetric(*config.profile, profiles[i].metrics[m]);
    }
  }
  *count = n;
  return configs;
}

bool SelectConfiguration(CTarvelle2App& app, ConfigurationViews& views, int32_t number, bool applyDefaultProfile) {
  if (number == app.currentConfig) return false;
  views.clearGraphSlots();
  app.currentConfig = number;
  // A number outside the array (a stale profile, the resume path's -1 before
  // the real number) rebuilds without event counters.
  const CCountersConfig* configuration =
      app.configs && number >= 0 && number < app.configCount ? &app.configs[static_cast<size_t>(number)] : nullptr;
  CProcessor_2* processor = app.SelectedProcessor();
  if (processor == nullptr || !RebuildCounters(app, *processor, configuration)) return false;
  views.refreshCounterLists();
  if (applyDefaultProfile && configuration != nullptr && configuration->profile) {
    ApplyProfile(*processor, *configuration->profile, views);
  }
  return true;
}

bool RebuildCounters(CTarvelle2App& app, CProcessor_2& processor, const CCountersConfig* configuration) {
  if (processor.kernelCounters) {
    app.BuildCounterLists(processor, configuration);
    return true;
  }
  uint32_t error = 0;
  if (!app.driver || !app.driver->Acquire(&error, kRebuildLockWaitMs)) return false;
  app.BuildCounterLists(processor, configuration);
  app.engine().reapplyBindings();
  app.driver->Release();
  return true;
}

int32_t ApplyProfile(const CProcessor_2& processor, const CProfile& profile, ConfigurationViews& views) {
  int32_t slot = 0;
  CTList<CCounter> found;
  for (int32_t metric : profile.metrics) {
    if (metric == -1) continue;
    if (processor.FindCounters(kMetricLevelMask, packageCode(metric), found) > 0 && slot < kGraphSlots) {
      views.assignGraph(found.head->object->index(), slot);
      ++slot;
    }
  }
  return slot;
}

}  // namespace tv2

#include "platform/sim/SimTopology.h"

#include <algorithm>
#include <map>
#include <set>

namespace tv2::sim {

namespace {

// Efficiency cores of a hybrid part have one thread each.
int logicalPerPackage(const SimProcessorModel& model) {
  return model.coresPerPackage * model.threadsPerCore -
         model.efficiencyCores * (model.threadsPerCore - 1);
}

bool derivedIdsUsable(const SimMachineConfig& config) {
  return config.apicIds.empty() ||
         config.apicIds.size() != static_cast<size_t>(config.packages * logicalPerPackage(config.model));
}

uint32_t derivedApicId(const SimApicLayout& layout, const SimProcessorModel& model, int osIndex) {
  const int perPackage = logicalPerPackage(model);
  const int package = osIndex / perPackage;
  const int within = osIndex % perPackage;
  // The performance cores come first, thread by thread, then the efficiency
  // cores with thread 0 only: their ids leave the thread numbers unused.
  const int performanceThreads = (model.coresPerPackage - model.efficiencyCores) * model.threadsPerCore;
  const bool efficiency = within >= performanceThreads;
  const int core = efficiency ? model.coresPerPackage - model.efficiencyCores + (within - performanceThreads)
                              : within / model.threadsPerCore;
  const int thread = efficiency ? 0 : within % model.threadsPerCore;
  return (static_cast<uint32_t>(package) << layout.packageShift) |
         (static_cast<uint32_t>(core) << layout.threadBits) | static_cast<uint32_t>(thread);
}

}  // namespace

int SimTopology::bitsFor(int n) {
  int bits = 0;
  while (bits < 31 && (1 << bits) < n) {
    ++bits;
  }
  return bits;
}

SimApicLayout SimTopology::layoutFor(const SimProcessorModel& model) {
  SimApicLayout layout;
  const int cores = std::max(1, model.coresPerPackage);
  const int threads = std::max(1, model.threadsPerCore);
  layout.logicalField = model.logicalPerPackageField > 0 ? model.logicalPerPackageField
                                                         : (1 << bitsFor(cores * threads));
  layout.coresField = model.coresPerPackageField > 0 ? model.coresPerPackageField : cores;
  layout.packageShift = bitsFor(layout.logicalField);
  layout.threadBits = bitsFor(std::max(1, layout.logicalField / layout.coresField));
  layout.reportedSplitHolds = layout.threadBits <= layout.packageShift &&
                              threads <= (1 << layout.threadBits) &&
                              cores <= (1 << (layout.packageShift - layout.threadBits));
  if (!layout.reportedSplitHolds) {
    layout.threadBits = bitsFor(threads);
    layout.packageShift = layout.threadBits + bitsFor(cores);
  }
  return layout;
}

SimMachineConfig SimTopology::sanitized(SimMachineConfig config) {
  SimProcessorModel& model = config.model;
  model.coresPerPackage = std::clamp(model.coresPerPackage, 1, kMaxProcessors);
  model.threadsPerCore = std::clamp(model.threadsPerCore, 1, kMaxProcessors / model.coresPerPackage);
  model.coresPerComputeUnit = std::clamp(model.coresPerComputeUnit, 1, model.coresPerPackage);
  model.efficiencyCores = std::clamp(model.efficiencyCores, 0, model.coresPerPackage);
  config.packages = std::clamp(config.packages, 1, kMaxProcessors / logicalPerPackage(model));
  if (model.brand.size() > 48) {
    model.brand.resize(48);
  }
  return config;
}

std::vector<SimLogicalProcessor> SimTopology::build(const SimMachineConfig& config,
                                                    std::vector<std::vector<int>>* groups) {
  const SimProcessorModel& model = config.model;
  const SimApicLayout layout = layoutFor(model);
  const int count = config.packages * logicalPerPackage(model);
  const bool derived = derivedIdsUsable(config);
  const uint32_t threadMask = (1u << layout.threadBits) - 1;
  const uint32_t coreMask = (1u << (layout.packageShift - layout.threadBits)) - 1;

  std::vector<SimLogicalProcessor> cpus(static_cast<size_t>(count));
  std::map<int, std::vector<int>> byPackage;  // ordered by package number
  for (int i = 0; i < count; ++i) {
    SimLogicalProcessor& cpu = cpus[static_cast<size_t>(i)];
    cpu.apicId = derived ? derivedApicId(layout, model, i)
                         : static_cast<uint32_t>(config.apicIds[static_cast<size_t>(i)]);
    cpu.package = static_cast<int>(cpu.apicId >> layout.packageShift);
    cpu.core = static_cast<int>((cpu.apicId >> layout.threadBits) & coreMask);
    cpu.thread = static_cast<int>(cpu.apicId & threadMask);
    cpu.computeUnit = cpu.core / model.coresPerComputeUnit;
    cpu.efficiency = cpu.core >= model.coresPerPackage - model.efficiencyCores;
    byPackage[cpu.package].push_back(i);
  }

  // Like Linux here: a package that does not fit into the rest of the current
  // group opens the next one; only a package larger than a group is split.
  groups->clear();
  for (const auto& [package, members] : byPackage) {
    const size_t size = members.size();
    const bool fits = !groups->empty() && groups->back().size() + size <= kMaxGroupSize;
    if (!fits && (groups->empty() || !groups->back().empty())) {
      groups->emplace_back();
    }
    for (int cpu : members) {
      if (groups->back().size() == kMaxGroupSize) {
        groups->emplace_back();
      }
      groups->back().push_back(cpu);
    }
  }
  for (size_t g = 0; g < groups->size(); ++g) {
    for (size_t i = 0; i < (*groups)[g].size(); ++i) {
      SimLogicalProcessor& cpu = cpus[static_cast<size_t>((*groups)[g][i])];
      cpu.group = static_cast<int>(g);
      cpu.index = static_cast<int>(i);
    }
  }
  return cpus;
}

std::string SimTopology::check(const SimMachineConfig& config) {
  std::string findings;
  auto note = [&findings](const std::string& text) { findings += text + "\n"; };
  const SimProcessorModel& model = config.model;

  if (config.packages < 1 || model.coresPerPackage < 1 || model.threadsPerCore < 1) {
    note("package, core and thread counts must be at least 1");
    return findings;  // the checks below divide by these
  }
  if (model.efficiencyCores < 0 || model.efficiencyCores > model.coresPerPackage) {
    note("efficiency cores must be 0..cores per package");
    return findings;
  }
  const int64_t total = int64_t{config.packages} *
                        (int64_t{model.coresPerPackage} * model.threadsPerCore -
                         int64_t{model.efficiencyCores} * (model.threadsPerCore - 1));
  if (total > kMaxProcessors) {
    note("more than " + std::to_string(kMaxProcessors) + " logical processors");
    return findings;
  }
  if (model.vendor.size() != 12) {
    note("vendor is not 12 characters");
  }
  if (model.brand.size() > 48) {
    note("brand is longer than 48 characters");
  }
  if (model.logicalPerPackageField > 255) {
    note("logical-per-package field exceeds 8 bits");
  }
  if (model.coresPerPackageField > 64 || model.coresPerPackage > 64) {
    note("cores per package exceed the 6-bit CPUID field");
  }
  if (model.coresPerComputeUnit < 1 || model.coresPerComputeUnit > 4 ||
      model.coresPerPackage % model.coresPerComputeUnit != 0) {
    note("cores per compute unit must be 1..4 and divide the cores per package");
  }
  const SimApicLayout layout = layoutFor(model);
  if (!layout.reportedSplitHolds) {
    note("logical-per-package and cores fields cannot hold the topology");
  }
  if (!config.apicIds.empty() && config.apicIds.size() != static_cast<size_t>(total)) {
    note("apicIds does not list one id per logical processor; ids are derived instead");
  }

  std::vector<std::vector<int>> groups;
  const std::vector<SimLogicalProcessor> cpus = build(config, &groups);
  std::set<uint32_t> seen;
  for (const SimLogicalProcessor& cpu : cpus) {
    if (cpu.apicId > 255) {
      note("APIC id " + std::to_string(cpu.apicId) + " does not fit CPUID 1 EBX[31:24]");
    }
    if (!seen.insert(cpu.apicId).second) {
      note("APIC id " + std::to_string(cpu.apicId) + " is used twice");
    }
  }
  for (size_t i = 0; i < model.caches.size(); ++i) {
    const SimCacheDesc& c = model.caches[i];
    if (c.level < 1 || c.level > 7 || c.type < 1 || c.type > 3 || c.sharingThreads < 1 ||
        c.sharingThreads > 4096 || c.ways < 1 || c.ways > 1024 || c.partitions < 1 ||
        c.partitions > 1024 || c.lineSize < 1 || c.lineSize > 4096 || c.sets < 1) {
      note("cache descriptor " + std::to_string(i) + " has a field outside its CPUID range");
    }
  }
  return findings;
}

}  // namespace tv2::sim

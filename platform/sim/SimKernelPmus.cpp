#include "platform/sim/SimKernelPmus.h"

#include <algorithm>

namespace tv2::sim {

namespace {

uint32_t bits(std::initializer_list<KernelEvent> events) {
  uint32_t mask = 0;
  for (KernelEvent e : events) {
    mask |= kernelEventBit(e);
  }
  return mask;
}

// The generic events every core PMU maps.
const uint32_t kCommonEvents =
    bits({KernelEvent::kInstructions, KernelEvent::kCycles, KernelEvent::kBranchInstructions,
          KernelEvent::kBranchMisses, KernelEvent::kCacheReferences, KernelEvent::kCacheMisses});

SimCorePmu intelPmu(const char* name, uint32_t type, KernelCoreType coreType, uint32_t pmuEax,
                    uint32_t pmuEdx, SimPartKind kind) {
  SimCorePmu pmu;
  pmu.desc.name = name;
  pmu.desc.type = type;
  pmu.desc.coreType = coreType;
  const int version = static_cast<int>(pmuEax & 0xFF);
  pmu.generalCounters = static_cast<int>((pmuEax >> 8) & 0xFF);
  pmu.fixedCounters = version >= 2 ? std::min(3, static_cast<int>(pmuEdx & 0x1F)) : 0;
  pmu.desc.events = kCommonEvents;
  // Reference cycles only count on fixed counter 2.
  if (pmu.fixedCounters >= 3) {
    pmu.desc.events |= kernelEventBit(KernelEvent::kRefCycles);
  }
  // The kernel maps stalled backend cycles on the Nehalem and Sandy Bridge
  // generations only.
  if (kind == SimPartKind::kIntelNehalem || kind == SimPartKind::kIntelSandyBridge) {
    pmu.desc.events |= kernelEventBit(KernelEvent::kStalledCyclesBackend);
  }
  return pmu;
}

}  // namespace

SimKernelPmus::SimKernelPmus(const SimMachineConfig& config) {
  const SimProcessorModel& model = config.model;
  const SimKernelConfig& kernel = config.kernel;
  m_intel = model.vendor != "AuthenticAMD";
  m_hybrid = m_intel && model.efficiencyCores > 0;
  m_hasL3 = std::any_of(model.caches.begin(), model.caches.end(),
                        [](const SimCacheDesc& c) { return c.level == 3; });
  if (kernel.corePmu) {
    if (m_hybrid) {
      m_corePmus.push_back(intelPmu("cpu_core", kCpuType, KernelCoreType::kPerformance, model.pmuEax,
                                    model.pmuEdx, model.part.kind));
      const uint32_t atomEax = model.efficiencyPmuEax != 0 ? model.efficiencyPmuEax : model.pmuEax;
      m_corePmus.push_back(intelPmu("cpu_atom", kCpuAtomType, KernelCoreType::kEfficiency, atomEax,
                                    model.pmuEdx, model.part.kind));
    } else if (m_intel) {
      m_corePmus.push_back(
          intelPmu("cpu", kCpuType, KernelCoreType::kUnknown, model.pmuEax, model.pmuEdx, model.part.kind));
    } else {
      SimCorePmu pmu;
      pmu.desc.name = "cpu";
      pmu.desc.type = kCpuType;
      pmu.desc.events = kCommonEvents | kernelEventBit(KernelEvent::kStalledCyclesBackend);
      pmu.generalCounters = model.amdCoreCounterExtension ? 6 : 4;
      m_corePmus.push_back(pmu);
    }
  }
  m_msrEvents = kernelEventBit(KernelEvent::kMsrTsc);
  if (kernel.msrAperfMperf) {
    m_msrEvents |= kernelEventBit(KernelEvent::kMsrAperf) | kernelEventBit(KernelEvent::kMsrMperf);
  }
  if (kernel.powerPmu) {
    const SimPowerFigures& f = model.part.power;
    m_powerEvents.push_back({KernelEvent::kEnergyPackage, kJoulesPerEnergyCount});
    if (m_intel) {
      m_powerEvents.push_back({KernelEvent::kEnergyCores, kJoulesPerEnergyCount});
    }
    if (m_intel && f.graphicsW > 0.0) {
      m_powerEvents.push_back({KernelEvent::kEnergyGpu, kJoulesPerEnergyCount});
    }
    if (m_intel && (f.dramIdleW > 0.0 || f.dramFullW > 0.0)) {
      m_powerEvents.push_back({KernelEvent::kEnergyRam, kJoulesPerEnergyCount});
    }
  }
}

int SimKernelPmus::pmuOf(const SimLogicalProcessor& cpu) const {
  if (m_corePmus.empty()) {
    return -1;
  }
  return m_hybrid && cpu.efficiency ? 1 : 0;
}

bool SimKernelPmus::offersPower(KernelEvent event) const {
  return std::any_of(m_powerEvents.begin(), m_powerEvents.end(),
                     [event](const KernelPowerEvent& p) { return p.event == event; });
}

SimPowerDomain SimKernelPmus::domainOf(KernelEvent event) {
  switch (event) {
    case KernelEvent::kEnergyCores:
      return SimPowerDomain::kCores;
    case KernelEvent::kEnergyGpu:
      return SimPowerDomain::kGraphics;
    case KernelEvent::kEnergyRam:
      return SimPowerDomain::kDram;
    default:
      return SimPowerDomain::kPackage;
  }
}

SimEvent SimKernelPmus::simEventOf(KernelEvent event, bool hasL3) {
  switch (event) {
    case KernelEvent::kInstructions:
      return SimEvent::kInstructions;
    case KernelEvent::kCycles:
    case KernelEvent::kMsrAperf:
      return SimEvent::kUnhaltedCycles;
    case KernelEvent::kRefCycles:
    case KernelEvent::kMsrMperf:
      return SimEvent::kReferenceCycles;
    case KernelEvent::kBranchInstructions:
      return SimEvent::kBranches;
    case KernelEvent::kBranchMisses:
      return SimEvent::kBranchMisses;
    case KernelEvent::kCacheReferences:
      return hasL3 ? SimEvent::kL3Requests : SimEvent::kL2Requests;
    case KernelEvent::kCacheMisses:
      return hasL3 ? SimEvent::kL3Misses : SimEvent::kL2Misses;
    case KernelEvent::kStalledCyclesBackend:
      return SimEvent::kStalledCycles;
    default:
      return SimEvent::kCount;
  }
}

}  // namespace tv2::sim

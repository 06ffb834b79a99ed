#pragma once

#include <cstdint>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimTopology.h"

namespace tv2::sim {

// CPUID answers of one processor model. Immutable after construction, so any
// thread may query it without a lock.
//
// Leaves between the maximum leaf of a range and the leaves modelled answer all
// zero. A leaf beyond both maxima answers, as Intel parts do, like the highest
// basic leaf; AMD parts (vendor "AuthenticAMD") answer all zero there.
class SimCpuid {
 public:
  explicit SimCpuid(const SimProcessorModel& model);

  // limitedBasic: the BIOS limit on the maximum basic leaf is in force (Intel);
  // leaf 0 then reports 2 and the basic leaves above answer as beyond it.
  CpuidRegs query(const SimLogicalProcessor& cpu, uint32_t leaf, uint32_t subleaf,
                  bool limitedBasic = false) const;

  bool isAmd() const { return m_amd; }

 private:
  CpuidRegs standardLeaf(const SimLogicalProcessor& cpu, uint32_t leaf, uint32_t subleaf,
                         uint32_t maxStdLeaf) const;
  CpuidRegs extendedLeaf(const SimLogicalProcessor& cpu, uint32_t leaf, uint32_t subleaf) const;
  // Leaf 4 lists the caches of the processor's own kind of core.
  const std::vector<SimCacheDesc>& cacheList(const SimLogicalProcessor& cpu) const;
  CpuidRegs cacheLeaf(const std::vector<SimCacheDesc>& caches, uint32_t subleaf,
                      bool withCoreField) const;
  CpuidRegs brandLeaf(uint32_t part) const;
  CpuidRegs topologyLeaf(const SimLogicalProcessor& cpu, uint32_t subleaf) const;

  SimProcessorModel m_model;
  SimApicLayout m_layout;
  bool m_amd = false;
  uint32_t m_vendor[3] = {};  // EBX, EDX, ECX order of leaf 0
  uint8_t m_brand[48] = {};
};

}  // namespace tv2::sim

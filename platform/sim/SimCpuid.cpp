#include "platform/sim/SimCpuid.h"

#include <algorithm>
#include <cstring>

namespace tv2::sim {

namespace {

constexpr uint32_t kExtBase = 0x80000000;
constexpr uint32_t kLimitedMaxLeaf = 2;  // what leaf 0 reports under the BIOS limit

// Feature bits every modelled part has: FPU, TSC, MSR, CX8, APIC, CMOV, CLFSH,
// MMX, FXSR, SSE, SSE2 in EDX; SSE3 in ECX. HTT is added per model.
constexpr uint32_t kLeaf1Edx = (1u << 0) | (1u << 4) | (1u << 5) | (1u << 8) | (1u << 9) |
                               (1u << 15) | (1u << 19) | (1u << 23) | (1u << 24) | (1u << 25) |
                               (1u << 26);
constexpr uint32_t kLeaf1Ecx = 1u << 0;
constexpr uint32_t kHttBit = 1u << 28;
// 0x80000001: LAHF (ECX 0); SYSCALL, NX, RDTSCP, long mode (EDX 11, 20, 27, 29).
constexpr uint32_t kExt1Ecx = 1u << 0;
constexpr uint32_t kExt1Edx = (1u << 11) | (1u << 20) | (1u << 27) | (1u << 29);
constexpr uint32_t kAmdCmpLegacy = 1u << 1;
constexpr uint32_t kAmdTopologyExtensions = 1u << 22;
constexpr uint32_t kAmdCoreCounterExtension = 1u << 23;
constexpr uint32_t kHybridBit = 1u << 15;  // leaf 7 EDX
// Leaf 0x1A EAX: core type in 31:24, native model id below.
constexpr uint32_t kCoreTypeAtom = 0x20000001;
constexpr uint32_t kCoreTypeCore = 0x40000001;

// Family 17h and later (Zen) count threads where family 15h counted cores.
bool zenFamily(const SimProcessorModel& model) {
  const uint32_t base = (model.signature >> 8) & 0xF;
  const uint32_t family = base == 0xF ? base + ((model.signature >> 20) & 0xFF) : base;
  return model.vendor == "AuthenticAMD" && family >= 0x17;
}

uint32_t field(int value, int bits) {
  const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
  return static_cast<uint32_t>(std::max(value, 0)) & mask;
}

uint32_t littleEndian(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
         (uint32_t{bytes[3]} << 24);
}

}  // namespace

SimCpuid::SimCpuid(const SimProcessorModel& model)
    : m_model(model), m_layout(SimTopology::layoutFor(model)),
      m_amd(model.vendor == "AuthenticAMD") {
  uint8_t vendor[12] = {};
  std::memcpy(vendor, model.vendor.data(), std::min<size_t>(12, model.vendor.size()));
  m_vendor[0] = littleEndian(vendor);
  m_vendor[1] = littleEndian(vendor + 4);
  m_vendor[2] = littleEndian(vendor + 8);
  std::memcpy(m_brand, model.brand.data(), std::min<size_t>(48, model.brand.size()));
}

CpuidRegs SimCpuid::query(const SimLogicalProcessor& cpu, uint32_t leaf, uint32_t subleaf,
                          bool limitedBasic) const {
  const uint32_t maxStd =
      limitedBasic && !m_amd ? std::min(m_model.maxStdLeaf, kLimitedMaxLeaf) : m_model.maxStdLeaf;
  const bool hidden = maxStd < m_model.maxStdLeaf && leaf > maxStd && leaf < kExtBase;
  for (const SimCpuidLeaf& extra : m_model.extraLeaves) {
    if (extra.leaf == leaf && extra.subleaf == subleaf && !hidden) {
      return extra.regs;
    }
  }
  if (leaf <= maxStd) {
    return standardLeaf(cpu, leaf, subleaf, maxStd);
  }
  if (leaf >= kExtBase && leaf <= m_model.maxExtLeaf) {
    return extendedLeaf(cpu, leaf, subleaf);
  }
  if (m_amd) {
    return {};
  }
  return standardLeaf(cpu, maxStd, subleaf, maxStd);
}

CpuidRegs SimCpuid::standardLeaf(const SimLogicalProcessor& cpu, uint32_t leaf, uint32_t subleaf,
                                 uint32_t maxStdLeaf) const {
  CpuidRegs r;
  switch (leaf) {
    case 0:
      r.eax = maxStdLeaf;
      r.ebx = m_vendor[0];
      r.edx = m_vendor[1];
      r.ecx = m_vendor[2];
      break;
    case 1:
      r.eax = m_model.signature;
      // CLFLUSH line size 8 * 8 = 64 bytes in EBX[15:8].
      r.ebx = (field(static_cast<int>(cpu.apicId), 8) << 24) |
              (field(m_layout.logicalField, 8) << 16) | (8u << 8);
      r.ecx = kLeaf1Ecx;
      r.edx = kLeaf1Edx | (m_model.htt ? kHttBit : 0);
      break;
    case 2:
      // One round; descriptor 0xFF sends the reader to leaf 4.
      if (!m_amd) {
        r.eax = 0x0000FF01;
      }
      break;
    case 4:
      if (!m_amd) {
        r = cacheLeaf(cacheList(cpu), subleaf, true);
      }
      break;
    case 7:
      if (subleaf == 0 && m_model.efficiencyCores > 0) {
        r.edx = kHybridBit;
      }
      break;
    case 0xA:
      if (!m_amd) {
        r.eax = cpu.efficiency && m_model.efficiencyPmuEax != 0 ? m_model.efficiencyPmuEax : m_model.pmuEax;
        r.edx = m_model.pmuEdx;
      }
      break;
    case 0xB:
    case 0x1F:
      if (!m_amd) {
        r = topologyLeaf(cpu, subleaf);
      }
      break;
    case 0x1A:
      if (!m_amd && m_model.efficiencyCores > 0) {
        r.eax = cpu.efficiency ? kCoreTypeAtom : kCoreTypeCore;
      }
      break;
    default:
      break;
  }
  return r;
}

CpuidRegs SimCpuid::extendedLeaf(const SimLogicalProcessor& cpu, uint32_t leaf,
                                 uint32_t subleaf) const {
  CpuidRegs r;
  switch (leaf) {
    case kExtBase:
      r.eax = m_model.maxExtLeaf;
      if (m_amd) {
        r.ebx = m_vendor[0];
        r.edx = m_vendor[1];
        r.ecx = m_vendor[2];
      }
      break;
    case kExtBase + 1:
      r.ecx = kExt1Ecx;
      r.edx = kExt1Edx;
      if (m_amd) {
        r.eax = m_model.signature;
        if (m_model.coresPerPackage > 1) {
          r.ecx |= kAmdCmpLegacy;
        }
        if (m_model.maxExtLeaf >= kExtBase + 0x1D) {
          r.ecx |= kAmdTopologyExtensions;
        }
        if (m_model.amdCoreCounterExtension) {
          r.ecx |= kAmdCoreCounterExtension;
        }
      }
      break;
    case kExtBase + 2:
    case kExtBase + 3:
    case kExtBase + 4:
      r = brandLeaf(leaf - (kExtBase + 2));
      break;
    case kExtBase + 7:
      r.edx = m_model.invariantTsc ? (1u << 8) : 0;
      break;
    case kExtBase + 8:
      r.eax = 0x3024;  // 36 physical, 48 linear address bits
      if (m_amd) {
        // ApicIdCoreIdSize in ECX[15:12]; ECX[7:0] cores - 1, on Zen
        // logical processors - 1.
        const int counted = zenFamily(m_model) ? m_model.coresPerPackage * m_model.threadsPerCore
                                               : m_model.coresPerPackage;
        r.ecx = (field(m_layout.packageShift, 4) << 12) | field(counted - 1, 8);
      }
      break;
    case kExtBase + 0x1D:
      if (m_amd) {
        r = cacheLeaf(m_model.caches, subleaf, false);
      }
      break;
    case kExtBase + 0x1E:
      if (m_amd) {
        r.eax = cpu.apicId;
        // Family 15h: cores per compute unit - 1 in EBX[9:8] and the unit;
        // Zen: threads per core - 1 in EBX[15:8] and the core id.
        r.ebx = zenFamily(m_model)
                    ? (field(m_model.threadsPerCore - 1, 8) << 8) | field(cpu.core, 8)
                    : (field(m_model.coresPerComputeUnit - 1, 2) << 8) | field(cpu.computeUnit, 8);
        r.ecx = field(cpu.package, 8);  // one node per package
      }
      break;
    default:
      break;
  }
  return r;
}

const std::vector<SimCacheDesc>& SimCpuid::cacheList(const SimLogicalProcessor& cpu) const {
  return cpu.efficiency && !m_model.efficiencyCaches.empty() ? m_model.efficiencyCaches : m_model.caches;
}

CpuidRegs SimCpuid::cacheLeaf(const std::vector<SimCacheDesc>& caches, uint32_t subleaf,
                              bool withCoreField) const {
  CpuidRegs r;
  if (subleaf >= caches.size()) {
    return r;  // type 0: no more caches
  }
  const SimCacheDesc& c = caches[subleaf];
  r.eax = field(c.type, 5) | (field(c.level, 3) << 5) | (field(c.sharingThreads - 1, 12) << 14);
  if (withCoreField) {
    r.eax |= field(m_layout.coresField - 1, 6) << 26;
  }
  r.ebx = (field(c.ways - 1, 10) << 22) | (field(c.partitions - 1, 10) << 12) |
          field(c.lineSize - 1, 12);
  r.ecx = field(c.sets - 1, 32);
  return r;
}

CpuidRegs SimCpuid::brandLeaf(uint32_t part) const {
  const uint8_t* bytes = m_brand + part * 16;
  return CpuidRegs{littleEndian(bytes), littleEndian(bytes + 4), littleEndian(bytes + 8),
                   littleEndian(bytes + 12)};
}

CpuidRegs SimCpuid::topologyLeaf(const SimLogicalProcessor& cpu, uint32_t subleaf) const {
  // Subleaf 0 is the thread level, 1 the core level; level type in ECX[15:8].
  CpuidRegs r;
  r.ecx = subleaf & 0xFF;
  r.edx = cpu.apicId;
  // EBX: logical processors at the level; an efficiency core has one thread.
  if (subleaf == 0) {
    r.eax = field(m_layout.threadBits, 5);
    r.ebx = field(cpu.efficiency ? 1 : m_model.threadsPerCore, 16);
    r.ecx |= 1u << 8;
  } else if (subleaf == 1) {
    r.eax = field(m_layout.packageShift, 5);
    r.ebx = field(m_model.coresPerPackage * m_model.threadsPerCore -
                      m_model.efficiencyCores * (m_model.threadsPerCore - 1),
                  16);
    r.ecx |= 2u << 8;
  }
  return r;
}

}  // namespace tv2::sim

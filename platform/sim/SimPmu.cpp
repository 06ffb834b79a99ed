#include "platform/sim/SimPmu.h"

#include <algorithm>

namespace tv2::sim {

namespace {

constexpr uint32_t kPerfEvtSel0 = 0x186;
constexpr uint32_t kPmc0 = 0xC1;
constexpr uint32_t kFixedCtr0 = 0x309;
constexpr uint32_t kFixedCtrCtrl = 0x38D;
constexpr uint32_t kPerfGlobalCtrl = 0x38F;
constexpr uint32_t kAmdPerfCtl0 = 0xC0010200;
constexpr uint32_t kAmdLegacyCtl0 = 0xC0010000;
constexpr uint32_t kAmdLegacyCtr0 = 0xC0010004;
constexpr uint32_t kAmdNbCtl0 = 0xC0010240;
constexpr int kAmdLegacyCount = 4;
constexpr int kNbCount = 4;
constexpr int kAmdWidth = 48;
constexpr int kMaxIntelGeneral = 8;

// AMD selects: bits 39:36 and 63:42 are reserved.
constexpr uint64_t kAmdReserved = (0xFull << 36) | (~0ull << 42);

uint64_t maskOf(int bits) {
  if (bits <= 0) {
    return 0;
  }
  return bits >= 64 ? ~0ull : (1ull << bits) - 1;
}

bool isAmdKind(SimPartKind kind) {
  return kind == SimPartKind::kAmdBulldozer || kind == SimPartKind::kAmdTrinity ||
         kind == SimPartKind::kAmdKaveri;
}

}  // namespace

SimPmu::SimPmu(const SimProcessorModel& model, int cpuCount, int packageCount, bool hasL3)
    : m_amd(model.vendor == "AuthenticAMD"),
      m_northbridge(m_amd && isAmdKind(model.part.kind)),
      m_kind(model.part.kind),
      m_hasL3(hasL3),
      m_version(m_amd ? 0 : static_cast<int>(model.pmuEax & 0xFF)),
      m_generalCount(
          m_amd ? (model.amdCoreCounterExtension ? 6 : 4)
                : std::min(kMaxIntelGeneral, static_cast<int>((model.pmuEax >> 8) & 0xFF))),
      m_fixedCount(m_amd || m_version < 2 ? 0 : std::min(3, static_cast<int>(model.pmuEdx & 0x1F))),
      m_generalMask(maskOf(m_amd ? kAmdWidth : static_cast<int>((model.pmuEax >> 16) & 0xFF))),
      m_fixedMask(maskOf(static_cast<int>((model.pmuEdx >> 5) & 0xFF))) {
  m_cpus.resize(static_cast<size_t>(std::max(0, cpuCount)));
  for (CpuCounters& cpu : m_cpus) {
    cpu.general.resize(static_cast<size_t>(m_generalCount));
    // Power-up value: the general counters enabled, the fixed ones not.
    cpu.globalCtrl = maskOf(m_generalCount);
  }
  if (m_northbridge) {
    m_nbCounters.resize(static_cast<size_t>(std::max(1, packageCount)));
  }
}

SimPmu::Slot SimPmu::slotOf(uint32_t index) const {
  const auto in = [](uint32_t i, uint32_t first, int count) {
    return i >= first && i < first + static_cast<uint32_t>(count);
  };
  if (m_amd) {
    if (in(index, kAmdPerfCtl0, 2 * m_generalCount)) {
      const int n = static_cast<int>(index - kAmdPerfCtl0);
      return {n % 2 == 0 ? Kind::kSelect : Kind::kCounter, n / 2};
    }
    const int legacy = std::min(kAmdLegacyCount, m_generalCount);
    if (in(index, kAmdLegacyCtl0, legacy)) {
      return {Kind::kSelect, static_cast<int>(index - kAmdLegacyCtl0)};
    }
    if (in(index, kAmdLegacyCtr0, legacy)) {
      return {Kind::kCounter, static_cast<int>(index - kAmdLegacyCtr0)};
    }
    if (m_northbridge && in(index, kAmdNbCtl0, 2 * kNbCount)) {
      const int n = static_cast<int>(index - kAmdNbCtl0);
      return {n % 2 == 0 ? Kind::kNbSelect : Kind::kNbCounter, n / 2};
    }
    return {};
  }
  if (m_version == 0) {
    return {};
  }
  if (in(index, kPerfEvtSel0, m_generalCount)) {
    return {Kind::kSelect, static_cast<int>(index - kPerfEvtSel0)};
  }
  if (in(index, kPmc0, m_generalCount)) {
    return {Kind::kCounter, static_cast<int>(index - kPmc0)};
  }
  if (m_version >= 2) {
    if (in(index, kFixedCtr0, m_fixedCount)) {
      return {Kind::kFixed, static_cast<int>(index - kFixedCtr0)};
    }
    if (index == kFixedCtrCtrl) {
      return {Kind::kFixedCtrl, 0};
    }
    if (index == kPerfGlobalCtrl) {
      return {Kind::kGlobalCtrl, 0};
    }
  }
  return {};
}

bool SimPmu::owns(uint32_t index) const { return slotOf(index).kind != Kind::kNone; }

bool SimPmu::read(const SimWorkloadModel& w, int cpu, uint32_t index, uint64_t* value) const {
  const Slot slot = slotOf(index);
  if (cpu < 0 || static_cast<size_t>(cpu) >= m_cpus.size() || slot.kind == Kind::kNone) {
    return false;
  }
  const CpuCounters& c = m_cpus[static_cast<size_t>(cpu)];
  const size_t n = static_cast<size_t>(slot.n);
  switch (slot.kind) {
    case Kind::kSelect:
      *value = c.general[n].control;
      return true;
    case Kind::kCounter:
      *value = valueOf(w, cpu, c.general[n], m_generalMask);
      return true;
    case Kind::kFixed:
      *value = valueOf(w, cpu, c.fixed[n], m_fixedMask);
      return true;
    case Kind::kFixedCtrl:
      *value = c.fixedCtrl;
      return true;
    case Kind::kGlobalCtrl:
      *value = c.globalCtrl;
      return true;
    case Kind::kNbSelect:
      *value = m_nbCounters[static_cast<size_t>(packageOf(w, cpu))][n].control;
      return true;
    case Kind::kNbCounter:
      *value =
          valueOf(w, cpu, m_nbCounters[static_cast<size_t>(packageOf(w, cpu))][n], m_generalMask);
      return true;
    case Kind::kNone:
      break;
  }
  return false;
}

bool SimPmu::write(const SimWorkloadModel& w, int cpu, uint32_t index, uint64_t value) {
  const Slot slot = slotOf(index);
  if (cpu < 0 || static_cast<size_t>(cpu) >= m_cpus.size() || slot.kind == Kind::kNone) {
    return false;
  }
  CpuCounters& c = m_cpus[static_cast<size_t>(cpu)];
  const size_t n = static_cast<size_t>(slot.n);
  switch (slot.kind) {
    case Kind::kSelect:
      if (m_amd) {
        if ((value & kAmdReserved) != 0) {
          return false;
        }
        c.general[n].control = value;
        reprogram(w, cpu, &c.general[n], SimEventDecoder::amdCore(value), m_generalMask);
        return true;
      }
      if ((value >> 32) != 0) {
        return false;
      }
      c.general[n].control = value;
      applyIntelControls(w, cpu);
      return true;
    case Kind::kCounter:
      if (!m_amd) {
        // Intel general counters take bits 31:0, sign-extended.
        value = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(value)));
      }
      setValue(w, cpu, &c.general[n], value, m_generalMask);
      return true;
    case Kind::kFixed:
      setValue(w, cpu, &c.fixed[n], value, m_fixedMask);
      return true;
    case Kind::kFixedCtrl:
      if ((value & ~maskOf(4 * m_fixedCount)) != 0) {
        return false;
      }
      c.fixedCtrl = value;
      applyIntelControls(w, cpu);
      return true;
    case Kind::kGlobalCtrl:
      if ((value & ~(maskOf(m_generalCount) | (maskOf(m_fixedCount) << 32))) != 0) {
        return false;
      }
      c.globalCtrl = value;
      applyIntelControls(w, cpu);
      return true;
    case Kind::kNbSelect: {
      if ((value & kAmdReserved) != 0) {
        return false;
      }
      Counter& nb = m_nbCounters[static_cast<size_t>(packageOf(w, cpu))][n];
      nb.control = value;
      reprogram(w, cpu, &nb, SimEventDecoder::amdNorthbridge(value), m_generalMask);
      return true;
    }
    case Kind::kNbCounter:
      setValue(w, cpu, &m_nbCounters[static_cast<size_t>(packageOf(w, cpu))][n], value,
               m_generalMask);
      return true;
    case Kind::kNone:
      break;
  }
  return false;
}

void SimPmu::occupy(const SimWorkloadModel& w) {
  // Unhalted cycles in both modes: what a profiler would typically leave.
  const uint64_t select = m_amd ? 0x430076 : 0x43003C;
  const uint32_t first = m_amd ? kAmdPerfCtl0 : kPerfEvtSel0;
  const uint32_t step = m_amd ? 2 : 1;
  for (size_t cpu = 0; cpu < m_cpus.size(); ++cpu) {
    for (int n = 0; n < m_generalCount; ++n) {
      write(w, static_cast<int>(cpu), first + step * static_cast<uint32_t>(n), select);
    }
  }
}

uint64_t SimPmu::eventCount(const SimWorkloadModel& w, int cpu, const SimCounted& counted) const {
  if (!counted.counts()) {
    return 0;
  }
  const double total = counted.package
                           ? w.packageEventTotal(packageOf(w, cpu), counted.event)
                           : w.eventTotal(cpu, counted.event, counted.user, counted.kernel);
  return SimWorkloadModel::wholeCount(total);
}

uint64_t SimPmu::valueOf(const SimWorkloadModel& w, int cpu, const Counter& c,
                         uint64_t mask) const {
  return (c.base + (eventCount(w, cpu, c.counted) - c.start)) & mask;
}

void SimPmu::reprogram(const SimWorkloadModel& w, int cpu, Counter* c, const SimCounted& counted,
                       uint64_t mask) const {
  c->base = valueOf(w, cpu, *c, mask);
  c->counted = counted;
  c->start = eventCount(w, cpu, counted);
}

void SimPmu::setValue(const SimWorkloadModel& w, int cpu, Counter* c, uint64_t value,
                      uint64_t mask) const {
  c->base = value & mask;
  c->start = eventCount(w, cpu, c->counted);
}

void SimPmu::applyIntelControls(const SimWorkloadModel& w, int cpu) {
  CpuCounters& c = m_cpus[static_cast<size_t>(cpu)];
  for (size_t n = 0; n < c.general.size(); ++n) {
    SimCounted counted;
    if (m_version < 2 || (c.globalCtrl & (1ull << n)) != 0) {
      counted = SimEventDecoder::intel(c.general[n].control, m_kind, m_hasL3);
    }
    reprogram(w, cpu, &c.general[n], counted, m_generalMask);
  }
  for (int n = 0; n < m_fixedCount; ++n) {
    SimCounted counted;
    if ((c.globalCtrl & (1ull << (32 + n))) != 0) {
      counted =
          SimEventDecoder::intelFixed(n, static_cast<uint32_t>((c.fixedCtrl >> (4 * n)) & 0xF));
    }
    reprogram(w, cpu, &c.fixed[static_cast<size_t>(n)], counted, m_fixedMask);
  }
}

int SimPmu::packageOf(const SimWorkloadModel& w, int cpu) const {
  const int package = w.packageOf(cpu);
  const int count = static_cast<int>(m_nbCounters.size());
  return std::clamp(package, 0, std::max(0, count - 1));
}

}  // namespace tv2::sim

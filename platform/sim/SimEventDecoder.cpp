#include "platform/sim/SimEventDecoder.h"

#include <cstddef>

namespace tv2::sim {

namespace {

constexpr uint64_t kUserBit = 1ull << 16;
constexpr uint64_t kKernelBit = 1ull << 17;
constexpr uint64_t kEdgeBit = 1ull << 18;
constexpr uint64_t kEnableBit = 1ull << 22;
constexpr uint64_t kInvertBit = 1ull << 23;

// How a threshold applies to an event.
enum class Shape { kPlain, kCycles, kUops };

struct Row {
  uint32_t event;
  uint32_t unitMask;
  SimEvent counts;
  Shape shape;
};

struct Fields {
  uint32_t event;
  uint32_t unitMask;
  uint32_t counterMask;
  bool invert;
  bool edge;
  bool enabled;
};

Fields fieldsOf(uint64_t select, bool extendedEvent) {
  Fields f;
  f.event = static_cast<uint32_t>(select & 0xFF);
  if (extendedEvent) {
    f.event |= static_cast<uint32_t>((select >> 32) & 0xF) << 8;
  }
  f.unitMask = static_cast<uint32_t>((select >> 8) & 0xFF);
  f.counterMask = static_cast<uint32_t>((select >> 24) & 0xFF);
  f.invert = (select & kInvertBit) != 0;
  f.edge = (select & kEdgeBit) != 0;
  f.enabled = (select & kEnableBit) != 0;
  return f;
}

// The event a row counts once the threshold is applied; kCount for nothing.
SimEvent thresholded(const Row& row, const Fields& f) {
  if (f.edge) {
    return SimEvent::kCount;
  }
  if (f.counterMask == 0) {
    return row.counts;  // the invert bit means nothing without a mask
  }
  switch (row.shape) {
    case Shape::kCycles:
      if (f.invert) {
        return f.counterMask >= 2 ? row.counts : SimEvent::kCount;
      }
      return f.counterMask <= 1 ? row.counts : SimEvent::kCount;
    case Shape::kUops:
      if (f.counterMask != 1) {
        return SimEvent::kCount;
      }
      return f.invert ? SimEvent::kStalledCycles : SimEvent::kRetiringCycles;
    case Shape::kPlain:
      break;
  }
  return SimEvent::kCount;
}

template <size_t N>
SimEvent lookUp(const Row (&rows)[N], const Fields& f) {
  for (const Row& row : rows) {
    if (row.event == f.event && row.unitMask == f.unitMask) {
      return thresholded(row, f);
    }
  }
  return SimEvent::kCount;
}

SimCounted withModes(SimEvent event, uint64_t select) {
  SimCounted counted;
  counted.event = event;
  counted.user = (select & kUserBit) != 0;
  counted.kernel = (select & kKernelBit) != 0;
  return counted;
}

constexpr Row kIntelArchitectural[] = {
    {0x3C, 0x00, SimEvent::kUnhaltedCycles, Shape::kCycles},
    {0xC0, 0x00, SimEvent::kInstructions, Shape::kPlain},
    {0xC2, 0x01, SimEvent::kUops, Shape::kUops},
    {0xC4, 0x00, SimEvent::kBranches, Shape::kPlain},
    {0xC5, 0x00, SimEvent::kBranchMisses, Shape::kPlain},
};

// Retired loads by where they were served (MEM_LOAD_RETIRED).
constexpr Row kNehalemLoads[] = {
    {0xCB, 0x02, SimEvent::kL2Hits, Shape::kPlain},
    {0xCB, 0x04, SimEvent::kL3UnsharedHits, Shape::kPlain},
    {0xCB, 0x08, SimEvent::kL3ModifiedHits, Shape::kPlain},
    {0xCB, 0x10, SimEvent::kL3Misses, Shape::kPlain},
};

// MEM_LOAD_UOPS_RETIRED and MEM_LOAD_UOPS_LLC_HIT_RETIRED.
constexpr Row kSandyBridgeLoads[] = {
    {0xD1, 0x02, SimEvent::kL2Hits, Shape::kPlain},
    {0xD1, 0x20, SimEvent::kL3Misses, Shape::kPlain},
    {0xD2, 0x04, SimEvent::kL3ModifiedHits, Shape::kPlain},
    {0xD2, 0x08, SimEvent::kL3UnsharedHits, Shape::kPlain},
};

constexpr Row kAmdCore[] = {
    {0x076, 0x00, SimEvent::kUnhaltedCycles, Shape::kCycles},
    {0x07D, 0x07, SimEvent::kL2Requests, Shape::kPlain},
    {0x07E, 0x07, SimEvent::kL2Misses, Shape::kPlain},
    {0x07F, 0x07, SimEvent::kL2FillWriteback, Shape::kPlain},
    {0x0C0, 0x00, SimEvent::kInstructions, Shape::kPlain},
    {0x0C1, 0x00, SimEvent::kUops, Shape::kUops},
    {0x0C2, 0x00, SimEvent::kBranches, Shape::kPlain},
    {0x0C3, 0x00, SimEvent::kBranchMisses, Shape::kPlain},
};

// L3 requests and misses from every core (unit mask: all cores, all kinds).
constexpr Row kAmdNorthbridge[] = {
    {0x4E0, 0xF7, SimEvent::kL3Requests, Shape::kPlain},
    {0x4E1, 0xF7, SimEvent::kL3Misses, Shape::kPlain},
};

}  // namespace

SimCounted SimEventDecoder::intel(uint64_t select, SimPartKind kind, bool hasL3) {
  const Fields f = fieldsOf(select, false);
  if (!f.enabled) {
    return {};
  }
  SimEvent event = lookUp(kIntelArchitectural, f);
  if (event == SimEvent::kCount && f.event == 0x2E) {
    // Last-level cache references and misses: the L3, or the L2 of parts
    // without one.
    const Row rows[] = {
        {0x2E, 0x4F, hasL3 ? SimEvent::kL3Requests : SimEvent::kL2Requests, Shape::kPlain},
        {0x2E, 0x41, hasL3 ? SimEvent::kL3Misses : SimEvent::kL2Misses, Shape::kPlain},
    };
    event = lookUp(rows, f);
  }
  if (event == SimEvent::kCount && kind == SimPartKind::kIntelNehalem) {
    event = lookUp(kNehalemLoads, f);
  }
  if (event == SimEvent::kCount && kind == SimPartKind::kIntelSandyBridge) {
    event = lookUp(kSandyBridgeLoads, f);
  }
  return withModes(event, select);
}

SimCounted SimEventDecoder::intelFixed(int index, uint32_t field) {
  static constexpr SimEvent kFixed[] = {SimEvent::kInstructions, SimEvent::kUnhaltedCycles,
                                        SimEvent::kReferenceCycles};
  if (index < 0 || index > 2) {
    return {};
  }
  SimCounted counted;
  counted.event = kFixed[index];
  counted.kernel = (field & 1) != 0;
  counted.user = (field & 2) != 0;
  return counted;
}

SimCounted SimEventDecoder::amdCore(uint64_t select) {
  const Fields f = fieldsOf(select, true);
  if (!f.enabled) {
    return {};
  }
  return withModes(lookUp(kAmdCore, f), select);
}

SimCounted SimEventDecoder::amdNorthbridge(uint64_t select) {
  const Fields f = fieldsOf(select, true);
  if (!f.enabled) {
    return {};
  }
  SimCounted counted;
  counted.event = lookUp(kAmdNorthbridge, f);
  counted.package = true;
  return counted;
}

}  // namespace tv2::sim

#pragma once

#include <cstdint>

#include "platform/sim/SimActivity.h"
#include "platform/sim/SimHardwareConfig.h"

namespace tv2::sim {

// What one counter counts: an event of its logical processor in the modes
// selected, or an event of the whole package (northbridge counters count every
// processor of the package in every mode). kCount counts nothing.
struct SimCounted {
  SimEvent event = SimEvent::kCount;
  bool user = false;
  bool kernel = false;
  bool package = false;

  bool counts() const { return event != SimEvent::kCount && (package || user || kernel); }
  bool operator==(const SimCounted&) const = default;
};

// Turns event-select values into what the counter counts. Known are the events
// the program programs (architectural events, the cache and load events of each
// Intel generation, the AMD core and northbridge events); a select that names
// anything else, sets the edge bit, or uses a counter mask in a way the model
// cannot answer (a threshold above one on micro-operations, a threshold on
// a plain event) counts nothing, like an event the workload never produces.
//
// Thresholds: an unhalted-cycles event with counter mask c counts every cycle
// when c <= 1, and with the invert bit every cycle when c >= 2 (the per-cycle
// increment of one is always below the mask). Retired micro-operations with
// mask 1 count the cycles that retire at least one, inverted the stalled ones.
class SimEventDecoder {
 public:
  // IA32_PERFEVTSELx; the part's kind decides the generation's load events.
  static SimCounted intel(uint64_t select, SimPartKind kind, bool hasL3);
  // IA32_FIXED_CTR0..2 with their four bits of IA32_FIXED_CTR_CTRL.
  static SimCounted intelFixed(int index, uint32_t field);
  // AMD PERF_CTL: event bits 11:8 in select bits 35:32.
  static SimCounted amdCore(uint64_t select);
  // AMD NB_PERF_CTL: same layout, no mode bits.
  static SimCounted amdNorthbridge(uint64_t select);
};

}  // namespace tv2::sim

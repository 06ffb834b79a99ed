#pragma once

#include <cstdint>
#include <span>

#include "counters/model/CCounter.h"
#include "cpu/LogicalProcessorRecord.h"

namespace tv2 {

// A row of the event tables: which select to program with which event word,
// the counting register, how the counter is labelled and which metric slot of
// the logical processor it fills.
struct EventRow {
  static constexpr int32_t kAnyConfiguration = -1;

  int32_t configuration;  // the configuration number, or every configuration
  uint32_t selectRegister;
  uint32_t counterRegister;
  uint32_t eventWord;  // low word of the select; the high half is kept
  const char* name;    // "CPU %d" is formatted with the processor's position
  const char* unit;
  int32_t fullScale;
  uint32_t displayFlags;
  uint32_t typeCode;  // 0: a plain event counter no profile selects
  CCounter* LogicalProcessorRecord::*slot;
  // AMD branch rows: only processors with more than four general counters.
  bool needsMoreThanFourCounters;
};

// The event rows of a processor class in building order; empty for a class
// without event counters. Rows of every configuration are returned: the
// caller keeps those of its configuration and the "any" rows.
std::span<const EventRow> eventRowsFor(int32_t processorCode);

}  // namespace tv2

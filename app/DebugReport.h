#pragma once

#include <ostream>

#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {

class CTimer;

// The debug report: what detection found out about each package (identity,
// topology, affinity, clocks, TDP, caches, monitoring capabilities), then the
// platform timers' base addresses. Narrow text, one CR LF per line, no header
// and no blank lines. Reads only stored records; touches no hardware. The
// stream should be binary so that the line ends stay as written.
class DebugReport {
 public:
  static constexpr const char* kLineEnd = "\r\n";

  static void write(std::ostream& out, const CTList<CProcessor_2>& processors, const CTimer* acpiTimer,
                    const CTimer* hpetTimer);

  // One package's lines.
  static void writePackage(std::ostream& out, const CProcessor_2& processor);
};

}  // namespace tv2

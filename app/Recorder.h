#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "platform/OutputSink.h"

namespace tv2 {

// Writes the counters' histories as CSV rows, one per recorded point:
//   clock_ms,package,level,instance,metric,name,unit,value
// Each collect writes the points every history gained since the previous
// collect (followed through its push sequence) and flushes, so the output
// always ends with a whole row. A point is written once it is complete, and
// points a sampler overwrote while they were being read are left out rather
// than written with a newer value under an older time. Counters with type code 0 (raw
// registers the metrics are computed from) are not recorded.
//
// The first failed write ends the recording: the part of a row that reached
// the target is taken back out where the target allows it, and nothing more
// is written.
//
// Threads: the caller's thread only (the display tick's); it holds each
// package's counter lock shared while it reads that package's histories,
// which samplers may be appending to meanwhile.
class Recorder {
 public:
  static constexpr const char* kHeader = "clock_ms,package,level,instance,metric,name,unit,value";

  // metrics: the metric numbers to keep; empty keeps every metric.
  Recorder(OutputSink& out, std::vector<int32_t> metrics);
  Recorder(std::ostream& out, std::vector<int32_t> metrics);

  void writeHeader();
  // Writes the new points of every package; returns the rows written.
  int64_t collect(const CTList<CProcessor_2>& processors);
  // Whole rows in the output.
  int64_t rowCount() const { return m_rows; }

  // A write failed; nothing is written any more.
  bool failed() const { return m_failed; }
  // Why, in the system's words; with a note when part of a row stayed in a
  // target that could not take it back.
  const std::string& failure() const { return m_failure; }

  // The field as CSV: quoted, inner quotes doubled, when it holds a comma, a
  // quote or a line break; else unchanged.
  static std::string quoteField(const std::string& field);
  // "package", "core" or "cpu" for the level byte of a type code; null for
  // any other level.
  static const char* levelName(uint32_t typeCode);

 private:
  // Where a history stood at the previous collect: the push sequence number
  // of the last point written and the number of clears seen then.
  struct Cursor {
    bool seen = false;
    uint32_t sequence = 0;
    uint32_t clears = 0;
  };
  struct Point {
    float clock;
    float value;
  };
  struct Place {
    int32_t package;
    int32_t core;    // position of the core in its package
    int32_t thread;  // position of the logical processor; -1 outside a thread list
  };

  bool keeps(uint32_t typeCode) const;
  // Writes whole rows; false (and failed()) at the first failure.
  // *wholeLines: the lines of rows now in the output.
  bool put(const std::string& rows, int64_t* wholeLines);
  void collectCounter(const CCounter& counter, const Place& place, std::string& rows);

  std::unique_ptr<OutputSink> m_ownSink;  // the stream's sink, for the stream constructor
  OutputSink& m_out;
  bool m_failed = false;
  std::string m_failure;
  std::vector<int32_t> m_metrics;
  std::unordered_map<const CCounter*, Cursor> m_cursors;
  std::vector<Point> m_points;  // one history's new points, reused
  int64_t m_rows = 0;
};

}  // namespace tv2

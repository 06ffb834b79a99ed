#include "app/Recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <mutex>
#include <shared_mutex>

#include "app/StreamSink.h"

namespace tv2 {

Recorder::Recorder(OutputSink& out, std::vector<int32_t> metrics) : m_out(out), m_metrics(std::move(metrics)) {}

Recorder::Recorder(std::ostream& out, std::vector<int32_t> metrics)
    : m_ownSink(std::make_unique<StreamSink>(out)), m_out(*m_ownSink), m_metrics(std::move(metrics)) {}

bool Recorder::put(const std::string& rows, int64_t* wholeLines) {
  *wholeLines = 0;
  if (m_failed) return false;
  size_t written = 0;
  if (m_out.write(rows, &written)) {
    *wholeLines = std::count(rows.begin(), rows.end(), '\n');
    return true;
  }
  m_failed = true;
  m_failure = m_out.errorText();
  // The rows that reached the target whole stay; the start of the row that
  // did not is taken back out.
  written = std::min(written, rows.size());
  const size_t lastLineEnd = written == 0 ? std::string::npos : rows.rfind('\n', written - 1);
  const size_t whole = lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1;
  if (written > whole && !m_out.takeBack(written - whole)) {
    m_failure += " (the last row in the output is incomplete)";
  }
  *wholeLines = std::count(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(whole), '\n');
  return false;
}

void Recorder::writeHeader() {
  int64_t lines = 0;
  put(std::string(kHeader) + "\n", &lines);
}

std::string Recorder::quoteField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

const char* Recorder::levelName(uint32_t typeCode) {
  switch (typeCode & 0xFF00) {
    case kLevelPackage: return "package";
    case kLevelCore: return "core";
    case kLevelThread: return "cpu";
    default: return nullptr;
  }
}

bool Recorder::keeps(uint32_t typeCode) const {
  if (typeCode == 0 || levelName(typeCode) == nullptr) return false;
  if (m_metrics.empty()) return true;
  return std::find(m_metrics.begin(), m_metrics.end(), static_cast<int32_t>(typeCode & 0xFF)) != m_metrics.end();
}

void Recorder::collectCounter(const CCounter& counter, const Place& place, std::string& rows) {
  const uint32_t typeCode = counter.typeCode();
  if (!keeps(typeCode) || !counter.history) return;
  const CDataTable& history = *counter.history;
  const auto capacity = static_cast<uint32_t>(history.capacity);
  // Clears take the package's counter lock exclusively and this runs under
  // it shared, so the clear state is stable here; pushes go on meanwhile.
  const uint32_t clears = history.clears.load();
  const uint32_t clearedAt = history.clearedAt.load();
  const uint32_t newest = history.pushes.acquire();
  Cursor& cursor = m_cursors[&counter];
  uint32_t from = clearedAt;  // the last point already written, as a sequence number
  if (cursor.seen && cursor.clears == clears && cursor.sequence - clearedAt <= newest - clearedAt) {
    from = cursor.sequence;
  }
  uint32_t fresh = std::min(newest - from, capacity);
  cursor = Cursor{true, newest, clears};
  if (fresh == 0) return;

  m_points.clear();
  for (uint32_t sequence = newest - fresh + 1; sequence != newest + 1; ++sequence) {
    int32_t slot = history.slotOf(sequence);
    m_points.push_back(Point{history.times[slot].load(), history.values[slot].load()});
  }
  // A point lives in its slot until capacity more are pushed; those the
  // sampler reached while they were read may hold part of its newer point.
  const uint32_t advanced = history.pointsStarted() - newest;
  const uint32_t overwritten = advanced + fresh > capacity ? advanced + fresh - capacity : 0;
  if (overwritten >= fresh) return;

  const char* level = levelName(typeCode);
  int32_t instance = 0;
  if ((typeCode & 0xFF00) == kLevelCore) instance = place.core;
  if ((typeCode & 0xFF00) == kLevelThread) instance = place.thread < 0 ? 0 : place.thread;
  const std::string prefix = std::to_string(place.package) + "," + level + "," + std::to_string(instance) + "," +
                             std::to_string(typeCode & 0xFF) + "," + quoteField(counter.name) + "," +
                             quoteField(counter.unit) + ",";
  char buffer[64];
  for (size_t k = overwritten; k < m_points.size(); ++k) {
    std::snprintf(buffer, sizeof buffer, "%lld,", static_cast<long long>(std::llround(m_points[k].clock)));
    rows += buffer;
    rows += prefix;
    std::snprintf(buffer, sizeof buffer, "%.9g\n", static_cast<double>(m_points[k].value));
    rows += buffer;
    ++m_rows;
  }
}

int64_t Recorder::collect(const CTList<CProcessor_2>& processors) {
  if (m_failed) return 0;
  const int64_t before = m_rows;
  std::string rows;
  int32_t packageIndex = 0;
  for (const CProcessor_2* package : processors) {
    std::shared_lock lock(package->countersLock);
    const std::vector<int32_t> coreOfThread = package->coreOfEachThread();
    for (size_t t = 0; t < package->threads.size(); ++t) {
      Place place{packageIndex, coreOfThread[t], static_cast<int32_t>(t)};
      for (const CCounter* counter : package->threads[t].counters) collectCounter(*counter, place, rows);
    }
    for (size_t c = 0; c < package->cores.size(); ++c) {
      Place place{packageIndex, static_cast<int32_t>(c), -1};
      for (const CCounter* counter : package->cores[c].counters) collectCounter(*counter, place, rows);
    }
    Place place{packageIndex, 0, -1};
    for (const CCounter* counter : package->counters) collectCounter(*counter, place, rows);
    ++packageIndex;
  }
  // One write per collect: a stop between collects never leaves half a row.
  int64_t whole = 0;
  if (!rows.empty() && !put(rows, &whole)) m_rows = before + whole;
  return m_rows - before;
}

}  // namespace tv2

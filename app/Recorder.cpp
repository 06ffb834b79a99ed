#include "app/Recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

namespace tv2 {

Recorder::Recorder(std::ostream& out, std::vector<int32_t> metrics) : m_out(out), m_metrics(std::move(metrics)) {}

void Recorder::writeHeader() {
  m_out << kHeader << '\n';
  m_out.flush();
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
  const int32_t capacity = history.capacity;
  // Until the ring is full the count, stored after each point, says how far
  // the points are complete; once full only the write position advances.
  const int32_t count = history.count.load();
  const int32_t live = history.writePosition.load();
  Cursor& cursor = m_cursors[&counter];
  const bool restart = cursor.writePosition < 0 || count < cursor.count;
  int32_t position = live;
  int32_t fresh = 0;
  if (count < capacity) {
    fresh = restart ? count : count - cursor.count;
    position = restart ? count - 1 : (cursor.writePosition + fresh) % capacity;
  } else {
    fresh = restart ? count : ((live - cursor.writePosition) % capacity + capacity) % capacity;
  }
  fresh = std::min(fresh, count);
  cursor.count = count;
  cursor.writePosition = position;
  if (fresh <= 0 || position < 0) return;

  const char* level = levelName(typeCode);
  int32_t instance = 0;
  if ((typeCode & 0xFF00) == kLevelCore) instance = place.core;
  if ((typeCode & 0xFF00) == kLevelThread) instance = place.thread < 0 ? 0 : place.thread;
  const std::string prefix = std::to_string(place.package) + "," + level + "," + std::to_string(instance) + "," +
                             std::to_string(typeCode & 0xFF) + "," + quoteField(counter.name) + "," +
                             quoteField(counter.unit) + ",";
  char buffer[64];
  for (int32_t k = fresh - 1; k >= 0; --k) {
    int32_t slot = ((position - k) % capacity + capacity) % capacity;
    double clock = static_cast<double>(history.times[slot].load());
    double value = static_cast<double>(history.values[slot].load());
    std::snprintf(buffer, sizeof buffer, "%lld,", static_cast<long long>(std::llround(clock)));
    rows += buffer;
    rows += prefix;
    std::snprintf(buffer, sizeof buffer, "%.9g\n", value);
    rows += buffer;
    ++m_rows;
  }
}

int64_t Recorder::collect(const CTList<CProcessor_2>& processors) {
  const int64_t before = m_rows;
  std::string rows;
  int32_t packageIndex = 0;
  for (const CProcessor_2* package : processors) {
    std::shared_lock lock(package->countersLock);
    // Which core each logical processor belongs to, by position.
    std::vector<int32_t> coreOfThread(package->threads.size(), 0);
    for (size_t c = 0; c < package->cores.size(); ++c) {
      for (const LogicalProcessorRecord* member : package->cores[c].threads) {
        auto offset = member - package->threads.data();
        if (offset >= 0 && static_cast<size_t>(offset) < coreOfThread.size()) {
          coreOfThread[static_cast<size_t>(offset)] = static_cast<int32_t>(c);
        }
      }
    }
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
  if (!rows.empty()) m_out.write(rows.data(), static_cast<std::streamsize>(rows.size()));
  m_out.flush();
  return m_rows - before;
}

}  // namespace tv2

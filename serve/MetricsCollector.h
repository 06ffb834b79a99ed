#pragma once

#include <atomic>
#include <vector>

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include "counters/model/CDataTable.h"
#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {

// The counters as Prometheus gauge families, built when a scrape asks for
// them: one family per metric (MetricNames), one gauge per counter with the
// labels package (position of the package), level (package, core, cpu) and
// instance (position of the core or logical processor in its package, 0 for
// the package), valued with the counter's newest history point in base units.
// A counter without a point yet is left out.
//
// Built at scrape time rather than kept as a snapshot that each tick
// refreshes: nothing is spent while nobody scrapes, a scrape sees the newest
// point of every counter, and the work is one short walk over the lists.
//
// Threads: Collect runs on the server's worker threads. It holds each
// package's countersLock shared while it reads that package's lists, the
// same as every sampler pass, so it never waits for a sampler nor holds one
// up; only a counter rebuild (exclusive) waits for the few microseconds of
// the walk. The figures themselves are relaxed atomics. m_processors is
// written by the main thread (publish) and read by the workers; the list
// it points to stays fixed until the server is stopped, which the owner does
// before the application takes the packages down.
class MetricsCollector : public prometheus::Collectable {
 public:
  // From then on scrapes read these packages; null serves no families.
  void publish(const CTList<CProcessor_2>* processors) { m_processors.store(processors); }

  std::vector<prometheus::MetricFamily> Collect() const override;

  // The families of these packages (what Collect serves).
  static std::vector<prometheus::MetricFamily> collect(const CTList<CProcessor_2>& processors);

  // The newest point of a history into *value; false when it holds none.
  static bool newestPoint(const CDataTable& history, float* value);

 private:
  std::atomic<const CTList<CProcessor_2>*> m_processors{nullptr};
};

}  // namespace tv2

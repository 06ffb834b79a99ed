#include "counters/MetricCatalogue.h"

#include <cstdio>
#include <string>

#include "cpu/CProcessor_2.h"

namespace tv2 {
namespace {

// Creates a counter of type T with the next index and files it in list.
template <typename T>
T* addCounter(CProcessor_2& processor, CTList<CCounter>& list, std::string name, std::string unit) {
  auto* counter = new T(processor.counterCount++);
  counter->name = std::move(name);
  counter->unit = std::move(unit);
  list.Append(counter);
  return counter;
}

}  // namespace

bool AddFixedCounters(CProcessor_2& /*processor*/) { return true; }

bool AddEventCounters(CProcessor_2& /*processor*/, const CCountersConfig* /*configuration*/) { return true; }

bool AddNorthbridgeCounters(CProcessor_2& /*processor*/) { return true; }

bool AddPowerAndThermalCounters(CProcessor_2& /*processor*/) { return true; }

bool AddDerivedMetrics(CProcessor_2& processor) {
  int position = 0;
  for (LogicalProcessorRecord& thread : processor.threads) {
    char name[32];
    std::snprintf(name, sizeof name, "CPU %d", position++);
    thread.idleTime = addCounter<CTimeCounter>(processor, thread.counters, name, "s");
    thread.kernelTime = addCounter<CTimeCounter>(processor, thread.counters, name, "s");
    thread.userTime = addCounter<CTimeCounter>(processor, thread.counters, name, "s");
  }
  return true;
}

}  // namespace tv2

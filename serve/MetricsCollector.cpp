#include "serve/MetricsCollector.h"

#include <charconv>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <tuple>

#include "serve/MetricNames.h"

namespace tv2 {

namespace {

// A figure in the base unit with the precision it was taken with: a
// single-precision 60.000008 % becomes 0.6000001, not 0.6000000762939453.
// Through text without the locale, which the window program changes.
double inBaseUnit(float value, double factor) {
  const double exact = static_cast<double>(value) * factor;
  char text[32];
  auto printed = std::to_chars(text, text + sizeof text, exact, std::chars_format::general, 7);
  double rounded = exact;
  if (printed.ec == std::errc()) std::from_chars(text, printed.ptr, rounded);
  return rounded;
}

// The families of one scrape, kept in the order their first counter came.
class FamilyBuilder {
 public:
  void add(const CCounter& counter, int32_t package, int32_t core, int32_t thread) {
    const uint32_t typeCode = counter.typeCode();
    const ExportedMetric exported = MetricNames::lookUp(typeCode, counter.unit);
    if (exported.family == nullptr || !counter.history) return;
    float value = 0;
    if (!MetricsCollector::newestPoint(*counter.history, &value)) return;

    const char* level = MetricNames::levelName(typeCode);
    int32_t instance = 0;
    if ((typeCode & 0xFF00) == kLevelCore) instance = core;
    if ((typeCode & 0xFF00) == kLevelThread) instance = thread;
    Family& family = familyFor(exported);
    // Two counters at the same place would make the scrape invalid; the
    // first one found stands.
    if (!family.places.emplace(package, level, instance).second) return;
    if ((typeCode & 0xFF00) == kLevelPackage && !family.namedByPackage) {
      family.data.help = MetricNames::help(counter.name, counter.unit);
      family.namedByPackage = true;
    } else if (family.data.help.empty()) {
      family.data.help = MetricNames::help(exported.description, counter.unit);
    }
    prometheus::ClientMetric metric;
    metric.label = {{"instance", std::to_string(instance)}, {"level", level}, {"package", std::to_string(package)}};
    metric.gauge.value = inBaseUnit(value, exported.factor);
    family.data.metric.push_back(std::move(metric));
  }

  std::vector<prometheus::MetricFamily> take() {
    std::vector<prometheus::MetricFamily> result;
    result.reserve(m_families.size());
    for (Family& family : m_families) result.push_back(std::move(family.data));
    return result;
  }

 private:
  struct Family {
    prometheus::MetricFamily data;
    std::set<std::tuple<int32_t, std::string, int32_t>> places;
    bool namedByPackage = false;
  };

  Family& familyFor(const ExportedMetric& exported) {
    auto [position, added] = m_index.emplace(exported.family, m_families.size());
    if (added) {
      m_families.emplace_back();
      m_families.back().data.name = exported.family;
      m_families.back().data.type = prometheus::MetricType::Gauge;
    }
    return m_families[position->second];
  }

  std::vector<Family> m_families;
  std::map<std::string, size_t> m_index;
};

}  // namespace

bool MetricsCollector::newestPoint(const CDataTable& history, float* value) {
  // The write position announces a point only once it is stored; a push
  // under way meanwhile fills the slot after it.
  const int32_t count = history.count.acquire();
  const int32_t position = history.writePosition.acquire();
  if (count <= 0 || position < 0 || position >= history.capacity) return false;
  *value = history.values[position].load();
  return true;
}

std::vector<prometheus::MetricFamily> MetricsCollector::Collect() const {
  const CTList<CProcessor_2>* processors = m_processors.load();
  if (processors == nullptr) return {};
  return collect(*processors);
}

std::vector<prometheus::MetricFamily> MetricsCollector::collect(const CTList<CProcessor_2>& processors) {
  FamilyBuilder builder;
  int32_t packageIndex = 0;
  for (const CProcessor_2* package : processors) {
    std::shared_lock lock(package->countersLock);
    const std::vector<int32_t> coreOfThread = package->coreOfEachThread();
    // The package's own figures first, so that they name the families.
    for (const CCounter* counter : package->counters) builder.add(*counter, packageIndex, 0, 0);
    for (size_t c = 0; c < package->cores.size(); ++c) {
      for (const CCounter* counter : package->cores[c].counters) {
        builder.add(*counter, packageIndex, static_cast<int32_t>(c), 0);
      }
    }
    for (size_t t = 0; t < package->threads.size(); ++t) {
      for (const CCounter* counter : package->threads[t].counters) {
        builder.add(*counter, packageIndex, coreOfThread[t], static_cast<int32_t>(t));
      }
    }
    ++packageIndex;
  }
  return builder.take();
}

}  // namespace tv2

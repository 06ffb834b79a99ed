// The counters as Prometheus families: on every simulated processor class and
// configuration every counter is served, at its place, in base units that
// match what the simulated workload really did, and Debian's promtool accepts
// the scrape; the newest point of a history is read without a torn slot.

#include <gtest/gtest.h>

#include <prometheus/text_serializer.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "app/Configurations.h"
#include "counters/KernelFrequencyCounter.h"
#include "counters/model/CDataTable.h"
#include "cpu/ModelGroups.h"
#include "serve/MetricNames.h"
#include "serve/MetricsCollector.h"
#include "tests/app/SimAppHarness.h"

namespace tv2 {
namespace {

using testing::RecordingViews;
using testing::SimAppHarness;

using Place = std::tuple<int32_t, std::string, int32_t>;  // package, level, instance
using Scrape = std::map<std::string, std::map<Place, double>>;

Scrape index(const std::vector<prometheus::MetricFamily>& families) {
  Scrape scrape;
  for (const prometheus::MetricFamily& family : families) {
    EXPECT_EQ(scrape.count(family.name), 0u) << family.name << " served twice";
    EXPECT_EQ(family.type, prometheus::MetricType::Gauge) << family.name;
    EXPECT_FALSE(family.help.empty()) << family.name;
    auto& gauges = scrape[family.name];
    for (const prometheus::ClientMetric& metric : family.metric) {
      std::map<std::string, std::string> labels;
      for (const auto& label : metric.label) labels[label.name] = label.value;
      EXPECT_EQ(labels.size(), 3u) << family.name;
      Place place{std::stoi(labels["package"]), labels["level"], std::stoi(labels["instance"])};
      EXPECT_TRUE(gauges.emplace(place, metric.gauge.value).second) << family.name << " repeats a place";
    }
  }
  return scrape;
}

// Debian's promtool on the text a scrape returns: status and findings.
std::pair<int, std::string> promtool(const std::string& text) {
  const std::string path = ::testing::TempDir() + "tv2-scrape-" + std::to_string(::getpid()) + ".txt";
  {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return {-1, "cannot write " + path};
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  std::FILE* pipe = ::popen(("promtool check metrics < " + path + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, "cannot run promtool"};
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = ::pclose(pipe);
  std::remove(path.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// A different load on each processor, so a figure served at the wrong place
// shows; one whole-degree temperature, which every sensor reports exactly.
constexpr double kCelsius = 47.0;
void setWorkload(sim::SimMachine& machine) {
  for (int cpu = 0; cpu < machine.logicalProcessorCount(); ++cpu) {
    machine.setLoad(cpu, 0.3 + 0.07 * ((cpu * 3) % 9));
    machine.setTemperature(machine.processor(cpu)->package, kCelsius);
  }
}

void expectNear(const Scrape& scrape, const std::string& family, const Place& place, double truth) {
  auto f = scrape.find(family);
  ASSERT_NE(f, scrape.end()) << family << " missing";
  auto g = f->second.find(place);
  ASSERT_NE(g, f->second.end()) << family << " missing at " << std::get<1>(place) << " " << std::get<2>(place);
  EXPECT_NEAR(g->second, truth, std::fabs(truth) * 0.01 + 1e-9)
      << family << " at " << std::get<1>(place) << " " << std::get<2>(place);
}

class MetricsCollectorPresetTest : public ::testing::TestWithParam<std::string> {};

std::string presetName(const ::testing::TestParamInfo<std::string>& param) {
  std::string name = param.param;
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

TEST_P(MetricsCollectorPresetTest, EveryCounterIsServedInBaseUnitsInEveryConfiguration) {
  SimAppHarness sim(GetParam());
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  for (int32_t config = 0; config < sim.app->configCount; ++config) {
    SCOPED_TRACE("configuration " + std::to_string(config));
    if (config > 0) {
      RecordingViews views;
      ASSERT_TRUE(SelectConfiguration(*sim.app, views, config, true));
    }
    sim.run(3000);
    const std::vector<prometheus::MetricFamily> families = MetricsCollector::collect(sim.app->processors);
    const Scrape scrape = index(families);

    int32_t packageIndex = 0;
    size_t expected = 0;
    for (const CProcessor_2* package : sim.app->processors) {
      SCOPED_TRACE("package " + std::to_string(packageIndex));
      // Every counter the views could show is served: none is lost to a
      // unit without a conversion.
      CTList<CCounter> all;
      package->FindCounters(0, 0, all);
      for (const CCounter* counter : all) {
        if (counter->typeCode() == 0) continue;
        ++expected;
        EXPECT_NE(MetricNames::lookUp(counter->typeCode(), counter->unit).family, nullptr)
            << counter->name << " in " << counter->unit << " (code 0x" << std::hex << counter->typeCode() << ")";
      }
      // Figures against the workload, in base units.
      const int pkg = sim.machine->processor(sim.cpuOf(package->threads.front()))->package;
      if (package->packagePower) {
        expectNear(scrape, "tarvelle2_package_power_watts", {packageIndex, "package", 0},
                   sim.machine->truePower(pkg, sim::SimPowerDomain::kPackage));
      }
      // The Atom's sensor counts down from a TjMax of 90 that the program,
      // without the register that holds it, takes for 100.
      double shown = kCelsius;
      if (classifyProcessor(package->processorCode) == ModelGroup::Intel_FSB) {
        shown += 100 - sim.machine->config().model.part.tjMax;
      }
      if (package->temperatureSummary) {
        expectNear(scrape, "tarvelle2_temperature_celsius", {packageIndex, "package", 0}, shown);
      }
      if (auto temperatures = scrape.find("tarvelle2_temperature_celsius"); temperatures != scrape.end()) {
        for (const auto& [place, value] : temperatures->second) {
          EXPECT_NEAR(value, shown, 0.5) << std::get<1>(place) << " " << std::get<2>(place);
        }
      }
      for (size_t t = 0; t < package->threads.size(); ++t) {
        const LogicalProcessorRecord& record = package->threads[t];
        const int cpu = sim.cpuOf(record);
        const Place at{packageIndex, "cpu", static_cast<int32_t>(t)};
        const double busy = sim.machine->trueRate(cpu, sim::SimEvent::kReferenceCycles) / (sim.machine->tscMhz() * 1e6);
        const double cycles = sim.machine->trueRate(cpu, sim::SimEvent::kUnhaltedCycles);
        const double instructions = sim.machine->trueRate(cpu, sim::SimEvent::kInstructions);
        if (record.usage) expectNear(scrape, "tarvelle2_usage_ratio", at, busy);
        if (record.instructions) expectNear(scrape, "tarvelle2_instructions_per_second", at, instructions);
        // Where nothing may be counted the kernel path serves cpufreq's clock there.
        const bool clock = dynamic_cast<const KernelFrequencyCounter*>(record.coreCycles) != nullptr;
        if (record.coreCycles) {
          expectNear(scrape, "tarvelle2_core_cycles_hertz", at, clock ? sim.machine->trueClockMhz(cpu) * 1e6 : cycles);
        }
        if (record.ipc) expectNear(scrape, "tarvelle2_instructions_per_cycle", at, instructions / cycles);
      }
      ++packageIndex;
    }
    size_t served = 0;
    for (const auto& [name, gauges] : scrape) {
      served += gauges.size();
      EXPECT_TRUE(std::regex_match(name, std::regex("tarvelle2_[a-z0-9_]+_(ratio|celsius|watts|hertz|second|cycle|"
                                                    "instruction|joule)")))
          << name;
      if (name.ends_with("_ratio")) {
        for (const auto& [place, value] : gauges) {
          EXPECT_TRUE(value >= 0 && value <= 1) << name << " = " << value;
        }
      }
    }
    EXPECT_EQ(served, expected) << "a counter is missing or served twice";

    auto [status, findings] = promtool(prometheus::TextSerializer().Serialize(families));
    EXPECT_EQ(status, 0) << findings;
  }
}

INSTANTIATE_TEST_SUITE_P(Presets, MetricsCollectorPresetTest,
                         ::testing::ValuesIn(sim::SimMachine::presetNames()), presetName);

TEST(MetricsCollectorTest, NewestPointFollowsTheRingThroughWrapsAndClears) {
  CDataTable history;
  float value = 0;
  EXPECT_FALSE(MetricsCollector::newestPoint(history, &value));
  history.Push(100, 1.5f);
  ASSERT_TRUE(MetricsCollector::newestPoint(history, &value));
  EXPECT_EQ(value, 1.5f);
  // Once the ring has wrapped, the slot before the newest holds the oldest.
  for (int32_t i = 1; i <= CDataTable::kCapacity + 3; ++i) history.Push(100 + 100u * i, static_cast<float>(i));
  ASSERT_TRUE(MetricsCollector::newestPoint(history, &value));
  EXPECT_EQ(value, static_cast<float>(CDataTable::kCapacity + 3));
  // A cleared history has no point, though its slots still hold old ones.
  history.Clear();
  EXPECT_FALSE(MetricsCollector::newestPoint(history, &value));
  history.Push(99999, 7.0f);
  ASSERT_TRUE(MetricsCollector::newestPoint(history, &value));
  EXPECT_EQ(value, 7.0f);
}

TEST(MetricsCollectorTest, UnknownUnitsAndLevelsAreNotServed) {
  EXPECT_EQ(MetricNames::lookUp(0x101, "%").factor, 0.01);
  // A unit the metric has no conversion for, a raw register and a level
  // the program does not show: never a figure in a wrong unit.
  EXPECT_EQ(MetricNames::lookUp(0x101, "W").family, nullptr);
  EXPECT_EQ(MetricNames::lookUp(0, "%").family, nullptr);
  EXPECT_EQ(MetricNames::lookUp(0x201, "%").family, nullptr);
  EXPECT_EQ(MetricNames::lookUp(0x1FF, "%").family, nullptr);
}

}  // namespace
}  // namespace tv2

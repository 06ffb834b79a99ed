// The CSV recording on the simulated Sandy Bridge, driven tick by tick on a
// manual clock: the file parses, every metric of every level is in it with
// every point its history took, the values follow the true workload, and a
// recording stopped part-way is whole up to its last row.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "CountingTruth.h"
#include "SimAppHarness.h"
#include "app/HeadlessRun.h"
#include "app/Recorder.h"
#include "app/SamplingEngine.h"
#include "app/StreamSink.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::testing {
namespace {

struct Row {
  long long clock = 0;
  int package = 0;
  std::string level;
  int instance = 0;
  int metric = 0;
  std::string name;
  std::string unit;
  double value = 0;
};

// One CSV record into fields, quotes undone; false on a malformed line.
bool splitCsv(const std::string& line, std::vector<std::string>* fields) {
  fields->assign(1, std::string());
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields->back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields->back() += c;
      }
    } else if (c == '"' && fields->back().empty()) {
      quoted = true;
    } else if (c == ',') {
      fields->emplace_back();
    } else {
      fields->back() += c;
    }
  }
  return !quoted;
}

// The whole text: header first, every line complete and well formed.
std::vector<Row> parseCsv(const std::string& text) {
  std::vector<Row> rows;
  EXPECT_FALSE(text.empty());
  if (text.empty()) return rows;
  EXPECT_EQ(text.back(), '\n') << "the last row is unfinished";
  std::istringstream in(text);
  std::string line;
  EXPECT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, Recorder::kHeader);
  std::vector<std::string> f;
  while (std::getline(in, line)) {
    EXPECT_TRUE(splitCsv(line, &f)) << line;
    EXPECT_EQ(f.size(), 8u) << line;
    if (f.size() != 8) continue;
    Row r;
    size_t used = 0;
    r.clock = std::stoll(f[0], &used);
    EXPECT_EQ(used, f[0].size()) << line;
    r.package = std::stoi(f[1]);
    r.level = f[2];
    EXPECT_TRUE(r.level == "package" || r.level == "core" || r.level == "cpu") << line;
    r.instance = std::stoi(f[3]);
    r.metric = std::stoi(f[4]);
    r.name = f[5];
    r.unit = f[6];
    r.value = std::stod(f[7], &used);
    EXPECT_EQ(used, f[7].size()) << line;
    rows.push_back(r);
  }
  return rows;
}

void setWorkload(sim::SimMachine& machine) {
  for (int cpu = 0; cpu < machine.logicalProcessorCount(); ++cpu) {
    machine.setLoad(cpu, 0.3 + 0.07 * ((cpu * 5) % 9));
    // Whole degrees, as the sensors report them.
    const sim::SimLogicalProcessor* identity = machine.processor(cpu);
    machine.setCoreTemperature(identity->package, identity->core, 44 + 2 * identity->core);
  }
}

// A counter as the file names it.
using Key = std::tuple<int, std::string, int, int, std::string>;  // package, level, instance, metric, name

const char* levelOf(const CCounter& c) {
  switch (c.typeCode() & 0xFF00) {
    case kLevelPackage: return "package";
    case kLevelCore: return "core";
    case kLevelThread: return "cpu";
    default: return "?";
  }
}

// Every recorded counter of the machine with where it must appear, from the
// records' own places: logical processors and cores by their position.
std::map<Key, const CCounter*> catalogueCounters(const CTarvelle2App& app) {
  std::map<Key, const CCounter*> all;
  int p = 0;
  for (const CProcessor_2* package : app.processors) {
    auto add = [&](const CCounter* c, int core, int thread) {
      if (c->typeCode() == 0) return;
      const uint32_t level = c->typeCode() & 0xFF00;
      int instance = level == kLevelCore ? core : level == kLevelThread ? thread : 0;
      all[Key{p, levelOf(*c), instance, static_cast<int>(c->typeCode() & 0xFF), c->name}] = c;
    };
    for (size_t t = 0; t < package->threads.size(); ++t) {
      int core = 0;
      for (size_t k = 0; k < package->cores.size(); ++k) {
        for (const LogicalProcessorRecord* m : package->cores[k].threads) {
          if (m == &package->threads[t]) core = static_cast<int>(k);
        }
      }
      for (const CCounter* c : package->threads[t].counters) add(c, core, static_cast<int>(t));
    }
    for (size_t k = 0; k < package->cores.size(); ++k) {
      for (const CCounter* c : package->cores[k].counters) add(c, static_cast<int>(k), 0);
    }
    for (const CCounter* c : package->counters) add(c, 0, 0);
    ++p;
  }
  return all;
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setWorkload(*h.machine);
    ASSERT_TRUE(h.start());
  }
  // The display tick's loop: one tick of machine time, then the new rows.
  void record(Recorder& recorder, int ticks) {
    for (int i = 0; i < ticks; ++i) {
      h.run(100);
      recorder.collect(h.app->processors);
    }
  }
  SimAppHarness h{"intel-snb"};
};

TEST_F(RecorderTest, EveryMetricAtEveryLevelWithEveryPointAndTrueValues) {
  std::ostringstream out;
  Recorder recorder(out, {});
  recorder.writeHeader();
  record(recorder, 40);
  std::vector<Row> rows = parseCsv(out.str());
  EXPECT_EQ(static_cast<int64_t>(rows.size()), recorder.rowCount());

  std::map<Key, std::vector<const Row*>> byCounter;
  for (const Row& r : rows) byCounter[Key{r.package, r.level, r.instance, r.metric, r.name}].push_back(&r);
  std::map<Key, const CCounter*> counters = catalogueCounters(*h.app);
  ASSERT_FALSE(counters.empty());
  std::set<std::string> levels;
  for (const auto& [key, counter] : counters) {
    const std::string what = std::get<1>(key) + " " + std::to_string(std::get<2>(key)) + " " + std::get<4>(key);
    auto found = byCounter.find(key);
    ASSERT_NE(found, byCounter.end()) << what << " not recorded";
    levels.insert(std::get<1>(key));
    const std::vector<const Row*>& points = found->second;
    // Nothing lost or written twice: one row per point the history holds.
    EXPECT_EQ(static_cast<int32_t>(points.size()), counter->history->count.load()) << what;
    for (size_t i = 1; i < points.size(); ++i) EXPECT_GT(points[i]->clock, points[i - 1]->clock) << what;
    EXPECT_EQ(points.front()->unit, counter->unit) << what;
    // The newest row is the counter's current figure, which the truth below
    // checks against the workload.
    EXPECT_FLOAT_EQ(static_cast<float>(points.back()->value), counter->value.load()) << what;
    EXPECT_LE(points.back()->clock, 4000) << what;
  }
  EXPECT_EQ(byCounter.size(), counters.size()) << "rows of counters the catalogue did not create";
  EXPECT_EQ(levels, (std::set<std::string>{"package", "core", "cpu"}));
  CountingTruth(*h.machine, *h.app->processors.At(0), 0).checkAll();

  // And directly from the file: each processor's instruction rate and the
  // package power against the workload.
  const CProcessor_2& package = *h.app->processors.At(0);
  for (size_t t = 0; t < package.threads.size(); ++t) {
    const CCounter* instructions = package.threads[t].instructions;
    ASSERT_NE(instructions, nullptr);
    Key key{0, "cpu", static_cast<int>(t), static_cast<int>(instructions->typeCode() & 0xFF), instructions->name};
    double truth = h.machine->trueRate(h.cpuOf(package.threads[t]), sim::SimEvent::kInstructions) / 1e6;
    EXPECT_NEAR(byCounter[key].back()->value, truth, truth * 0.01) << "cpu " << t;
  }
  ASSERT_NE(package.packagePower, nullptr);
  Key power{0, "package", 0, static_cast<int>(package.packagePower->typeCode() & 0xFF), package.packagePower->name};
  double watts = h.machine->truePower(0, sim::SimPowerDomain::kPackage);
  EXPECT_NEAR(byCounter[power].back()->value, watts, watts * 0.01);
}

TEST_F(RecorderTest, MetricListKeepsOnlyThoseMetrics) {
  const CProcessor_2& package = *h.app->processors.At(0);
  const int instructions = static_cast<int>(package.threads[0].instructions->typeCode() & 0xFF);
  const int power = static_cast<int>(package.packagePower->typeCode() & 0xFF);
  std::ostringstream out;
  Recorder recorder(out, {instructions, power});
  recorder.writeHeader();
  record(recorder, 12);
  std::vector<Row> rows = parseCsv(out.str());
  std::set<int> seen;
  for (const Row& r : rows) seen.insert(r.metric);
  EXPECT_EQ(seen, (std::set<int>{instructions, power}));
}

TEST(RecorderFieldTest, FieldsWithCommasOrQuotesAreQuoted) {
  EXPECT_EQ(Recorder::quoteField("MIPS"), "MIPS");
  EXPECT_EQ(Recorder::quoteField("a,b"), "\"a,b\"");
  EXPECT_EQ(Recorder::quoteField("say \"hi\""), "\"say \"\"hi\"\"\"");
  std::vector<std::string> f;
  ASSERT_TRUE(splitCsv(Recorder::quoteField("x,\"y\"") + "," + Recorder::quoteField("z"), &f));
  EXPECT_EQ(f, (std::vector<std::string>{"x,\"y\"", "z"}));
}

// The headless loop stopped by a signal after 17 ticks: the file holds the
// header and whole rows up to the stop, every point taken included.
TEST_F(RecorderTest, StoppedPartWayLeavesAWholeFile) {
  const std::filesystem::path path = h.folder / "stopped.csv";
  CommandLineOptions options;
  options.mode = RunMode::kRecord;
  options.seconds = 10;
  int waits = 0;
  auto stopWait = [&](uint32_t ms) {
    EXPECT_EQ(ms, kTickMs);
    if (++waits > 17) return true;
    h.run(100);
    return false;
  };
  std::string error;
  int status = 0;
  {
    std::ofstream file(path, std::ios::binary);
    StreamSink sink(file);
    status = HeadlessRun::record(*h.app, sink, options, stopWait, nullptr, &error);
  }
  EXPECT_EQ(status, HeadlessRun::kOk) << error;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Row> rows = parseCsv(text);
  ASSERT_FALSE(rows.empty());
  long long last = 0;
  for (const Row& r : rows) last = std::max(last, r.clock);
  EXPECT_LE(last, 1700);
  int64_t points = 0;
  for (const auto& [key, counter] : catalogueCounters(*h.app)) points += counter->history->count.load();
  EXPECT_EQ(static_cast<int64_t>(rows.size()), points);
}

// A target that takes so many bytes and then fails as a full disk does,
// storing part of the write that crosses the limit.
class FullTarget : public OutputSink {
 public:
  FullTarget(size_t capacity, bool canTakeBack) : m_capacity(capacity), m_canTakeBack(canTakeBack) {}
  bool write(std::string_view bytes, size_t* written) override {
    ++writes;
    const size_t room = m_capacity - std::min(m_capacity, text.size());
    *written = std::min(room, bytes.size());
    text.append(bytes.substr(0, *written));
    return *written == bytes.size();
  }
  bool takeBack(size_t count) override {
    if (!m_canTakeBack || count > text.size()) return false;
    text.resize(text.size() - count);
    return true;
  }
  std::string errorText() const override { return "No space left on device"; }

  std::string text;
  int writes = 0;

 private:
  size_t m_capacity;
  bool m_canTakeBack;
};

// A full target ends the recording at the first failed write: only whole
// rows stay, the reason is the system's, and nothing is written after it.
TEST_F(RecorderTest, AFullTargetStopsTheRecordingAtTheFirstFailedWrite) {
  CommandLineOptions options;
  options.mode = RunMode::kRecord;
  options.outputPath = "run.csv";
  options.seconds = 30;
  int waits = 0;
  auto stopWait = [&](uint32_t) {
    ++waits;
    h.run(100);
    return false;
  };
  FullTarget target(20000, true);
  std::string error;
  EXPECT_EQ(HeadlessRun::record(*h.app, target, options, stopWait, nullptr, &error), HeadlessRun::kFailed);
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  EXPECT_NE(error.find("'run.csv'"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  EXPECT_LT(waits, 100) << "the recording ran on after the target was full";
  const int writesAtFailure = target.writes;
  ASSERT_FALSE(target.text.empty());
  EXPECT_EQ(target.text.back(), '\n') << "an incomplete row was left";
  EXPECT_LE(target.text.size(), 20000u);
  const std::vector<Row> rows = parseCsv(target.text);
  EXPECT_FALSE(rows.empty());
  EXPECT_NE(error.find("after " + std::to_string(rows.size()) + " rows"), std::string::npos) << error;
  EXPECT_EQ(target.writes, writesAtFailure);

  // A target that cannot take the part back (a pipe) is named as holding an
  // incomplete row; a header that does not fit stops before any tick.
  FullTarget pipe(10, false);
  Recorder recorder(pipe, {});
  recorder.writeHeader();
  EXPECT_TRUE(recorder.failed());
  EXPECT_NE(recorder.failure().find("incomplete"), std::string::npos) << recorder.failure();
  EXPECT_EQ(recorder.collect(h.app->processors), 0);
  EXPECT_EQ(pipe.writes, 1);
  EXPECT_EQ(recorder.rowCount(), 0);
}

TEST_F(RecorderTest, AReportThatCannotBeWrittenSaysWhy) {
  FullTarget target(100, true);
  std::string error;
  EXPECT_EQ(HeadlessRun::report(*h.app, target, &error), HeadlessRun::kFailed);
  EXPECT_EQ(error, "No space left on device");
  FullTarget roomy(1 << 20, true);
  EXPECT_EQ(HeadlessRun::report(*h.app, roomy, &error), HeadlessRun::kOk);
  EXPECT_EQ(roomy.text.rfind("Processor = ", 0), 0u);
}

TEST_F(RecorderTest, ConfigurationsAreCheckedAndApplied) {
  std::string error;
  const int32_t count = h.app->configCount;
  ASSERT_GE(count, 2);
  EXPECT_EQ(HeadlessRun::selectConfiguration(*h.app, count, &error), HeadlessRun::kBadInput);
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_NE(error.find(std::to_string(count)), std::string::npos) << error;
  EXPECT_EQ(h.app->currentConfig, 0);

  EXPECT_EQ(HeadlessRun::selectConfiguration(*h.app, 1, &error), HeadlessRun::kOk) << error;
  EXPECT_EQ(h.app->currentConfig, 1);
  std::ostringstream out;
  Recorder recorder(out, {});
  recorder.writeHeader();
  record(recorder, 30);
  std::set<Key> recorded;
  for (const Row& r : parseCsv(out.str())) recorded.insert(Key{r.package, r.level, r.instance, r.metric, r.name});
  for (const auto& [key, counter] : catalogueCounters(*h.app)) {
    EXPECT_TRUE(recorded.count(key)) << std::get<4>(key);
  }
  CountingTruth(*h.machine, *h.app->processors.At(0), 0).checkAll();
}

// Histories of 512 points wrap many times over a long recording; each collect
// must still write exactly the points pushed since the previous one, and a
// cleared history starts over.
TEST(RecorderRingTest, WrappingAndClearedHistoriesLoseAndRepeatNothing) {
  CTList<CProcessor_2> processors;
  auto* package = new CProcessor_2;
  processors.Append(package);
  auto* kept = new CCounter(0);
  kept->setTypeCode(kLevelPackage | 7);
  kept->name = "watts, total";
  auto* raw = new CCounter(1);  // type code 0: a register, not a metric
  package->counters.Append(kept);
  package->counters.Append(raw);

  std::ostringstream out;
  Recorder recorder(out, {});
  recorder.writeHeader();
  uint32_t clock = 0;
  auto push = [&](int points) {
    for (int i = 0; i < points; ++i) {
      ++clock;
      kept->history->Push(clock, static_cast<float>(clock) / 4);
      raw->history->Push(clock, 1.0f);
    }
  };
  const int chunks[] = {0, 1, 511, 3, 500, 509, 7, 2};
  for (int chunk : chunks) {
    push(chunk);
    recorder.collect(processors);
  }
  const uint32_t beforeClear = clock;
  kept->history->Clear();
  push(5);
  recorder.collect(processors);
  recorder.collect(processors);  // nothing new

  std::vector<Row> rows = parseCsv(out.str());
  ASSERT_EQ(rows.size(), static_cast<size_t>(beforeClear + 5));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].clock, static_cast<long long>(i + 1)) << i;
    EXPECT_DOUBLE_EQ(rows[i].value, static_cast<double>(i + 1) / 4) << i;
    EXPECT_EQ(rows[i].name, kept->name);
    EXPECT_EQ(rows[i].metric, 7);
    EXPECT_EQ(rows[i].level, "package");
  }
  package->ClearCounters();
  processors.DeleteAll();
}

// Samplers push into rings that wrap every few microseconds while the
// user-interface thread records and clears: every recorded series runs
// forward in time with each point's own value (never a point 512 pushes old
// under a newer time), and a clear never lets a push bring the old history
// back. Run under ThreadSanitizer in CI.
TEST(RecorderRingTest, ClearsAndRecordingsBesideRunningSamplersLoseNothingAndResurrectNothing) {
  auto machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"));
  sim::SimPlatform platform(machine);
  SamplingEngine engine(platform);
  CTList<CProcessor_2> processors;
  auto* package = new CProcessor_2;
  processors.Append(package);
  constexpr int kSamplers = 2;
  package->threads.resize(kSamplers);
  std::vector<CCounter*> counters;
  for (int t = 0; t < kSamplers; ++t) {
    auto* counter = new CCounter(t);
    counter->setTypeCode(kLevelThread | 0x0F);
    counter->name = "CPU " + std::to_string(t);
    package->threads[static_cast<size_t>(t)].counters.Append(counter);
    counters.push_back(counter);
  }

  std::atomic<bool> done{false};
  std::vector<std::thread> samplers;
  for (int t = 0; t < kSamplers; ++t) {
    samplers.emplace_back([&, t] {
      // Like a counter sampler: the lock shared for a whole pass. Clocks stay
      // below 2^24 so that the float times are exact.
      // A short sleep between passes keeps every sampler pushing for the
      // whole recording (a sampler that ran flat out could reach the clock
      // limit before the recorder was first scheduled, leaving nothing to
      // record); the ring still wraps every 14 passes, well within a round.
      uint32_t clock = 0;
      while (!done && clock < (1u << 24) - 64) {
        {
          std::shared_lock lock(package->countersLock);
          for (int i = 0; i < 37; ++i) {
            ++clock;
            counters[static_cast<size_t>(t)]->history->Push(clock, static_cast<float>(clock) * 0.5f);
          }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      }
    });
  }

  std::ostringstream out;
  Recorder recorder(out, {});
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  int clears = 0;
  for (int round = 0; std::chrono::steady_clock::now() < until || round < 40; ++round) {
    recorder.collect(processors);
    if (round % 5 == 4) {
      engine.clearHistories(*package, round % 2 == 0);
      ++clears;
      // Nothing pushes while the lock is held: every history holds exactly
      // the points pushed since its clear, never its old contents.
      std::unique_lock lock(package->countersLock);
      for (const CCounter* counter : counters) {
        const CDataTable& h = *counter->history;
        const uint32_t since = h.pushes.load() - h.clearedAt.load();
        ASSERT_EQ(h.count.load(), static_cast<int32_t>(std::min<uint32_t>(since, 512))) << counter->name;
      }
    }
  }
  done = true;
  for (std::thread& sampler : samplers) sampler.join();
  recorder.collect(processors);
  EXPECT_GT(clears, 0);

  std::map<std::string, long long> last;
  size_t rows = 0;
  std::istringstream lines(out.str());
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    ASSERT_TRUE(splitCsv(line, &fields)) << line;
    ASSERT_EQ(fields.size(), 8u) << line;
    const long long clock = std::stoll(fields[0]);
    const double value = std::stod(fields[7]);
    ASSERT_EQ(value, static_cast<double>(clock) * 0.5) << line;
    auto [it, first] = last.emplace(fields[5], clock);
    if (!first) {
      ASSERT_GT(clock, it->second) << "a point out of order in " << fields[5];
      it->second = clock;
    }
    ++rows;
  }
  EXPECT_EQ(last.size(), static_cast<size_t>(kSamplers));
  EXPECT_GT(rows, 1000u);
  package->ClearCounters();
  processors.DeleteAll();
}

}  // namespace
}  // namespace tv2::testing

// Every processor-level figure the catalogue can build, on every processor
// class and configuration: its label, unit, full scale and whether it shows
// one decimal, against the table of figures the monitor offers.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "counters/MetricCatalogue.h"
#include "cpu/ModelGroups.h"
#include "tests/counters/SimDriverHarness.h"

namespace tv2 {
namespace {

using testing::SimDriverHarness;

struct Row {
  const char* label;
  const char* unit;
  int32_t fullScale;  // 0: six per logical processor
  bool oneDecimal;
};

// The processor-level rows, by type code. Labels that differ by class are
// chosen in expectedRow.
const std::map<uint32_t, Row>& table() {
  static const std::map<uint32_t, Row> rows = {
      {0x101, {"使用率", "%", 100, false}},
      {0x102, {"封装温度", "°C", 120, false}},
      {0x103, {"封装功率", "W", 200, true}},
      {0x105, {"IA 核心功率", "W", 200, true}},
      {0x106, {"GT 功率", "W", 200, true}},
      {0x107, {"DRAM 功率", "W", 200, true}},
      {0x108, {"Uncore 功率", "W", 200, true}},
      {0x10A, {"Unhalted 核心周期 (CPU 0)", "MHz", 7000, false}},
      {0x10E, {"停滞周期比", "%", 100, false}},
      {0x10F, {"消耗指令数 (MIPS)", "GIPS", 0, true}},
      {0x110, {"每周期指令 (IPC)", "i/c", 4, true}},
      {0x111, {"每指令周期 (CPI)", "c/i", 50, true}},
      {0x112, {"每瓦指令 (IPW)", "Mi/J", 1000, true}},
      {0x113, {"L2 命中率", "%", 100, false}},
      {0x114, {"L3 命中率", "%", 100, false}},
      {0x115, {"L2 请求率", "%", 100, true}},
      {0x116, {"L3 请求率", "%", 100, true}},
      {0x117, {"分支命中率", "%", 100, false}},
      {0x118, {"Branch Inst. Rate", "%", 100, false}},
  };
  return rows;
}

Row expectedRow(uint32_t code, ModelGroup group, int32_t logicalProcessors) {
  Row row = table().at(code);
  if (row.fullScale == 0) row.fullScale = 6 * logicalProcessors;
  if (code == 0x102 && (group == ModelGroup::Intel_B133 || group == ModelGroup::Intel_FSB)) row.label = "温度 (核心 0)";
  if (code == 0x105 && group == ModelGroup::AMD_TN) row.label = "核心功率";
  if (code == 0x106 && group == ModelGroup::AMD_KV) row.label = "GPU 功率";
  return row;
}

void build(SimDriverHarness& sim, CProcessor_2& package, int32_t configuration) {
  package.ClearCounters();
  CounterBuildContext context = sim.context();
  AddFixedCounters(package, context);
  AddEventCounters(package, context, configuration);
  AddNorthbridgeCounters(package, context);
  AddPowerAndThermalCounters(package, context);
  AddDerivedMetrics(package, context);
}

TEST(PackageRowsTest, EveryProcessorLevelFigureHasItsLabelUnitScaleAndDecimals) {
  struct Machine {
    const char* preset;
    int32_t configurations;
  };
  const Machine machines[] = {{"intel-b133", 2}, {"intel-snb", 2}, {"intel-fsb", 3},   {"amd-bd", 2},
                              {"amd-tn", 2},     {"amd-kv-15h", 2}, {"amd-kv-16h", 1}, {"unlisted", 1},
                              {"intel-snb-2p", 2}};
  std::set<uint32_t> seen;
  for (const Machine& m : machines) {
    SimDriverHarness sim(m.preset);
    for (CProcessor_2* package : sim.processors) {
      const ModelGroup group = classifyProcessor(package->processorCode);
      const auto logical = static_cast<int32_t>(package->threads.size());
      for (int32_t configuration = 0; configuration < m.configurations; ++configuration) {
        SCOPED_TRACE(std::string(m.preset) + " configuration " + std::to_string(configuration));
        build(sim, *package, configuration);
        // Package-level figures, wherever they stand (sensors stand in the
        // first logical processor's list).
        CTList<CCounter> found;
        package->FindCounters(0xFF00, 0x100, found);
        int32_t rows = 0;
        for (const CCounter* counter : found) {
          const uint32_t code = counter->typeCode();
          ASSERT_EQ(code & 0xFF00, 0x100u) << counter->name;
          ASSERT_TRUE(table().count(code)) << std::hex << code;
          const Row row = expectedRow(code, group, logical);
          EXPECT_EQ(counter->name, row.label) << std::hex << code;
          EXPECT_EQ(counter->unit, row.unit) << std::hex << code;
          EXPECT_EQ(counter->fullScale, row.fullScale) << std::hex << code;
          EXPECT_EQ((counter->displayFlags & kShowOneDecimal) != 0, row.oneDecimal) << std::hex << code;
          seen.insert(code);
          ++rows;
        }
        // Usage is there on every processor.
        EXPECT_GT(rows, 0);
      }
    }
  }
  // Between them the classes build every row of the table.
  for (const auto& [code, row] : table()) EXPECT_TRUE(seen.count(code)) << std::hex << code << " " << row.label;
}

}  // namespace
}  // namespace tv2

#include "serve/MetricNames.h"

#include <cstring>
#include <iterator>

#include "counters/model/CCounter.h"

namespace tv2 {

namespace {

struct UnitFactor {
  const char* unit;
  double factor;
};

// Per metric number: the family name and the catalogue units it comes in.
// Cycle and event counters without a unit count millions per second.
struct MetricRow {
  int32_t metric;
  const char* description;  // HELP when no package-level counter names the metric
  const char* family;
  UnitFactor units[2];
};

constexpr UnitFactor kPercent{"%", 0.01};
constexpr UnitFactor kMega{"MHz", 1e6};
constexpr UnitFactor kMegaPerSecond{"", 1e6};
constexpr UnitFactor kWatts{"W", 1.0};

constexpr MetricRow kRows[] = {
    {1, "Usage", "tarvelle2_usage_ratio", {kPercent, {}}},
    {2, "Temperature", "tarvelle2_temperature_celsius", {{"°C", 1.0}, {}}},
    {3, "Package power", "tarvelle2_package_power_watts", {kWatts, {}}},
    {5, "Core power", "tarvelle2_core_power_watts", {kWatts, {}}},
    {6, "Graphics power", "tarvelle2_graphics_power_watts", {kWatts, {}}},
    {7, "DRAM power", "tarvelle2_dram_power_watts", {kWatts, {}}},
    {8, "Uncore power", "tarvelle2_uncore_power_watts", {kWatts, {}}},
    {10, "Unhalted core cycles", "tarvelle2_core_cycles_hertz", {kMega, kMegaPerSecond}},
    {11, "Reference cycles", "tarvelle2_reference_cycles_hertz", {kMega, kMegaPerSecond}},
    {12, "Stalled cycles", "tarvelle2_stalled_cycles_hertz", {kMegaPerSecond, kMega}},
    {13, "Total cycles", "tarvelle2_total_cycles_hertz", {kMegaPerSecond, kMega}},
    {14, "Stalled cycle share", "tarvelle2_stalled_cycles_ratio", {kPercent, {}}},
    {15, "Instructions retired", "tarvelle2_instructions_per_second", {{"MIPS", 1e6}, {"GIPS", 1e9}}},
    {16, "Instructions per cycle", "tarvelle2_instructions_per_cycle", {{"i/c", 1.0}, {}}},
    {17, "Cycles per instruction", "tarvelle2_cycles_per_instruction", {{"c/i", 1.0}, {}}},
    {18, "Instructions per joule", "tarvelle2_instructions_per_joule", {{"Mi/J", 1e6}, {}}},
    {19, "L2 hit rate", "tarvelle2_l2_hit_ratio", {kPercent, {}}},
    {20, "L3 hit rate", "tarvelle2_l3_hit_ratio", {kPercent, {}}},
    {21, "L2 request rate", "tarvelle2_l2_request_ratio", {kPercent, {}}},
    {22, "L3 request rate", "tarvelle2_l3_request_ratio", {kPercent, {}}},
    {23, "Branch hit rate", "tarvelle2_branch_hit_ratio", {kPercent, {}}},
    {24, "Branch instruction rate", "tarvelle2_branch_instruction_ratio", {kPercent, {}}},
};

}  // namespace

const char* MetricNames::levelName(uint32_t typeCode) {
  switch (typeCode & 0xFF00) {
    case kLevelPackage: return "package";
    case kLevelCore: return "core";
    case kLevelThread: return "cpu";
    default: return nullptr;
  }
}

ExportedMetric MetricNames::lookUp(uint32_t typeCode, const std::string& unit) {
  if (typeCode == 0 || levelName(typeCode) == nullptr) return {};
  const auto metric = static_cast<int32_t>(typeCode & 0xFF);
  for (const MetricRow& row : kRows) {
    if (row.metric != metric) continue;
    for (const UnitFactor& known : row.units) {
      if (known.unit != nullptr && unit == known.unit) return {row.family, known.factor, row.description};
    }
    return {};
  }
  return {};
}

std::string MetricNames::help(const std::string& label, const std::string& unit) {
  if (unit.empty()) return label;
  return label + " (" + unit + ")";
}

}  // namespace tv2

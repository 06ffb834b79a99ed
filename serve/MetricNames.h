#pragma once

#include <cstdint>
#include <string>

namespace tv2 {

// How a counter is exported: the gauge family it belongs to and the factor
// that turns its catalogue unit into the family's base unit.
struct ExportedMetric {
  const char* family = nullptr;  // with the tarvelle2_ prefix and the unit suffix
  double factor = 1.0;           // catalogue value * factor = value in the base unit
  const char* description = "";  // plain name of the metric
};

// Prometheus names for the catalogue's metrics: one family per metric
// number, whatever the level (package, core or logical processor) of the
// counter, in base units: percentages as 0..1 ratios, MHz and millions of
// events per second as hertz, MIPS and GIPS as instructions per second.
class MetricNames {
 public:
  static constexpr const char* kPrefix = "tarvelle2_";

  // The family and factor for a counter with this type code and catalogue
  // unit; a null family for raw registers (type code 0), levels the program
  // does not show, and a unit that the metric has no conversion for (a
  // figure is never exported in a wrong unit).
  static ExportedMetric lookUp(uint32_t typeCode, const std::string& unit);

  // "package", "core" or "cpu" for a type code's level; null for any other.
  static const char* levelName(uint32_t typeCode);

  // A family's HELP text: the catalogue's label and unit.
  static std::string help(const std::string& label, const std::string& unit);
};

}  // namespace tv2

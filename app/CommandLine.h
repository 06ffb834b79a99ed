#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv2 {

// What the program was asked to do.
enum class RunMode {
  kMonitor,  // the monitor itself (no mode option)
  kHelp,     // print the usage and end
  kReport,   // write the debug report and end
  kRecord,   // record the counters as CSV for a number of seconds
};

struct CommandLineOptions {
  RunMode mode = RunMode::kMonitor;
  std::string preset;      // empty: this machine
  std::string outputPath;  // report or record target; empty or "-": standard output
  int32_t seconds = 0;     // recording length
  int32_t configuration = 0;
  std::vector<int32_t> metrics;  // metric numbers to keep; empty keeps all
  // Load of a simulated machine: empty for the drifting demonstration, one
  // share (0..1) for every logical processor, or one per logical processor.
  std::vector<double> load;
  bool serve = false;            // serve the counters to Prometheus (--serve)
  std::string serveAddress = "127.0.0.1";
  int32_t servePort = 0;         // 0: a free port the system picks
  bool window = false;           // with --serve: open the window as well
};

// Either the options or a one-line error message (without the program name).
struct CommandLineResult {
  bool ok = false;
  CommandLineOptions options;
  std::string error;
};

// The command line, checked in full before anything starts: unknown options,
// missing or malformed values, options that do not belong to the chosen mode
// and unknown presets are errors.
class CommandLine {
 public:
  static constexpr int32_t kMaxSeconds = 31 * 24 * 3600;
  static constexpr int32_t kMaxConfiguration = 255;
  static constexpr int32_t kMaxMetric = 255;
  static constexpr size_t kMaxLoadItems = 4096;

  // args excludes the program name; presets are the known preset names.
  static CommandLineResult parse(const std::vector<std::string>& args, const std::vector<std::string>& presets);

  // The text --help prints.
  static std::string usage(const std::vector<std::string>& presets);

  // A whole decimal number without sign in 0..maxValue; false otherwise.
  static bool parseNumber(const std::string& text, int32_t maxValue, int32_t* value);
  // Comma-separated metric numbers; false on an empty list or item.
  static bool parseMetricList(const std::string& text, std::vector<int32_t>* metrics);
  // A share from 0 to 1 as a decimal number ("0.7", "1", ".25"); false otherwise.
  static bool parseShare(const std::string& text, double* share);
  // "demo" (an empty list), or comma-separated shares; false on anything else.
  static bool parseLoad(const std::string& text, std::vector<double>* load);
  // Empty when the --load list fits a machine with this many logical
  // processors, else the one-line error.
  static std::string checkLoadFits(const std::vector<double>& load, int logicalProcessors);
  // [ADDR:]PORT: a port from 0 to 65535, after a numeric IPv4 address or an
  // IPv6 address in brackets; *address is left alone when none is given.
  static bool parseServeEndpoint(const std::string& text, std::string* address, int32_t* port);
};

}  // namespace tv2

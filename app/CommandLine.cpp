#include "app/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace tv2 {

namespace {

CommandLineResult failure(std::string message) {
  CommandLineResult result;
  result.error = std::move(message);
  return result;
}

bool isOption(const std::string& text) { return text.size() > 1 && text[0] == '-'; }

}  // namespace

bool CommandLine::parseNumber(const std::string& text, int32_t maxValue, int32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number > maxValue) return false;
  *value = static_cast<int32_t>(number);
  return true;
}

bool CommandLine::parseMetricList(const std::string& text, std::vector<int32_t>* metrics) {
  metrics->clear();
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int32_t number = 0;
    if (!parseNumber(item, kMaxMetric, &number)) return false;
    if (std::find(metrics->begin(), metrics->end(), number) == metrics->end()) metrics->push_back(number);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool CommandLine::parseShare(const std::string& text, double* share) {
  // Digits, at most one point, at least one digit, nothing else: no sign,
  // exponent, "inf" or "nan" as a general number parser would take.
  if (text.empty() || text.size() > 20) return false;
  bool point = false, digit = false;
  for (char c : text) {
    if (c == '.') {
      if (point) return false;
      point = true;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  // Converted without the locale, which may use a comma for the point.
  double value = 0.0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const std::from_chars_result converted = std::from_chars(begin, end, value, std::chars_format::fixed);
  if (converted.ec != std::errc() || converted.ptr != end || value > 1.0) return false;
  *share = value;
  return true;
}

bool CommandLine::parseLoad(const std::string& text, std::vector<double>* load) {
  load->clear();
  if (text == "demo") return true;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    double share = 0.0;
    if (!parseShare(item, &share) || load->size() >= kMaxLoadItems) {
      load->clear();
      return false;
    }
    load->push_back(share);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

std::string CommandLine::checkLoadFits(const std::vector<double>& load, int logicalProcessors) {
  if (load.size() <= 1 || load.size() == static_cast<size_t>(logicalProcessors)) return {};
  return "option '--load' lists " + std::to_string(load.size()) + " shares, but the machine has " +
         std::to_string(logicalProcessors) + " logical processors (give one share for all, or one for each)";
}

namespace {

bool isIpv4(const std::string& text) {
  int parts = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    int32_t number = 0;
    if (part.size() > 3 || !CommandLine::parseNumber(part, 255, &number)) return false;
    ++parts;
    if (dot == std::string::npos) return parts == 4;
    start = dot + 1;
  }
}

bool isIpv6(const std::string& text) {
  if (text.size() < 2 || text.size() > 45) return false;
  int colons = 0;
  for (char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (c == ':') ++colons;
    if (!hex && c != ':' && c != '.') return false;
  }
  return colons >= 2;
}

}  // namespace

bool CommandLine::parseServeEndpoint(const std::string& text, std::string* address, int32_t* port) {
  std::string host;
  std::string portText = text;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos || !isIpv6(text.substr(1, close - 1))) return false;
    host = text.substr(0, close + 1);
    portText = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    if (!isIpv4(host)) return false;
    portText = text.substr(colon + 1);
  }
  int32_t number = 0;
  if (portText.size() > 5 || !parseNumber(portText, 65535, &number)) return false;
  if (!host.empty()) *address = host;
  *port = number;
  return true;
}

CommandLineResult CommandLine::parse(const std::vector<std::string>& args, const std::vector<std::string>& presets) {
  CommandLineResult result;
  CommandLineOptions& options = result.options;
  bool haveSimulate = false, haveSeconds = false, haveConfig = false, haveMetrics = false, haveLoad = false;
  bool haveWindow = false;
  bool modeSet = false;

  auto setMode = [&](RunMode mode, const std::string& option) -> std::string {
    if (modeSet) return "option '" + option + "' cannot be combined with another mode option";
    modeSet = true;
    options.mode = mode;
    return {};
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.mode = RunMode::kHelp;
      result.ok = true;
      return result;
    }
    if (arg == "--simulate") {
      if (haveSimulate) return failure("option '--simulate' given twice");
      if (!hasValue || isOption(args[i + 1])) return failure("option '--simulate' needs a preset name");
      options.preset = args[++i];
      if (std::find(presets.begin(), presets.end(), options.preset) == presets.end()) {
        return failure("unknown preset '" + options.preset + "'");
      }
      haveSimulate = true;
    } else if (arg == "--report") {
      if (std::string error = setMode(RunMode::kReport, arg); !error.empty()) return failure(error);
      // The file is optional: a following word that is not an option names it.
      if (hasValue && (!isOption(args[i + 1]) || args[i + 1] == "-")) options.outputPath = args[++i];
    } else if (arg == "--record") {
      if (std::string error = setMode(RunMode::kRecord, arg); !error.empty()) return failure(error);
      if (!hasValue || (isOption(args[i + 1]) && args[i + 1] != "-")) {
        return failure("option '--record' needs a file name (or - for standard output)");
      }
      options.outputPath = args[++i];
    } else if (arg == "--seconds") {
      if (haveSeconds) return failure("option '--seconds' given twice");
      if (!hasValue) return failure("option '--seconds' needs a number of seconds");
      const std::string& text = args[++i];
      if (!parseNumber(text, kMaxSeconds, &options.seconds) || options.seconds == 0) {
        return failure("bad value '" + text + "' for --seconds (a whole number from 1 to " +
                       std::to_string(kMaxSeconds) + ")");
      }
      haveSeconds = true;
    } else if (arg == "--config") {
      if (haveConfig) return failure("option '--config' given twice");
      if (!hasValue) return failure("option '--config' needs a configuration number");
      const std::string& text = args[++i];
      if (!parseNumber(text, kMaxConfiguration, &options.configuration)) {
        return failure("bad value '" + text + "' for --config (a configuration number from 0)");
      }
      haveConfig = true;
    } else if (arg == "--metrics") {
      if (haveMetrics) return failure("option '--metrics' given twice");
      if (!hasValue) return failure("option '--metrics' needs a list of metric numbers");
      const std::string& text = args[++i];
      if (!parseMetricList(text, &options.metrics)) {
        return failure("bad value '" + text + "' for --metrics (comma-separated numbers from 0 to 255)");
      }
      haveMetrics = true;
    } else if (arg == "--load") {
      if (haveLoad) return failure("option '--load' given twice");
      if (!hasValue) return failure("option '--load' needs a share, a list of shares or 'demo'");
      const std::string& text = args[++i];
      if (!parseLoad(text, &options.load)) {
        return failure("bad value '" + text +
                       "' for --load (demo, a share from 0 to 1 such as 0.7, or one per logical processor "
                       "such as 1,0.5,0,0)");
      }
      haveLoad = true;
    } else if (arg == "--serve") {
      if (options.serve) return failure("option '--serve' given twice");
      if (!hasValue || isOption(args[i + 1])) return failure("option '--serve' needs [ADDRESS:]PORT");
      const std::string& text = args[++i];
      if (!parseServeEndpoint(text, &options.serveAddress, &options.servePort)) {
        return failure("bad value '" + text + "' for --serve (a port from 0 to 65535, optionally after a numeric " +
                       "IPv4 address and a colon, or an IPv6 address in brackets: 9464, 0.0.0.0:9464, [::1]:9464)");
      }
      options.serve = true;
    } else if (arg == "--window") {
      if (haveWindow) return failure("option '--window' given twice");
      haveWindow = true;
      options.window = true;
    } else {
      return failure("unknown option '" + arg + "'");
    }
  }

  if (haveLoad && !haveSimulate) return failure("option '--load' only goes with '--simulate'");
  if (options.mode == RunMode::kRecord && !haveSeconds) return failure("option '--record' needs '--seconds N'");
  if (options.mode != RunMode::kRecord) {
    if (haveSeconds) return failure("option '--seconds' only goes with '--record'");
    if (haveConfig) return failure("option '--config' only goes with '--record'");
    if (haveMetrics) return failure("option '--metrics' only goes with '--record'");
  }
  if (options.serve && options.mode == RunMode::kReport) {
    return failure("option '--serve' cannot be combined with '--report'");
  }
  if (haveWindow && (!options.serve || options.mode != RunMode::kMonitor)) {
    return failure("option '--window' only goes with '--serve' (the window opens by default otherwise)");
  }
  result.ok = true;
  return result;
}

std::string CommandLine::usage(const std::vector<std::string>& presets) {
  std::string text =
      "Usage: tarvelle2 [--simulate PRESET [--load LOAD]] [--report [FILE] | --record FILE --seconds N [--config N] "
      "[--metrics LIST]] [--serve [ADDR:]PORT [--window]]\n"
      "Without --report, --record or --serve the monitor opens its window (a display is needed).\n"
      "  --simulate PRESET  run on a simulated machine instead of this one, with or\n"
      "                     without the window (presets listed below)\n"
      "                     (example: tarvelle2 --simulate intel-snb)\n"
      "  --load LOAD        load of the simulated machine: demo (the default, every\n"
      "                     processor drifting between 10 and 80 % busy), one share\n"
      "                     from 0 to 1 for every processor, or one share per logical\n"
      "                     processor, comma-separated\n"
      "                     (example: --load 0.7, --load 1,1,0.5,0.5,0,0,0,0)\n"
      "  --report [FILE]    write the debug report (processors, caches, clocks, timers)\n"
      "                     to FILE or standard output and end\n"
      "                     (example: tarvelle2 --report tv2-report.txt)\n"
      "  --record FILE      record every counter as CSV to FILE (- for standard output)\n"
      "                     without a window; needs --seconds\n"
      "                     (example: tarvelle2 --record run.csv --seconds 10)\n"
      "  --seconds N        how long to record, in whole seconds (1 or more)\n"
      "                     (example: --seconds 30)\n"
      "  --config N         counter configuration to record with (default 0)\n"
      "                     (example: --config 1)\n"
      "  --metrics LIST     keep only these metric numbers, comma-separated\n"
      "                     (example: --metrics 1,2,5)\n"
      "  --serve [ADDR:]PORT  serve every counter to Prometheus at\n"
      "                     http://ADDR:PORT/metrics (ADDR 127.0.0.1 unless given;\n"
      "                     port 0 picks a free one); alone it runs without a window\n"
      "                     until SIGTERM or SIGINT, beside --record it serves while\n"
      "                     recording (example: tarvelle2 --serve 9464)\n"
      "  --window           with --serve: open the window as well\n"
      "  --help, -h         show this text\n"
      "SIGTERM, SIGINT and SIGHUP close the window as its close box does (settings\n"
      "saved); a recording stops early on them with every row written.\n"
      "Bad options or values end the program with status 2.\n"
      "Presets:";
  for (const std::string& name : presets) text += " " + name;
  text += "\n";
  return text;
}

}  // namespace tv2

// The monitor's entry point: reads the command line, picks the platform,
// brings the application up and then either runs the display tick until
// SIGINT or SIGTERM, writes the debug report, or records the counters as CSV;
// in every case it shuts down in order.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/AppShell.h"
#include "app/CTarvelle2App.h"
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/StandardStreams.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace {

void fail(const std::string& message) {
  std::fprintf(stderr, "tarvelle2: %s (see --help)\n", message.c_str());
}

// The report or record target: a file (binary, so the report's CR LF stay as
// written) or standard output.
class Output {
 public:
  bool open(const std::string& path) {
    if (path.empty() || path == "-") return true;
    m_file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    return m_file.is_open();
  }
  std::ostream& stream() { return m_file.is_open() ? static_cast<std::ostream&>(m_file) : std::cout; }

 private:
  std::ofstream m_file;
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> presets = tv2::sim::SimMachine::presetNames();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const tv2::CommandLineResult parsed = tv2::CommandLine::parse(args, presets);
  if (!parsed.ok) {
    fail(parsed.error);
    return tv2::HeadlessRun::kBadInput;
  }
  const tv2::CommandLineOptions& options = parsed.options;
  if (options.mode == tv2::RunMode::kHelp) {
    std::fputs(tv2::CommandLine::usage(presets).c_str(), stdout);
    return 0;
  }

  // Before any thread exists, so that every thread inherits the blocked mask.
  tv2::TerminationSignals signals;

  std::unique_ptr<tv2::Platform> platform;
  if (options.preset.empty()) {
    platform = std::make_unique<tv2::LinuxPlatform>();
  } else {
    platform = std::make_unique<tv2::sim::SimPlatform>(
        std::make_shared<tv2::sim::SimMachine>(*tv2::sim::SimMachine::preset(options.preset)));
  }

  // Opened before start-up, which moves into the program's folder.
  Output output;
  if (options.mode != tv2::RunMode::kMonitor && !output.open(options.outputPath)) {
    fail("cannot create '" + options.outputPath + "'");
    return tv2::HeadlessRun::kBadInput;
  }

  tv2::AppShell shell;
  tv2::CTarvelle2App app(*platform, shell);
  if (!app.InitInstance()) {
    if (options.mode == tv2::RunMode::kMonitor) return 0;
    std::fprintf(stderr, "tarvelle2: monitoring did not start (another copy runs, or a driver of another version)\n");
    return tv2::HeadlessRun::kFailed;
  }

  int status = 0;
  if (options.mode == tv2::RunMode::kReport) {
    status = tv2::HeadlessRun::report(app, output.stream());
  } else if (options.mode == tv2::RunMode::kRecord) {
    const bool terminal = tv2::standardErrorIsTerminal();
    auto progress = [terminal](int32_t elapsed, int32_t total, int64_t rows) {
      if (!terminal) return;
      std::fprintf(stderr, "\rrecording: %d/%d s, %lld rows", elapsed, total, static_cast<long long>(rows));
      std::fflush(stderr);
    };
    std::string error;
    status = tv2::HeadlessRun::record(
        app, output.stream(), options, [&signals](uint32_t ms) { return signals.wait(ms); }, progress, &error);
    if (terminal) std::fputs("\n", stderr);
    if (!error.empty()) std::fprintf(stderr, "tarvelle2: %s\n", error.c_str());
  } else {
    while (!signals.wait(tv2::kTickMs)) app.OnTimerTick();
  }
  const int exitStatus = app.ExitInstance();
  return status != 0 ? status : exitStatus;
}

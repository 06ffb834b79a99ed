// The monitor's entry point: picks the platform, brings the application up,
// runs the display tick until SIGINT or SIGTERM, and shuts down in order.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/AppShell.h"
#include "app/CTarvelle2App.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace {

void printUsage(FILE* out) {
  std::fprintf(out,
               "Usage: tarvelle2 [--simulate PRESET]\n"
               "  --simulate PRESET  run on a simulated machine instead of this one\n"
               "                     (example: tarvelle2 --simulate sandybridge)\n"
               "Presets:");
  for (const std::string& name : tv2::sim::SimMachine::presetNames()) std::fprintf(out, " %s", name.c_str());
  std::fprintf(out, "\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string preset;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--simulate") == 0 && i + 1 < argc) {
      preset = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      printUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "tarvelle2: unknown option '%s' (see --help)\n", argv[i]);
      return 2;
    }
  }

  // Before any thread exists, so that every thread inherits the blocked mask.
  tv2::TerminationSignals signals;

  std::unique_ptr<tv2::Platform> platform;
  if (preset.empty()) {
    platform = std::make_unique<tv2::LinuxPlatform>();
  } else {
    auto config = tv2::sim::SimMachine::preset(preset);
    if (!config) {
      std::fprintf(stderr, "tarvelle2: unknown preset '%s' (see --help)\n", preset.c_str());
      return 2;
    }
    platform = std::make_unique<tv2::sim::SimPlatform>(std::make_shared<tv2::sim::SimMachine>(*config));
  }

  tv2::AppShell shell;
  tv2::CTarvelle2App app(*platform, shell);
  if (!app.InitInstance()) return 0;
  while (!signals.wait(tv2::kTickMs)) {
    app.OnTimerTick();
  }
  return app.ExitInstance();
}

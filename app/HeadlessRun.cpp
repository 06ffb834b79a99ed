#include "app/HeadlessRun.h"

#include <sstream>

#include "app/CTarvelle2App.h"
#include "app/Configurations.h"
#include "app/DebugReport.h"
#include "app/Recorder.h"

namespace tv2 {

std::string HeadlessRun::targetName(const std::string& path) {
  return path.empty() || path == "-" ? std::string("standard output") : "'" + path + "'";
}

int HeadlessRun::report(CTarvelle2App& app, OutputSink& out, std::string* error) {
  app.PauseSampling();
  std::ostringstream text;
  DebugReport::write(text, app.processors, app.acpiTimer.get(), app.hpetTimer.get());
  size_t written = 0;
  if (!out.write(text.str(), &written)) {
    *error = out.errorText();
    return kFailed;
  }
  return kOk;
}

int HeadlessRun::selectConfiguration(CTarvelle2App& app, int32_t configuration, std::string* error) {
  if (configuration == app.currentConfig) return kOk;
  if (configuration >= app.configCount) {
    *error = "configuration " + std::to_string(configuration) + " does not exist (this machine has " +
             std::to_string(app.configCount) + ")";
    return kBadInput;
  }
  app.currentConfig = configuration;
  for (CProcessor_2* processor : app.processors) {
    if (!RebuildCounters(app, *processor, &app.configs[static_cast<size_t>(configuration)])) {
      *error = "configuration " + std::to_string(configuration) + " could not be applied (driver busy or absent)";
      return kFailed;
    }
  }
  return kOk;
}

int HeadlessRun::record(CTarvelle2App& app, OutputSink& out, const CommandLineOptions& options,
                        const StopWait& stopWait, const Progress& progress, std::string* error) {
  if (int status = selectConfiguration(app, options.configuration, error); status != kOk) return status;
  Recorder recorder(out, options.metrics);
  recorder.writeHeader();
  const int64_t ticks = static_cast<int64_t>(options.seconds) * 1000 / kTickMs;
  const int64_t ticksPerSecond = 1000 / kTickMs;
  for (int64_t tick = 1; tick <= ticks && !recorder.failed(); ++tick) {
    if (stopWait(kTickMs)) break;
    app.OnTimerTick();
    recorder.collect(app.processors);
    if (progress && tick % ticksPerSecond == 0) {
      progress(static_cast<int32_t>(tick / ticksPerSecond), options.seconds, recorder.rowCount());
    }
  }
  // Points the samplers took after the last tick still belong to the record.
  app.PauseSampling();
  recorder.collect(app.processors);
  if (recorder.failed()) {
    *error = "cannot write the recording to " + targetName(options.outputPath) + ": " + recorder.failure() +
             "; stopped after " + std::to_string(recorder.rowCount()) + " rows";
    return kFailed;
  }
  return kOk;
}

}  // namespace tv2

#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/CommandLine.h"
#include "platform/OutputSink.h"

namespace tv2 {

class CTarvelle2App;

// The window-less modes once the application is up (InitInstance returned
// true): the debug report and the CSV recording. Both leave the application
// running; the caller runs ExitInstance.
class HeadlessRun {
 public:
  // Exit statuses.
  static constexpr int kOk = 0;
  static constexpr int kFailed = 1;
  static constexpr int kBadInput = 2;

  // True when a stop was asked for; waits up to the given milliseconds.
  using StopWait = std::function<bool(uint32_t)>;
  // Told the elapsed and total seconds and the rows so far, once per second.
  using Progress = std::function<void(int32_t elapsed, int32_t total, int64_t rows)>;

  // A target path as messages name it: quoted, or "standard output".
  static std::string targetName(const std::string& path);

  // The report needs only what detection stored, so the samplers are held
  // before it is written. kFailed, with *error telling why, when it could
  // not be written.
  static int report(CTarvelle2App& app, OutputSink& out, std::string* error);

  // Switches to the configuration asked for; kBadInput with *error set when
  // the machine has no such configuration, kFailed when the counters could
  // not be rebuilt with it.
  static int selectConfiguration(CTarvelle2App& app, int32_t configuration, std::string* error);

  // Records for options.seconds seconds or until stopWait reports a stop:
  // header, then every tick (stopWait's 100 ms) the display tick and the new
  // rows. The samplers are held before the last rows are collected, so every
  // point taken is written. The first failed write ends the recording with
  // kFailed and *error telling why.
  static int record(CTarvelle2App& app, OutputSink& out, const CommandLineOptions& options,
                    const StopWait& stopWait, const Progress& progress, std::string* error);
};

}  // namespace tv2

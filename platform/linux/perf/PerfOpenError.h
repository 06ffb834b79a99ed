#pragma once

#include <string>

#include "platform/KernelCounterService.h"

namespace tv2 {

// Turns a failed perf_event_open into the program's error codes, with the
// system's text in the reason.
class PerfOpenError {
 public:
  // `what`: the event and CPU, as in "cpu-cycles on CPU 3".
  static KernelOpenError fromErrno(int error, const std::string& what);
  // The C library's text for errno `error` (thread-safe).
  static std::string systemText(int error);
};

}  // namespace tv2

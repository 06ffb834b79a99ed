#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/PlatformTypes.h"

namespace tv2 {

// Reads the "cpuN" lines of /proc/stat for a chosen list of CPUs, line by
// line, into processor times in 100 ns units:
//   idle   = idle + iowait
//   kernel = system + irq + softirq + idle + iowait
//   user   = user + nice (guest time is already counted in user)
// Allocates nothing; one parser serves one query on one thread.
class ProcStatParser {
 public:
  enum class Step {
    kMore,       // keep feeding lines
    kDone,       // every requested CPU has been seen
    kMalformed,  // a cpuN line could not be read; stop
  };

  // out[i] receives the times of cpus[i]; at most 64 CPUs. The span and the
  // output must outlive the parser.
  ProcStatParser(std::span<const int> cpus, int64_t ticksPerSecond, ProcessorTimes* out);

  // One line without its '\n'. Lines other than "cpuN ..." are skipped.
  Step feedLine(std::string_view line);
  // Once the input has ended: kOk when every CPU was found, else an error.
  uint32_t finish() const;

  // The whole of a /proc/stat text at once.
  static uint32_t parse(std::string_view text, std::span<const int> cpus, int64_t ticksPerSecond,
                        ProcessorTimes* out);

  // Ticks scaled to 100 ns units without overflow; false when the result does
  // not fit an int64_t or ticksPerSecond is not positive.
  static bool ticksTo100ns(uint64_t ticks, int64_t ticksPerSecond, int64_t* out);

 private:
  std::span<const int> m_cpus;
  int64_t m_ticksPerSecond;
  ProcessorTimes* m_out;
  // Bit i set once cpus[i] has been filled.
  uint64_t m_found = 0;
  uint64_t m_wanted = 0;
  bool m_malformed = false;
};

}  // namespace tv2

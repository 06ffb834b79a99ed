#pragma once

#include "platform/PlatformTypes.h"

namespace tv2 {

// Per-processor idle, kernel and user times of one processor group.
class ProcessorTimesService {
 public:
  virtual ~ProcessorTimesService() = default;

  // Fills out[i] for processor i of the group (i below count, in group order).
  // Returns kOk, or an error code with out left unspecified. Called by the
  // usage samplers, one thread per group, concurrently.
  virtual uint32_t query(int group, ProcessorTimes* out, int count) = 0;
};

}  // namespace tv2

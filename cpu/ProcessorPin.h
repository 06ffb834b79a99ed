#pragma once

#include <cstdint>

#include "platform/PlatformTypes.h"

namespace tv2 {

class ProcessorService;
struct LogicalProcessorRecord;

// Runs the calling thread on one logical processor for the lifetime of the
// object and puts the previous affinity back afterwards. With processor groups
// the thread's group affinity is used; without them the process affinity mask
// (which moves every thread of the process for that moment).
class ProcessorPin {
 public:
  ProcessorPin(ProcessorService& processors, bool groupMode, int32_t group, int32_t index);
  ProcessorPin(ProcessorService& processors, bool groupMode, const LogicalProcessorRecord& processor);
  ~ProcessorPin();
  ProcessorPin(const ProcessorPin&) = delete;
  ProcessorPin& operator=(const ProcessorPin&) = delete;

  // False when the thread could not be pinned; the caller skips the work for
  // that processor.
  bool pinned() const { return m_pinned; }

  // Moves the calling thread (or, without groups, the process) to one
  // processor without remembering where it ran: the pin both this class and
  // discovery use. False when the system refuses.
  static bool pinCallingThread(ProcessorService& processors, bool groupMode, int32_t group, int32_t index);

 private:
  ProcessorService& m_processors;
  bool m_groupMode;
  bool m_pinned = false;
  GroupAffinity m_savedGroup;
  uint64_t m_savedProcessMask = 0;
};

}  // namespace tv2

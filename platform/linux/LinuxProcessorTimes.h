#pragma once

#include <cstdint>
#include <string>

#include "platform/ProcessorTimesService.h"
#include "platform/linux/LinuxGroupLayout.h"

namespace tv2 {

// Per-processor times from /proc/stat. Each query opens the file, reads it in
// stack-sized chunks until every processor of the group has been seen and
// closes it again: no allocation, no shared mutable state, so the usage
// samplers of all groups may query at the same time.
class LinuxProcessorTimes : public ProcessorTimesService {
 public:
  // The layout must outlive the service. ticksPerSecond is the kernel's
  // USER_HZ (sysconf(_SC_CLK_TCK)); tests pass their own.
  LinuxProcessorTimes(const LinuxGroupLayout& layout, std::string procStatPath,
                      int64_t ticksPerSecond);

  // kOk; kErrorInvalidParameter for a group that does not exist, a negative
  // count, a count above the group size or a null out; the errno code when
  // the file cannot be read; LinuxErrors::kInvalidData for a malformed
  // cpuN line; LinuxErrors::kNotFound when a processor has no line.
  uint32_t query(int group, ProcessorTimes* out, int count) override;

 private:
  const LinuxGroupLayout& m_layout;
  const std::string m_procStatPath;
  const int64_t m_ticksPerSecond;
};

}  // namespace tv2

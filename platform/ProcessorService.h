#pragma once

#include "platform/PlatformTypes.h"

namespace tv2 {

// Processors, groups, affinity and CPUID. All affinity calls act on the calling
// thread, except the process-mask pair, which is the fallback of systems without
// processor groups. Every method may be called from any thread.
class ProcessorService {
 public:
  virtual ~ProcessorService() = default;

  // Number of logical processors the system reports in total.
  virtual int systemProcessorCount() = 0;

  // False when the system offers no processor-group functions (the group count,
  // group sizes and the thread group affinity pair). Callers then treat every
  // processor as group 0 and pin through the process affinity mask.
  virtual bool hasGroupFunctions() = 0;
  virtual int activeGroupCount() = 0;
  virtual int activeProcessorCount(int group) = 0;

  virtual bool getThreadGroupAffinity(GroupAffinity* out) = 0;
  virtual bool setThreadGroupAffinity(const GroupAffinity& affinity) = 0;

  virtual bool getProcessAffinityMask(uint64_t* processMask, uint64_t* systemMask) = 0;
  virtual bool setProcessAffinityMask(uint64_t mask) = 0;

  // The processor the calling thread runs on at this moment.
  virtual bool currentProcessor(int* group, int* index) = 0;

  // Executes CPUID on the processor the calling thread runs on; callers pin
  // the thread first when the answer must come from one processor.
  virtual CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf) = 0;
};

}  // namespace tv2

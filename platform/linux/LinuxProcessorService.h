#pragma once

#include "platform/ProcessorService.h"
#include "platform/linux/LinuxGroupLayout.h"

namespace tv2 {

// Processors of the running Linux system, in the groups of a LinuxGroupLayout.
// Holds only data fixed at construction, so every method is safe from any
// thread; the affinity calls act on the calling thread.
//
// The process-mask pair acts on the calling thread too, in terms of group 0:
// Linux has no process-wide affinity call that also moves threads that already
// run, and the program only uses the pair when group functions are missing,
// which this implementation never reports.
class LinuxProcessorService : public ProcessorService {
 public:
  // The layout must outlive the service.
  explicit LinuxProcessorService(const LinuxGroupLayout& layout);

  int systemProcessorCount() override;
  bool hasGroupFunctions() override { return true; }
  int activeGroupCount() override;
  int activeProcessorCount(int group) override;

  // The group holding the thread's allowed CPUs; when they span groups, the
  // lowest group with any, and the allowed CPUs within it.
  bool getThreadGroupAffinity(GroupAffinity* out) override;
  // Fails when the mask names no processor of the group, or when the kernel
  // refuses all of them (CPUs outside the process's cgroup).
  bool setThreadGroupAffinity(const GroupAffinity& affinity) override;

  // processMask: the thread's allowed processors of group 0; systemMask: all
  // processors of group 0.
  bool getProcessAffinityMask(uint64_t* processMask, uint64_t* systemMask) override;
  bool setProcessAffinityMask(uint64_t mask) override;

  bool currentProcessor(int* group, int* index) override;
  CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf) override;

  const LinuxGroupLayout& layout() const { return m_layout; }

 private:
  // Mask with one bit per processor of the group.
  uint64_t groupMask(int group) const;

  const LinuxGroupLayout& m_layout;
  // Size of the CPU sets handed to the kernel; set once in the constructor.
  const int m_cpuSetSize;
};

}  // namespace tv2

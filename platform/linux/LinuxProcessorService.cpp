#include "platform/linux/LinuxProcessorService.h"

#include <cpuid.h>
#include <sched.h>

#include <algorithm>

#include "platform/linux/LinuxCpuSet.h"

namespace tv2 {

LinuxProcessorService::LinuxProcessorService(const LinuxGroupLayout& layout)
    : m_layout(layout),
      m_cpuSetSize(std::max(LinuxCpuSet::kernelCpuCount(), layout.highestCpu() + 1)) {}

int LinuxProcessorService::systemProcessorCount() { return m_layout.processorCount(); }

int LinuxProcessorService::activeGroupCount() { return m_layout.groupCount(); }

int LinuxProcessorService::activeProcessorCount(int group) { return m_layout.groupSize(group); }

uint64_t LinuxProcessorService::groupMask(int group) const {
  int size = m_layout.groupSize(group);
  if (size >= 64) return ~uint64_t{0};
  return (uint64_t{1} << size) - 1;
}

bool LinuxProcessorService::getThreadGroupAffinity(GroupAffinity* out) {
  if (out == nullptr) return false;
  LinuxCpuSet allowed(m_cpuSetSize);
  if (!allowed.readThreadAffinity()) return false;
  for (int group = 0; group < m_layout.groupCount(); ++group) {
    std::span<const int> cpus = m_layout.groupCpus(group);
    uint64_t mask = 0;
    for (size_t i = 0; i < cpus.size(); ++i)
      if (allowed.contains(cpus[i])) mask |= uint64_t{1} << i;
    if (mask != 0) {
      out->group = static_cast<uint16_t>(group);
      out->mask = mask;
      return true;
    }
  }
  return false;
}

bool LinuxProcessorService::setThreadGroupAffinity(const GroupAffinity& affinity) {
  int group = affinity.group;
  uint64_t mask = affinity.mask & groupMask(group);
  if (group >= m_layout.groupCount() || mask == 0) return false;
  LinuxCpuSet wanted(m_cpuSetSize);
  if (!wanted.valid()) return false;
  std::span<const int> cpus = m_layout.groupCpus(group);
  for (size_t i = 0; i < cpus.size(); ++i)
    if (mask & (uint64_t{1} << i)) wanted.add(cpus[i]);
  return wanted.applyThreadAffinity();
}

bool LinuxProcessorService::getProcessAffinityMask(uint64_t* processMask, uint64_t* systemMask) {
  if (processMask == nullptr || systemMask == nullptr || m_layout.groupCount() == 0) return false;
  LinuxCpuSet allowed(m_cpuSetSize);
  if (!allowed.readThreadAffinity()) return false;
  std::span<const int> cpus = m_layout.groupCpus(0);
  uint64_t mask = 0;
  for (size_t i = 0; i < cpus.size(); ++i)
    if (allowed.contains(cpus[i])) mask |= uint64_t{1} << i;
  *processMask = mask;
  *systemMask = groupMask(0);
  return true;
}

bool LinuxProcessorService::setProcessAffinityMask(uint64_t mask) {
  return setThreadGroupAffinity(GroupAffinity{mask, 0});
}

bool LinuxProcessorService::currentProcessor(int* group, int* index) {
  if (group == nullptr || index == nullptr) return false;
  int cpu = sched_getcpu();
  if (cpu < 0) return false;
  return m_layout.locate(cpu, group, index);
}

CpuidRegs LinuxProcessorService::cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidRegs regs;
  __cpuid_count(leaf, subleaf, regs.eax, regs.ebx, regs.ecx, regs.edx);
  return regs;
}

}  // namespace tv2

#include "platform/linux/LinuxCpuSet.h"

#include <cerrno>

namespace tv2 {

LinuxCpuSet::LinuxCpuSet(int cpuCount) : m_cpuCount(cpuCount > 0 ? cpuCount : 1) {
  m_set = CPU_ALLOC(m_cpuCount);
  if (m_set == nullptr) {
    m_cpuCount = 0;
    return;
  }
  m_bytes = CPU_ALLOC_SIZE(m_cpuCount);
  CPU_ZERO_S(m_bytes, m_set);
}

LinuxCpuSet::~LinuxCpuSet() {
  if (m_set != nullptr) CPU_FREE(m_set);
}

void LinuxCpuSet::clear() {
  if (m_set != nullptr) CPU_ZERO_S(m_bytes, m_set);
}

void LinuxCpuSet::add(int cpu) {
  if (m_set == nullptr || cpu < 0 || cpu >= m_cpuCount) return;
  CPU_SET_S(static_cast<size_t>(cpu), m_bytes, m_set);
}

bool LinuxCpuSet::contains(int cpu) const {
  if (m_set == nullptr || cpu < 0 || cpu >= m_cpuCount) return false;
  return CPU_ISSET_S(static_cast<size_t>(cpu), m_bytes, m_set);
}

bool LinuxCpuSet::readThreadAffinity() {
  if (m_set == nullptr) {
    errno = ENOMEM;
    return false;
  }
  return sched_getaffinity(0, m_bytes, m_set) == 0;
}

bool LinuxCpuSet::applyThreadAffinity() const {
  if (m_set == nullptr) {
    errno = ENOMEM;
    return false;
  }
  return sched_setaffinity(0, m_bytes, m_set) == 0;
}

int LinuxCpuSet::kernelCpuCount() {
  // Grow until the kernel accepts the size; it refuses sets smaller than its
  // own with EINVAL. 1 << 20 is far beyond any kernel's NR_CPUS.
  for (int count = 1024; count <= (1 << 20); count *= 2) {
    LinuxCpuSet probe(count);
    if (!probe.valid()) return 1024;
    if (probe.readThreadAffinity()) return count;
    if (errno != EINVAL) return count;
  }
  return 1024;
}

}  // namespace tv2

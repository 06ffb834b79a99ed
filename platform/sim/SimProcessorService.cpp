#include "platform/sim/SimProcessorService.h"

#include <bit>

#include "platform/sim/SimThreadId.h"

namespace tv2::sim {

SimProcessorService::SimProcessorService(SimMachine& machine)
    : m_machine(machine),
      m_processMask(groupMask(0)),
      m_unpinnable(static_cast<size_t>(machine.logicalProcessorCount()), false) {}

void SimProcessorService::setGroupFunctions(bool available) {
  m_groupFunctions.store(available, std::memory_order_relaxed);
}

void SimProcessorService::setUnpinnable(int cpu, bool unpinnable) {
  std::lock_guard lock(m_mutex);
  if (cpu >= 0 && static_cast<size_t>(cpu) < m_unpinnable.size()) {
    m_unpinnable[static_cast<size_t>(cpu)] = unpinnable;
  }
}

int SimProcessorService::systemProcessorCount() { return m_machine.logicalProcessorCount(); }

bool SimProcessorService::hasGroupFunctions() {
  return m_groupFunctions.load(std::memory_order_relaxed);
}

int SimProcessorService::activeGroupCount() { return m_machine.groupCount(); }

int SimProcessorService::activeProcessorCount(int group) { return m_machine.groupSize(group); }

bool SimProcessorService::getThreadGroupAffinity(GroupAffinity* out) {
  if (out == nullptr || !hasGroupFunctions()) {
    return false;
  }
  std::lock_guard lock(m_mutex);
  *out = callerAffinityLocked();
  return true;
}

bool SimProcessorService::setThreadGroupAffinity(const GroupAffinity& affinity) {
  if (!hasGroupFunctions()) {
    return false;
  }
  std::lock_guard lock(m_mutex);
  if (!acceptableLocked(affinity.group, affinity.mask)) {
    return false;
  }
  m_threadAffinity[SimThreadId::current()] = affinity;
  return true;
}

bool SimProcessorService::getProcessAffinityMask(uint64_t* processMask, uint64_t* systemMask) {
  if (processMask == nullptr || systemMask == nullptr) {
    return false;
  }
  std::lock_guard lock(m_mutex);
  *processMask = m_processMask;
  *systemMask = groupMask(0);
  return true;
}

bool SimProcessorService::setProcessAffinityMask(uint64_t mask) {
  std::lock_guard lock(m_mutex);
  if (!acceptableLocked(0, mask)) {
    return false;
  }
  m_processMask = mask;
  m_threadAffinity.clear();
  return true;
}

bool SimProcessorService::currentProcessor(int* group, int* index) {
  if (group == nullptr || index == nullptr) {
    return false;
  }
  const int cpu = callerCpu();
  return cpu >= 0 && m_machine.placeOf(cpu, group, index);
}

CpuidRegs SimProcessorService::cpuid(uint32_t leaf, uint32_t subleaf) {
  return m_machine.cpuid(callerCpu(), leaf, subleaf);
}

uint64_t SimProcessorService::groupMask(int group) const {
  const int size = m_machine.groupSize(group);
  return size >= 64 ? ~uint64_t{0} : ((uint64_t{1} << size) - 1);
}

bool SimProcessorService::acceptableLocked(int group, uint64_t mask) const {
  if (mask == 0 || group < 0 || group >= m_machine.groupCount() || (mask & ~groupMask(group)) != 0) {
    return false;
  }
  // Like a thread restricted from some processors: a mask is usable as long
  // as one of its processors is, and the thread then runs there.
  for (uint64_t rest = mask; rest != 0; rest &= rest - 1) {
    const int cpu = m_machine.cpuAt(group, std::countr_zero(rest));
    if (!m_unpinnable[static_cast<size_t>(cpu)]) {
      return true;
    }
  }
  return false;
}

GroupAffinity SimProcessorService::callerAffinityLocked() const {
  const auto found = m_threadAffinity.find(SimThreadId::current());
  if (found != m_threadAffinity.end()) {
    return found->second;
  }
  GroupAffinity process;
  process.group = 0;
  process.mask = m_processMask;
  return process;
}

int SimProcessorService::callerCpu() const {
  std::lock_guard lock(m_mutex);
  const GroupAffinity affinity = callerAffinityLocked();
  for (uint64_t rest = affinity.mask; rest != 0; rest &= rest - 1) {
    const int cpu = m_machine.cpuAt(affinity.group, std::countr_zero(rest));
    if (cpu >= 0 && !m_unpinnable[static_cast<size_t>(cpu)]) {
      return cpu;
    }
  }
  return -1;
}

}  // namespace tv2::sim

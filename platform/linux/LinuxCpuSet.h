#pragma once

#include <sched.h>

#include <cstddef>

namespace tv2 {

// A dynamically sized CPU set (CPU_ALLOC), so CPU numbers above the 1024 of a
// plain cpu_set_t work. Owned by the thread that made it.
class LinuxCpuSet {
 public:
  explicit LinuxCpuSet(int cpuCount);
  ~LinuxCpuSet();
  LinuxCpuSet(const LinuxCpuSet&) = delete;
  LinuxCpuSet& operator=(const LinuxCpuSet&) = delete;

  // False when the allocation failed; every other call is then a no-op.
  bool valid() const { return m_set != nullptr; }
  int cpuCount() const { return m_cpuCount; }

  void clear();
  void add(int cpu);
  bool contains(int cpu) const;

  // The calling thread's allowed CPUs; false (with errno set) on failure.
  bool readThreadAffinity();
  bool applyThreadAffinity() const;

  // The number of CPUs the kernel's affinity calls accept (its nr_cpu_ids,
  // rounded up): sched_getaffinity refuses smaller sets with EINVAL.
  static int kernelCpuCount();

 private:
  cpu_set_t* m_set = nullptr;
  int m_cpuCount = 0;
  size_t m_bytes = 0;
};

}  // namespace tv2

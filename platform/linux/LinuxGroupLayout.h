#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tv2 {

// One online CPU and the physical package that holds it.
struct LinuxCpuEntry {
  int cpu = 0;
  int package = 0;
};

// Splits the online CPUs into processor groups of at most 64: packages are
// taken in the order of their lowest CPU number, each package's CPUs in
// CPU-number order, and a package that does not fit in what is left of the
// current group starts a new one (a package of more than 64 CPUs spans
// groups). Immutable once built, so any thread may read it.
class LinuxGroupLayout {
 public:
  static constexpr int kMaxGroupSize = 64;
  static constexpr int kMaxGroups = 64;
  // CPU numbers at or above this are refused as malformed; the kernel allows
  // at most 8192 today.
  static constexpr int kCpuNumberLimit = 65536;

  LinuxGroupLayout() = default;

  // Reads <cpuRoot>/online and <cpuRoot>/cpuN/topology/physical_package_id
  // (a missing package file means package 0). Returns kOk or an error code;
  // *out is left untouched on failure.
  static uint32_t load(const std::string& cpuRoot, LinuxGroupLayout* out);

  // Builds the layout from a list of CPUs in any order. Duplicate or
  // out-of-range CPU numbers are dropped; CPUs beyond the 64th group too.
  static LinuxGroupLayout fromCpus(std::vector<LinuxCpuEntry> cpus);

  // Parses a kernel CPU list such as "0-3,5,8-11\n" into sorted, distinct
  // CPU numbers. False when the text is malformed or names no CPU.
  static bool parseCpuList(std::string_view text, std::vector<int>* out);

  int groupCount() const { return static_cast<int>(m_groups.size()); }
  // Number of processors in the group; 0 for a group that does not exist.
  int groupSize(int group) const;
  int processorCount() const { return m_processorCount; }
  // The CPUs of a group in group order; empty for a group that does not exist.
  std::span<const int> groupCpus(int group) const;

  // CPU number of processor `index` of `group`; -1 when there is none.
  int cpuOf(int group, int index) const;
  // Group and index of a CPU; false when the CPU is not in the layout.
  bool locate(int cpu, int* group, int* index) const;
  // Highest CPU number in the layout; -1 when empty.
  int highestCpu() const { return static_cast<int>(m_slotOfCpu.size()) - 1; }

 private:
  std::vector<std::vector<int>> m_groups;
  // Indexed by CPU number: group * kMaxGroupSize + index, or -1.
  std::vector<int32_t> m_slotOfCpu;
  int m_processorCount = 0;
};

}  // namespace tv2

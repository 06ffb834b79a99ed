#include "platform/linux/LinuxGroupLayout.h"

#include "platform/linux/perf/SysfsText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

// Sysfs attribute files are a line or two; anything longer is not one.
constexpr size_t kMaxAttributeSize = 64 * 1024;

uint32_t readSmallFile(const std::string& path, std::string* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LinuxErrors::fromErrno(errno);
  out->clear();
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int error = errno;
      ::close(fd);
      return LinuxErrors::fromErrno(error);
    }
    if (got == 0) break;
    out->append(buffer, static_cast<size_t>(got));
    if (out->size() > kMaxAttributeSize) {
      ::close(fd);
      return LinuxErrors::kInvalidData;
    }
  }
  ::close(fd);
  return kOk;
}

}  // namespace

bool LinuxGroupLayout::parseCpuList(std::string_view text, std::vector<int>* out) {
  return SysfsText::parseCpuList(text, out, kCpuNumberLimit);
}

uint32_t LinuxGroupLayout::load(const std::string& cpuRoot, LinuxGroupLayout* out) {
  std::string text;
  uint32_t result = readSmallFile(cpuRoot + "/online", &text);
  if (result != kOk) return result;
  std::vector<int> online;
  if (!parseCpuList(text, &online)) return LinuxErrors::kInvalidData;

  std::vector<LinuxCpuEntry> cpus;
  cpus.reserve(online.size());
  for (int cpu : online) {
    LinuxCpuEntry entry{cpu, 0};
    std::string path = cpuRoot + "/cpu" + std::to_string(cpu) + "/topology/physical_package_id";
    // Without the file (or with content we cannot read) the CPU joins package
    // 0, which is what a kernel without topology information means.
    if (readSmallFile(path, &text) == kOk) {
      std::string_view value = SysfsText::trim(text);
      int package = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), package);
      if (ec == std::errc() && end == value.data() + value.size()) entry.package = package;
    }
    cpus.push_back(entry);
  }
  *out = fromCpus(std::move(cpus));
  return kOk;
}

LinuxGroupLayout LinuxGroupLayout::fromCpus(std::vector<LinuxCpuEntry> cpus) {
  std::sort(cpus.begin(), cpus.end(),
            [](const LinuxCpuEntry& a, const LinuxCpuEntry& b) { return a.cpu < b.cpu; });
  cpus.erase(std::unique(cpus.begin(), cpus.end(),
                         [](const LinuxCpuEntry& a, const LinuxCpuEntry& b) { return a.cpu == b.cpu; }),
             cpus.end());
  cpus.erase(std::remove_if(cpus.begin(), cpus.end(),
                            [](const LinuxCpuEntry& e) { return e.cpu < 0 || e.cpu >= kCpuNumberLimit; }),
             cpus.end());

  // Packages in the order of their lowest CPU: as the list is sorted by CPU,
  // that is the order in which each package is first seen.
  std::vector<int> packageOrder;
  std::map<int, std::vector<int>> cpusOfPackage;
  for (const LinuxCpuEntry& entry : cpus) {
    auto [it, inserted] = cpusOfPackage.try_emplace(entry.package);
    if (inserted) packageOrder.push_back(entry.package);
    it->second.push_back(entry.cpu);
  }

  LinuxGroupLayout layout;
  std::vector<std::vector<int>>& groups = layout.m_groups;
  for (int package : packageOrder) {
    const std::vector<int>& members = cpusOfPackage[package];
    if (groups.empty()) groups.emplace_back();
    size_t room = kMaxGroupSize - groups.back().size();
    if (members.size() > room && !groups.back().empty()) groups.emplace_back();
    for (int cpu : members) {
      if (groups.back().size() == kMaxGroupSize) groups.emplace_back();
      groups.back().push_back(cpu);
    }
  }
  if (groups.size() > kMaxGroups) groups.resize(kMaxGroups);

  int highest = -1;
  for (const std::vector<int>& group : groups)
    for (int cpu : group) highest = std::max(highest, cpu);
  layout.m_slotOfCpu.assign(static_cast<size_t>(highest + 1), -1);
  for (size_t g = 0; g < groups.size(); ++g) {
    for (size_t i = 0; i < groups[g].size(); ++i)
      layout.m_slotOfCpu[groups[g][i]] = static_cast<int32_t>(g * kMaxGroupSize + i);
    layout.m_processorCount += static_cast<int>(groups[g].size());
  }
  return layout;
}

int LinuxGroupLayout::groupSize(int group) const {
  if (group < 0 || group >= groupCount()) return 0;
  return static_cast<int>(m_groups[group].size());
}

std::span<const int> LinuxGroupLayout::groupCpus(int group) const {
  if (group < 0 || group >= groupCount()) return {};
  return m_groups[group];
}

int LinuxGroupLayout::cpuOf(int group, int index) const {
  if (group < 0 || group >= groupCount()) return -1;
  if (index < 0 || index >= static_cast<int>(m_groups[group].size())) return -1;
  return m_groups[group][index];
}

bool LinuxGroupLayout::locate(int cpu, int* group, int* index) const {
  if (cpu < 0 || cpu >= static_cast<int>(m_slotOfCpu.size())) return false;
  int32_t slot = m_slotOfCpu[cpu];
  if (slot < 0) return false;
  *group = slot / kMaxGroupSize;
  *index = slot % kMaxGroupSize;
  return true;
}

}  // namespace tv2

#include "platform/linux/perf/PerfInventoryReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "platform/linux/perf/PerfEventTable.h"
#include "platform/linux/perf/SysfsText.h"

namespace tv2 {

namespace {

// Paranoid levels the kernel uses lie in -1..4 (some distributions add 3
// and 4); anything far outside is not a level.
constexpr int64_t kParanoidLowest = -100;
constexpr int64_t kParanoidHighest = 100;
// CPU numbers at or above this are taken as malformed.
constexpr int kCpuLimit = 65536;

struct CoreName {
  const char* name;
  KernelCoreType type;
  bool hybrid;
};

constexpr CoreName kCoreNames[] = {
    {"cpu", KernelCoreType::kUnknown, false},
    {"cpu_core", KernelCoreType::kPerformance, true},
    {"cpu_atom", KernelCoreType::kEfficiency, true},
};

// "config:0-7", "config:8" or "config:0-7,32-35" (only the first range is
// used; none of the events read here is split).
bool parseFormat(std::string_view text, int* low, int* high) {
  text = SysfsText::trim(text);
  constexpr std::string_view kConfig = "config:";
  if (text.substr(0, kConfig.size()) != kConfig) return false;
  text.remove_prefix(kConfig.size());
  text = text.substr(0, text.find(','));
  size_t dash = text.find('-');
  int64_t first = 0;
  int64_t last = 0;
  if (!SysfsText::parseInt(text.substr(0, dash), &first)) return false;
  last = first;
  if (dash != std::string_view::npos && !SysfsText::parseInt(text.substr(dash + 1), &last)) return false;
  if (first < 0 || last > 63 || last < first) return false;
  *low = static_cast<int>(first);
  *high = static_cast<int>(last);
  return true;
}

bool parseDouble(std::string_view text, double* out) {
  text = SysfsText::trim(text);
  if (text.empty()) return false;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

}  // namespace

PerfInventoryReader::PerfInventoryReader(std::string sysRoot, std::string procRoot)
    : m_sysRoot(std::move(sysRoot)), m_procRoot(std::move(procRoot)) {}

int PerfInventoryReader::paranoid() const {
  int64_t level = 0;
  if (!SysfsText::readInt(m_procRoot + "/sys/kernel/perf_event_paranoid", &level) || level < kParanoidLowest ||
      level > kParanoidHighest)
    return KernelCounterInventory::kParanoidUnknown;
  return static_cast<int>(level);
}

std::vector<int> PerfInventoryReader::onlineCpus() const {
  std::string text;
  std::vector<int> cpus;
  if (SysfsText::read(m_sysRoot + "/devices/system/cpu/online", &text))
    SysfsText::parseCpuList(text, &cpus, kCpuLimit);
  return cpus;
}

bool PerfInventoryReader::parseEventConfig(const std::string& pmuFolder, std::string_view text, uint64_t* config) {
  text = SysfsText::trim(text);
  if (text.empty()) return false;
  uint64_t result = 0;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view term = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    size_t equals = term.find('=');
    std::string_view name = term.substr(0, equals);
    uint64_t value = 1;  // a bare term sets its field to 1
    if (equals != std::string_view::npos && !SysfsText::parseUnsigned(term.substr(equals + 1), &value)) return false;
    if (name.empty() || name.find('/') != std::string_view::npos || name.find("..") != std::string_view::npos)
      return false;
    std::string format;
    int low = 0;
    int high = 63;
    if (SysfsText::read(pmuFolder + "/format/" + std::string(name), &format)) {
      if (!parseFormat(format, &low, &high)) return false;
    } else if (name != "event") {
      // Without a format file only "event" has a known place: the whole config.
      return false;
    }
    int width = high - low + 1;
    if (width < 64 && (value >> width) != 0) return false;
    result |= value << low;
  }
  *config = result;
  return true;
}

void PerfInventoryReader::readCorePmus(PerfEventSources* sources) const {
  const std::string devices = m_sysRoot + "/bus/event_source/devices/";
  for (const CoreName& core : kCoreNames) {
    const std::string folder = devices + core.name;
    uint64_t type = 0;
    if (!SysfsText::readUnsigned(folder + "/type", &type) || type > 0xFFFFFFFFu) continue;
    KernelCorePmu pmu;
    pmu.name = core.name;
    pmu.type = static_cast<uint32_t>(type);
    pmu.coreType = core.type;
    for (const std::string& file : SysfsText::list(folder + "/events")) {
      std::optional<KernelEvent> event = PerfEventTable::byName(PerfEventTable::Kind::kCore, file);
      if (event) pmu.events |= kernelEventBit(*event);
    }
    std::vector<int> cpus;
    std::string text;
    if (core.hybrid) {
      // A hybrid PMU without a readable cpus list covers no CPU we can name.
      if (SysfsText::read(folder + "/cpus", &text)) SysfsText::parseCpuList(text, &cpus, kCpuLimit);
      sources->hybrid = true;
    }
    int index = static_cast<int>(sources->corePmus.size());
    sources->corePmus.push_back(std::move(pmu));
    if (!core.hybrid) {
      // "cpu" covers every CPU; the caller's list sizes the table.
      for (int& entry : sources->corePmuOfCpu) entry = index;
      continue;
    }
    for (int cpu : cpus) {
      if (cpu >= static_cast<int>(sources->corePmuOfCpu.size())) continue;
      sources->corePmuOfCpu[static_cast<size_t>(cpu)] = index;
    }
  }
}

void PerfInventoryReader::readNamedEvents(const std::string& pmu, PerfEventTable::Kind kind,
                                          PerfEventSources* sources) const {
  const std::string folder = m_sysRoot + "/bus/event_source/devices/" + pmu;
  uint64_t type = 0;
  if (!SysfsText::readUnsigned(folder + "/type", &type) || type > 0xFFFFFFFFu) return;
  for (const std::string& file : SysfsText::list(folder + "/events")) {
    std::optional<KernelEvent> event = PerfEventTable::byName(kind, file);
    if (!event) continue;
    std::string text;
    PerfNamedEvent named;
    if (!SysfsText::read(folder + "/events/" + file, &text) || !parseEventConfig(folder, text, &named.config))
      continue;
    named.type = static_cast<uint32_t>(type);
    if (SysfsText::read(folder + "/events/" + file + ".scale", &text)) {
      // A scale that is not a positive number would turn counts into nonsense.
      if (!parseDouble(text, &named.scale) || named.scale <= 0) continue;
    }
    if (SysfsText::readTrimmed(folder + "/events/" + file + ".unit", &text)) named.unit = text;
    named.present = true;
    sources->named[static_cast<size_t>(*event)] = std::move(named);
  }
}

void PerfInventoryReader::read(std::span<const int> cpus, PerfEventSources* sources,
                               KernelCounterInventory* inventory) const {
  *sources = PerfEventSources();
  std::vector<int> described(cpus.begin(), cpus.end());
  if (described.empty()) described = onlineCpus();
  int highest = -1;
  for (int cpu : described) highest = std::max(highest, cpu);
  sources->corePmuOfCpu.assign(static_cast<size_t>(highest + 1), -1);
  sources->packageOfCpu.assign(static_cast<size_t>(highest + 1), -1);

  inventory->paranoid = paranoid();
  readCorePmus(sources);
  readNamedEvents("msr", PerfEventTable::Kind::kMsr, sources);
  readNamedEvents("power", PerfEventTable::Kind::kPower, sources);
  std::string text;
  if (SysfsText::read(m_sysRoot + "/bus/event_source/devices/power/cpumask", &text))
    SysfsText::parseCpuList(text, &sources->powerCpus, kCpuLimit);

  inventory->corePmus = sources->corePmus;
  inventory->msrEvents = 0;
  inventory->powerEvents.clear();
  for (int e = 0; e < kKernelEventCount; ++e) {
    KernelEvent event = static_cast<KernelEvent>(e);
    const PerfNamedEvent& named = sources->named[static_cast<size_t>(e)];
    if (!named.present) continue;
    if (PerfEventTable::kind(event) == PerfEventTable::Kind::kMsr) inventory->msrEvents |= kernelEventBit(event);
    // Energy in any unit but joules cannot be turned into watts.
    if (PerfEventTable::kind(event) == PerfEventTable::Kind::kPower && named.unit == "Joules")
      inventory->powerEvents.push_back(KernelPowerEvent{event, named.scale});
  }

  inventory->processors.clear();
  const std::string cpuRoot = m_sysRoot + "/devices/system/cpu/cpu";
  for (int cpu : described) {
    if (cpu < 0) continue;
    KernelProcessor processor;
    processor.cpu = cpu;
    int64_t value = 0;
    const std::string topology = cpuRoot + std::to_string(cpu) + "/topology/";
    // Without a package file the CPU is in package 0, as the group layout has it.
    processor.package = 0;
    if (SysfsText::readInt(topology + "physical_package_id", &value) && value >= 0 && value < kCpuLimit)
      processor.package = static_cast<int>(value);
    if (SysfsText::readInt(topology + "core_id", &value) && value >= 0 && value < (int64_t{1} << 30))
      processor.core = static_cast<int>(value);
    processor.pmu = sources->corePmuOf(cpu);
    sources->packageOfCpu[static_cast<size_t>(cpu)] = processor.package;
    inventory->processors.push_back(processor);
  }
}

}  // namespace tv2

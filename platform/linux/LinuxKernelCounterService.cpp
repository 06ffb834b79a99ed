#include "platform/linux/LinuxKernelCounterService.h"

#include <time.h>

#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxSystemHost.h"
#include "platform/linux/perf/HwmonReader.h"
#include "platform/linux/perf/PerfEventGroup.h"
#include "platform/linux/perf/PerfGroupOpener.h"
#include "platform/linux/perf/PerfInventoryReader.h"
#include "platform/linux/perf/PowercapReader.h"
#include "platform/linux/perf/SysfsText.h"

namespace tv2 {

namespace {

constexpr const char* kNoCorePmu = "the kernel offers no hardware performance counters (virtual machine?)";

std::unique_ptr<KernelEventGroup> fail(KernelOpenError* error, uint32_t code, std::string reason) {
  if (error != nullptr) *error = KernelOpenError{code, 0, std::move(reason)};
  return nullptr;
}

}  // namespace

LinuxKernelCounterService::LinuxKernelCounterService(const LinuxGroupLayout& layout,
                                                     LinuxKernelCounterOptions options,
                                                     std::unique_ptr<PerfEventBroker> broker)
    : m_layout(layout), m_options(std::move(options)), m_broker(std::move(broker)) {}

bool LinuxKernelCounterService::mayOpenDirectly(int paranoid, const PerfPrivilege& privilege) {
  // Level 1 and above refuse CPU-wide events to unprivileged processes; 0
  // allows them, kernel included (that needs below 2).
  return privilege.any() || (paranoid != KernelCounterInventory::kParanoidUnknown && paranoid <= 0);
}

std::string LinuxKernelCounterService::blockedReason(int paranoid, bool mayOpenDirectly, bool hostOpens,
                                                     bool hasCorePmu, bool hostOffered,
                                                     const std::string& hostReason) {
  std::string reason;
  if (!hasCorePmu) reason = kNoCorePmu;
  if (mayOpenDirectly || hostOpens) return reason;
  if (!reason.empty()) reason += "; ";
  reason += paranoid == KernelCounterInventory::kParanoidUnknown
                ? std::string("perf_event_paranoid cannot be read")
                : "perf_event_paranoid is " + std::to_string(paranoid);
  reason += ": counting all processors needs a level of 0 or below, root";
  if (!hostOffered) return reason + " or CAP_PERFMON";
  reason += std::string(", CAP_PERFMON or the ") + LinuxSystemHost::kGroupName + " group's system host";
  if (!hostReason.empty()) reason += " (" + hostReason + ")";
  return reason;
}

void LinuxKernelCounterService::load() {
  std::span<const int> none;
  std::vector<int> cpus;
  for (int group = 0; group < m_layout.groupCount(); ++group)
    for (int cpu : m_layout.groupCpus(group)) cpus.push_back(cpu);
  PerfInventoryReader reader(m_options.sysRoot, m_options.procRoot);
  reader.read(cpus.empty() ? none : std::span<const int>(cpus), &m_sources, &m_inventory);
  for (KernelProcessor& processor : m_inventory.processors) {
    if (!m_layout.locate(processor.cpu, &processor.group, &processor.index)) {
      processor.group = -1;
      processor.index = -1;
    }
  }
  HwmonReader(m_options.sysRoot).discover(&m_inventory.temperatures, &m_temperatureInputs);
  PowercapReader(m_options.sysRoot).discover(&m_inventory.energyZones, &m_energyFiles);

  PerfPrivilege privilege = m_options.privilege ? *m_options.privilege : PerfPrivilege::current();
  m_inventory.mayOpenDirectly = mayOpenDirectly(m_inventory.paranoid, privilege);
  std::string hostReason;
  if (!m_inventory.mayOpenDirectly && m_broker != nullptr) {
    hostReason = m_broker->unavailableReason();
    m_inventory.hostOpens = hostReason.empty();
  }
  m_inventory.blockedReason =
      blockedReason(m_inventory.paranoid, m_inventory.mayOpenDirectly, m_inventory.hostOpens,
                    !m_inventory.corePmus.empty(), m_broker != nullptr, hostReason);
}

KernelCounterInventory LinuxKernelCounterService::inventory() {
  std::call_once(m_loadOnce, [this] { load(); });
  return m_inventory;
}

std::unique_ptr<KernelEventGroup> LinuxKernelCounterService::openGroup(int group, int index,
                                                                       std::span<const KernelEvent> events,
                                                                       KernelOpenError* error) {
  std::call_once(m_loadOnce, [this] { load(); });
  int cpu = m_layout.cpuOf(group, index);
  if (cpu < 0)
    return fail(error, kErrorInvalidParameter,
                "there is no processor " + std::to_string(index) + " in group " + std::to_string(group));
  std::vector<OwnedFd> fds;
  KernelOpenError spare;
  KernelOpenError& err = error != nullptr ? *error : spare;
  if (m_inventory.mayOpenDirectly) {
    if (!PerfGroupOpener::open(m_sources, cpu, events, &fds, &err)) {
      if (err.code == kErrorAccessDenied && m_inventory.paranoid != KernelCounterInventory::kParanoidUnknown)
        err.reason += " (perf_event_paranoid is " + std::to_string(m_inventory.paranoid) + ")";
      return nullptr;
    }
  } else if (m_inventory.hostOpens) {
    if (!m_broker->openGroup(cpu, events, &fds, &err)) return nullptr;
    if (fds.size() != events.size())
      return fail(error, kErrorInvalidParameter,
                  "the system host gave " + std::to_string(fds.size()) + " descriptors for " +
                      std::to_string(events.size()) + " events");
  } else {
    return fail(error, kErrorAccessDenied, m_inventory.blockedReason);
  }
  return std::make_unique<PerfEventGroup>(std::move(fds));
}

bool LinuxKernelCounterService::readTemperature(int sensor, int32_t* milliCelsius) {
  std::call_once(m_loadOnce, [this] { load(); });
  if (sensor < 0 || sensor >= static_cast<int>(m_temperatureInputs.size()) || milliCelsius == nullptr) return false;
  return HwmonReader::readInput(m_temperatureInputs[static_cast<size_t>(sensor)], milliCelsius);
}

bool LinuxKernelCounterService::readEnergy(int zone, uint64_t* microjoules, uint64_t* timeNs) {
  std::call_once(m_loadOnce, [this] { load(); });
  if (zone < 0 || zone >= static_cast<int>(m_energyFiles.size()) || microjoules == nullptr || timeNs == nullptr)
    return false;
  if (!PowercapReader::readEnergy(m_energyFiles[static_cast<size_t>(zone)], microjoules)) return false;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  *timeNs = static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
  return true;
}

bool LinuxKernelCounterService::readFrequency(int group, int index, uint32_t* kiloHertz) {
  const int cpu = m_layout.cpuOf(group, index);
  if (cpu < 0 || kiloHertz == nullptr) return false;
  uint64_t value = 0;
  const std::string path =
      m_options.sysRoot + "/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/scaling_cur_freq";
  if (!SysfsText::readUnsigned(path, &value) || value == 0 || value > UINT32_MAX) return false;
  *kiloHertz = static_cast<uint32_t>(value);
  return true;
}

}  // namespace tv2

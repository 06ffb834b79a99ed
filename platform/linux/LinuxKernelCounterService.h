#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/linux/LinuxGroupLayout.h"
#include "platform/linux/perf/PerfEventBroker.h"
#include "platform/linux/perf/PerfEventSources.h"
#include "platform/linux/perf/PerfPrivilege.h"

namespace tv2 {

struct LinuxKernelCounterOptions {
  // Where sysfs and procfs are; tests point these at recorded trees.
  std::string sysRoot = "/sys";
  std::string procRoot = "/proc";
  // What the process may do; unset: its own effective user and capabilities.
  std::optional<PerfPrivilege> privilege;
};

// The kernel's perf events, hwmon and powercap on the running system. A
// process with root, CAP_PERFMON or CAP_SYS_ADMIN, or one that
// perf_event_paranoid lets count all processors (0 or below), opens its
// groups itself; any other goes through the broker (the system host), when
// there is one and it can serve this process.
//
// Threads: any. The inventory is read once, on first use, under m_loadOnce;
// afterwards every member is only read. The broker serialises itself.
class LinuxKernelCounterService : public KernelCounterService {
 public:
  // `layout` must outlive the service. `broker` may be null: no host.
  LinuxKernelCounterService(const LinuxGroupLayout& layout, LinuxKernelCounterOptions options,
                            std::unique_ptr<PerfEventBroker> broker);

  // The inventory as read at first use (the kernel's PMUs do not change
  // while the program runs).
  KernelCounterInventory inventory() override;
  std::unique_ptr<KernelEventGroup> openGroup(int group, int index, std::span<const KernelEvent> events,
                                              KernelOpenError* error) override;
  bool readTemperature(int sensor, int32_t* milliCelsius) override;
  bool readEnergy(int zone, uint64_t* microjoules, uint64_t* timeNs) override;
  // cpufreq's scaling_cur_freq of the processor's CPU (readable by all).
  bool readFrequency(int group, int index, uint32_t* kiloHertz) override;

  // The one line saying what is blocked and why: no hardware PMU, and,
  // when neither the process nor the host may open events, the paranoid
  // level and what it asks for, with the host's own reason. Empty when
  // nothing is blocked.
  static std::string blockedReason(int paranoid, bool mayOpenDirectly, bool hostOpens, bool hasCorePmu,
                                   bool hostOffered, const std::string& hostReason);
  // Whether the process may open CPU-wide events itself.
  static bool mayOpenDirectly(int paranoid, const PerfPrivilege& privilege);

 private:
  void load();

  const LinuxGroupLayout& m_layout;
  const LinuxKernelCounterOptions m_options;
  const std::unique_ptr<PerfEventBroker> m_broker;

  std::once_flag m_loadOnce;
  // Written once inside m_loadOnce, read-only afterwards.
  KernelCounterInventory m_inventory;
  PerfEventSources m_sources;
  std::vector<std::string> m_temperatureInputs;  // per inventory sensor
  std::vector<std::string> m_energyFiles;        // per inventory zone
};

}  // namespace tv2

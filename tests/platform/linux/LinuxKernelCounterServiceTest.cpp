#include "platform/linux/LinuxKernelCounterService.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "perf/KernelTrees.h"
#include "perf/SysfsTree.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/perf/PerfGroupOpener.h"
#include "platform/linux/perf/PerfInventoryReader.h"

namespace tv2 {
namespace {

const PerfPrivilege kUser{};
const PerfPrivilege kRoot{true, false, false};

// Stands in for the system host: opens the group itself on CPU 0 with the
// software PMU, and remembers what it was asked.
class FakeBroker : public PerfEventBroker {
 public:
  explicit FakeBroker(std::string reason, int* askedCpu, bool dropOne = false)
      : m_reason(std::move(reason)), m_askedCpu(askedCpu), m_dropOne(dropOne) {}
  std::string unavailableReason() override { return m_reason; }
  bool openGroup(int cpu, std::span<const KernelEvent> events, std::vector<OwnedFd>* fds,
                 KernelOpenError* error) override {
    *m_askedCpu = cpu;
    PerfEventSources sources;
    std::vector<KernelEvent> clocks(events.size(), KernelEvent::kCpuClock);
    if (!PerfGroupOpener::open(sources, 0, clocks, fds, error)) return false;
    if (m_dropOne) fds->pop_back();
    return true;
  }

 private:
  std::string m_reason;
  int* m_askedCpu;
  bool m_dropOne;
};

class KernelService {
 public:
  KernelService(void (*build)(const SysfsTree&), PerfPrivilege privilege,
                std::unique_ptr<PerfEventBroker> broker = nullptr) {
    build(m_tree);
    EXPECT_EQ(LinuxGroupLayout::load(m_tree.path("devices/system/cpu"), &m_layout), kOk);
    m_service = std::make_unique<LinuxKernelCounterService>(
        m_layout, LinuxKernelCounterOptions{m_tree.root(), m_tree.path("proc"), privilege}, std::move(broker));
  }
  LinuxKernelCounterService& operator*() { return *m_service; }
  LinuxKernelCounterService* operator->() { return m_service.get(); }
  const SysfsTree& tree() const { return m_tree; }
  const LinuxGroupLayout& layout() const { return m_layout; }

 private:
  SysfsTree m_tree;
  LinuxGroupLayout m_layout;
  std::unique_ptr<LinuxKernelCounterService> m_service;
};

bool canCountCpuWide() {
  PerfEventSources sources;
  KernelCounterInventory inventory;
  PerfInventoryReader("/sys", "/proc").read({}, &sources, &inventory);
  return LinuxKernelCounterService::mayOpenDirectly(inventory.paranoid, PerfPrivilege::current());
}

TEST(LinuxKernelCounterService, UnprivilegedUserWithoutHostIsToldWhatParanoidNeeds) {
  KernelService service(KernelTrees::alderLake, kUser);
  KernelCounterInventory inventory = service->inventory();
  EXPECT_FALSE(inventory.mayOpenDirectly);
  EXPECT_FALSE(inventory.hostOpens);
  EXPECT_EQ(inventory.blockedReason,
            "perf_event_paranoid is 2: counting all processors needs a level of 0 or below, root or CAP_PERFMON");
  // What needs no privilege is still there.
  EXPECT_EQ(inventory.temperatures.size(), 3u);
  EXPECT_EQ(inventory.energyZones.size(), 3u);
  ASSERT_EQ(inventory.processors.size(), 16u);
  EXPECT_EQ(inventory.processors[9].group, 0);
  EXPECT_EQ(inventory.processors[9].index, 9);

  KernelOpenError error;
  const KernelEvent events[] = {KernelEvent::kInstructions};
  EXPECT_EQ(service->openGroup(0, 1, events, &error), nullptr);
  EXPECT_EQ(error.code, kErrorAccessDenied);
  EXPECT_EQ(error.reason, inventory.blockedReason);
  EXPECT_EQ(service->openGroup(0, 16, events, &error), nullptr);
  EXPECT_EQ(error.code, kErrorInvalidParameter);
}

TEST(LinuxKernelCounterService, BlockedReasonNamesTheLevelTheHostAndAMissingPmu) {
  // Paranoid 0 lets anybody count all processors; privilege beats any level.
  EXPECT_TRUE(LinuxKernelCounterService::mayOpenDirectly(0, kUser));
  EXPECT_TRUE(LinuxKernelCounterService::mayOpenDirectly(-1, kUser));
  EXPECT_FALSE(LinuxKernelCounterService::mayOpenDirectly(1, kUser));
  EXPECT_FALSE(LinuxKernelCounterService::mayOpenDirectly(KernelCounterInventory::kParanoidUnknown, kUser));
  EXPECT_TRUE(LinuxKernelCounterService::mayOpenDirectly(3, PerfPrivilege{false, true, false}));
  EXPECT_TRUE(LinuxKernelCounterService::mayOpenDirectly(2, PerfPrivilege{false, false, true}));

  int asked = -1;
  KernelService notMember(KernelTrees::alderLake, kUser,
                          std::make_unique<FakeBroker>("you are not in group tarvelle2: sudo adduser bob tarvelle2, "
                                                       "then log in again",
                                                       &asked));
  EXPECT_EQ(notMember->inventory().blockedReason,
            "perf_event_paranoid is 2: counting all processors needs a level of 0 or below, root, CAP_PERFMON "
            "or the tarvelle2 group's system host (you are not in group tarvelle2: sudo adduser bob tarvelle2, "
            "then log in again)");
  EXPECT_FALSE(notMember->inventory().hostOpens);

  // A virtual machine: the missing PMU is said even to root.
  KernelService vm(KernelTrees::virtualMachine, kRoot);
  EXPECT_TRUE(vm->inventory().mayOpenDirectly);
  EXPECT_EQ(vm->inventory().blockedReason, "the kernel offers no hardware performance counters (virtual machine?)");
  KernelService vmUser(KernelTrees::virtualMachine, kUser);
  EXPECT_EQ(vmUser->inventory().blockedReason.rfind(
                "the kernel offers no hardware performance counters (virtual machine?); perf_event_paranoid is 2", 0),
            0u);
  // Nothing blocked on an AMD part for root.
  KernelService amd(KernelTrees::zen3, kRoot);
  EXPECT_EQ(amd->inventory().blockedReason, "");
  EXPECT_EQ(LinuxKernelCounterService::blockedReason(KernelCounterInventory::kParanoidUnknown, false, false, true,
                                                     false, ""),
            "perf_event_paranoid cannot be read: counting all processors needs a level of 0 or below, root or "
            "CAP_PERFMON");
}

TEST(LinuxKernelCounterService, UserInTheHostsGroupGetsGroupsThroughTheBroker) {
  if (!canCountCpuWide()) GTEST_SKIP() << "the fake host opens real groups, which needs CPU-wide rights";
  int asked = -1;
  KernelService service(KernelTrees::alderLake, kUser, std::make_unique<FakeBroker>("", &asked));
  KernelCounterInventory inventory = service->inventory();
  EXPECT_TRUE(inventory.hostOpens);
  EXPECT_EQ(inventory.blockedReason, "");
  const KernelEvent events[] = {KernelEvent::kInstructions, KernelEvent::kCycles};
  KernelOpenError error;
  std::unique_ptr<KernelEventGroup> group = service->openGroup(0, 13, events, &error);
  ASSERT_NE(group, nullptr) << error.reason;
  EXPECT_EQ(asked, 13);
  KernelGroupReading reading;
  ASSERT_TRUE(group->read(&reading));
  EXPECT_EQ(reading.count, 2);

  // A host that hands over fewer descriptors than events is not believed.
  KernelService shortHost(KernelTrees::alderLake, kUser, std::make_unique<FakeBroker>("", &asked, true));
  EXPECT_EQ(shortHost->openGroup(0, 2, events, &error), nullptr);
  EXPECT_EQ(error.code, kErrorInvalidParameter);
}

TEST(LinuxKernelCounterService, TemperaturesAndEnergyReadThroughTheirFiles) {
  KernelService service(KernelTrees::zen3, kUser);
  KernelCounterInventory inventory = service->inventory();
  ASSERT_EQ(inventory.temperatures.size(), 1u);
  int32_t temperature = 0;
  ASSERT_TRUE(service->readTemperature(0, &temperature));
  EXPECT_EQ(temperature, 61250);
  service.tree().write("class/hwmon/hwmon2/temp1_input", "62125\n");
  ASSERT_TRUE(service->readTemperature(0, &temperature));
  EXPECT_EQ(temperature, 62125);
  EXPECT_FALSE(service->readTemperature(1, &temperature));
  EXPECT_FALSE(service->readTemperature(-1, &temperature));

  ASSERT_EQ(inventory.energyZones.size(), 1u);
  EXPECT_EQ(inventory.energyZones[0].maxRangeMicrojoules, 65532610987u);
  uint64_t energy = 0;
  uint64_t first = 0;
  uint64_t second = 0;
  ASSERT_TRUE(service->readEnergy(0, &energy, &first));
  EXPECT_EQ(energy, 99u);
  service.tree().write("class/powercap/intel-rapl:0/energy_uj", "garbage\n");
  EXPECT_FALSE(service->readEnergy(0, &energy, &second));
  service.tree().write("class/powercap/intel-rapl:0/energy_uj", "150\n");
  ASSERT_TRUE(service->readEnergy(0, &energy, &second));
  EXPECT_EQ(energy, 150u);
  EXPECT_GE(second, first);
  EXPECT_FALSE(service->readEnergy(1, &energy, &second));
}

// The platform hands out the service over the trees its options name, with
// the processors in its own group layout.
TEST(LinuxKernelCounterService, PlatformServiceReadsTheTreesItsOptionsName) {
  SysfsTree tree;
  KernelTrees::alderLake(tree);
  LinuxPlatformOptions options;
  options.cpuRoot = tree.path("devices/system/cpu");
  options.kernelSysRoot = tree.root();
  options.kernelProcRoot = tree.path("proc");
  options.procStatPath = tree.path("proc/stat");
  LinuxPlatform platform(options);
  ASSERT_NE(platform.kernelCounters(), nullptr);
  KernelCounterInventory inventory = platform.kernelCounters()->inventory();
  EXPECT_EQ(inventory.paranoid, 2);
  ASSERT_EQ(inventory.corePmus.size(), 2u);
  ASSERT_EQ(inventory.processors.size(), 16u);
  const KernelProcessor& atom = inventory.processors[12];
  EXPECT_EQ(platform.layout().cpuOf(atom.group, atom.index), 12);
  EXPECT_EQ(inventory.corePmus[static_cast<size_t>(atom.pmu)].name, "cpu_atom");
  EXPECT_EQ(inventory.temperatures.size(), 3u);
}

// cpufreq's current clock by the program's numbering; a processor without
// the file, an unreadable value or one outside the layout gives none.
TEST(LinuxKernelCounterService, CurrentClockFromCpufreq) {
  KernelService service(KernelTrees::zen3, kUser);
  uint32_t kiloHertz = 0;
  EXPECT_FALSE(service->readFrequency(0, 0, &kiloHertz));
  service.tree().write("devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "4425312\n");
  int group = -1;
  int index = -1;
  ASSERT_TRUE(service.layout().locate(1, &group, &index));
  ASSERT_TRUE(service->readFrequency(group, index, &kiloHertz));
  EXPECT_EQ(kiloHertz, 4425312u);
  service.tree().write("devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "fast\n");
  EXPECT_FALSE(service->readFrequency(group, index, &kiloHertz));
  EXPECT_FALSE(service->readFrequency(group, 4096, &kiloHertz));
}

// This machine's kernel, through the service: the software PMU always, the
// msr PMU where the kernel has it, hardware events only with a core PMU.
TEST(LinuxKernelCounterService, RealKernelOpensSoftwareAndMsrGroups) {
  LinuxGroupLayout layout;
  ASSERT_EQ(LinuxGroupLayout::load("/sys/devices/system/cpu", &layout), kOk);
  LinuxKernelCounterService service(layout, LinuxKernelCounterOptions{}, nullptr);
  // The inventory is read once, whichever thread comes first.
  KernelCounterInventory other;
  std::thread racer([&] { other = service.inventory(); });
  KernelCounterInventory inventory = service.inventory();
  racer.join();
  EXPECT_EQ(other.processors.size(), inventory.processors.size());
  ASSERT_EQ(static_cast<int>(inventory.processors.size()), layout.processorCount());
  if (!inventory.mayOpenDirectly) GTEST_SKIP() << inventory.blockedReason;

  std::vector<KernelEvent> events;
  if (inventory.msrEvents & kernelEventBit(KernelEvent::kMsrTsc)) events.push_back(KernelEvent::kMsrTsc);
  events.push_back(KernelEvent::kCpuClock);
  KernelOpenError error;
  std::unique_ptr<KernelEventGroup> group = service.openGroup(0, 0, events, &error);
  ASSERT_NE(group, nullptr) << error.reason;
  KernelGroupReading first;
  KernelGroupReading second;
  ASSERT_TRUE(group->read(&first));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(group->read(&second));
  EXPECT_GT(second.timeEnabled, first.timeEnabled);
  EXPECT_GT(second.values[0], first.values[0]);

  if (!inventory.corePmus.empty()) return;
  EXPECT_NE(inventory.blockedReason.find("no hardware performance counters"), std::string::npos);
  const KernelEvent hardware[] = {KernelEvent::kCycles};
  EXPECT_EQ(service.openGroup(0, 0, hardware, &error), nullptr);
  EXPECT_EQ(error.code, kErrorNotSupported);
}

// A process without privilege on a kernel that refuses it CPU-wide events:
// the service says so before asking, and the kernel's own refusal maps to
// access denied with its text. Runs as uid 65534 in a child process.
TEST(LinuxKernelCounterService, UnprivilegedProcessIsRefusedAndToldWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become uid 65534";
  PerfEventSources sources;
  KernelCounterInventory real;
  PerfInventoryReader("/sys", "/proc").read({}, &sources, &real);
  if (real.paranoid <= 0) GTEST_SKIP() << "perf_event_paranoid " << real.paranoid << " lets anybody count";
  LinuxGroupLayout layout;
  ASSERT_EQ(LinuxGroupLayout::load("/sys/devices/system/cpu", &layout), kOk);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string report;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0) {
      report = "cannot become uid 65534";
    } else {
      LinuxKernelCounterService service(layout, LinuxKernelCounterOptions{}, nullptr);
      KernelCounterInventory inventory = service.inventory();
      const KernelEvent clock[] = {KernelEvent::kCpuClock};
      KernelOpenError refused;
      bool serviceRefused = service.openGroup(0, 0, clock, &refused) == nullptr;
      std::vector<OwnedFd> fds;
      KernelOpenError kernel;
      bool kernelRefused = !PerfGroupOpener::open(sources, 0, clock, &fds, &kernel);
      report = std::string(inventory.mayOpenDirectly ? "direct" : "blocked") + "|" + inventory.blockedReason + "|" +
               (serviceRefused ? std::to_string(refused.code) : "opened") + "|" +
               (kernelRefused ? std::to_string(kernel.code) + " " + std::to_string(kernel.systemError) + " " +
                                    kernel.reason
                              : "opened");
    }
    ssize_t ignored = ::write(pipeFds[1], report.data(), report.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buffer[1024];
  ssize_t got;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::string paranoid = "perf_event_paranoid is " + std::to_string(real.paranoid) + ": ";
  EXPECT_NE(report.find("blocked|"), std::string::npos) << report;
  EXPECT_NE(report.find(paranoid + "counting all processors needs a level of 0 or below, root or CAP_PERFMON|"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("|" + std::to_string(kErrorAccessDenied) + "|"), std::string::npos) << report;
  EXPECT_NE(report.find(std::to_string(kErrorAccessDenied) + " " + std::to_string(EACCES) +
                        " cannot count cpu-clock on CPU 0: Permission denied"),
            std::string::npos)
      << report;
}

}  // namespace
}  // namespace tv2

#include "platform/linux/LinuxPlatform.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxCpuSet.h"
#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxHostEventBroker.h"
#include "platform/linux/LinuxInstanceLock.h"
#include "platform/linux/LinuxNamedMutex.h"
#include "platform/linux/LinuxServiceManager.h"
#include "platform/linux/LinuxSystemServiceManager.h"

namespace tv2 {

namespace {

// RPC_S_SERVER_UNAVAILABLE: a remote computer's service manager.
constexpr uint32_t kErrorRemoteUnavailable = 1722;

// Without a readable sysfs tree the CPUs this process may run on are still
// known; as one package they give groups that pinning works with.
LinuxGroupLayout layoutFromAffinity() {
  int size = LinuxCpuSet::kernelCpuCount();
  LinuxCpuSet allowed(size);
  std::vector<LinuxCpuEntry> cpus;
  if (allowed.readThreadAffinity()) {
    for (int cpu = 0; cpu < size; ++cpu)
      if (allowed.contains(cpu)) cpus.push_back(LinuxCpuEntry{cpu, 0});
  }
  if (cpus.empty()) {
    int cpu = sched_getcpu();
    cpus.push_back(LinuxCpuEntry{cpu >= 0 ? cpu : 0, 0});
  }
  return LinuxGroupLayout::fromCpus(std::move(cpus));
}

}  // namespace

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
    : m_options(std::move(options)),
      m_files(LinuxServiceFolder(m_options.runRoot).path() + "/"),
      m_fileSystem(LinuxServiceFolder(m_options.runRoot).path()),
      m_serviceFolder(m_options.runRoot),
      m_systemHost(m_options.systemSocket.empty() ? m_serviceFolder.path() + "/host.sock" : m_options.systemSocket,
                   m_options.systemUnitFiles) {
  m_layoutStatus = LinuxGroupLayout::load(m_options.cpuRoot, &m_layout);
  if (m_layoutStatus != kOk) m_layout = layoutFromAffinity();
  m_processors = std::make_unique<LinuxProcessorService>(m_layout);

  // The system host's client, through which a process without the right to
  // count all processors gets its groups (the service asks it only then).
  auto kernelBroker = std::make_unique<LinuxHostEventBroker>(m_systemHost, m_options.deviceTimeoutMs);
  m_kernelCounters = std::make_unique<LinuxKernelCounterService>(
      m_layout, LinuxKernelCounterOptions{m_options.kernelSysRoot, m_options.kernelProcRoot, std::nullopt},
      std::move(kernelBroker));

  int64_t ticksPerSecond = m_options.ticksPerSecond;
  if (ticksPerSecond == 0) ticksPerSecond = sysconf(_SC_CLK_TCK);
  int probe = ::open(m_options.procStatPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (probe >= 0) {
    ::close(probe);
    if (ticksPerSecond > 0)
      m_times = std::make_unique<LinuxProcessorTimes>(m_layout, m_options.procStatPath,
                                                       ticksPerSecond);
  }
}

std::unique_ptr<NamedMutex> LinuxPlatform::createNamedMutex(const std::string& name,
                                                            bool* alreadyExisted,
                                                            uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  if (alreadyExisted != nullptr) *alreadyExisted = false;
  LinuxTrustedFolder folder;
  err = LinuxNamedMutex::openFolder(::geteuid(), m_options.runRoot, std::getenv("XDG_RUNTIME_DIR"), &folder);
  if (err != kOk) return nullptr;
  return LinuxNamedMutex::open(folder, m_options.namePrefix, name, alreadyExisted, &err);
}

uint32_t LinuxPlatform::removeNamedMutex(const std::string& name) {
  LinuxTrustedFolder folder;
  uint32_t error = LinuxNamedMutex::openFolder(::geteuid(), m_options.runRoot, std::getenv("XDG_RUNTIME_DIR"), &folder);
  if (error != kOk) return error;
  return LinuxNamedMutex::remove(folder, m_options.namePrefix, name);
}

std::unique_ptr<InstanceLock> LinuxPlatform::acquireInstanceLock(const std::string& name) {
  uint32_t error = kOk;
  return acquireInstanceLock(name, &error);
}

std::unique_ptr<InstanceLock> LinuxPlatform::acquireInstanceLock(const std::string& name,
                                                                 uint32_t* error) {
  return LinuxInstanceLock::acquire(m_options.namePrefix, name, error);
}

void LinuxPlatform::sleepMs(uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1'000'000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

bool LinuxPlatform::systemVersion(SystemVersion* out) {
  if (out == nullptr) return false;
  utsname names;
  if (::uname(&names) != 0) return false;
  unsigned major = 0;
  unsigned minor = 0;
  if (std::sscanf(names.release, "%u.%u", &major, &minor) < 1) return false;
  out->platformId = SystemVersion::kPlatformNt;
  out->major = major;
  out->minor = minor;
  return true;
}

std::string LinuxPlatform::computerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::unique_ptr<ServiceManager> LinuxPlatform::openServiceManager(const std::string& computer,
                                                                  uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  // Another computer's service manager is out of reach.
  if (!computer.empty() && computer != computerName()) {
    err = kErrorRemoteUnavailable;
    return nullptr;
  }
  if (::geteuid() != 0) {
    // Only a host that is there to be found: the driver client would
    // otherwise write its image for nothing before asking.
    if (!m_systemHost.socketPresent()) {
      err = kErrorAccessDenied;
      return nullptr;
    }
    err = kOk;
    return std::make_unique<LinuxSystemServiceManager>(m_systemHost);
  }
  err = m_serviceFolder.prepare();
  if (err != kOk) return nullptr;
  return std::make_unique<LinuxServiceManager>(m_serviceFolder, m_options.serviceArguments);
}

std::unique_ptr<Device> LinuxPlatform::openDevice(const std::string& name, uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  static constexpr const char* kDevicePrefix = "\\\\.\\";
  std::string prefix(kDevicePrefix);
  if (name.rfind(prefix, 0) != 0 || !LinuxServiceFolder::validName(name.substr(prefix.size()))) {
    err = kErrorFileNotFound;
    return nullptr;
  }
  // A copy without root never runs a host of its own.
  const std::string socket =
      ::geteuid() == 0 ? m_serviceFolder.socket(name.substr(prefix.size())) : m_systemHost.socketPath();
  return LinuxDevice::connect(socket, m_options.deviceTimeoutMs, error);
}

std::string LinuxPlatform::driverUnavailableReason() {
  if (::geteuid() == 0) return std::string();
  return LinuxSystemHost::explain(m_systemHost.gather());
}

}  // namespace tv2

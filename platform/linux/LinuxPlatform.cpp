#include "platform/linux/LinuxPlatform.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxCpuSet.h"
#include "platform/linux/LinuxInstanceLock.h"
#include "platform/linux/LinuxNamedMutex.h"

namespace tv2 {

namespace {

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

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options) : m_options(std::move(options)) {
  m_layoutStatus = LinuxGroupLayout::load(m_options.cpuRoot, &m_layout);
  if (m_layoutStatus != kOk) m_layout = layoutFromAffinity();
  m_processors = std::make_unique<LinuxProcessorService>(m_layout);

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
  return LinuxNamedMutex::open(m_options.namePrefix, name, alreadyExisted, error);
}

uint32_t LinuxPlatform::removeNamedMutex(const std::string& name) {
  return LinuxNamedMutex::remove(m_options.namePrefix, name);
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

}  // namespace tv2

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/LinuxFileService.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxGroupLayout.h"
#include "platform/linux/LinuxKernelCounterService.h"
#include "platform/linux/LinuxProcessorService.h"
#include "platform/linux/LinuxProcessorTimes.h"
#include "platform/linux/LinuxResourceService.h"
#include "platform/linux/LinuxServiceFolder.h"
#include "platform/linux/LinuxSystemHost.h"

namespace tv2 {

struct LinuxPlatformOptions {
  // Where the kernel describes its CPUs; tests point this at recorded trees.
  std::string cpuRoot = "/sys/devices/system/cpu";
  std::string procStatPath = "/proc/stat";
  // Put before every named mutex and instance lock name, so that tests do not
  // meet a running copy of the program.
  std::string namePrefix = "tarvelle2-";
  // Ticks per second of /proc/stat; 0 asks the kernel (sysconf(_SC_CLK_TCK)).
  int64_t ticksPerSecond = 0;
  // The service manager keeps its registrations, the driver host its socket
  // and pid file, and a root caller its named mutexes' lock files and the
  // folder it writes the driver host's image into, in <runRoot>/tarvelle2
  // (root only). Tests use a private folder.
  std::string runRoot = "/run";
  // Given to every driver host the service manager starts, after its own
  // arguments (tests point the host at a tree of plain files).
  std::vector<std::string> serviceArguments;
  // The system driver host's socket (the installed socket unit); empty:
  // <runRoot>/tarvelle2/host.sock. Non-root copies use only this host.
  std::string systemSocket;
  // Unit files whose presence means the system host is installed.
  std::vector<std::string> systemUnitFiles = {"/lib/systemd/system/tarvelle2-host.socket",
                                              "/usr/lib/systemd/system/tarvelle2-host.socket",
                                              "/etc/systemd/system/tarvelle2-host.socket"};
  // How long a device request waits for the host's answer.
  uint32_t deviceTimeoutMs = 5000;
  // Where the kernel counter service reads perf events, hwmon and powercap
  // (sysfs) and perf_event_paranoid (procfs); tests use recorded trees.
  std::string kernelSysRoot = "/sys";
  std::string kernelProcRoot = "/proc";
};

// The platform of the running Linux system. Built on one thread; afterwards
// every service may be used from any thread (the services hold only data
// fixed at construction).
class LinuxPlatform : public Platform {
 public:
  explicit LinuxPlatform(LinuxPlatformOptions options = {});
  // The services refer to the layout member, so the object stays in place.
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  ProcessorService& processors() override { return *m_processors; }
  // Null when the /proc/stat file cannot be opened or the tick rate is unknown.
  ProcessorTimesService* processorTimes() override { return m_times.get(); }
  FileService& files() override { return m_files; }

  std::unique_ptr<NamedMutex> createNamedMutex(const std::string& name, bool* alreadyExisted,
                                               uint32_t* error) override;
  // Null when another process (or another lock of this one) holds the name,
  // and also when the lock cannot be made at all; the overload below tells
  // which.
  std::unique_ptr<InstanceLock> acquireInstanceLock(const std::string& name) override;
  // Restarts after signals until the whole time has passed.
  void sleepMs(uint32_t milliseconds) override;
  // The NT family, with the running kernel's major and minor version.
  bool systemVersion(SystemVersion* out) override;
  // The host name.
  std::string computerName() override;
  ResourceService& resources() override { return m_resources; }
  FileSystemService& fileSystem() override { return m_fileSystem; }
  // Only this computer. Root gets the program's own services; anybody else
  // the system host's view (LinuxSystemServiceManager) while its socket is
  // there, else kErrorAccessDenied.
  std::unique_ptr<ServiceManager> openServiceManager(const std::string& computer, uint32_t* error) override;
  // "\\.\NAME" is the socket of service NAME's running host for root; for
  // anybody else, the system host's socket.
  std::unique_ptr<Device> openDevice(const std::string& name, uint32_t* error) override;
  // Root: empty. Others: why the system host cannot be used (one line).
  std::string driverUnavailableReason() override;
  // perf events, hwmon and powercap; always present (a kernel without a
  // hardware PMU still has the software and often the msr PMU).
  KernelCounterService* kernelCounters() override { return m_kernelCounters.get(); }

  // Linux-only.
  const LinuxPlatformOptions& options() const { return m_options; }
  const LinuxGroupLayout& layout() const { return m_layout; }
  // kOk when the group layout came from the sysfs tree; otherwise the error
  // reading it gave, and the layout holds the CPUs the process may run on,
  // as one package.
  uint32_t layoutStatus() const { return m_layoutStatus; }
  // *error: kErrorAlreadyExists when another holder has the name.
  std::unique_ptr<InstanceLock> acquireInstanceLock(const std::string& name, uint32_t* error);
  // Deletes a named mutex's lock file (see LinuxNamedMutex::remove).
  uint32_t removeNamedMutex(const std::string& name);

 private:
  const LinuxPlatformOptions m_options;
  LinuxGroupLayout m_layout;
  uint32_t m_layoutStatus = 0;
  std::unique_ptr<LinuxProcessorService> m_processors;
  std::unique_ptr<LinuxProcessorTimes> m_times;
  LinuxFileService m_files;
  LinuxResourceService m_resources;
  LinuxFileSystem m_fileSystem;
  const LinuxServiceFolder m_serviceFolder;
  const LinuxSystemHost m_systemHost;
  std::unique_ptr<LinuxKernelCounterService> m_kernelCounters;
};

}  // namespace tv2

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/sim/SimFileService.h"
#include "platform/sim/SimKernelCounterService.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimProcessorService.h"
#include "platform/sim/SimProcessorTimesService.h"
#include "platform/sim/SimSystemServices.h"

namespace tv2::sim {

// One process running on a simulated machine. Several platforms may share a
// machine; they then see the same processors, times and named objects, and
// contend for the named mutexes and instance locks like separate processes.
//
// The fault switches may be flipped from a test thread while the program's
// threads use the platform.
class SimPlatform : public Platform {
 public:
  // A null machine gets a "nehalem" machine of its own.
  explicit SimPlatform(std::shared_ptr<SimMachine> machine);
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  SimMachine& machine() { return *m_machine; }
  const std::shared_ptr<SimMachine>& sharedMachine() const { return m_machine; }

  // Processors.
  void setGroupFunctions(bool available);
  void setUnpinnable(int cpu, bool unpinnable);
  // Processor times: unavailable makes processorTimes() null; failing makes
  // every query return SimProcessorTimesService::kInjectedError.
  void setProcessorTimesAvailable(bool available);
  void setProcessorTimesFailing(bool failing);
  // Named objects, as other processes on the machine would leave them.
  void holdMutexElsewhere(const std::string& name, bool held);
  void abandonMutex(const std::string& name);
  // Every wait on the named mutex fails with this system error (0 = works again).
  void failMutexWaits(const std::string& name, uint32_t error);
  // createNamedMutex fails with this code (0 = succeeds again).
  void setCreateMutexError(uint32_t error);
  void setInstanceLockHeldElsewhere(const std::string& name, bool held);
  // Files.
  void setProgramPath(std::string path);
  void setTempFolder(std::string folder);
  void setProgramVersion(FileVersion version);
  void setProgramVersionReadable(bool readable);
  // The folder userConfigFolder() answers (created when missing).
  void setUserConfigFolder(std::string folder);

  ProcessorService& processors() override { return m_processors; }
  ProcessorTimesService* processorTimes() override;
  FileService& files() override { return m_files; }
  // The driver client's side of the system: version, resources, files,
  // service manager and device, with their fault switches.
  SimSystemServices& system() { return m_system; }
  bool systemVersion(SystemVersion* out) override { return m_system.systemVersion(out); }
  std::string computerName() override { return m_system.computerName(); }
  ResourceService& resources() override { return m_system.resources(); }
  FileSystemService& fileSystem() override { return m_system.files(); }
  std::unique_ptr<ServiceManager> openServiceManager(const std::string& computer, uint32_t* error) override {
    return m_system.openServiceManager(computer, error);
  }
  std::unique_ptr<Device> openDevice(const std::string& name, uint32_t* error) override {
    return m_system.openDevice(name, error);
  }
  std::unique_ptr<NamedMutex> createNamedMutex(const std::string& name, bool* alreadyExisted,
                                               uint32_t* error) override;
  std::unique_ptr<InstanceLock> acquireInstanceLock(const std::string& name) override;
  // Sleeps; on a machine with a manual clock it advances the clock instead.
  void sleepMs(uint32_t milliseconds) override;

  // The kernel's counters as this process sees them, with the switches:
  // privilege, paranoid level, an error injected into one event, and truth.
  SimKernelCounterService& simKernelCounters() { return m_kernelCounters; }
  KernelCounterService* kernelCounters() override { return &m_kernelCounters; }

 private:
  const std::shared_ptr<SimMachine> m_machine;
  const uint64_t m_process;  // serial telling this process's threads from others'
  SimProcessorService m_processors;        // thread-safe on its own
  SimProcessorTimesService m_times;        // thread-safe on its own
  SimFileService m_files;                  // thread-safe on its own
  SimSystemServices m_system;              // thread-safe on its own
  SimKernelCounterService m_kernelCounters;  // thread-safe on its own
  std::atomic<bool> m_timesAvailable{true};   // written by tests, read by any thread
  std::atomic<uint32_t> m_createMutexError{0};// written by tests, read by any thread
};

}  // namespace tv2::sim

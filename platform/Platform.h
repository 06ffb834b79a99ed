#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Device.h"
#include "platform/FileService.h"
#include "platform/FileSystemService.h"
#include "platform/InstanceLock.h"
#include "platform/KernelCounterService.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessorService.h"
#include "platform/ProcessorTimesService.h"
#include "platform/ResourceService.h"
#include "platform/ServiceManager.h"
#include "platform/SystemVersion.h"

namespace tv2 {

// Everything the program needs from its operating system. main() picks the
// Linux platform, tests and demonstrations the simulated machine.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual ProcessorService& processors() = 0;
  // Null when the system cannot report per-processor times; usage is then not
  // sampled.
  virtual ProcessorTimesService* processorTimes() = 0;
  virtual FileService& files() = 0;

  // Opens or creates the named mutex (not owned). *alreadyExisted tells whether
  // it existed before; *error receives the failure code when null is returned.
  virtual std::unique_ptr<NamedMutex> createNamedMutex(const std::string& name,
                                                       bool* alreadyExisted,
                                                       uint32_t* error) = 0;

  // Null when another running copy holds the lock of that name.
  virtual std::unique_ptr<InstanceLock> acquireInstanceLock(const std::string& name) = 0;

  virtual void sleepMs(uint32_t milliseconds) = 0;

  // The system's family and version; false when they cannot be read.
  virtual bool systemVersion(SystemVersion* out) = 0;
  // This computer's name; empty when unknown.
  virtual std::string computerName() = 0;
  // The program's own embedded resources (the driver host's image is 108).
  virtual ResourceService& resources() = 0;
  // Writing, checking and removing the driver image and its folder.
  virtual FileSystemService& fileSystem() = 0;

  // Connects to the service manager of the named computer (empty: this one).
  // Only a privileged user may: others get kErrorAccessDenied.
  virtual std::unique_ptr<ServiceManager> openServiceManager(const std::string& computer,
                                                             uint32_t* error) = 0;
  // Opens a device by name ("\\.\kzor138" is the driver host's). A device
  // that does not exist (the host is not running) is kErrorFileNotFound.
  virtual std::unique_ptr<Device> openDevice(const std::string& name, uint32_t* error) = 0;

  // After the driver could not be initialised: why, and what the user can
  // do, in one line; empty when there is nothing to add to the error.
  virtual std::string driverUnavailableReason() { return std::string(); }

  // The kernel's own counter, power and temperature interfaces; null where
  // the system has none. Owned by the platform.
  virtual KernelCounterService* kernelCounters() { return nullptr; }
};

}  // namespace tv2

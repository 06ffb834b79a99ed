#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "driver/protocol/HardwareBackend.h"
#include "platform/Device.h"
#include "platform/ProcessorService.h"
#include "platform/ServiceManager.h"
#include "platform/SystemVersion.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimResourceService.h"
#include "platform/sim/SimServiceControl.h"

namespace tv2::sim {

class SimMachine;

// The system side of a simulated process that the driver client uses: the
// system's version and name, the program's resources, the files it writes,
// the service manager and the driver host's device. By default the system is
// the NT family 10.0, the user may open the service manager, and hosts run on
// the machine's hardware.
//
// Threads: any. The parts are thread-safe on their own; m_mutex guards the
// settings below it.
class SimSystemServices {
 public:
  SimSystemServices(SimMachine& machine, ProcessorService& processors);
  SimSystemServices(const SimSystemServices&) = delete;
  SimSystemServices& operator=(const SimSystemServices&) = delete;

  void setSystemVersion(const SystemVersion& version);
  void setSystemVersionReadable(bool readable);
  void setComputerName(std::string name);
  // Opening the service manager fails with this code (5: not privileged).
  void setServiceManagerError(uint32_t error) { m_services.setOpenError(error); }
  // The next `times` device opens (-1: all, until cleared with 0) fail with
  // this code.
  void setDeviceOpenError(uint32_t error, int times = -1);
  // Hosts started from now on run on this hardware (not owned), e.g. a fake.
  void setHardware(HardwareBackend& hardware) { m_services.setHardware(hardware); }
  // The driver host of service name dies (the device vanishes).
  void killHost(const std::string& name) { m_services.killHost(name); }

  SimFileSystem& files() { return m_files; }
  SimResourceService& resources() { return m_resources; }
  SimServiceControl& services() { return m_services; }

  // The platform's side.
  bool systemVersion(SystemVersion* out) const;
  std::string computerName() const;
  std::unique_ptr<ServiceManager> openServiceManager(const std::string& computer, uint32_t* error);
  std::unique_ptr<Device> openDevice(const std::string& name, uint32_t* error);

 private:
  // The machine's processor number of the calling thread; -1 when unknown.
  int currentCpu();

  SimMachine& m_machine;            // outlives this object
  ProcessorService& m_processors;   // thread-safe on its own
  SimFileSystem m_files;
  SimResourceService m_resources;
  SimServiceControl m_services;
  mutable std::mutex m_mutex;
  SystemVersion m_version{SystemVersion::kPlatformNt, 10, 0};
  bool m_versionReadable = true;
  std::string m_computerName = "SIMMACHINE";
  uint32_t m_deviceOpenError = 0;
  int m_deviceOpenFailures = 0;  // opens left to fail; -1: every one
};

}  // namespace tv2::sim

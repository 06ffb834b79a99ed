#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/protocol/HardwareBackend.h"
#include "platform/ServiceManager.h"
#include "platform/sim/SimDriverHost.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimResourceService.h"

namespace tv2::sim {

// The service manager's registry of a simulated machine and the driver hosts
// it runs. Starting a service runs a SimDriverHost when the registered image
// is the program's own (the bytes of resource 108, a file of the caller's in a
// private folder); other files do not start. The device "\\.\NAME" exists
// while service NAME's host runs.
//
// Tests register services beforehand (as another run would leave them), make
// each service call fail, kill the host, swap the hardware the next host
// runs on, and read back the calls made ("create NAME", "start NAME",
// "control NAME N", "delete NAME").
//
// Threads: any; m_mutex guards every member below it. Lock order: this
// object, then a host, then the hardware.
class SimServiceControl {
 public:
  SimServiceControl(SimFileSystem& files, SimResourceService& resources, HardwareBackend& hardware);

  // Faults: the next calls of that kind fail with the code (0: succeed).
  void setOpenError(uint32_t error);
  void setCreateError(uint32_t error);
  void setStartError(uint32_t error);
  void setDeleteError(uint32_t error);
  // Hosts started from now on run on this hardware (not owned) and answer
  // the version request with this version (another build of the host).
  void setHardware(HardwareBackend& hardware);
  void setHostVersion(uint32_t version);
  // A service as another run left it; running starts a host at once.
  void registerService(const std::string& name, const std::string& imagePath, bool running);
  // The host of that service dies: open devices fail, the device is gone,
  // the registration stays.
  void killHost(const std::string& name);

  bool serviceExists(const std::string& name) const;
  // kServiceStopped also for a service that is not registered.
  uint32_t serviceState(const std::string& name) const;
  std::string imagePath(const std::string& name) const;
  std::vector<std::string> calls() const;
  int hostsStarted() const;

  // The service manager's operations (SimServiceManager).
  uint32_t open();
  uint32_t create(const std::string& name, const std::string& displayName, const std::string& imagePath);
  uint32_t start(const std::string& name);
  uint32_t control(const std::string& name, uint32_t control, ServiceStatus* status);
  uint32_t remove(const std::string& name);

  // The running host behind a device name; null with kErrorFileNotFound.
  std::shared_ptr<SimDriverHost> hostForDevice(const std::string& deviceName, uint32_t* error) const;

 private:
  struct Service {
    std::string displayName;
    std::string imagePath;
    std::shared_ptr<SimDriverHost> host;  // null while stopped
  };

  uint32_t startLocked(Service& service);
  static uint32_t stateOf(const Service& service);

  SimFileSystem& m_files;              // thread-safe on its own
  SimResourceService& m_resources;     // thread-safe on its own
  mutable std::mutex m_mutex;
  HardwareBackend* m_hardware;
  uint32_t m_hostVersion;
  std::map<std::string, Service> m_services;
  std::vector<std::string> m_calls;
  uint32_t m_openError = 0;
  uint32_t m_createError = 0;
  uint32_t m_startError = 0;
  uint32_t m_deleteError = 0;
  int m_hostsStarted = 0;
};

}  // namespace tv2::sim

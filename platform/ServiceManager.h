#pragma once

#include <cstdint>
#include <string>

namespace tv2 {

// Service states, numbered as the program compares them. A kernel driver
// that is told to stop while a device handle is open stays in
// kServiceStopPending until the handle goes.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;

// Controls.
inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlInterrogate = 4;

// Failures of the service manager besides the common ones (2, 5, 1056, 1073).
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorServiceSpecificError = 1066;

struct ServiceStatus {
  uint32_t state = 0;
};

// An open connection to the service manager, which registers the driver
// host as a demand-start kernel-driver service, starts it, stops it and
// removes it. Services are named by their service name. The connection is
// used by one thread at a time (the driver client holds its lock).
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // kErrorServiceExists when a service of that name is registered.
  virtual uint32_t createService(const std::string& name, const std::string& displayName,
                                 const std::string& imagePath) = 0;
  // kErrorServiceAlreadyRunning when it runs.
  virtual uint32_t startService(const std::string& name) = 0;
  // kServiceControlInterrogate or kServiceControlStop; *status receives the
  // state after the control, also when the result is kErrorServiceNotActive
  // (the service was not running).
  virtual uint32_t controlService(const std::string& name, uint32_t control, ServiceStatus* status) = 0;
  virtual uint32_t deleteService(const std::string& name) = 0;
};

}  // namespace tv2

#pragma once

#include <cstdint>
#include <string>

#include "platform/ServiceManager.h"
#include "platform/linux/LinuxSystemHost.h"

namespace tv2 {

// The service manager as a non-root copy sees it: every service name is the
// installed system host. It exists (creating it answers
// kErrorServiceExists) when its unit or socket is installed, and runs
// (starting answers kErrorServiceAlreadyRunning) while its socket is there;
// stopping and deleting are refused, so such a copy never ends or removes a
// host it did not start. Used by one thread at a time.
class LinuxSystemServiceManager : public ServiceManager {
 public:
  explicit LinuxSystemServiceManager(const LinuxSystemHost& host) : m_host(host) {}

  uint32_t createService(const std::string& name, const std::string& displayName,
                         const std::string& imagePath) override;
  uint32_t startService(const std::string& name) override;
  uint32_t controlService(const std::string& name, uint32_t control, ServiceStatus* status) override;
  uint32_t deleteService(const std::string& name) override;

 private:
  const LinuxSystemHost& m_host;
};

}  // namespace tv2

#include "platform/linux/LinuxSystemServiceManager.h"

#include "platform/ErrorCodes.h"

namespace tv2 {

uint32_t LinuxSystemServiceManager::createService(const std::string&, const std::string&, const std::string&) {
  return m_host.installed() ? kErrorServiceExists : kErrorAccessDenied;
}

uint32_t LinuxSystemServiceManager::startService(const std::string&) {
  if (!m_host.installed()) return kErrorServiceDoesNotExist;
  // The socket unit starts the host on the first connection; without the
  // socket only the administrator can start it.
  return m_host.socketPresent() ? kErrorServiceAlreadyRunning : kErrorAccessDenied;
}

uint32_t LinuxSystemServiceManager::controlService(const std::string&, uint32_t control, ServiceStatus* status) {
  ServiceStatus spare;
  ServiceStatus& result = status != nullptr ? *status : spare;
  if (!m_host.installed()) return kErrorServiceDoesNotExist;
  bool running = m_host.socketPresent();
  result.state = running ? kServiceRunning : kServiceStopped;
  if (control == kServiceControlInterrogate) return running ? kOk : kErrorServiceNotActive;
  if (control == kServiceControlStop) return running ? kErrorAccessDenied : kErrorServiceNotActive;
  return kErrorInvalidServiceControl;
}

uint32_t LinuxSystemServiceManager::deleteService(const std::string&) {
  return m_host.installed() ? kErrorAccessDenied : kErrorServiceDoesNotExist;
}

}  // namespace tv2

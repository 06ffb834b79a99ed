#include "platform/sim/SimServiceControl.h"

#include <algorithm>
#include <span>

#include "driver/protocol/DeviceRequests.h"
#include "platform/ErrorCodes.h"

namespace tv2::sim {

SimServiceControl::SimServiceControl(SimFileSystem& files, SimResourceService& resources,
                                     HardwareBackend& hardware)
    : m_files(files), m_resources(resources), m_hardware(&hardware), m_hostVersion(kDriverVersion) {}

void SimServiceControl::setOpenError(uint32_t error) {
  std::lock_guard lock(m_mutex);
  m_openError = error;
}

void SimServiceControl::setCreateError(uint32_t error) {
  std::lock_guard lock(m_mutex);
  m_createError = error;
}

void SimServiceControl::setStartError(uint32_t error) {
  std::lock_guard lock(m_mutex);
  m_startError = error;
}

void SimServiceControl::setDeleteError(uint32_t error) {
  std::lock_guard lock(m_mutex);
  m_deleteError = error;
}

void SimServiceControl::setHardware(HardwareBackend& hardware) {
  std::lock_guard lock(m_mutex);
  m_hardware = &hardware;
}

void SimServiceControl::setHostVersion(uint32_t version) {
  std::lock_guard lock(m_mutex);
  m_hostVersion = version;
}

void SimServiceControl::registerService(const std::string& name, const std::string& imagePath, bool running) {
  std::lock_guard lock(m_mutex);
  Service& service = m_services[name];
  service.displayName = name;
  service.imagePath = imagePath;
  service.host = running ? std::make_shared<SimDriverHost>(*m_hardware, m_hostVersion) : nullptr;
  if (running) ++m_hostsStarted;
}

void SimServiceControl::killHost(const std::string& name) {
  std::lock_guard lock(m_mutex);
  auto found = m_services.find(name);
  if (found == m_services.end() || !found->second.host) return;
  found->second.host->kill();
  found->second.host.reset();
}

uint32_t SimServiceControl::stateOf(const Service& service) {
  return service.host ? service.host->state() : kServiceStopped;
}

bool SimServiceControl::serviceExists(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  return m_services.count(name) != 0;
}

uint32_t SimServiceControl::serviceState(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  auto found = m_services.find(name);
  return found == m_services.end() ? kServiceStopped : stateOf(found->second);
}

std::string SimServiceControl::imagePath(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  auto found = m_services.find(name);
  return found == m_services.end() ? std::string() : found->second.imagePath;
}

std::vector<std::string> SimServiceControl::calls() const {
  std::lock_guard lock(m_mutex);
  return m_calls;
}

int SimServiceControl::hostsStarted() const {
  std::lock_guard lock(m_mutex);
  return m_hostsStarted;
}

uint32_t SimServiceControl::open() {
  std::lock_guard lock(m_mutex);
  return m_openError;
}

uint32_t SimServiceControl::create(const std::string& name, const std::string& displayName,
                                   const std::string& imagePath) {
  std::lock_guard lock(m_mutex);
  m_calls.push_back("create " + name);
  if (m_createError != 0) return m_createError;
  if (name.empty() || imagePath.empty()) return kErrorInvalidName;
  if (m_services.count(name) != 0) return kErrorServiceExists;
  m_services[name] = Service{displayName, imagePath, nullptr};
  return kOk;
}

uint32_t SimServiceControl::startLocked(Service& service) {
  // Only the program's own image, where nobody else could have changed it,
  // runs with the host's privileges.
  std::span<const uint8_t> expected;
  if (m_resources.find(SimResourceService::kHostImageId, &expected) != kOk) return kErrorBadExeFormat;
  FileFacts facts = m_files.inspect(service.imagePath);
  if (!facts.exists) return kErrorFileNotFound;
  if (!facts.regularFile || !facts.ownedByCaller || !facts.privateFolder) return kErrorAccessDenied;
  std::vector<uint8_t> image;
  if (m_files.readFile(service.imagePath, expected.size(), &image) != kOk ||
      !std::equal(image.begin(), image.end(), expected.begin(), expected.end()))
    return kErrorBadExeFormat;
  service.host = std::make_shared<SimDriverHost>(*m_hardware, m_hostVersion);
  ++m_hostsStarted;
  return kOk;
}

uint32_t SimServiceControl::start(const std::string& name) {
  std::lock_guard lock(m_mutex);
  m_calls.push_back("start " + name);
  auto found = m_services.find(name);
  if (found == m_services.end()) return kErrorServiceDoesNotExist;
  uint32_t state = stateOf(found->second);
  if (state == kServiceRunning || state == kServiceStopPending) return kErrorServiceAlreadyRunning;
  if (m_startError != 0) return m_startError;
  return startLocked(found->second);
}

uint32_t SimServiceControl::control(const std::string& name, uint32_t code, ServiceStatus* status) {
  std::lock_guard lock(m_mutex);
  m_calls.push_back("control " + name + " " + std::to_string(code));
  ServiceStatus spare;
  ServiceStatus& result = status != nullptr ? *status : spare;
  auto found = m_services.find(name);
  if (found == m_services.end()) return kErrorServiceDoesNotExist;
  Service& service = found->second;
  uint32_t state = stateOf(service);
  if (code != kServiceControlInterrogate && code != kServiceControlStop) return kErrorInvalidServiceControl;
  if (state == kServiceStopped) {
    service.host.reset();
    result.state = kServiceStopped;
    return kErrorServiceNotActive;
  }
  if (code == kServiceControlStop) service.host->stop();
  result.state = stateOf(service);
  if (result.state == kServiceStopped) service.host.reset();
  return kOk;
}

uint32_t SimServiceControl::remove(const std::string& name) {
  std::lock_guard lock(m_mutex);
  m_calls.push_back("delete " + name);
  if (m_deleteError != 0) return m_deleteError;
  auto found = m_services.find(name);
  if (found == m_services.end()) return kErrorServiceDoesNotExist;
  // As on Linux, a host never outlives its registration.
  if (found->second.host) found->second.host->kill();
  m_services.erase(found);
  return kOk;
}

std::shared_ptr<SimDriverHost> SimServiceControl::hostForDevice(const std::string& deviceName,
                                                                uint32_t* error) const {
  static const std::string kPrefix = "\\\\.\\";
  std::lock_guard lock(m_mutex);
  if (deviceName.rfind(kPrefix, 0) == 0) {
    auto found = m_services.find(deviceName.substr(kPrefix.size()));
    if (found != m_services.end() && stateOf(found->second) == kServiceRunning) {
      if (error != nullptr) *error = kOk;
      return found->second.host;
    }
  }
  if (error != nullptr) *error = kErrorFileNotFound;
  return nullptr;
}

}  // namespace tv2::sim

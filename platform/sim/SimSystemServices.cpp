#include "platform/sim/SimSystemServices.h"

#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimDevice.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimServiceManager.h"

namespace tv2::sim {

namespace {

// RPC_S_SERVER_UNAVAILABLE: another computer's service manager.
constexpr uint32_t kErrorRemoteUnavailable = 1722;

}  // namespace

SimSystemServices::SimSystemServices(SimMachine& machine, ProcessorService& processors)
    : m_machine(machine), m_processors(processors), m_services(m_files, m_resources, machine.hardware()) {}

void SimSystemServices::setSystemVersion(const SystemVersion& version) {
  std::lock_guard lock(m_mutex);
  m_version = version;
}

void SimSystemServices::setSystemVersionReadable(bool readable) {
  std::lock_guard lock(m_mutex);
  m_versionReadable = readable;
}

void SimSystemServices::setComputerName(std::string name) {
  std::lock_guard lock(m_mutex);
  m_computerName = std::move(name);
}

void SimSystemServices::setDeviceOpenError(uint32_t error, int times) {
  std::lock_guard lock(m_mutex);
  m_deviceOpenError = error;
  m_deviceOpenFailures = error == 0 ? 0 : times;
}

bool SimSystemServices::systemVersion(SystemVersion* out) const {
  std::lock_guard lock(m_mutex);
  if (out == nullptr || !m_versionReadable) return false;
  *out = m_version;
  return true;
}

std::string SimSystemServices::computerName() const {
  std::lock_guard lock(m_mutex);
  return m_computerName;
}

std::unique_ptr<ServiceManager> SimSystemServices::openServiceManager(const std::string& computer,
                                                                      uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  if (!computer.empty() && computer != computerName()) {
    err = kErrorRemoteUnavailable;
    return nullptr;
  }
  err = m_services.open();
  if (err != kOk) return nullptr;
  return std::make_unique<SimServiceManager>(m_services);
}

std::unique_ptr<Device> SimSystemServices::openDevice(const std::string& name, uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  {
    std::lock_guard lock(m_mutex);
    if (m_deviceOpenFailures != 0) {
      if (m_deviceOpenFailures > 0) --m_deviceOpenFailures;
      err = m_deviceOpenError;
      return nullptr;
    }
  }
  std::shared_ptr<SimDriverHost> host = m_services.hostForDevice(name, &err);
  if (!host) return nullptr;
  if (!host->attachDevice()) {
    err = kErrorFileNotFound;
    return nullptr;
  }
  return std::make_unique<SimDevice>(std::move(host), [this] { return currentCpu(); });
}

int SimSystemServices::currentCpu() {
  int group = 0;
  int index = 0;
  if (!m_processors.currentProcessor(&group, &index)) return -1;
  return m_machine.cpuAt(group, index);
}

}  // namespace tv2::sim

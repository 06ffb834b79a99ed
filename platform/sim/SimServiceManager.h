#pragma once

#include <string>

#include "platform/ServiceManager.h"
#include "platform/sim/SimServiceControl.h"

namespace tv2::sim {

// An open connection to a simulated machine's service manager; every call
// goes to the machine's SimServiceControl.
class SimServiceManager : public ServiceManager {
 public:
  explicit SimServiceManager(SimServiceControl& control) : m_control(control) {}

  uint32_t createService(const std::string& name, const std::string& displayName,
                         const std::string& imagePath) override {
    return m_control.create(name, displayName, imagePath);
  }
  uint32_t startService(const std::string& name) override { return m_control.start(name); }
  uint32_t controlService(const std::string& name, uint32_t control, ServiceStatus* status) override {
    return m_control.control(name, control, status);
  }
  uint32_t deleteService(const std::string& name) override { return m_control.remove(name); }

 private:
  SimServiceControl& m_control;  // outlives every connection; thread-safe on its own
};

}  // namespace tv2::sim

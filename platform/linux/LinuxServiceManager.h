#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ServiceManager.h"
#include "platform/linux/LinuxServiceFolder.h"

namespace tv2 {

// The service manager on Linux: a registry of root-only files in the
// service folder, and the driver host's process. Creating writes the
// registration (image path and display name); starting runs the registered
// image as a daemon serving the service's device socket; stopping sends it
// SIGTERM; deleting stops it and removes the registration. Only root opens
// it (LinuxPlatform::openServiceManager checks), and it runs only an image
// that root owns and nobody else may change, started from the descriptor it
// checked. Used by one thread at a time.
class LinuxServiceManager : public ServiceManager {
 public:
  static constexpr uint32_t kStartTimeoutMs = 10000;
  static constexpr uint32_t kStopGraceMs = 3000;

  // extraArguments go to every host started (tests give it a tree of plain
  // files instead of the kernel's).
  LinuxServiceManager(LinuxServiceFolder folder, std::vector<std::string> extraArguments);

  uint32_t createService(const std::string& name, const std::string& displayName,
                         const std::string& imagePath) override;
  uint32_t startService(const std::string& name) override;
  uint32_t controlService(const std::string& name, uint32_t control, ServiceStatus* status) override;
  uint32_t deleteService(const std::string& name) override;

 private:
  // The registered image path; kErrorServiceDoesNotExist when not registered.
  uint32_t readRegistration(const std::string& name, std::string* imagePath) const;
  // Opens the image for starting when it may be run as root: a regular file
  // of root's that nobody else may write, in a folder of root's nobody else
  // may write to, reached through folders only root may change, no link
  // followed. *fd is the descriptor checked (O_CLOEXEC).
  static uint32_t openImage(const std::string& imagePath, int* fd);
  // Stops the host; the state it is left in.
  uint32_t stopHost(const std::string& name);

  const LinuxServiceFolder m_folder;
  const std::vector<std::string> m_extraArguments;
};

}  // namespace tv2

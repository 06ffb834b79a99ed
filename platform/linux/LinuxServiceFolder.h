#pragma once

#include <cstdint>
#include <string>

namespace tv2 {

// Where the service manager keeps its services: <run root>/tarvelle2, a
// folder only root may enter. For a service NAME it holds the registration
// NAME.service (written by the service manager), and the device socket
// NAME.sock and pid file NAME.pid (written by the running driver host).
// Holds only its paths.
class LinuxServiceFolder {
 public:
  explicit LinuxServiceFolder(const std::string& runRoot);

  const std::string& path() const { return m_path; }
  std::string registration(const std::string& name) const { return m_path + "/" + name + ".service"; }
  std::string socket(const std::string& name) const { return m_path + "/" + name + ".sock"; }
  std::string pidFile(const std::string& name) const { return m_path + "/" + name + ".pid"; }

  // Service names: 1 to 64 letters, digits, '_', '-' or '.', not starting
  // with '.', so that a name never leaves the folder.
  static bool validName(const std::string& name);

  // Creates the folder (mode 0700) or checks the one that is there: it must
  // be a folder of root's that nobody else may write to, else
  // kErrorAccessDenied.
  uint32_t prepare() const;

 private:
  std::string m_path;
};

}  // namespace tv2

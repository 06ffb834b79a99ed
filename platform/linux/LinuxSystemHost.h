#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tv2 {

// The driver host installed as a system service (the package's socket
// unit): its socket, whether it is installed, and, for a copy that cannot
// use it, the one-line reason and what to do. Non-root copies use only this
// host; they never start or stop one.
//
// Threads: any; the object holds only constants.
class LinuxSystemHost {
 public:
  static constexpr const char* kGroupName = "tarvelle2";
  static constexpr const char* kSocketUnit = "tarvelle2-host.socket";

  // What decides whether this process can use the host.
  struct Facts {
    bool unitInstalled = false;    // a unit file of the socket exists
    bool socketPresent = false;    // a socket file of root's is at the path
    std::string groupName;         // the socket file's group
    bool processInGroup = false;   // the group is among this process's groups
    bool userListedInGroup = false;  // the user database lists the user in it
    bool answers = false;          // a connection succeeds
    std::string userName;
  };

  LinuxSystemHost(std::string socketPath, std::vector<std::string> unitFiles);

  const std::string& socketPath() const { return m_socketPath; }
  // A unit file or the socket is there.
  bool installed() const;
  // A socket file of root's is at the path.
  bool socketPresent() const;
  // The facts for the calling process.
  Facts gather() const;
  // Why the host cannot be used and what to do, one line; empty when nothing
  // stands in the way.
  static std::string explain(const Facts& facts);

 private:
  std::string m_socketPath;
  std::vector<std::string> m_unitFiles;
};

}  // namespace tv2

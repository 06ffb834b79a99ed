#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/InstanceLock.h"

namespace tv2 {

// A Unix socket bound to the abstract address "\0" + prefix + name. Only one
// socket of the system (of its network namespace, whatever the user) can hold
// an address, and the kernel drops it when the process ends however it ends.
// The socket is close-on-exec, so programs we start do not inherit the lock.
class LinuxInstanceLock : public InstanceLock {
 public:
  // Null when the lock cannot be taken: *error is kErrorAlreadyExists when
  // another socket holds the address, kErrorInvalidParameter for an empty or
  // too long name, or the code of the failing system call.
  static std::unique_ptr<LinuxInstanceLock> acquire(std::string_view prefix,
                                                    std::string_view name, uint32_t* error);

  ~LinuxInstanceLock() override;
  LinuxInstanceLock(const LinuxInstanceLock&) = delete;
  LinuxInstanceLock& operator=(const LinuxInstanceLock&) = delete;

 private:
  explicit LinuxInstanceLock(int socket);

  const int m_socket;
};

}  // namespace tv2

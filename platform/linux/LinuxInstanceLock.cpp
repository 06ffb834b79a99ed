#include "platform/linux/LinuxInstanceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

LinuxInstanceLock::LinuxInstanceLock(int socket) : m_socket(socket) {}

LinuxInstanceLock::~LinuxInstanceLock() { ::close(m_socket); }

std::unique_ptr<LinuxInstanceLock> LinuxInstanceLock::acquire(std::string_view prefix,
                                                              std::string_view name,
                                                              uint32_t* error) {
  uint32_t ignoredError = kOk;
  if (error == nullptr) error = &ignoredError;

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // An abstract address starts with a NUL byte and is as long as the length
  // passed to bind says; it needs no file and no cleanup.
  const size_t length = 1 + prefix.size() + name.size();
  if (name.empty() || length > sizeof(address.sun_path) ||
      name.find('\0') != std::string_view::npos || prefix.find('\0') != std::string_view::npos) {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  std::memcpy(address.sun_path + 1, prefix.data(), prefix.size());
  std::memcpy(address.sun_path + 1 + prefix.size(), name.data(), name.size());

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = LinuxErrors::fromErrno(errno);
    return nullptr;
  }
  auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0) {
    int bindError = errno;
    ::close(fd);
    *error = bindError == EADDRINUSE ? kErrorAlreadyExists : LinuxErrors::fromErrno(bindError);
    return nullptr;
  }
  *error = kOk;
  return std::unique_ptr<LinuxInstanceLock>(new LinuxInstanceLock(fd));
}

}  // namespace tv2

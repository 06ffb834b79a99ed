#include "driver/host/HostServer.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/KernelEventCodec.h"

namespace tv2 {

namespace {

constexpr size_t kReadChunk = 4096;

int64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool fillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size());
  return true;
}

// True when a server answers at path.
bool someoneListens(const sockaddr_un& address) {
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return live;
}

}  // namespace

HostServer::HostServer(DeviceRequestHandler& handler, HostServerOptions options)
    : m_handler(handler), m_options(std::move(options)) {}

HostServer::~HostServer() {
  for (Connection& connection : m_connections) ::close(connection.fd);
  if (m_listenFd >= 0) ::close(m_listenFd);
  if (m_ownerFd >= 0) ::close(m_ownerFd);
}

void HostServer::watchOwner(int pidfd) {
  if (m_ownerFd >= 0) ::close(m_ownerFd);
  m_ownerFd = pidfd;
  m_ownerGone = false;
}

int HostServer::listen() {
  sockaddr_un address;
  if (!fillAddress(m_options.socketPath, &address)) return ENAMETOOLONG;
  struct stat existing;
  if (::lstat(m_options.socketPath.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) return EEXIST;
    if (someoneListens(address)) return EADDRINUSE;
    ::unlink(m_options.socketPath.c_str());
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return errno;
  // The socket file is born 0600: no moment in which others could connect.
  mode_t oldMask = ::umask(077);
  int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int bindError = errno;
  ::umask(oldMask);
  if (bound != 0) {
    ::close(fd);
    return bindError;
  }
  struct stat made;
  if (::chmod(m_options.socketPath.c_str(), 0600) != 0 || ::lstat(m_options.socketPath.c_str(), &made) != 0 ||
      ::listen(fd, 16) != 0) {
    int error = errno;
    ::close(fd);
    ::unlink(m_options.socketPath.c_str());
    return error;
  }
  m_socketDevice = made.st_dev;
  m_socketInode = made.st_ino;
  m_listenFd = fd;
  return 0;
}

int HostServer::adopt(int fd, gid_t allowedGroup) {
  if (fd < 0 || m_listenFd >= 0) return EBADF;
  m_listenFd = fd;
  m_access = PeerAccess(allowedGroup);
  // The socket file is the service manager's: removeSocket leaves it.
  m_socketDevice = 0;
  m_socketInode = 0;
  return 0;
}

void HostServer::removeSocket() {
  if (m_listenFd < 0) return;
  struct stat current;
  if (m_socketInode != 0 && ::lstat(m_options.socketPath.c_str(), &current) == 0 &&
      current.st_dev == m_socketDevice &&
      current.st_ino == m_socketInode)
    ::unlink(m_options.socketPath.c_str());
}

int HostServer::pollTimeout(int64_t nowMs) const {
  int64_t earliest = -1;
  for (const Connection& connection : m_connections) {
    if (connection.frameStartMs < 0) continue;
    int64_t deadline = connection.frameStartMs + m_options.frameTimeoutMs;
    if (earliest < 0 || deadline < earliest) earliest = deadline;
  }
  if (earliest < 0) return -1;
  return static_cast<int>(std::max<int64_t>(0, earliest - nowMs));
}

HostServer::End HostServer::run(int stopFd, int* error) {
  if (m_listenFd < 0) {
    if (error != nullptr) *error = EBADF;
    return End::kFailed;
  }
  std::vector<pollfd> fds;
  constexpr size_t kFirstConnection = 3;
  for (;;) {
    if (m_ownerGone && m_connections.empty()) {
      // A client already waiting in the backlog still gets served.
      acceptClients();
      if (m_connections.empty()) return End::kOrphaned;
    }
    fds.clear();
    fds.push_back(pollfd{stopFd, POLLIN, 0});
    fds.push_back(pollfd{m_listenFd, POLLIN, 0});
    // A negative descriptor is skipped by poll: the owner once seen gone.
    fds.push_back(pollfd{m_ownerFd, POLLIN, 0});
    for (const Connection& connection : m_connections) {
      short events = 0;
      if (!connection.closing && pending(connection) < kMaxPendingOutput) events |= POLLIN;
      if (connection.sent < connection.output.size()) events |= POLLOUT;
      fds.push_back(pollfd{connection.fd, events, 0});
    }
    int ready = ::poll(fds.data(), fds.size(), pollTimeout(monotonicMs()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      if (error != nullptr) *error = errno;
      return End::kFailed;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return End::kStopped;
    if (m_ownerFd >= 0 && fds[2].revents != 0) {
      // A pidfd becomes readable when its process ends.
      ::close(m_ownerFd);
      m_ownerFd = -1;
      m_ownerGone = true;
    }
    int64_t nowMs = monotonicMs();
    // Connections first: accepting appends to the list the pollfds mirror.
    for (size_t i = 0; i < m_connections.size(); ++i) {
      Connection& connection = m_connections[i];
      short revents = fds[i + kFirstConnection].revents;
      if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !connection.closing &&
          pending(connection) < kMaxPendingOutput)
        readFrom(connection, nowMs);
      if (!connection.dead && connection.sent < connection.output.size()) writeTo(connection);
      if (!connection.dead) serveHeld(connection, nowMs);
      if (!connection.dead && connection.frameStartMs >= 0 &&
          nowMs - connection.frameStartMs >= m_options.frameTimeoutMs)
        failAndClose(connection);
      if (connection.closing && connection.sent >= connection.output.size()) connection.dead = true;
    }
    auto gone = std::remove_if(m_connections.begin(), m_connections.end(), [](const Connection& c) {
      if (c.dead) ::close(c.fd);
      return c.dead;
    });
    m_connections.erase(gone, m_connections.end());
    if ((fds[1].revents & POLLIN) != 0) acceptClients();
  }
}

void HostServer::serveHeld(Connection& connection, int64_t nowMs) {
  if (connection.closing || connection.input.empty() || pending(connection) >= kMaxPendingOutput) return;
  serveFrames(connection, nowMs);
}

void HostServer::acceptClients() {
  for (;;) {
    int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // EAGAIN: all taken; other errors: try at the next wake-up
    if (!m_access.allows(fd) || m_connections.size() >= m_options.maxClients) {
      ::close(fd);
      continue;
    }
    Connection connection;
    connection.fd = fd;
    m_connections.push_back(std::move(connection));
  }
}

void HostServer::readFrom(Connection& connection, int64_t nowMs) {
  uint8_t chunk[kReadChunk];
  for (;;) {
    ssize_t n = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      if (connection.input.empty()) connection.frameStartMs = nowMs;
      connection.input.insert(connection.input.end(), chunk, chunk + n);
      serveFrames(connection, nowMs);
      if (connection.closing || pending(connection) >= kMaxPendingOutput) return;
      // A short read took all there was: back to poll without a receive
      // that would only say so.
      if (static_cast<size_t>(n) < sizeof chunk) return;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of stream (or a broken one): a frame begun is cut short.
    if (!connection.input.empty()) {
      failAndClose(connection);
    } else {
      connection.closing = true;
    }
    return;
  }
}

void HostServer::serveFrames(Connection& connection, int64_t nowMs) {
  size_t offset = 0;
  bool held = false;
  while (!connection.closing) {
    // Answers the client has not taken yet: the rest waits until it reads.
    if (pending(connection) >= kMaxPendingOutput) {
      held = true;
      break;
    }
    RequestFrame request;
    size_t used = 0;
    FrameCodec::Parse parse = FrameCodec::decodeRequest(connection.input.data() + offset,
                                                        connection.input.size() - offset, &request, &used);
    if (parse == FrameCodec::Parse::kIncomplete) break;
    if (parse == FrameCodec::Parse::kMalformed) {
      failAndClose(connection);
      return;
    }
    offset += used;
    // The CPU an open request names is where the events count, not where
    // the host needs to run.
    if (request.code == IOCTL_OPEN_KERNEL_EVENTS && m_kernelEvents != nullptr) {
      serveKernelEvents(connection, request);
      continue;
    }
    if (m_options.followCaller) m_affinity.follow(request.processor);
    uint32_t status = m_handler.handle(request, &m_scratch);
    answer(connection, status, m_scratch);
  }
  connection.input.erase(connection.input.begin(), connection.input.begin() + static_cast<ptrdiff_t>(offset));
  // The timeout runs from the first byte of the frame still pending; while
  // the host holds requests back it is the host that waits, not the client.
  if (connection.input.empty() || held)
    connection.frameStartMs = -1;
  else if (offset > 0 || connection.frameStartMs < 0)
    connection.frameStartMs = nowMs;
}

void HostServer::answer(Connection& connection, uint32_t status, const std::vector<uint8_t>& output) {
  if (connection.sent > 0 && connection.sent == connection.output.size()) {
    connection.output.clear();
    connection.sent = 0;
  }
  FrameCodec::encodeAnswer(status, output.data(), static_cast<uint32_t>(output.size()), &connection.output);
  writeTo(connection);
}

void HostServer::serveKernelEvents(Connection& connection, const RequestFrame& request) {
  KernelEventsAnswer result;
  std::vector<OwnedFd> fds;
  uint32_t status = kStatusOk;
  // Bytes of this connection the client has not read yet, in the host or in
  // the socket: while there are any, no descriptors are handed out.
  int unread = 0;
  if (pending(connection) > 0 || ::ioctl(connection.fd, SIOCOUTQ, &unread) != 0 || unread > 0) {
    status = kStatusAccessDenied;
    result.systemError = EBUSY;
  } else {
    status = m_kernelEvents->open(request, &fds, &result.systemError);
  }
  result.descriptors = static_cast<uint32_t>(fds.size());
  KernelEventCodec::encodeAnswer(result, &m_scratch);
  if (fds.empty()) {
    answer(connection, status, m_scratch);
    return;
  }
  // The host's copies close when fds goes, whatever happened to the answer.
  if (sendWithDescriptors(connection, status, m_scratch, fds)) return;
  result = KernelEventsAnswer{0, static_cast<uint32_t>(errno)};
  KernelEventCodec::encodeAnswer(result, &m_scratch);
  answer(connection, kStatusHardwareFailed, m_scratch);
}

bool HostServer::sendWithDescriptors(Connection& connection, uint32_t status, const std::vector<uint8_t>& output,
                                     const std::vector<OwnedFd>& fds) {
  if (fds.size() > kMaxKernelGroupEvents) {
    errno = EINVAL;
    return false;
  }
  std::vector<uint8_t> bytes;
  FrameCodec::encodeAnswer(status, output.data(), static_cast<uint32_t>(output.size()), &bytes);
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxKernelGroupEvents)] = {};
  iovec part{bytes.data(), bytes.size()};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
  for (size_t i = 0; i < fds.size(); ++i) {
    int fd = fds[i].get();
    std::memcpy(CMSG_DATA(header) + i * sizeof(int), &fd, sizeof fd);
  }
  ssize_t n = -1;
  do {
    n = ::sendmsg(connection.fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  // The descriptors went with the first byte; whatever the socket did not
  // take follows as ordinary output (nothing else was pending).
  connection.output.clear();
  connection.sent = 0;
  if (static_cast<size_t>(n) < bytes.size()) {
    connection.output.assign(bytes.begin() + n, bytes.end());
    writeTo(connection);
  }
  return true;
}

void HostServer::failAndClose(Connection& connection) {
  answer(connection, kStatusInvalidData, {});
  connection.input.clear();
  connection.frameStartMs = -1;
  connection.closing = true;
}

void HostServer::writeTo(Connection& connection) {
  while (connection.sent < connection.output.size()) {
    ssize_t n = ::send(connection.fd, connection.output.data() + connection.sent,
                       connection.output.size() - connection.sent, MSG_NOSIGNAL);
    if (n > 0) {
      connection.sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    connection.dead = true;  // the peer is gone
    return;
  }
  connection.output.clear();
  connection.sent = 0;
}

}  // namespace tv2

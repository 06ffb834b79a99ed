#include "platform/linux/LinuxHostEventBroker.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/KernelEventCodec.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/perf/PerfEventTable.h"
#include "platform/linux/perf/PerfOpenError.h"

namespace tv2 {

namespace {

constexpr size_t kAnswerSize = FrameCodec::kAnswerHeaderSize + kKernelEventsOutput;

bool fail(KernelOpenError* error, uint32_t code, int systemError, std::string reason) {
  if (error != nullptr) {
    error->code = code;
    error->systemError = systemError;
    error->reason = std::move(reason);
  }
  return false;
}

std::string systemText(int error) { return PerfOpenError::systemText(error); }

std::string refusalText(uint32_t status) {
  switch (status) {
    case kStatusAccessDenied:
      return "refused";
    case kStatusInvalidParameter:
      return "refused the request (an event outside the list, a processor not online, or a mixed group)";
    case kStatusNotSupported:
      return "says the kernel does not offer the event there";
    case kStatusInvalidFunction:
      return "does not open kernel events (an older host)";
    default:
      return "failed (status " + std::to_string(status) + ")";
  }
}

// Takes every SCM_RIGHTS descriptor of a received message into *received.
void collect(msghdr* message, std::vector<OwnedFd>* received) {
  for (cmsghdr* header = CMSG_FIRSTHDR(message); header != nullptr; header = CMSG_NXTHDR(message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
      received->emplace_back(fd);
    }
  }
}

}  // namespace

LinuxHostEventBroker::LinuxHostEventBroker(LinuxSystemHost host, uint32_t timeoutMs)
    : m_host(std::move(host)), m_timeoutMs(timeoutMs) {}

LinuxHostEventBroker::~LinuxHostEventBroker() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string LinuxHostEventBroker::unavailableReason() { return LinuxSystemHost::explain(m_host.gather()); }

bool LinuxHostEventBroker::isPerfEvent(int fd) {
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  char target[64] = {};
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 && std::strcmp(target, "anon_inode:[perf_event]") == 0;
}

void LinuxHostEventBroker::dropLocked() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool LinuxHostEventBroker::connectLocked(KernelOpenError* error) {
  if (m_fd >= 0) return true;
  const std::string& path = m_host.socketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path)
    return fail(error, kErrorFileNotFound, 0, "the system driver host's socket path is too long");
  std::memcpy(address.sun_path, path.c_str(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(error, kErrorAccessDenied, errno, "cannot make a socket: " + systemText(errno));
  int connected = -1;
  do {
    connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (connected != 0 && errno == EINTR);
  if (connected != 0) {
    int cause = errno;
    ::close(fd);
    std::string reason = m_host.installed() ? unavailableReason() : std::string();
    if (reason.empty()) reason = "cannot reach the system driver host: " + systemText(cause);
    return fail(error, cause == EACCES ? kErrorAccessDenied : kErrorFileNotFound, cause, reason);
  }
  // Descriptors are taken only from root's host: whoever else listens there
  // is not asked.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer || peer.uid != 0) {
    ::close(fd);
    return fail(error, kErrorAccessDenied, 0, "the process at " + path + " is not root's driver host");
  }
  timeval timeout{static_cast<time_t>(m_timeoutMs / 1000), static_cast<suseconds_t>((m_timeoutMs % 1000) * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  m_fd = fd;
  return true;
}

bool LinuxHostEventBroker::exchangeLocked(const std::vector<uint8_t>& request, uint8_t* answer, size_t answerSize,
                                          std::vector<OwnedFd>* received, bool* truncated, KernelOpenError* error) {
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(m_fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int cause = n < 0 ? errno : EPIPE;
      dropLocked();
      return fail(error, kErrorAccessDenied, cause, "the system driver host took no request: " + systemText(cause));
    }
    sent += static_cast<size_t>(n);
  }
  size_t got = 0;
  while (got < answerSize) {
    // Room for one more descriptor than a group can have: a host that sends
    // more is caught by the count, not only by a cut-short message.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * (kMaxKernelGroupEvents + 1))];
    iovec part{answer + got, answerSize - got};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(m_fd, &message, MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      collect(&message, received);
      if ((message.msg_flags & MSG_CTRUNC) != 0) *truncated = true;
      got += static_cast<size_t>(n);
      continue;
    }
    int cause = n < 0 ? errno : ECONNRESET;
    dropLocked();
    received->clear();
    if (cause == EAGAIN || cause == EWOULDBLOCK)
      return fail(error, kErrorAccessDenied, ETIMEDOUT, "the system driver host did not answer in time");
    return fail(error, kErrorAccessDenied, cause,
                n == 0 ? unavailableReason().empty() ? "the system driver host closed the connection"
                                                      : unavailableReason()
                       : "the system driver host's answer did not arrive: " + systemText(cause));
  }
  return true;
}

bool LinuxHostEventBroker::openGroup(int cpu, std::span<const KernelEvent> events, std::vector<OwnedFd>* fds,
                                     KernelOpenError* error) {
  fds->clear();
  const std::string what = std::string(events.empty() ? "no event" : PerfEventTable::name(events.front())) +
                           (events.size() > 1 ? " and " + std::to_string(events.size() - 1) + " more" : "") +
                           " on CPU " + std::to_string(cpu);
  uint8_t numbers[kMaxKernelGroupEvents];
  if (events.empty() || events.size() > kMaxKernelGroupEvents || cpu < 0)
    return fail(error, kErrorInvalidParameter, 0, "cannot ask the system driver host for " + what);
  for (size_t i = 0; i < events.size(); ++i) numbers[i] = static_cast<uint8_t>(events[i]);
  RequestFrame frame;
  std::vector<uint8_t> request;
  if (!KernelEventCodec::encodeRequest(cpu, std::span<const uint8_t>(numbers, events.size()), &frame) ||
      !FrameCodec::encodeRequest(frame, &request))
    return fail(error, kErrorInvalidParameter, 0, "cannot ask the system driver host for " + what);

  std::lock_guard<std::mutex> lock(m_mutex);
  if (!connectLocked(error)) return false;
  uint8_t answer[kAnswerSize];
  std::vector<OwnedFd> received;
  bool truncated = false;
  if (!exchangeLocked(request, answer, sizeof answer, &received, &truncated, error)) return false;

  AnswerHeader header;
  KernelEventsAnswer result;
  if (FrameCodec::decodeAnswerHeader(answer, sizeof answer, kKernelEventsOutput, &header) !=
          FrameCodec::Parse::kComplete ||
      !KernelEventCodec::decodeAnswer(answer + FrameCodec::kAnswerHeaderSize, header.outputLength, &result)) {
    // The stream's frames can no longer be trusted.
    dropLocked();
    return fail(error, kErrorAccessDenied, 0, "the system driver host's answer is malformed");
  }
  if (header.status != kStatusOk) {
    int systemError = static_cast<int>(result.systemError);
    // The kernel refused the host's open: its errno says what and why.
    if (header.status == kStatusHardwareFailed && systemError != 0) {
      if (error != nullptr) *error = PerfOpenError::fromErrno(systemError, what + " through the system driver host");
      return false;
    }
    std::string reason = "the system driver host " + refusalText(header.status) + " for " + what;
    if (systemError != 0) reason += ": " + systemText(systemError);
    return fail(error, header.status, systemError, reason);
  }
  if (truncated || result.descriptors != events.size() || received.size() != events.size())
    return fail(error, kErrorAccessDenied, 0,
                "the system driver host passed " + std::to_string(received.size()) + " descriptors for " +
                    std::to_string(events.size()) + " events (" + what + ")");
  for (const OwnedFd& fd : received)
    if (!isPerfEvent(fd.get()))
      return fail(error, kErrorAccessDenied, 0, "the system driver host passed a descriptor that is not a perf event");
  *fds = std::move(received);
  return true;
}

}  // namespace tv2

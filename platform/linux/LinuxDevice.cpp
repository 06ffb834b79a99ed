#include "platform/linux/LinuxDevice.h"

#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/protocol/FrameCodec.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystemService.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

std::unique_ptr<LinuxDevice> LinuxDevice::connect(const std::string& socketPath, uint32_t timeoutMs,
                                                  uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
    err = kErrorFilenameTooLong;
    return nullptr;
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    err = LinuxErrors::fromErrno(errno);
    return nullptr;
  }
  int connected = -1;
  do {
    connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (connected != 0 && errno == EINTR);
  if (connected != 0) {
    int cause = errno;
    ::close(fd);
    // A socket nobody listens on is a device that is gone, like a missing one.
    err = cause == ECONNREFUSED ? kErrorFileNotFound : LinuxErrors::fromErrno(cause);
    return nullptr;
  }
  timeval timeout{static_cast<time_t>(timeoutMs / 1000), static_cast<suseconds_t>((timeoutMs % 1000) * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  err = kOk;
  return std::unique_ptr<LinuxDevice>(new LinuxDevice(fd));
}

LinuxDevice::~LinuxDevice() { ::close(m_fd); }

uint32_t LinuxDevice::sendAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_broken = true;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? kErrorTimeout : kErrorDeviceNotConnected;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return kOk;
}

uint32_t LinuxDevice::receiveAll(uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::recv(m_fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_broken = true;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? kErrorTimeout : kErrorDeviceNotConnected;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return kOk;
}

uint32_t LinuxDevice::receiveAnswer(uint8_t* header, uint8_t* output, uint32_t capacity, size_t* got) {
  *got = 0;
  // At least the whole header; whatever of the output came with it.
  while (*got < FrameCodec::kAnswerHeaderSize) {
    iovec parts[2];
    parts[0].iov_base = header + *got;
    parts[0].iov_len = FrameCodec::kAnswerHeaderSize - *got;
    parts[1].iov_base = output;
    parts[1].iov_len = capacity;
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = capacity > 0 ? 2 : 1;
    ssize_t n = ::recvmsg(m_fd, &message, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_broken = true;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? kErrorTimeout : kErrorDeviceNotConnected;
    }
    // Bytes beyond the header's went to the output.
    *got += static_cast<size_t>(n);
  }
  return kOk;
}

uint32_t LinuxDevice::request(uint32_t code, const void* input, uint32_t inputSize, void* output,
                              uint32_t outputSize, uint32_t* returned) {
  uint32_t spare = 0;
  uint32_t& count = returned != nullptr ? *returned : spare;
  count = 0;
  if (m_broken) return kErrorDeviceNotConnected;
  if (inputSize > RequestFrame::kMaxInput || (inputSize > 0 && input == nullptr) ||
      (outputSize > 0 && output == nullptr))
    return kErrorInvalidParameter;

  RequestFrame frame;
  frame.code = code;
  frame.processor = ::sched_getcpu();
  frame.inputLength = inputSize;
  frame.outputCapacity = outputSize < FrameCodec::kMaxOutput ? outputSize : FrameCodec::kMaxOutput;
  if (inputSize > 0) std::memcpy(frame.input, input, inputSize);
  m_frame.clear();
  FrameCodec::encodeRequest(frame, &m_frame);
  uint32_t error = sendAll(m_frame.data(), m_frame.size());
  if (error != kOk) return error;

  // One receive usually takes the whole answer: the header into its buffer
  // and the output straight into the caller's. The host sends exactly one
  // answer per request, so reading up to the capacity never takes more.
  uint8_t header[FrameCodec::kAnswerHeaderSize];
  size_t got = 0;
  error = receiveAnswer(header, static_cast<uint8_t*>(output), frame.outputCapacity, &got);
  if (error != kOk) return error;
  AnswerHeader answer;
  if (FrameCodec::decodeAnswerHeader(header, sizeof header, frame.outputCapacity, &answer) !=
      FrameCodec::Parse::kComplete) {
    m_broken = true;
    return kErrorDeviceNotConnected;
  }
  size_t body = got - sizeof header;
  if (body > answer.outputLength) {
    m_broken = true;
    return kErrorDeviceNotConnected;
  }
  if (body < answer.outputLength) {
    error = receiveAll(static_cast<uint8_t*>(output) + body, answer.outputLength - body);
    if (error != kOk) return error;
  }
  if (answer.status != kOk) return answer.status;
  count = answer.outputLength;
  return kOk;
}

}  // namespace tv2

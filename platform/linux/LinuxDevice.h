#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Device.h"

namespace tv2 {

// A connection to the driver host's socket. Each request goes out as one
// frame carrying the processor the calling thread runs on (sched_getcpu), and
// the answer's output lands straight in the caller's buffer. A transport
// failure (the host went away, or did not answer within the timeout) leaves
// the stream without frame boundaries, so the connection is then broken for
// good and every later request fails at once.
//
// Threads: one at a time (the holder of the driver lock); the members are
// written only inside request().
class LinuxDevice : public Device {
 public:
  // kErrorFileNotFound when nothing listens at socketPath (no socket, or the
  // one a dead host left); kErrorAccessDenied for other users than root.
  static std::unique_ptr<LinuxDevice> connect(const std::string& socketPath, uint32_t timeoutMs,
                                              uint32_t* error);
  ~LinuxDevice() override;
  LinuxDevice(const LinuxDevice&) = delete;
  LinuxDevice& operator=(const LinuxDevice&) = delete;

  uint32_t request(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                   uint32_t* returned) override;

 private:
  explicit LinuxDevice(int fd) : m_fd(fd) {}
  // kOk, or the transport error (the connection is then broken).
  uint32_t sendAll(const uint8_t* data, size_t size);
  uint32_t receiveAll(uint8_t* data, size_t size);
  // Receives at least the answer's header into header, and whatever output
  // arrives with it into output; *got counts both.
  uint32_t receiveAnswer(uint8_t* header, uint8_t* output, uint32_t capacity, size_t* got);

  const int m_fd;
  bool m_broken = false;
  std::vector<uint8_t> m_frame;  // the request being sent, reused
};

}  // namespace tv2

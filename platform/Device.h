#pragma once

#include <cstdint>

namespace tv2 {

// The device connection broke (the driver host went away mid-request).
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
// The driver host did not answer in time.
inline constexpr uint32_t kErrorTimeout = 1460;

// An open device of the driver host. Each request carries a request code and
// its input bytes; the answer is a status and at most outputSize bytes. The
// device adds the processor the calling thread runs on, where the host
// executes register requests. Used by one thread at a time (the holder of the
// driver lock).
class Device {
 public:
  virtual ~Device() = default;

  // kOk when the driver carried the request out, with *returned bytes written
  // to output; otherwise the driver's or the transport's error, with
  // *returned 0.
  virtual uint32_t request(uint32_t code, const void* input, uint32_t inputSize, void* output,
                           uint32_t outputSize, uint32_t* returned) = 0;
};

}  // namespace tv2

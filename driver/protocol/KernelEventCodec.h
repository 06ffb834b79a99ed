#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "driver/protocol/FrameCodec.h"

namespace tv2 {

// "Open these kernel counting events as one group on CPU N": the one request
// whose answer carries file descriptors. It travels in an ordinary request
// frame:
//   code      IOCTL_OPEN_KERNEL_EVENTS
//   processor the kernel's CPU number
//   input     u32 event count, then one byte per event: its number in the
//             monitor's fixed event list, the group leader first
//   capacity  at least kKernelEventsOutput
// The answer's output is u32 descriptors passed, u32 errno (0 unless the
// kernel refused the open); on success the descriptors, in the order of the
// request, ride as SCM_RIGHTS on the answer's first byte. A refused request
// passes none.
inline constexpr uint32_t IOCTL_OPEN_KERNEL_EVENTS = driverRequestCode(0x920);
inline constexpr uint32_t kKernelEventsOutput = 8;
// The most events one group may hold, and so the most descriptors one answer
// passes.
inline constexpr uint32_t kMaxKernelGroupEvents = 16;

struct KernelEventsRequest {
  int32_t cpu = -1;
  uint32_t count = 0;
  uint8_t events[kMaxKernelGroupEvents] = {};
};

struct KernelEventsAnswer {
  uint32_t descriptors = 0;
  uint32_t systemError = 0;
};

class KernelEventCodec {
 public:
  // Fills a request frame; false when the count is 0 or above the maximum.
  static bool encodeRequest(int32_t cpu, std::span<const uint8_t> events, RequestFrame* frame);

  // Checks the frame's shape and every event number against eventLimit (the
  // length of the fixed list); kStatusOk and *out filled, or the refusal's
  // status. Nothing about the CPU beyond its sign: whether it is online is
  // the host's to say.
  static uint32_t decodeRequest(const RequestFrame& frame, uint32_t eventLimit, KernelEventsRequest* out);

  static void encodeAnswer(const KernelEventsAnswer& answer, std::vector<uint8_t>* output);
  // False when the output is not exactly an answer's.
  static bool decodeAnswer(const uint8_t* output, uint32_t length, KernelEventsAnswer* out);
};

}  // namespace tv2

#include "driver/protocol/KernelEventCodec.h"

#include <cstring>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/LittleEndian.h"

namespace tv2 {

static_assert(4 + kMaxKernelGroupEvents <= RequestFrame::kMaxInput);

bool KernelEventCodec::encodeRequest(int32_t cpu, std::span<const uint8_t> events, RequestFrame* frame) {
  if (frame == nullptr || events.empty() || events.size() > kMaxKernelGroupEvents) return false;
  *frame = RequestFrame{};
  frame->code = IOCTL_OPEN_KERNEL_EVENTS;
  frame->processor = cpu;
  frame->inputLength = static_cast<uint32_t>(4 + events.size());
  frame->outputCapacity = kKernelEventsOutput;
  storeLe32(frame->input, static_cast<uint32_t>(events.size()));
  std::memcpy(frame->input + 4, events.data(), events.size());
  return true;
}

uint32_t KernelEventCodec::decodeRequest(const RequestFrame& frame, uint32_t eventLimit, KernelEventsRequest* out) {
  if (out == nullptr || frame.code != IOCTL_OPEN_KERNEL_EVENTS) return kStatusInvalidFunction;
  if (frame.inputLength < 4) return kStatusInvalidParameter;
  uint32_t count = loadLe32(frame.input);
  // The count is judged before it is used as a length.
  if (count == 0 || count > kMaxKernelGroupEvents || frame.inputLength != 4 + count) return kStatusInvalidParameter;
  if (frame.processor < 0) return kStatusInvalidParameter;
  if (frame.outputCapacity < kKernelEventsOutput) return kStatusBufferTooSmall;
  KernelEventsRequest request;
  request.cpu = frame.processor;
  request.count = count;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t event = frame.input[4 + i];
    if (event >= eventLimit) return kStatusInvalidParameter;
    request.events[i] = event;
  }
  *out = request;
  return kStatusOk;
}

void KernelEventCodec::encodeAnswer(const KernelEventsAnswer& answer, std::vector<uint8_t>* output) {
  output->resize(kKernelEventsOutput);
  storeLe32(output->data(), answer.descriptors);
  storeLe32(output->data() + 4, answer.systemError);
}

bool KernelEventCodec::decodeAnswer(const uint8_t* output, uint32_t length, KernelEventsAnswer* out) {
  if (out == nullptr || output == nullptr || length != kKernelEventsOutput) return false;
  out->descriptors = loadLe32(output);
  out->systemError = loadLe32(output + 4);
  return out->descriptors <= kMaxKernelGroupEvents;
}

}  // namespace tv2

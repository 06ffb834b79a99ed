// The kernel event request's shape: what the host takes as a group to open,
// and everything it refuses before it looks at the kernel.

#include <gtest/gtest.h>

#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/KernelEventCodec.h"
#include "driver/protocol/LittleEndian.h"

namespace tv2 {
namespace {

constexpr uint32_t kListLength = 16;

TEST(KernelEventCodec, ARequestArrivesWithItsCpuAndEventsInOrder) {
  const uint8_t events[] = {10, 15, 0};
  RequestFrame frame;
  ASSERT_TRUE(KernelEventCodec::encodeRequest(7, events, &frame));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(FrameCodec::encodeRequest(frame, &bytes));
  RequestFrame received;
  size_t used = 0;
  ASSERT_EQ(FrameCodec::decodeRequest(bytes.data(), bytes.size(), &received, &used), FrameCodec::Parse::kComplete);
  KernelEventsRequest request;
  ASSERT_EQ(KernelEventCodec::decodeRequest(received, kListLength, &request), kStatusOk);
  EXPECT_EQ(request.cpu, 7);
  ASSERT_EQ(request.count, 3u);
  EXPECT_EQ(request.events[0], 10);
  EXPECT_EQ(request.events[1], 15);
  EXPECT_EQ(request.events[2], 0);

  // A full group is the most one request carries.
  std::vector<uint8_t> full(kMaxKernelGroupEvents, 15);
  EXPECT_TRUE(KernelEventCodec::encodeRequest(0, full, &frame));
  full.push_back(15);
  EXPECT_FALSE(KernelEventCodec::encodeRequest(0, full, &frame));
  EXPECT_FALSE(KernelEventCodec::encodeRequest(0, {}, &frame));
}

TEST(KernelEventCodec, EveryMalformedOrUnlistedRequestIsRefused) {
  const uint8_t one[] = {15};
  RequestFrame good;
  ASSERT_TRUE(KernelEventCodec::encodeRequest(0, one, &good));
  struct Case {
    const char* what;
    RequestFrame frame;
    uint32_t status;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, uint32_t status, auto change) {
    RequestFrame frame = good;
    change(frame);
    cases.push_back({what, frame, status});
  };
  add("event just past the list", kStatusInvalidParameter, [](RequestFrame& f) { f.input[4] = kListLength; });
  add("event number 255", kStatusInvalidParameter, [](RequestFrame& f) { f.input[4] = 255; });
  add("no count", kStatusInvalidParameter, [](RequestFrame& f) { f.inputLength = 2; });
  add("count of zero", kStatusInvalidParameter, [](RequestFrame& f) {
    storeLe32(f.input, 0);
    f.inputLength = 4;
  });
  add("count beyond a group", kStatusInvalidParameter, [](RequestFrame& f) {
    storeLe32(f.input, kMaxKernelGroupEvents + 1);
    f.inputLength = 4 + kMaxKernelGroupEvents + 1;
  });
  add("count larger than the bytes sent", kStatusInvalidParameter, [](RequestFrame& f) { storeLe32(f.input, 2); });
  add("count that wraps the length", kStatusInvalidParameter, [](RequestFrame& f) { storeLe32(f.input, 0xFFFFFFFD); });
  add("bytes beyond the count", kStatusInvalidParameter, [](RequestFrame& f) { f.inputLength = 6; });
  add("negative CPU", kStatusInvalidParameter, [](RequestFrame& f) { f.processor = -1; });
  add("no room for the answer", kStatusBufferTooSmall, [](RequestFrame& f) { f.outputCapacity = 7; });
  add("another request's code", kStatusInvalidFunction, [](RequestFrame& f) { f.code = IOCTL_GET_VERSION; });
  for (const Case& c : cases) {
    KernelEventsRequest request;
    request.cpu = 99;
    EXPECT_EQ(KernelEventCodec::decodeRequest(c.frame, kListLength, &request), c.status) << c.what;
    EXPECT_EQ(request.cpu, 99) << c.what << ": nothing taken from a refused request";
  }
}

TEST(KernelEventCodec, AnAnswerClaimingMoreThanAGroupIsMalformed) {
  std::vector<uint8_t> output;
  KernelEventCodec::encodeAnswer(KernelEventsAnswer{3, 0}, &output);
  KernelEventsAnswer answer;
  ASSERT_TRUE(KernelEventCodec::decodeAnswer(output.data(), static_cast<uint32_t>(output.size()), &answer));
  EXPECT_EQ(answer.descriptors, 3u);
  KernelEventCodec::encodeAnswer(KernelEventsAnswer{0, 13}, &output);
  ASSERT_TRUE(KernelEventCodec::decodeAnswer(output.data(), 8, &answer));
  EXPECT_EQ(answer.systemError, 13u);
  EXPECT_FALSE(KernelEventCodec::decodeAnswer(output.data(), 4, &answer)) << "cut short";
  KernelEventCodec::encodeAnswer(KernelEventsAnswer{kMaxKernelGroupEvents + 1, 0}, &output);
  EXPECT_FALSE(KernelEventCodec::decodeAnswer(output.data(), 8, &answer));
}

}  // namespace
}  // namespace tv2

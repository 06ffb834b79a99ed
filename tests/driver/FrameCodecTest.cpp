// The device's frames: what a peer can and cannot make the other side do.

#include <gtest/gtest.h>

#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/LittleEndian.h"

namespace tv2 {
namespace {

static_assert(IOCTL_READ_MSR == 0x9C402400);
static_assert(IOCTL_READ_PORT_DWORD == 0x9C402414);
static_assert(IOCTL_WRITE_PORT_DWORD == 0x9C402418);
static_assert(IOCTL_READ_PHYS_MEMORY == 0x9C402420);
static_assert(IOCTL_WRITE_MSR == 0x9C402424);
static_assert(IOCTL_WRITE_PHYS_DWORD == 0x9C402430);
static_assert(IOCTL_GET_VERSION == 0x9C402438);

std::vector<uint8_t> readMsrFrame(int32_t processor) {
  RequestFrame frame;
  frame.code = IOCTL_READ_MSR;
  frame.processor = processor;
  frame.inputLength = 4;
  frame.outputCapacity = 8;
  storeLe32(frame.input, 0x1B1);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(FrameCodec::encodeRequest(frame, &bytes));
  return bytes;
}

TEST(FrameCodec, RequestsSurviveTheTripInAnyPieces) {
  std::vector<uint8_t> stream = readMsrFrame(5);
  std::vector<uint8_t> second = readMsrFrame(-1);
  stream.insert(stream.end(), second.begin(), second.end());
  RequestFrame frame;
  size_t used = 0;
  // Every proper prefix asks for more; none is mistaken for garbage.
  for (size_t size = 0; size < FrameCodec::kRequestHeaderSize + 4; ++size)
    EXPECT_EQ(FrameCodec::decodeRequest(stream.data(), size, &frame, &used), FrameCodec::Parse::kIncomplete) << size;
  ASSERT_EQ(FrameCodec::decodeRequest(stream.data(), stream.size(), &frame, &used), FrameCodec::Parse::kComplete);
  EXPECT_EQ(used, FrameCodec::kRequestHeaderSize + 4);
  EXPECT_EQ(frame.code, IOCTL_READ_MSR);
  EXPECT_EQ(frame.processor, 5);
  EXPECT_EQ(frame.outputCapacity, 8u);
  EXPECT_EQ(loadLe32(frame.input), 0x1B1u);
  ASSERT_EQ(FrameCodec::decodeRequest(stream.data() + used, stream.size() - used, &frame, &used),
            FrameCodec::Parse::kComplete);
  EXPECT_EQ(frame.processor, -1);
}

TEST(FrameCodec, GarbageAndOversizedLengthsAreKnownAsSoonAsTheyArrive) {
  RequestFrame frame;
  size_t used = 0;
  const uint8_t http[] = {'G', 'E', 'T', ' '};
  EXPECT_EQ(FrameCodec::decodeRequest(http, 1, &frame, &used), FrameCodec::Parse::kMalformed);

  std::vector<uint8_t> bytes = readMsrFrame(0);
  storeLe32(bytes.data() + 12, RequestFrame::kMaxInput + 1);
  EXPECT_EQ(FrameCodec::decodeRequest(bytes.data(), 16, &frame, &used), FrameCodec::Parse::kMalformed);
  bytes = readMsrFrame(0);
  storeLe32(bytes.data() + 16, FrameCodec::kMaxOutput + 1);
  EXPECT_EQ(FrameCodec::decodeRequest(bytes.data(), 20, &frame, &used), FrameCodec::Parse::kMalformed);

  // The encoder refuses to produce what the decoder would refuse.
  frame.inputLength = RequestFrame::kMaxInput + 1;
  std::vector<uint8_t> out;
  EXPECT_FALSE(FrameCodec::encodeRequest(frame, &out));
  EXPECT_TRUE(out.empty());
}

TEST(FrameCodec, AnAnswerMayNotOverflowTheCallersBuffer) {
  std::vector<uint8_t> answer;
  const uint8_t output[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(FrameCodec::encodeAnswer(kStatusOk, output, 8, &answer));
  AnswerHeader header;
  EXPECT_EQ(FrameCodec::decodeAnswerHeader(answer.data(), 11, 8, &header), FrameCodec::Parse::kIncomplete);
  ASSERT_EQ(FrameCodec::decodeAnswerHeader(answer.data(), answer.size(), 8, &header), FrameCodec::Parse::kComplete);
  EXPECT_EQ(header.outputLength, 8u);
  EXPECT_EQ(FrameCodec::decodeAnswerHeader(answer.data(), answer.size(), 4, &header), FrameCodec::Parse::kMalformed);
  answer[0] ^= 0xFF;
  EXPECT_EQ(FrameCodec::decodeAnswerHeader(answer.data(), answer.size(), 8, &header), FrameCodec::Parse::kMalformed);
}

}  // namespace
}  // namespace tv2

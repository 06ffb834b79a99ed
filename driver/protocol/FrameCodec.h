#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/protocol/DeviceRequests.h"

namespace tv2 {

// One device request as it travels from the client to the driver host: the
// request code and input bytes of the request table, the output capacity of
// the caller's buffer, and the one field the transport adds, the processor
// the calling thread runs on (register requests execute there).
struct RequestFrame {
  static constexpr uint32_t kMaxInput = 64;

  uint32_t code = 0;
  int32_t processor = -1;
  uint32_t outputCapacity = 0;
  uint32_t inputLength = 0;
  uint8_t input[kMaxInput] = {};
};

// The answer's fixed part; outputLength bytes of output follow it.
struct AnswerHeader {
  uint32_t status = 0;
  uint32_t outputLength = 0;
};

// The byte layout of frames on the device's stream. A request is
//   u32 magic "KZR1", u32 code, i32 processor, u32 input length,
//   u32 output capacity, input bytes;
// an answer is
//   u32 magic "KZA1", u32 status, u32 output length, output bytes.
// All fields little-endian. Lengths above the limits make a frame malformed,
// so a peer can never make the other side allocate or wait for more.
class FrameCodec {
 public:
  static constexpr uint32_t kRequestMagic = 0x31525A4B;  // "KZR1"
  static constexpr uint32_t kAnswerMagic = 0x31415A4B;   // "KZA1"
  static constexpr size_t kRequestHeaderSize = 20;
  static constexpr size_t kAnswerHeaderSize = 12;
  static constexpr uint32_t kMaxOutput = kMaxPhysicalRead;
  static constexpr size_t kMaxRequestSize = kRequestHeaderSize + RequestFrame::kMaxInput;

  enum class Parse { kComplete, kIncomplete, kMalformed };

  // Appends the request's bytes to out. False (out unchanged) when the input
  // length or output capacity exceed the limits.
  static bool encodeRequest(const RequestFrame& frame, std::vector<uint8_t>* out);

  // Parses the first frame of data. kComplete fills frame and *used (bytes of
  // data it took); kIncomplete asks for more bytes; kMalformed means the
  // stream cannot be trusted any further (bad magic or a length beyond the
  // limits), which is known as soon as the offending field has arrived.
  static Parse decodeRequest(const uint8_t* data, size_t size, RequestFrame* frame, size_t* used);

  // Appends an answer. False (out unchanged) when length exceeds kMaxOutput.
  static bool encodeAnswer(uint32_t status, const uint8_t* output, uint32_t length,
                           std::vector<uint8_t>* out);

  // Parses an answer's fixed part (kAnswerHeaderSize bytes). Malformed when
  // the magic is wrong or the output would not fit the capacity asked for.
  static Parse decodeAnswerHeader(const uint8_t* data, size_t size, uint32_t capacity,
                                  AnswerHeader* header);
};

}  // namespace tv2

#include "driver/protocol/FrameCodec.h"

#include <cstring>

#include "driver/protocol/LittleEndian.h"

namespace tv2 {

bool FrameCodec::encodeRequest(const RequestFrame& frame, std::vector<uint8_t>* out) {
  if (out == nullptr || frame.inputLength > RequestFrame::kMaxInput ||
      frame.outputCapacity > kMaxOutput)
    return false;
  size_t start = out->size();
  out->resize(start + kRequestHeaderSize + frame.inputLength);
  uint8_t* p = out->data() + start;
  storeLe32(p, kRequestMagic);
  storeLe32(p + 4, frame.code);
  storeLe32(p + 8, static_cast<uint32_t>(frame.processor));
  storeLe32(p + 12, frame.inputLength);
  storeLe32(p + 16, frame.outputCapacity);
  if (frame.inputLength > 0) std::memcpy(p + kRequestHeaderSize, frame.input, frame.inputLength);
  return true;
}

FrameCodec::Parse FrameCodec::decodeRequest(const uint8_t* data, size_t size, RequestFrame* frame,
                                            size_t* used) {
  if (frame == nullptr || used == nullptr) return Parse::kMalformed;
  if (size > 0 && data == nullptr) return Parse::kMalformed;
  // Judge every field as soon as it is there: a peer that sends garbage is
  // told at once instead of after it has sent a whole header's worth.
  uint8_t magic[4];
  storeLe32(magic, kRequestMagic);
  size_t magicBytes = size < 4 ? size : 4;
  if (magicBytes > 0 && std::memcmp(data, magic, magicBytes) != 0) return Parse::kMalformed;
  if (size >= 16 && loadLe32(data + 12) > RequestFrame::kMaxInput) return Parse::kMalformed;
  if (size >= 20 && loadLe32(data + 16) > kMaxOutput) return Parse::kMalformed;
  if (size < kRequestHeaderSize) return Parse::kIncomplete;

  uint32_t inputLength = loadLe32(data + 12);
  if (size < kRequestHeaderSize + inputLength) return Parse::kIncomplete;
  frame->code = loadLe32(data + 4);
  frame->processor = static_cast<int32_t>(loadLe32(data + 8));
  frame->inputLength = inputLength;
  frame->outputCapacity = loadLe32(data + 16);
  std::memset(frame->input, 0, sizeof frame->input);
  if (inputLength > 0) std::memcpy(frame->input, data + kRequestHeaderSize, inputLength);
  *used = kRequestHeaderSize + inputLength;
  return Parse::kComplete;
}

bool FrameCodec::encodeAnswer(uint32_t status, const uint8_t* output, uint32_t length,
                              std::vector<uint8_t>* out) {
  if (out == nullptr || length > kMaxOutput || (length > 0 && output == nullptr)) return false;
  size_t start = out->size();
  out->resize(start + kAnswerHeaderSize + length);
  uint8_t* p = out->data() + start;
  storeLe32(p, kAnswerMagic);
  storeLe32(p + 4, status);
  storeLe32(p + 8, length);
  if (length > 0) std::memcpy(p + kAnswerHeaderSize, output, length);
  return true;
}

FrameCodec::Parse FrameCodec::decodeAnswerHeader(const uint8_t* data, size_t size, uint32_t capacity,
                                                 AnswerHeader* header) {
  if (header == nullptr || (size > 0 && data == nullptr)) return Parse::kMalformed;
  if (size < kAnswerHeaderSize) return Parse::kIncomplete;
  if (loadLe32(data) != kAnswerMagic) return Parse::kMalformed;
  uint32_t length = loadLe32(data + 8);
  if (length > capacity || length > kMaxOutput) return Parse::kMalformed;
  header->status = loadLe32(data + 4);
  header->outputLength = length;
  return Parse::kComplete;
}

}  // namespace tv2

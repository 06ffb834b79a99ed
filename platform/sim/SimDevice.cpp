#include "platform/sim/SimDevice.h"

#include <cstring>
#include <utility>

#include "driver/protocol/FrameCodec.h"
#include "platform/ErrorCodes.h"

namespace tv2::sim {

SimDevice::SimDevice(std::shared_ptr<SimDriverHost> host, std::function<int()> currentCpu)
    : m_host(std::move(host)), m_currentCpu(std::move(currentCpu)) {}

SimDevice::~SimDevice() { m_host->detachDevice(); }

uint32_t SimDevice::request(uint32_t code, const void* input, uint32_t inputSize, void* output,
                            uint32_t outputSize, uint32_t* returned) {
  uint32_t spare = 0;
  uint32_t& count = returned != nullptr ? *returned : spare;
  count = 0;
  if (inputSize > RequestFrame::kMaxInput || (inputSize > 0 && input == nullptr) ||
      (outputSize > 0 && output == nullptr))
    return kErrorInvalidParameter;
  RequestFrame frame;
  frame.code = code;
  frame.processor = m_currentCpu ? m_currentCpu() : -1;
  frame.inputLength = inputSize;
  frame.outputCapacity = outputSize < FrameCodec::kMaxOutput ? outputSize : FrameCodec::kMaxOutput;
  if (inputSize > 0) std::memcpy(frame.input, input, inputSize);
  m_frame.clear();
  FrameCodec::encodeRequest(frame, &m_frame);
  if (!m_host->serve(m_frame, &m_answer)) return kErrorDeviceNotConnected;

  AnswerHeader answer;
  if (FrameCodec::decodeAnswerHeader(m_answer.data(), m_answer.size(), frame.outputCapacity, &answer) !=
          FrameCodec::Parse::kComplete ||
      m_answer.size() != FrameCodec::kAnswerHeaderSize + answer.outputLength)
    return kErrorDeviceNotConnected;
  if (answer.status != kOk) return answer.status;
  if (answer.outputLength > 0)
    std::memcpy(output, m_answer.data() + FrameCodec::kAnswerHeaderSize, answer.outputLength);
  count = answer.outputLength;
  return kOk;
}

}  // namespace tv2::sim

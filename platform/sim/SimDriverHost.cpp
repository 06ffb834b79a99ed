#include "platform/sim/SimDriverHost.h"

#include <optional>

#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/HardwareFacts.h"
#include "driver/protocol/LittleEndian.h"

namespace tv2::sim {

SimDriverHost::SimDriverHost(HardwareBackend& hardware, uint32_t version)
    : m_hardware(hardware),
      m_policy(HardwareFacts::learn(hardware, std::nullopt)),
      m_version(version),
      m_handler(hardware, m_policy) {}

bool SimDriverHost::serve(const std::vector<uint8_t>& frame, std::vector<uint8_t>* answer) {
  std::lock_guard lock(m_mutex);
  if (m_dead || (m_stopRequested && m_devices == 0)) return false;
  ++m_requests;
  answer->clear();
  RequestFrame request;
  size_t used = 0;
  FrameCodec::Parse parse = FrameCodec::decodeRequest(frame.data(), frame.size(), &request, &used);
  if (parse != FrameCodec::Parse::kComplete || used != frame.size()) {
    FrameCodec::encodeAnswer(kStatusInvalidData, nullptr, 0, answer);
    return true;
  }
  uint32_t status = m_handler.handle(request, &m_output);
  // A host of another build answers its own version.
  if (status == kStatusOk && request.code == IOCTL_GET_VERSION && m_output.size() == kVersionOutput)
    storeLe32(m_output.data(), m_version);
  FrameCodec::encodeAnswer(status, m_output.data(), static_cast<uint32_t>(m_output.size()), answer);
  return true;
}

bool SimDriverHost::attachDevice() {
  std::lock_guard lock(m_mutex);
  if (m_dead || m_stopRequested) return false;
  ++m_devices;
  return true;
}

void SimDriverHost::detachDevice() {
  std::lock_guard lock(m_mutex);
  if (m_devices > 0) --m_devices;
}

void SimDriverHost::stop() {
  std::lock_guard lock(m_mutex);
  m_stopRequested = true;
}

void SimDriverHost::kill() {
  std::lock_guard lock(m_mutex);
  m_dead = true;
}

uint32_t SimDriverHost::state() const {
  std::lock_guard lock(m_mutex);
  if (m_dead) return kServiceStopped;
  if (!m_stopRequested) return kServiceRunning;
  return m_devices > 0 ? kServiceStopPending : kServiceStopped;
}

uint64_t SimDriverHost::requestCount() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

}  // namespace tv2::sim

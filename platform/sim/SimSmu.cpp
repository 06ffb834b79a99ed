#include "platform/sim/SimSmu.h"

#include <algorithm>
#include <cmath>

namespace tv2::sim {

namespace {

constexpr uint32_t kEnableRegister = 0x1F428;
constexpr uint32_t kScaleRegister = 0x1F840;
constexpr uint32_t kPackagePowerRegister = 0x3FF7C;
constexpr uint32_t kGraphicsPowerRegister = 0x3FE2C;
constexpr uint32_t kReportsPowerBit = 1u << 29;
constexpr uint32_t kStartSample = 0x170;
constexpr uint32_t kEndSample = 0x171;
constexpr uint32_t kDone = 1;
constexpr uint32_t kUnknownMessage = 0xFF;
constexpr double kVoltsAtVidZero = 1.55;
constexpr double kVoltsPerVid = 0.00625;

uint32_t toFixed256(double watts) {
  if (!(watts > 0.0)) {
    return 0;
  }
  return static_cast<uint32_t>(std::min(std::lround(watts * 256.0), 0x7FFFFFFFL));
}

}  // namespace

SimSmu::SimSmu(SimPartKind kind) : m_kind(kind) {}

uint32_t SimSmu::readRegister(uint32_t index) const {
  if (!present()) {
    return 0;
  }
  switch (index) {
    case kEnableRegister:
      return kReportsPowerBit;
    case kScaleRegister:
      return (kNbCurrentScale << 16) | kCoreCurrentScale;
    case kPackagePowerRegister:
      return hasMailbox() ? m_packagePower : 0;
    case kGraphicsPowerRegister:
      return hasMailbox() ? m_graphicsPower : 0;
    default:
      return 0;
  }
}

bool SimSmu::mailboxRead(uint32_t offset, uint32_t* value) const {
  if (!hasMailbox() || offset >= kMailboxSize) {
    return false;
  }
  *value = offset == kMessageOffset ? m_message : offset == kAnswerOffset ? m_answer : 0;
  return true;
}

bool SimSmu::mailboxWrite(const SimWorkloadModel& workload, uint32_t offset, uint32_t value,
                          uint64_t nowNs) {
  if (!hasMailbox()) {
    return false;
  }
  if (offset == kAnswerOffset) {
    m_answer = value;
    return true;
  }
  if (offset != kMessageOffset) {
    return false;
  }
  m_message = value;
  m_answer = 0;
  if (!m_answering) {
    return true;
  }
  switch (value) {
    case kStartSample:
      m_windowOpen = true;
      m_windowStartNs = nowNs;
      m_windowPackageJ = workload.energyJoules(0, SimPowerDomain::kPackage);
      m_windowGraphicsJ = workload.energyJoules(0, SimPowerDomain::kGraphics);
      m_answer = kDone;
      break;
    case kEndSample:
      latch(workload, nowNs);
      m_answer = kDone;
      break;
    case 0x51:
    case 0x69:
    case 0x6B:
      m_answer = kDone;
      break;
    default:
      m_answer = kUnknownMessage;
      break;
  }
  return true;
}

void SimSmu::latch(const SimWorkloadModel& workload, uint64_t nowNs) {
  double package = workload.power(0, SimPowerDomain::kPackage);
  double graphics = workload.power(0, SimPowerDomain::kGraphics);
  if (m_windowOpen && nowNs > m_windowStartNs) {
    const double seconds = static_cast<double>(nowNs - m_windowStartNs) / 1e9;
    package = (workload.energyJoules(0, SimPowerDomain::kPackage) - m_windowPackageJ) / seconds;
    graphics = (workload.energyJoules(0, SimPowerDomain::kGraphics) - m_windowGraphicsJ) / seconds;
  }
  m_windowOpen = false;
  m_packagePower = toFixed256(package);
  m_graphicsPower = toFixed256(graphics);
}

uint32_t SimSmu::currentReading(double watts, uint32_t scale, uint32_t vid) {
  // amps = share / 255 * scale / 100; watts = amps * volts.
  const double volts = kVoltsAtVidZero - vid * kVoltsPerVid;
  const double amps = watts > 0.0 ? watts / volts : 0.0;
  const long share = std::clamp(std::lround(amps * 100.0 / scale * 255.0), 0L, 255L);
  return ((vid & 0xFF) << 16) | static_cast<uint32_t>(share);
}

}  // namespace tv2::sim

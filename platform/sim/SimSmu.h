#pragma once

#include <cstdint>

#include "platform/sim/SimHardwareConfig.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {

// The system management unit of an AMD APU (package 0), as the program reaches
// it: registers behind the index/data pair 0:0.0 0xB8/0xBC, and on Kaveri-class
// parts a mailbox in the graphics device's memory window (0:1.0 register 0x24
// names it): a message written to base + 0x250 is answered at base + 0x254.
//
// Registers: 0x1F428 bit 29 = the unit reports power; 0x1F840 = current scales
// (core rail in bits 15:0, northbridge rail in 31:16, in 10 mA per full-scale
// step); 0x3FF7C and 0x3FE2C = package and graphics power in 1/256 W, latched by
// message 0x171 as the average since message 0x170 (until then 0).
// Messages 0x51, 0x69, 0x6B, 0x170 and 0x171 answer 1, others 0xFF. Writing a
// message clears the answer; the unit answers at once unless told to stay
// silent, in which case the answer stays 0.
//
// Not thread-safe: SimHardware keeps it under its mutex.
class SimSmu {
 public:
  static constexpr uint32_t kMailboxBase = 0xFEB80000;
  static constexpr uint32_t kMailboxSize = 0x40000;
  static constexpr uint32_t kMessageOffset = 0x250;
  static constexpr uint32_t kAnswerOffset = 0x254;
  // Telemetry of the Trinity power registers 0:18.5 0x158 (cores) and 0x15C
  // (northbridge rail): current as a share of the scale in bits 7:0 (of 255),
  // voltage identifier in 23:16 (1.55 V - 6.25 mV per step).
  static constexpr uint32_t kCoreCurrentScale = 10000;  // 100 A
  static constexpr uint32_t kNbCurrentScale = 4000;     // 40 A
  static constexpr uint32_t kCoreVid = 40;              // 1.30 V
  static constexpr uint32_t kNbVid = 72;                // 1.10 V

  explicit SimSmu(SimPartKind kind);

  bool present() const { return m_kind == SimPartKind::kAmdTrinity || hasMailbox(); }
  bool hasMailbox() const { return m_kind == SimPartKind::kAmdKaveri; }

  uint32_t readRegister(uint32_t index) const;
  // Offsets within the mailbox window; false outside the two registers for
  // writes.
  bool mailboxRead(uint32_t offset, uint32_t* value) const;
  bool mailboxWrite(const SimWorkloadModel& workload, uint32_t offset, uint32_t value,
                    uint64_t nowNs);
  void setAnswering(bool answering) { m_answering = answering; }

  // The reading of one of the Trinity telemetry registers for a rail drawing
  // watts now.
  static uint32_t currentReading(double watts, uint32_t scale, uint32_t vid);

 private:
  void latch(const SimWorkloadModel& workload, uint64_t nowNs);

  const SimPartKind m_kind;
  bool m_answering = true;
  uint32_t m_message = 0;
  uint32_t m_answer = 0;
  bool m_windowOpen = false;
  uint64_t m_windowStartNs = 0;
  double m_windowPackageJ = 0.0;
  double m_windowGraphicsJ = 0.0;
  uint32_t m_packagePower = 0;   // 1/256 W
  uint32_t m_graphicsPower = 0;  // 1/256 W
};

}  // namespace tv2::sim

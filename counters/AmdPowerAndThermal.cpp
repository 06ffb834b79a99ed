#include "counters/AMD_BD_PowerCounter.h"
#include "counters/AMD_BD_TemperatureCounter.h"
#include "counters/AMD_KV_PowerCounter.h"
#include "counters/AMD_TN_PowerCounter.h"
#include "hw/CKMDriver.h"

namespace tv2 {

double AMD_BD_TemperatureCounter::Read() {
  uint32_t saved = 0;
  uint32_t v = 0;
  uint32_t a = 0;
  uint32_t b = 0;
  if (!readNb(3, 0x1E8, &saved)) return -1.0;
  bool ok = readNb(3, 0x1E8, &v) && writeNb(3, 0x1E8, v & ~0x7FFu) &&    //
            readNb(3, 0x1E8, &v) && writeNb(3, 0x1E8, (v & 0xFFFFFF31u) | 0x31) &&
            readNb(3, 0x1EC, &a) &&                                          //
            readNb(3, 0x1E8, &v) && writeNb(3, 0x1E8, (v & 0xFFFFFF30u) | 0x30) && readNb(3, 0x1EC, &b);
  writeNb(3, 0x1E8, saved);
  if (!ok) return -1.0;
  return static_cast<double>(b & 0xFF) + (static_cast<double>(a & 0xFF) * 0.125) / 100.0;
}

double AMD_BD_PowerCounter::Read() {
  uint32_t reading = 0;
  if (basePower == -1) {
    uint32_t t = 0;
    uint32_t u = 0;
    if (!readNb(4, 0x1B8, &t) || !readNb(5, 0xE8, &u)) return -1.0;
    t >>= 16;
    uint32_t factor = ((u & 0x3FF) << 6) + ((u >> 10) & 0x3F);
    basePower = static_cast<int32_t>(static_cast<uint32_t>(t * factor) / 65536);
  }
  if (!readNb(4, 0x15C, &reading) || !(reading & (1u << 7))) return -1.0;
  if (!readNb(4, 0x1C0, &reading)) return -1.0;
  return static_cast<double>(reading & 0x3FF) / 10.0 + basePower;
}

double AMD_TN_PowerCounter::Read() {
  if (smuEnabled == -1) {
    uint32_t status = 0;
    uint32_t scale = 0;
    if (!readSmuRegister(0x1F428, &status) || !readSmuRegister(0x1F840, &scale)) return -1.0;
    smuEnabled = (status >> 29) & 1;
    currentScale = static_cast<int32_t>(m_uncore ? (scale >> 16) & 0xFFFF : scale & 0xFFFF);
  }
  if (smuEnabled == 0) return -1.0;

  uint32_t a = 0;
  uint32_t b = 0;
  uint32_t d = 0;
  if (!readNb(5, 0x12C, &a)) return -1.0;
  if ((a & (1u << 6)) && !writeNb(5, 0x12C, a & ~(1u << 6))) return -1.0;
  bool haveB = readNb(5, 0x188, &b);
  bool ok = haveB && writeNb(5, 0x188, b | (1u << 6)) && readNb(5, m_uncore ? 0x15C : 0x158, &d);
  if (haveB) writeNb(5, 0x188, b);
  writeNb(5, 0x12C, a);
  if (!ok) return -1.0;
  double current = static_cast<double>(d & 0xFF) / 255.0 * currentScale / 100.0;
  double volts = 1.55 - static_cast<double>((d >> 16) & 0xFF) * 0.00625;
  return current * volts;
}

bool AMD_KV_PowerCounter::sendMessage(uint32_t base, uint32_t message, uint32_t* answer) {
  // A read that fails leaves 0xFFFFFFFF, which is no answer from the unit:
  // it counts as 0 and the attempt is repeated.
  *answer = 0;
  for (int attempt = 0; attempt < kMailboxAttempts; ++attempt) {
    if (!m_driver->WritePhysicalDword(0, base, 0x250, message)) {
      *answer = 0;
      continue;
    }
    sleepMs(1);
    if (m_driver->ReadPhysicalDword(0, base, 0x254, answer) && *answer != 0) return true;
    *answer = 0;
  }
  return false;
}

double AMD_KV_PowerCounter::Read() {
  if (m_driver == nullptr) return -1.0;
  uint32_t v = 0;
  if (!ReadConfig(0, 1, 0, 0x24, &v) || v == 0 || v == 0xFFFFFFFFu) return -1.0;
  uint32_t base = v & ~0xFu;
  // The set-up messages are all sent even when one goes unanswered; only the
  // answer to 0x170, which starts the averaging window, decides.
  uint32_t answer = 0;
  for (uint32_t message : {0x51u, 0x69u, 0x6Bu, 0x170u}) sendMessage(base, message, &answer);
  if (answer != 1) return -1.0;
  sleepMs(20);
  if (!sendMessage(base, 0x171, &answer) || answer != 1) return -1.0;
  uint32_t p = 0;
  if (!readSmuRegister(m_smuRegister, &p)) return -1.0;
  if (p >= 90000) return -1.0;
  return static_cast<double>(p) / 256.0;
}

}  // namespace tv2

#pragma once

#include <cstdint>

#include "counters/AMD_Counter.h"

namespace tv2 {

// Package power of family 15h model 30h and family 16h, averaged by the
// management unit between two mailbox messages 20 ms apart. The graphics
// variant reads the GPU's figure instead.
class AMD_KV_PowerCounter : public AMD_Counter {
 public:
  static constexpr int kMailboxAttempts = 100;

  AMD_KV_PowerCounter(int32_t index, CKMDriver* driverClient, Platform* platform)
      : AMD_KV_PowerCounter(index, driverClient, platform, 0x3FF7C) {}
  double Read() override;

 protected:
  AMD_KV_PowerCounter(int32_t index, CKMDriver* driverClient, Platform* platform, uint32_t smuRegister)
      : AMD_Counter(index, driverClient, platform), m_smuRegister(smuRegister) {}

 private:
  // Up to 100 attempts of write message, wait 1 ms, read a non-zero answer.
  bool sendMessage(uint32_t base, uint32_t message, uint32_t* answer);

  const uint32_t m_smuRegister;
};

}  // namespace tv2

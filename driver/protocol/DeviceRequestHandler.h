#pragma once

#include <cstdint>
#include <vector>

#include "driver/protocol/AccessPolicy.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/HardwareBackend.h"

namespace tv2 {

// Executes one decoded device request against the hardware, after checking
// its sizes and asking the access policy. Holds no state of its own besides
// its two references; the caller serialises requests (the driver host serves
// one at a time, the simulated device under its lock), which also keeps a
// masked write's read and write together.
class DeviceRequestHandler {
 public:
  DeviceRequestHandler(HardwareBackend& hardware, const AccessPolicy& policy);

  // Returns the answer's status and replaces *output with its bytes (empty on
  // failure). Never touches the hardware for a request that is refused or
  // malformed.
  uint32_t handle(const RequestFrame& request, std::vector<uint8_t>* output);

 private:
  uint32_t readMsr(const RequestFrame& request, std::vector<uint8_t>* output);
  uint32_t writeMsr(const RequestFrame& request, std::vector<uint8_t>* output);
  uint32_t readPort(const RequestFrame& request, std::vector<uint8_t>* output);
  uint32_t writePort(const RequestFrame& request);
  uint32_t readPhysical(const RequestFrame& request, std::vector<uint8_t>* output);
  uint32_t writePhysical(const RequestFrame& request);
  uint32_t version(const RequestFrame& request, std::vector<uint8_t>* output);

  // Writes value to the configuration register under its mask; current reads
  // what the register holds now (needed only for a partial mask).
  template <typename Read, typename Write>
  uint32_t maskedWrite(uint32_t mask, uint32_t value, Read current, Write write);

  HardwareBackend& m_hardware;
  const AccessPolicy& m_policy;
};

}  // namespace tv2

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Device.h"
#include "platform/sim/SimDriverHost.h"

namespace tv2::sim {

// An open device of a simulated driver host. Requests travel as the same
// frames the real device sends, stamped with the processor the calling
// thread runs on (as the simulated processor service places it), and the
// answer is decoded the same way. A host that died fails every request.
//
// Threads: one at a time (the holder of the driver lock); m_frame and
// m_answer are written only inside request().
class SimDevice : public Device {
 public:
  // currentCpu answers the machine's processor number of the calling thread
  // (-1 when unknown). The device counts as open on the host until destroyed.
  SimDevice(std::shared_ptr<SimDriverHost> host, std::function<int()> currentCpu);
  ~SimDevice() override;
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  uint32_t request(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                   uint32_t* returned) override;

 private:
  const std::shared_ptr<SimDriverHost> m_host;
  const std::function<int()> m_currentCpu;
  std::vector<uint8_t> m_frame;
  std::vector<uint8_t> m_answer;
};

}  // namespace tv2::sim

#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "platform/ResourceService.h"

namespace tv2::sim {

// The program's resources on a simulated machine: 106, 107 and 109 empty,
// 108 a stand-in for the driver host's image (the simulated service manager
// runs a host for exactly these bytes). Tests replace or remove them.
//
// Threads: any. Bytes handed out stay valid until the resource is replaced.
class SimResourceService : public ResourceService {
 public:
  static constexpr uint32_t kHostImageId = 108;
  // The stand-in image's bytes.
  static std::span<const uint8_t> hostImage();

  SimResourceService();

  void setResource(uint32_t id, std::vector<uint8_t> bytes);
  void removeResource(uint32_t id);

  uint32_t find(uint32_t id, std::span<const uint8_t>* out) override;

 private:
  std::mutex m_mutex;  // guards m_resources
  std::map<uint32_t, std::vector<uint8_t>> m_resources;
};

}  // namespace tv2::sim

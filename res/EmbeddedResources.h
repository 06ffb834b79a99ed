#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tv2 {

// One binary resource compiled into the program.
struct EmbeddedResource {
  uint32_t id = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The program's binary resources: the driver images 106 (Windows 9x),
// 107 (x86), 108 (the driver host, the only one this system runs) and 109
// (IA64). All but 108 are empty.
std::span<const EmbeddedResource> embeddedResources();

}  // namespace tv2

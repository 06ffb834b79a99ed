#pragma once

#include <cstdint>

namespace tv2 {

// Client-side error codes of the driver client.
inline constexpr uint32_t DRIVER_ERR_PLATFORM = 0x5002;
inline constexpr uint32_t DRIVER_ERR_NO_MUTEX = 0x5003;
inline constexpr uint32_t DRIVER_ERR_NO_IMAGE = 0x5007;

}  // namespace tv2

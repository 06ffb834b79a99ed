#pragma once

#include <cstdint>

namespace tv2 {

// Numeric results the platform services return. The program's logic compares
// these values, so they keep the numbers the rest of the code was written for.
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorNotOwner = 288;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceExists = 1073;

// Results of NamedMutex::wait.
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitAbandoned = 128;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

}  // namespace tv2

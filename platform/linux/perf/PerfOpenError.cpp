#include "platform/linux/perf/PerfOpenError.h"

#include <cerrno>
#include <cstring>

#include "platform/ErrorCodes.h"

namespace tv2 {

namespace {

// Any failure without a closer code (EBUSY: another user holds the PMU
// exclusively).
constexpr uint32_t kGeneralFailure = 31;

}  // namespace

std::string PerfOpenError::systemText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in the buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

KernelOpenError PerfOpenError::fromErrno(int error, const std::string& what) {
  KernelOpenError out;
  out.systemError = error;
  std::string hint;
  switch (error) {
    case EACCES:
    case EPERM:
      out.code = kErrorAccessDenied;
      break;
    case ENOENT:
    case EOPNOTSUPP:
      // The PMU exists but does not count this event (or not in this mode).
      out.code = kErrorNotSupported;
      hint = " (the kernel does not offer this event here)";
      break;
    case ENODEV:
      // The CPU is offline or the PMU is gone.
      out.code = kErrorFileNotFound;
      break;
    case EINVAL:
    case E2BIG:
    case EOVERFLOW:
      out.code = kErrorInvalidParameter;
      break;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOSPC:
      out.code = kErrorNotEnoughMemory;
      break;
    default:
      out.code = kGeneralFailure;
      break;
  }
  out.reason = "cannot count " + what + ": " + systemText(error) + hint;
  return out;
}

}  // namespace tv2

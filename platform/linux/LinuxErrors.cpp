#include "platform/linux/LinuxErrors.h"

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace tv2 {

uint32_t LinuxErrors::fromErrno(int error) {
  switch (error) {
    case 0:
      return kOk;
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
    case ENOSPC:
    case EMFILE:
    case ENFILE:
      return kErrorNotEnoughMemory;
    case EINVAL:
    case ENAMETOOLONG:
      return kErrorInvalidParameter;
    case EEXIST:
    case EADDRINUSE:
      return kErrorAlreadyExists;
    default:
      return kGeneralFailure;
  }
}

}  // namespace tv2

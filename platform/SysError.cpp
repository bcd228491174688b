#include "platform/SysError.h"

#include <cerrno>

namespace platform {

// One table for both systems: on Windows the C runtime reports its errors through errno too, with
// the same names.
uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EEXIST:
      return kErrorAlreadyExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case EPIPE:
      return kErrorBrokenPipe;
    case ENOSPC:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EAGAIN:
      return kErrorNoData;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case ETIMEDOUT:
      return kErrorSemTimeout;
    case ECONNREFUSED:
    case ECONNRESET:
      return kErrorBrokenPipe;
    case ENOTCONN:
      return kErrorPipeNotConnected;
    case EIO:
      return kErrorGenFailure;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace platform

#include "platform/SysError.h"

namespace platform {

namespace {
thread_local uint32_t last_error = kErrorSuccess;
}  // namespace

uint32_t GetLastError() {
  return last_error;
}
void SetLastError(uint32_t code) {
  last_error = code;
}

std::string SysErrorMessage(uint32_t code) {
  switch (code) {
    case kErrorSuccess:
      return "The operation completed successfully.";
    case kErrorInvalidFunction:
      return "Incorrect function.";
    case kErrorFileNotFound:
      return "The system cannot find the file specified.";
    case kErrorPathNotFound:
      return "The system cannot find the path specified.";
    case kErrorTooManyOpenFiles:
      return "The system cannot open the file.";
    case kErrorAccessDenied:
      return "Access is denied.";
    case kErrorInvalidHandle:
      return "The handle is invalid.";
    case kErrorNotEnoughMemory:
      return "Not enough memory resources are available to process this command.";
    case kErrorInvalidData:
      return "The data is invalid.";
    case kErrorWriteFault:
      return "The system cannot write to the specified device.";
    case kErrorReadFault:
      return "The system cannot read from the specified device.";
    case kErrorGenFailure:
      return "A device attached to the system is not functioning.";
    case kErrorSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case kErrorLockViolation:
      return "The process cannot access the file because another process has locked a portion "
             "of the file.";
    case kErrorHandleEof:
      return "Reached the end of the file.";
    case kErrorNotSupported:
      return "The request is not supported.";
    case kErrorFileExists:
      return "The file exists.";
    case kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case kErrorBrokenPipe:
      return "The pipe has been ended.";
    case kErrorDiskFull:
      return "There is not enough space on the disk.";
    case kErrorSemTimeout:
      return "The semaphore timeout period has expired.";
    case kErrorInvalidName:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case kErrorDirNotEmpty:
      return "The directory is not empty.";
    case kErrorAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case kErrorFilenameExcedRange:
      return "The filename or extension is too long.";
    case kErrorPipeBusy:
      return "All pipe instances are busy.";
    case kErrorNoData:
      return "The pipe is being closed.";
    case kErrorPipeNotConnected:
      return "No process is on the other end of the pipe.";
    case kErrorMoreData:
      return "More data is available.";
    case kErrorDirectory:
      return "The directory name is invalid.";
    case kErrorNotConnected:
      return "This network connection does not exist.";
    default:
      return "System Error.  Code: " + std::to_string(code) + ".";
  }
}

}  // namespace platform

// System error codes in the Windows numbering, so that code above this layer reads the same
// on every platform. Each platform call that fails sets the calling thread's last error to one
// of these codes (like GetLastError) and reports failure through its return value; nothing in
// platform/ throws.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum SysError : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorSemTimeout = 121,
  kErrorInvalidName = 123,
  kErrorDirNotEmpty = 145,
  kErrorAlreadyExists = 183,
  kErrorFilenameExcedRange = 206,
  kErrorPipeBusy = 231,
  kErrorNoData = 232,
  kErrorPipeNotConnected = 233,
  kErrorMoreData = 234,
  kErrorDirectory = 267,
  kErrorNotConnected = 2250,
};

// The calling thread's last error (GetLastError / SetLastError).
uint32_t GetLastError();
void SetLastError(uint32_t code);

// Maps an errno value of the host system to the numbering above (0 stays 0; unknown values
// become kErrorGenFailure). Used only by the platform implementation files.
uint32_t ErrorFromErrno(int err);

// The English system message for a code, without a trailing line break, e.g. 2 gives
// "The system cannot find the file specified."
std::string SysErrorMessage(uint32_t code);

}  // namespace platform

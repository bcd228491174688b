#include <cerrno>

#include "platform/SysError.h"
#include "platform/Win32.h"

namespace platform {

// The system's own last error, so that a code set by a Windows call and one set by this layer
// are read the same way.
uint32_t GetLastError() {
  return ::GetLastError();
}

void SetLastError(uint32_t code) {
  ::SetLastError(code);
}

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
    default:
      return kErrorGenFailure;
  }
}

std::string SysErrorMessage(uint32_t code) {
  char* text = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  // English first, as the program's internal texts are; the system's own language otherwise.
  DWORD n = ::FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0) {
    n = ::FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  }
  if (n == 0 || text == nullptr) return "System Error.  Code: " + std::to_string(code) + ".";
  std::string message(text, n);
  ::LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

}  // namespace platform


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

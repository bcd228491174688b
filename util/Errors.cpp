#include "util/Errors.h"

#include "platform/SysError.h"

namespace rb {

void RaiseOSError(uint32_t code) {
  if (code == 0) throw EOSError("A call to an OS function failed", 0);
  // Line breaks in working text are CR LF: the information box turns exactly those into breaks.
  throw EOSError(
      "System Error.  Code: " + std::to_string(code) + ".\r\n" + platform::SysErrorMessage(code),
      code);
}

void RaiseLastOSError() {
  RaiseOSError(platform::GetLastError());
}

}  // namespace rb

// The program's exception classes. Every error is an exception that carries its message
// text, 8-bit in the system code page like all working text ("Datenübergabe fehlerhaft!" holds
// the byte 0xFC). what() returns those bytes; convert at the user-interface boundary.
//
// Expected failures are not raised (see the callers); these are for the rest.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace rb {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Streams and files.
class EStreamError : public Exception {
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};

// An error of the operating system, with its Windows-numbered code.
class EOSError : public Exception {
 public:
  EOSError(const std::string& message, uint32_t code) : Exception(message), error_code_(code) {}
  uint32_t ErrorCode() const { return error_code_; }

 private:
  uint32_t error_code_;
};

// An input/output error of the run-time library (e.g. code 3 for a folder that cannot be made).
class EInOutError : public Exception {
 public:
  EInOutError(const std::string& message, int code) : Exception(message), error_code_(code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

class EListError : public Exception {
  using Exception::Exception;
};
class EDatabaseError : public Exception {
  using Exception::Exception;
};
class EConvertError : public Exception {
  using Exception::Exception;
};
// A variant that cannot be converted to the kind asked for.
class EVariantError : public Exception {
  using Exception::Exception;
};
class EVariantTypeCastError : public EVariantError {
  using EVariantError::EVariantError;
};
// A value outside the range of the kind it is converted to.
class EVariantOverflowError : public EVariantError {
  using EVariantError::EVariantError;
};
// An object used as a class it is not ("Invalid class typecast").
class EInvalidCast : public Exception {
  using Exception::Exception;
};

// Raise EOSError for a Windows-numbered code (or the calling thread's last error) with the text
// "System Error.  Code: <code>." CR LF "<system message>"; code 0 gives
// "A call to an OS function failed".
[[noreturn]] void RaiseOSError(uint32_t code);
[[noreturn]] void RaiseLastOSError();

}  // namespace rb

// The seam between the exchange-service client and the operating system's pipes: the calls of
// platform/Pipe.h plus the clock, behind an interface so that tests can script what a real
// socket cannot produce (a read failing with 234, a write failing half-way).
//
// Same contract as platform/Pipe.h: failures return kInvalidPipe or false and leave the Windows
// code for LastError(). SystemPipeApi() is the real implementation, shared and stateless.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/Pipe.h"

namespace rb {

class IPipeApi {
 public:
  virtual ~IPipeApi() = default;

  virtual platform::PipeHandle CreateFileA(std::string_view pipe_path, uint32_t desired_access,
                                           uint32_t share_mode, uint32_t creation) = 0;
  virtual bool WaitNamedPipeA(std::string_view pipe_path, uint32_t timeout_ms) = 0;
  virtual bool ReadFile(platform::PipeHandle pipe, void* buffer, uint32_t count,
                        uint32_t* bytes_read) = 0;
  virtual bool WriteFile(platform::PipeHandle pipe, const void* buffer, uint32_t count,
                         uint32_t* bytes_written) = 0;
  virtual bool CloseHandle(platform::PipeHandle pipe) = 0;
  virtual bool SetPipeTimeout(platform::PipeHandle pipe, uint32_t timeout_ms) = 0;
  virtual uint32_t LastError() = 0;
  // Milliseconds from a fixed start, monotonic.
  virtual uint64_t TickCount() = 0;
};

IPipeApi& SystemPipeApi();

}  // namespace rb

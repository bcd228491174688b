#include "exchange/PipeApi.h"

#include "platform/SysError.h"
#include "platform/System.h"

namespace rb {

namespace {

class TSystemPipeApi final : public IPipeApi {
 public:
  platform::PipeHandle CreateFileA(std::string_view pipe_path, uint32_t desired_access,
                                   uint32_t share_mode, uint32_t creation) override {
    return platform::CreateFileA(pipe_path, desired_access, share_mode, creation);
  }
  bool WaitNamedPipeA(std::string_view pipe_path, uint32_t timeout_ms) override {
    return platform::WaitNamedPipeA(pipe_path, timeout_ms);
  }
  bool ReadFile(platform::PipeHandle pipe, void* buffer, uint32_t count,
                uint32_t* bytes_read) override {
    return platform::ReadFile(pipe, buffer, count, bytes_read);
  }
  bool WriteFile(platform::PipeHandle pipe, const void* buffer, uint32_t count,
                 uint32_t* bytes_written) override {
    return platform::WriteFile(pipe, buffer, count, bytes_written);
  }
  bool CloseHandle(platform::PipeHandle pipe) override { return platform::CloseHandle(pipe); }
  bool SetPipeTimeout(platform::PipeHandle pipe, uint32_t timeout_ms) override {
    return platform::SetPipeTimeout(pipe, timeout_ms);
  }
  uint32_t LastError() override { return platform::GetLastError(); }
  uint64_t TickCount() override { return platform::GetTickCount64(); }
};

}  // namespace

IPipeApi& SystemPipeApi() {
  static TSystemPipeApi api;
  return api;
}

}  // namespace rb

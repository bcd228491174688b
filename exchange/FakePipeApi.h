// A scripted IPipeApi for tests: opens, waits and reads answer from queues filled by the test,
// every write is recorded, and the clock moves only when the test (or a wait) moves it.
// An exhausted queue answers like a peer that has gone away (109), so a test that scripts too
// little fails instead of hanging.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "exchange/PipeApi.h"
#include "platform/SysError.h"

namespace rb {

class TFakePipeApi : public IPipeApi {
 public:
  struct Step {
    bool ok = true;
    std::string bytes;   // delivered (read) or accepted (write) by this call
    uint32_t error = 0;  // GetLastError after the call
  };

  static Step Data(std::string bytes) { return {true, std::move(bytes), 0}; }
  static Step Failure(uint32_t error, std::string bytes = {}) {
    return {false, std::move(bytes), error};
  }

  std::deque<uint32_t> open_errors;  // one per CreateFileA; 0 opens the pipe
  std::deque<bool> wait_results;     // one per WaitNamedPipeA; missing: fails with 2
  uint32_t wait_error = platform::kErrorFileNotFound;
  uint64_t ms_per_wait = 0;  // the clock moves by this much in each wait
  // How long each read or write takes. One that would take longer than the handle's time-out
  // (SetPipeTimeout; 0: none) fails with 121 once the time-out has passed, moving nothing.
  uint64_t ms_per_read = 0;
  uint64_t ms_per_write = 0;
  std::vector<uint32_t> pipe_timeouts;  // every SetPipeTimeout, in order
  std::deque<Step> reads;
  std::deque<Step> write_results;   // one per WriteFile; missing: success
  std::vector<std::string> writes;  // the bytes of every write, failed ones included
  std::vector<std::string> open_paths;
  std::vector<uint32_t> wait_timeouts;
  int closes = 0;
  uint32_t pipe_timeout = 0;
  uint64_t now = 1000;

  platform::PipeHandle CreateFileA(std::string_view path, uint32_t, uint32_t, uint32_t) override {
    open_paths.emplace_back(path);
    uint32_t error = platform::kErrorFileNotFound;
    if (!open_errors.empty()) {
      error = open_errors.front();
      open_errors.pop_front();
    }
    last_error_ = error;
    return error == 0 ? 7 : platform::kInvalidPipe;
  }
  bool WaitNamedPipeA(std::string_view, uint32_t timeout_ms) override {
    wait_timeouts.push_back(timeout_ms);
    now += ms_per_wait;
    bool ok = false;
    if (!wait_results.empty()) {
      ok = wait_results.front();
      wait_results.pop_front();
    }
    last_error_ = ok ? 0 : wait_error;
    return ok;
  }
  bool ReadFile(platform::PipeHandle, void* buffer, uint32_t count, uint32_t* got) override {
    *got = 0;
    if (TimesOut(ms_per_read)) return false;
    if (reads.empty()) {
      last_error_ = platform::kErrorBrokenPipe;
      return false;
    }
    Step& step = reads.front();
    std::string part = step.bytes.substr(0, count);
    part.copy(static_cast<char*>(buffer), part.size());
    *got = static_cast<uint32_t>(part.size());
    last_error_ = step.error;
    const bool ok = step.ok;
    if (part.size() < step.bytes.size()) {
      step.bytes.erase(0, part.size());  // the rest comes with the next read
    } else {
      reads.pop_front();
    }
    return ok;
  }
  bool WriteFile(platform::PipeHandle, const void* buffer, uint32_t count,
                 uint32_t* written) override {
    writes.emplace_back(static_cast<const char*>(buffer), count);
    if (TimesOut(ms_per_write)) {
      *written = 0;
      return false;
    }
    Step result;
    if (!write_results.empty()) {
      result = write_results.front();
      write_results.pop_front();
    }
    *written = result.ok ? count : static_cast<uint32_t>(result.bytes.size());
    last_error_ = result.error;
    return result.ok;
  }
  bool CloseHandle(platform::PipeHandle) override {
    ++closes;
    return true;
  }
  bool SetPipeTimeout(platform::PipeHandle, uint32_t timeout_ms) override {
    pipe_timeout = timeout_ms;
    pipe_timeouts.push_back(timeout_ms);
    return true;
  }
  uint32_t LastError() override { return last_error_; }
  uint64_t TickCount() override { return now; }

 private:
  bool TimesOut(uint64_t ms) {
    if (pipe_timeout != 0 && ms > pipe_timeout) {
      now += pipe_timeout;
      last_error_ = platform::kErrorSemTimeout;
      return true;
    }
    now += ms;
    return false;
  }

  uint32_t last_error_ = 0;
};

// Frame helpers for scripting replies.
inline std::string Int64LE(int64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
  return out;
}

inline std::string RawEntry(std::u16string_view name, std::string_view value) {
  std::string out;
  const uint32_t name_bytes = static_cast<uint32_t>(2 * name.size());
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((name_bytes >> (8 * i)) & 0xFF);
  for (char16_t u : name) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  out += Int64LE(static_cast<int64_t>(value.size()));
  out += value;
  return out;
}

inline std::string Utf16LE(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

// A whole reply frame: ID length, ID, data size, data.
inline std::string ReplyFrame(const std::string& data, const std::string& id = "") {
  return Int64LE(static_cast<int64_t>(id.size())) + id +
         Int64LE(static_cast<int64_t>(data.size())) + data;
}

}  // namespace rb

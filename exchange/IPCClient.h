// TIPCClient carries one request message to the host's exchange service over a local named pipe
// and brings one reply message back. It knows nothing of what the messages mean.
//
// Frame, the same both ways (little-endian two's complement):
//   ID length 8 bytes signed | message ID, ID length bytes (8-bit text) |
//   data size 8 bytes signed | data, data size bytes (the value buffer of MessageData.h)
// A request goes out as three kinds of write: ID length and ID together, the data size, then
// the data in chunks of at most 65,536 bytes. A request with no ID and no data is 16 zero
// bytes. Before closing, the client writes the end marker: 8 bytes of 0xFF (ID length -1).
//
// Use: construct, SetServiceName, Transact (or OpenPipe, Exchange, ClosePipe), read
// ReplyReceived. One client serves one Transact on one thread. Nothing raises on a pipe
// failure: the step stops, LastErrorText/LastErrorCode say why, ReplyReceived stays false.
// The request belongs to the caller; the reply is created by Exchange once the request has
// gone out whole and may hold a partial reply when reading broke off.
//
// The exchange is bounded: writing the request and reading the reply end within ReadTimeout()
// (30 s unless set) of the connect, however the time is spent, or the step under way fails
// with 121; so a service that accepts and never answers, or stops reading a large request,
// cannot hold the caller longer than that for one try (the end marker then gets 1 ms). A reply
// that carries more data than it announced fails with 13 (the surplus is dropped), and so does
// one that announces an ID or data above the frame's limits (exchange/Frame.h: 64 KiB and
// 64 MiB), before anything of it is read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "exchange/MessageData.h"
#include "exchange/PipeApi.h"

namespace rb {

inline constexpr uint32_t kDefaultReadTimeoutMs = 30000;
inline constexpr uint32_t kIPCStagingSize = 65536;

class TIPCClient {
 public:
  // api must outlive the client.
  explicit TIPCClient(IPipeApi& api = SystemPipeApi());
  TIPCClient(const TIPCClient&) = delete;
  TIPCClient& operator=(const TIPCClient&) = delete;
  // Closes a pipe that is still open (with the end marker).
  ~TIPCClient();

  // Stores the name and composes PipePath "\\<HostName>\pipe\<name>".
  void SetServiceName(const std::string& name);
  // Connects within timeout_ms (0 makes no attempt and times out at once). A pipe still open
  // from an earlier call is closed first, and ReplyReceived is cleared. The time-out is
  // measured on the monotonic tick count, not the wall clock, so that a clock change while
  // waiting neither ends the wait early nor stretches it.
  void OpenPipe(uint32_t timeout_ms);
  // Sends the request on the open pipe and reads the reply into reply. REQUIRES: request is set.
  void Exchange(const TMessageRef& request, TMessageRef& reply);
  // Writes the end marker and closes; nothing when no pipe is open.
  void ClosePipe();
  // OpenPipe, Exchange when connected, and ClosePipe in every case. reply is cleared first, so
  // after a failed open it is empty.
  void Transact(const TMessageRef& request, uint32_t timeout_ms, TMessageRef& reply);

  // The bound of one exchange; 0 waits without bound. Takes effect at the next OpenPipe.
  void SetReadTimeout(uint32_t timeout_ms) { read_timeout_ms_ = timeout_ms; }
  uint32_t ReadTimeout() const { return read_timeout_ms_; }

  bool Connected() const { return connected_; }
  bool ReplyReceived() const { return reply_received_; }
  const std::string& LastErrorText() const { return last_error_text_; }
  uint32_t LastErrorCode() const { return last_error_code_; }
  const std::string& PipePath() const { return pipe_path_; }
  const std::string& ServiceName() const { return service_name_; }
  const std::string& HostName() const { return host_name_; }

 private:
  void Fail(const char* text, uint32_t code);
  // One read of up to count bytes into into; a read that reports 234 (more data) counts as
  // done, one that succeeds without a byte fails with 232. got holds what arrived, also on a
  // failure.
  bool ReadSome(char* into, uint32_t count, uint32_t& got);
  // Reads exactly count bytes (count <= kIPCStagingSize) into the staging buffer, piece by piece.
  bool ReadExact(uint32_t count);
  // Sets the handle's time-out to what is left of the try; false with 121 when nothing is.
  bool ArmTimeout();
  // The whole count, or false with the code in last_error_code_.
  bool Write(const void* bytes, uint32_t count);

  IPipeApi& api_;
  std::string pipe_path_;
  std::string last_error_text_;
  uint32_t last_error_code_ = 0;
  std::string service_name_;
  platform::PipeHandle pipe_handle_ = platform::kInvalidPipe;
  bool connected_ = false;
  bool reply_received_ = false;
  std::string host_name_ = ".";
  uint32_t read_timeout_ms_ = kDefaultReadTimeoutMs;
  uint64_t deadline_ = 0;  // on the tick count: the end of the exchange's bound
  std::unique_ptr<char[]> staging_;
};

}  // namespace rb

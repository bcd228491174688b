// Local named pipes, the stand-in for the Windows calls the exchange-service client makes
// (CreateFileA, WaitNamedPipeA, ReadFile, WriteFile, CloseHandle) and for the server side that
// the stand-in host needs (create the pipe, accept clients, remove the pipe on exit).
//
// Names: a pipe path has the Windows form "\\.\pipe\NAME". On POSIX the pipe NAME is the Unix
// domain stream socket <GetTempPath()>pipe/NAME, so only processes of the same user (and the
// same XDG_RUNTIME_DIR) meet. Only the local host "." is served.
//
// Failures return kInvalidPipe or false and set GetLastError() to the Windows code the client
// relies on:
//   2   no such pipe (no socket, or nobody listens on it any more);
//   123 the name cannot be a pipe (empty, contains '/' or a NUL, or too long for a socket);
//   231 the pipe exists but its queue is full (WaitNamedPipeA then helps);
//   109 the peer has closed its end (ReadFile at the end of the data);
//   232 WriteFile to a peer that has closed its end (Windows: "The pipe is being closed");
//   121 a read or write found no progress within the handle's time-out (SetPipeTimeout).
// ReadFile returns as soon as some bytes are there, like a byte-mode pipe; WriteFile writes all.
// Handles are plain values owned by whoever received them; close each one exactly once.
// Every call is safe on any thread; one handle is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using PipeHandle = intptr_t;
inline constexpr PipeHandle kInvalidPipe = -1;

inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kOpenExisting = 3;

// The socket file that stands for a pipe path, in the file system's encoding; false with 123
// (or 2 for another host than ".") when the path names no possible pipe.
bool PipeSocketPath(std::string_view pipe_path, std::string& socket_path);

// Opens the client end of a pipe. Only the access, share and creation values of a pipe open
// (read | write, 0, kOpenExisting) are meaningful; the handle starts without time-outs.
PipeHandle CreateFileA(std::string_view pipe_path, uint32_t desired_access, uint32_t share_mode,
                       uint32_t creation_disposition);

// Waits up to timeout_ms for the pipe to take another client. True means "try the open again";
// false with 2 at once when there is no such pipe, with 121 when the time ran out while busy.
bool WaitNamedPipeA(std::string_view pipe_path, uint32_t timeout_ms);

// Reads up to count bytes; bytes_read receives the count (0 on failure).
bool ReadFile(PipeHandle pipe, void* buffer, uint32_t count, uint32_t* bytes_read);
// Writes all count bytes; bytes_written receives how many went out before a failure.
bool WriteFile(PipeHandle pipe, const void* buffer, uint32_t count, uint32_t* bytes_written);
bool CloseHandle(PipeHandle pipe);

// Server side: ends the conversation on a handle that another thread may be blocked on, so
// that its ReadFile or WriteFile fails with 109 at once (DisconnectNamedPipe). The handle
// still has to be closed.
bool DisconnectPipe(PipeHandle pipe);

// Bounds every later ReadFile and WriteFile on the handle: a call that moves no byte within
// timeout_ms fails with 121. 0 means wait without bound (the default).
bool SetPipeTimeout(PipeHandle pipe, uint32_t timeout_ms);

// The server end of one pipe name: binds the socket (replacing a stale one that nobody listens
// on), accepts clients and removes the socket again on destruction. Movable, not copyable.
class PipeServer {
 public:
  PipeServer() = default;
  PipeServer(PipeServer&& other) noexcept;
  PipeServer& operator=(PipeServer&& other) noexcept;
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;
  ~PipeServer();

  // Creates the pipe NAME. backlog is how many clients may wait for Accept before further opens
  // fail with 231. On failure the server is not open: 123 for an impossible name, 183 when
  // another server is listening on the name, else the system's code.
  static PipeServer Create(std::string_view name, int backlog = 64);

  bool IsOpen() const { return listener_ >= 0; }
  const std::string& SocketPath() const { return socket_path_; }

  // The next client's handle, waiting up to timeout_ms (negative: without bound). kInvalidPipe
  // with 121 when nobody came in time, with another code on failure.
  PipeHandle Accept(int timeout_ms);

  // Stops listening and removes the socket file; Accept fails afterwards. Idempotent.
  void Close();

 private:
  // POSIX: the listening socket. Windows: the key of the waiting pipe instances in the
  // implementation's table.
  intptr_t listener_ = -1;
  std::string socket_path_;  // POSIX: the socket file. Windows: the pipe path
};

}  // namespace platform

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Ascii.h"
#include "platform/Pipe.h"
#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/Win32.h"

// Handles given out here are keys into a table, not the system's handles: a handle that one
// thread disconnects while another is blocked on it must stay a valid system handle until that
// other call has returned, and it carries its time-out with it. Every pipe handle is opened for
// overlapped I/O so that a bounded read or write can be given up (CancelIoEx); the calls below
// still block their caller as synchronous ones do.

namespace platform {

namespace {

constexpr DWORD kPipeBuffer = 65536;

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

// One system handle, closed when the last user lets it go.
struct Raw {
  explicit Raw(HANDLE handle) : h(handle) {}
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;
  ~Raw() { ::CloseHandle(h); }
  HANDLE h;
};

struct Entry {
  std::shared_ptr<Raw> raw;  // empty once disconnected
  uint32_t timeout_ms = 0;
};

struct Table {
  std::mutex mutex;
  std::map<PipeHandle, Entry> entries;
  PipeHandle next = 1;
};

Table& Handles() {
  static Table table;
  return table;
}

PipeHandle Register(HANDLE h) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  const PipeHandle key = t.next++;
  t.entries[key].raw = std::make_shared<Raw>(h);
  return key;
}

// The handle's system handle and time-out; false with 6 for an unknown key, 109 for one
// that was disconnected.
bool Lookup(PipeHandle pipe, std::shared_ptr<Raw>& raw, uint32_t& timeout_ms) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  const auto it = t.entries.find(pipe);
  if (it == t.entries.end()) return Fail(kErrorInvalidHandle);
  if (!it->second.raw) return Fail(kErrorBrokenPipe);
  raw = it->second.raw;
  timeout_ms = it->second.timeout_ms;
  return true;
}

// Takes the system handle from the key (6 for an unknown key); forget drops the key too,
// otherwise it stays behind as disconnected. The caller's raw lets the handle go outside the lock.
bool Detach(PipeHandle pipe, bool forget, std::shared_ptr<Raw>& raw) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  const auto it = t.entries.find(pipe);
  if (it == t.entries.end()) return Fail(kErrorInvalidHandle);
  raw = std::move(it->second.raw);
  if (forget) t.entries.erase(it);
  return true;
}

bool Disconnected(PipeHandle pipe) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  const auto it = t.entries.find(pipe);
  return it != t.entries.end() && !it->second.raw;
}

// One read or write, waiting up to timeout_ms (0: without bound) for it to complete.
bool Transfer(PipeHandle pipe, bool write, void* buffer, DWORD count, DWORD& done,
              uint64_t deadline) {
  done = 0;
  std::shared_ptr<Raw> raw;
  uint32_t timeout_ms = 0;
  if (!Lookup(pipe, raw, timeout_ms)) return false;
  ScopedHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event.Valid()) return false;
  OVERLAPPED ov{};
  ov.hEvent = event.Get();
  const BOOL started = write ? ::WriteFile(raw->h, buffer, count, nullptr, &ov)
                             : ::ReadFile(raw->h, buffer, count, nullptr, &ov);
  DWORD err = started ? ERROR_SUCCESS : ::GetLastError();
  if (!started && err != ERROR_IO_PENDING) {
    if (err == ERROR_MORE_DATA) ::GetOverlappedResult(raw->h, &ov, &done, TRUE);
    if (Disconnected(pipe)) err = kErrorBrokenPipe;
    return Fail(err);
  }
  bool timed_out = false;
  if (!started && timeout_ms != 0) {
    const uint64_t now = GetTickCount64();
    const uint64_t end = deadline != 0 ? deadline : now + timeout_ms;
    const DWORD wait =
        end > now ? static_cast<DWORD>(std::min<uint64_t>(end - now, INFINITE - 1)) : 0;
    if (::WaitForSingleObject(event.Get(), wait) == WAIT_TIMEOUT) {
      timed_out = true;
      ::CancelIoEx(raw->h, &ov);
    }
  }
  if (::GetOverlappedResult(raw->h, &ov, &done, TRUE)) return true;
  err = ::GetLastError();
  if (err == ERROR_MORE_DATA) return Fail(err);  // the bytes are there; the caller decides
  if (timed_out && err == ERROR_OPERATION_ABORTED) return Fail(kErrorSemTimeout);
  if (Disconnected(pipe)) return Fail(kErrorBrokenPipe);
  return Fail(err);
}

// "\\host\pipe\name" split; false with 123 when the path has not that form.
bool SplitPipePath(std::string_view pipe_path, std::string_view& host, std::string_view& name) {
  if (pipe_path.size() < 2 || pipe_path.substr(0, 2) != "\\\\") return Fail(kErrorInvalidName);
  std::string_view rest = pipe_path.substr(2);
  const size_t host_end = rest.find('\\');
  if (host_end == std::string_view::npos) return Fail(kErrorInvalidName);
  host = rest.substr(0, host_end);
  rest = rest.substr(host_end + 1);
  const size_t pipe_end = rest.find('\\');
  if (pipe_end == std::string_view::npos ||
      !EqualsIgnoringAsciiCase(rest.substr(0, pipe_end), "pipe")) {
    return Fail(kErrorInvalidName);
  }
  name = rest.substr(pipe_end + 1);
  return true;
}

// The instances of one pipe name that wait for clients, each with its pending connect.
struct Waiting {
  HANDLE h = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED ov{};
  bool connected = false;  // the connect completed at once
};

struct Server {
  std::string path;
  std::vector<std::unique_ptr<Waiting>> waiting;
  ~Server() {
    for (auto& w : waiting)
      Drop(*w);
  }
  static void Drop(Waiting& w) {
    if (w.h != INVALID_HANDLE_VALUE) {
      ::CancelIoEx(w.h, &w.ov);
      DWORD ignored = 0;
      ::GetOverlappedResult(w.h, &w.ov, &ignored, TRUE);
      ::CloseHandle(w.h);
      w.h = INVALID_HANDLE_VALUE;
    }
    if (w.event != nullptr) ::CloseHandle(w.event);
    w.event = nullptr;
  }
};

std::mutex servers_mutex;
std::map<intptr_t, std::unique_ptr<Server>> servers;
intptr_t next_server = 1;

// A new instance of the pipe, listening; false with the system's error.
bool Listen(const std::string& path, bool first, Waiting& w) {
  const DWORD open_mode =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  w.h = ::CreateNamedPipeA(
      path.c_str(), open_mode,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, nullptr);
  if (w.h == INVALID_HANDLE_VALUE) return false;
  w.event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  w.ov = OVERLAPPED{};
  w.ov.hEvent = w.event;
  w.connected = false;
  if (::ConnectNamedPipe(w.h, &w.ov)) return true;
  switch (::GetLastError()) {
    case ERROR_IO_PENDING:
      return true;
    case ERROR_PIPE_CONNECTED:  // a client came between create and connect
      w.connected = true;
      ::SetEvent(w.event);
      return true;
    default: {
      const DWORD err = ::GetLastError();
      Server::Drop(w);
      return Fail(err);
    }
  }
}

}  // namespace

bool PipeSocketPath(std::string_view pipe_path, std::string& socket_path) {
  std::string_view host, name;
  if (!SplitPipePath(pipe_path, host, name)) return false;
  if (host != ".") return Fail(kErrorFileNotFound);
  if (name.empty() || name.find('\0') != std::string_view::npos) return Fail(kErrorInvalidName);
  socket_path.assign(pipe_path);
  return true;
}

PipeHandle CreateFileA(std::string_view pipe_path, uint32_t desired_access, uint32_t share_mode,
                       uint32_t creation_disposition) {
  if (pipe_path.find('\0') != std::string_view::npos) {
    SetLastError(kErrorInvalidName);
    return kInvalidPipe;
  }
  // "\\.\pipe\" alone opens the pipe file system's root, which takes no request: it names no
  // pipe, and the client is told so at once.
  std::string_view host, name;
  if (SplitPipePath(pipe_path, host, name) && name.empty()) {
    SetLastError(kErrorInvalidName);
    return kInvalidPipe;
  }
  const std::string path(pipe_path);
  HANDLE h = ::CreateFileA(path.c_str(), desired_access, share_mode, nullptr, creation_disposition,
                           FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kInvalidPipe;
  const PipeHandle pipe = Register(h);
  SetLastError(kErrorSuccess);
  return pipe;
}

bool WaitNamedPipeA(std::string_view pipe_path, uint32_t timeout_ms) {
  if (pipe_path.find('\0') != std::string_view::npos) return Fail(kErrorInvalidName);
  const std::string path(pipe_path);
  return ::WaitNamedPipeA(path.c_str(), timeout_ms) != FALSE;
}

bool ReadFile(PipeHandle pipe, void* buffer, uint32_t count, uint32_t* bytes_read) {
  DWORD done = 0;
  const bool ok = Transfer(pipe, false, buffer, count, done, 0);
  if (bytes_read != nullptr) *bytes_read = done;
  if (ok) SetLastError(kErrorSuccess);
  return ok;
}

bool WriteFile(PipeHandle pipe, const void* buffer, uint32_t count, uint32_t* bytes_written) {
  if (bytes_written != nullptr) *bytes_written = 0;
  std::shared_ptr<Raw> raw;
  uint32_t timeout_ms = 0;
  if (!Lookup(pipe, raw, timeout_ms)) return false;
  raw.reset();
  // The handle's time-out bounds the whole call, not each piece: a peer that takes a few
  // bytes now and then must not stretch one write without end.
  const uint64_t deadline = timeout_ms != 0 ? GetTickCount64() + timeout_ms : 0;
  const char* p = static_cast<const char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD done = 0;
    if (!Transfer(pipe, true, const_cast<char*>(p + total), count - total, done, deadline)) {
      return false;
    }
    total += done;
    if (bytes_written != nullptr) *bytes_written = total;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool CloseHandle(PipeHandle pipe) {
  std::shared_ptr<Raw> raw;
  return Detach(pipe, true, raw);  // the system handle closes with its last user, after the lock
}

bool DisconnectPipe(PipeHandle pipe) {
  std::shared_ptr<Raw> raw;
  if (!Detach(pipe, false, raw)) return false;
  // Closing (not DisconnectNamedPipe) lets the peer still read what was written before: the
  // last reply must not be thrown away.
  if (raw) ::CancelIoEx(raw->h, nullptr);
  return true;
}

bool SetPipeTimeout(PipeHandle pipe, uint32_t timeout_ms) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  const auto it = t.entries.find(pipe);
  if (it == t.entries.end()) return Fail(kErrorInvalidHandle);
  it->second.timeout_ms = timeout_ms;
  return true;
}

PipeServer PipeServer::Create(std::string_view name, int backlog) {
  PipeServer server;
  if (name.empty() || name.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos ||
      name.size() > 256 - 9) {
    SetLastError(kErrorInvalidName);
    return server;
  }
  auto state = std::make_unique<Server>();
  state->path = "\\\\.\\pipe\\" + std::string(name);
  // Another server's pipe of this name: FILE_FLAG_FIRST_PIPE_INSTANCE below refuses it on
  // Windows, but Wine ignores the flag, so ask first whether the name answers at all.
  if (::WaitNamedPipeA(state->path.c_str(), 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    SetLastError(kErrorAlreadyExists);
    return server;
  }
  // As many instances wait as clients may queue; the next client finds them all busy (231).
  const int count = std::clamp(backlog, 1, MAXIMUM_WAIT_OBJECTS);
  for (int i = 0; i < count; ++i) {
    auto w = std::make_unique<Waiting>();
    if (!Listen(state->path, i == 0, *w)) {
      // The first instance of a name that another server holds is refused with 5.
      if (i == 0 && ::GetLastError() == ERROR_ACCESS_DENIED) SetLastError(kErrorAlreadyExists);
      return server;
    }
    state->waiting.push_back(std::move(w));
  }
  server.socket_path_ = state->path;
  std::lock_guard<std::mutex> lock(servers_mutex);
  server.listener_ = next_server++;
  servers[server.listener_] = std::move(state);
  SetLastError(kErrorSuccess);
  return server;
}

PipeHandle PipeServer::Accept(int timeout_ms) {
  Server* state = nullptr;
  {
    std::lock_guard<std::mutex> lock(servers_mutex);
    const auto it = servers.find(listener_);
    if (it != servers.end()) state = it->second.get();
  }
  if (state == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return kInvalidPipe;
  }
  std::vector<HANDLE> events;
  for (const auto& w : state->waiting)
    events.push_back(w->event);
  const DWORD rc = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                            timeout_ms < 0 ? INFINITE : timeout_ms);
  if (rc == WAIT_TIMEOUT) {
    SetLastError(kErrorSemTimeout);
    return kInvalidPipe;
  }
  if (rc >= WAIT_OBJECT_0 + events.size()) return kInvalidPipe;
  Waiting& w = *state->waiting[rc - WAIT_OBJECT_0];
  DWORD ignored = 0;
  const bool ok = w.connected || ::GetOverlappedResult(w.h, &w.ov, &ignored, FALSE);
  const DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
  HANDLE connected = w.h;
  ::CloseHandle(w.event);
  w.h = INVALID_HANDLE_VALUE;
  w.event = nullptr;
  // Another instance takes this one's place before the client is handed over.
  const bool replaced = Listen(state->path, false, w);
  if (!ok) {
    // A client that came and went before we looked: its instance is of no use.
    ::CloseHandle(connected);
    SetLastError(err == ERROR_NO_DATA ? uint32_t{kErrorBrokenPipe} : err);
    return kInvalidPipe;
  }
  if (!replaced) {
    // No new instance: this slot waits no more, but the client is served.
    w.event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  const PipeHandle pipe = Register(connected);
  SetLastError(kErrorSuccess);
  return pipe;
}

void PipeServer::Close() {
  if (listener_ < 0) return;
  std::unique_ptr<Server> state;
  {
    std::lock_guard<std::mutex> lock(servers_mutex);
    const auto it = servers.find(listener_);
    if (it != servers.end()) {
      state = std::move(it->second);
      servers.erase(it);
    }
  }
  listener_ = -1;
}

}  // namespace platform

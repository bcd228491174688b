#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "platform/Ascii.h"
#include "platform/File.h"
#include "platform/Pipe.h"
#include "platform/SysError.h"
#include "platform/System.h"

namespace platform {

namespace {

// How long WaitNamedPipeA sleeps before letting the caller try the open again. Short, because
// a busy host frees its queue within milliseconds.
constexpr uint32_t kWaitPollMs = 5;

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

uint32_t ErrnoCode(int err) {
  switch (err) {
    case EAGAIN:  // the socket's time-out ran out (SO_RCVTIMEO / SO_SNDTIMEO)
      return kErrorSemTimeout;
    case ECONNRESET:
    case EPIPE:
      return kErrorBrokenPipe;
    default:
      return ErrorFromErrno(err);
  }
}

// The pipe folder in the file system's encoding, ending in '/'; empty with the error set.
std::string PipeFolder() {
  std::string temp;
  if (!GetTempPath(temp)) return {};
  return NativePath(temp) + "pipe/";
}

bool SocketPathForName(std::string_view name, std::string& socket_path) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return Fail(kErrorInvalidName);
  }
  std::string folder = PipeFolder();
  if (folder.empty()) return false;
  std::string path = folder + NativePath(name);
  if (path.size() >= sizeof(sockaddr_un::sun_path)) return Fail(kErrorInvalidName);
  socket_path = std::move(path);
  return true;
}

sockaddr_un AddressOf(const std::string& socket_path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
  return addr;
}

// Whether a listening stream socket is bound at the path, from the kernel's socket table.
// Without that table (no /proc) every existing socket file counts as listening.
bool IsListening(const std::string& socket_path) {
  std::ifstream table("/proc/net/unix");
  if (!table) return true;
  constexpr unsigned long kAcceptsConnections = 0x10000;  // __SO_ACCEPTCON
  std::string line;
  std::getline(table, line);  // column titles
  while (std::getline(table, line)) {
    if (line.size() <= socket_path.size() ||
        line.compare(line.size() - socket_path.size(), socket_path.size(), socket_path) != 0 ||
        line[line.size() - socket_path.size() - 1] != ' ') {
      continue;
    }
    // "Num: RefCount Protocol Flags Type St Inode Path"
    char num[32];
    unsigned long ref_count = 0, protocol = 0, flags = 0;
    if (std::sscanf(line.c_str(), "%31s %lx %lx %lx", num, &ref_count, &protocol, &flags) == 4 &&
        (flags & kAcceptsConnections) != 0) {
      return true;
    }
  }
  return false;
}

// Connects without waiting for room in the listener's queue. 0 and the connected socket on
// success, else the Windows code.
uint32_t ConnectNow(const std::string& socket_path, int& fd_out) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ErrorFromErrno(errno);
  sockaddr_un addr = AddressOf(socket_path);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    ::close(fd);
    switch (err) {
      case EAGAIN:
      case EINPROGRESS:
        return kErrorPipeBusy;
      case ENOENT:
      case ECONNREFUSED:
      case ENOTSOCK:
      case ENOTDIR:
        return kErrorFileNotFound;
      default:
        return ErrorFromErrno(err);
    }
  }
  int fl = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  fd_out = fd;
  return kErrorSuccess;
}

int FdOf(PipeHandle pipe) {
  return pipe < 0 || pipe > INT32_MAX ? -1 : static_cast<int>(pipe);
}

}  // namespace

bool PipeSocketPath(std::string_view pipe_path, std::string& socket_path) {
  // "\\" host "\" "pipe" "\" name
  if (pipe_path.size() < 2 || pipe_path.substr(0, 2) != "\\\\") return Fail(kErrorInvalidName);
  std::string_view rest = pipe_path.substr(2);
  size_t host_end = rest.find('\\');
  if (host_end == std::string_view::npos) return Fail(kErrorInvalidName);
  std::string_view host = rest.substr(0, host_end);
  rest = rest.substr(host_end + 1);
  size_t pipe_end = rest.find('\\');
  if (pipe_end == std::string_view::npos ||
      !EqualsIgnoringAsciiCase(rest.substr(0, pipe_end), "pipe")) {
    return Fail(kErrorInvalidName);
  }
  if (host != ".") return Fail(kErrorFileNotFound);
  return SocketPathForName(rest.substr(pipe_end + 1), socket_path);
}

PipeHandle CreateFileA(std::string_view pipe_path, uint32_t desired_access, uint32_t share_mode,
                       uint32_t creation_disposition) {
  (void)desired_access;
  (void)share_mode;
  if (creation_disposition != kOpenExisting) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidPipe;
  }
  std::string socket_path;
  if (!PipeSocketPath(pipe_path, socket_path)) return kInvalidPipe;
  int fd = -1;
  uint32_t code = ConnectNow(socket_path, fd);
  if (code != kErrorSuccess) {
    SetLastError(code);
    return kInvalidPipe;
  }
  SetLastError(kErrorSuccess);
  return fd;
}

bool WaitNamedPipeA(std::string_view pipe_path, uint32_t timeout_ms) {
  std::string socket_path;
  if (!PipeSocketPath(pipe_path, socket_path)) return false;
  struct stat st {};
  if (::stat(socket_path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || !IsListening(socket_path)) {
    return Fail(kErrorFileNotFound);
  }
  if (timeout_ms <= kWaitPollMs) {
    Sleep(timeout_ms);
    return Fail(kErrorSemTimeout);
  }
  Sleep(kWaitPollMs);
  SetLastError(kErrorSuccess);
  return true;
}

bool ReadFile(PipeHandle pipe, void* buffer, uint32_t count, uint32_t* bytes_read) {
  if (bytes_read != nullptr) *bytes_read = 0;
  int fd = FdOf(pipe);
  if (fd < 0) return Fail(kErrorInvalidHandle);
  if (count == 0) return true;
  ssize_t n;
  do {
    n = ::recv(fd, buffer, count, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(ErrnoCode(errno));
  if (n == 0) return Fail(kErrorBrokenPipe);
  if (bytes_read != nullptr) *bytes_read = static_cast<uint32_t>(n);
  SetLastError(kErrorSuccess);
  return true;
}

bool WriteFile(PipeHandle pipe, const void* buffer, uint32_t count, uint32_t* bytes_written) {
  if (bytes_written != nullptr) *bytes_written = 0;
  int fd = FdOf(pipe);
  if (fd < 0) return Fail(kErrorInvalidHandle);
  // The handle's time-out bounds the whole call, not each send: a peer that takes a few bytes
  // now and then must not stretch one write without end.
  timeval tv{};
  socklen_t tv_size = sizeof(tv);
  int64_t bound_ms = 0;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &tv_size) == 0) {
    bound_ms = static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
  }
  const uint64_t deadline = GetTickCount64() + static_cast<uint64_t>(bound_ms);
  const char* p = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    if (bound_ms > 0) {
      const uint64_t now = GetTickCount64();
      if (now >= deadline) return Fail(kErrorSemTimeout);
      pollfd pfd{fd, POLLOUT, 0};
      const int rc =
          ::poll(&pfd, 1, static_cast<int>(std::min<uint64_t>(deadline - now, INT32_MAX)));
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0) return Fail(ErrnoCode(errno));
      if (rc == 0) return Fail(kErrorSemTimeout);
    }
    ssize_t n =
        ::send(fd, p + done, count - done, MSG_NOSIGNAL | (bound_ms > 0 ? MSG_DONTWAIT : 0));
    if (n < 0) {
      if (errno == EINTR || (bound_ms > 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) continue;
      // Windows tells a write to a pipe whose reader is gone as "being closed", not "ended".
      if (errno == EPIPE || errno == ECONNRESET) return Fail(kErrorNoData);
      return Fail(ErrnoCode(errno));
    }
    done += static_cast<uint32_t>(n);
    if (bytes_written != nullptr) *bytes_written = done;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool CloseHandle(PipeHandle pipe) {
  int fd = FdOf(pipe);
  if (fd < 0) return Fail(kErrorInvalidHandle);
  ::close(fd);  // the descriptor is gone whatever close reports
  return true;
}

bool DisconnectPipe(PipeHandle pipe) {
  int fd = FdOf(pipe);
  if (fd < 0) return Fail(kErrorInvalidHandle);
  if (::shutdown(fd, SHUT_RDWR) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

bool SetPipeTimeout(PipeHandle pipe, uint32_t timeout_ms) {
  int fd = FdOf(pipe);
  if (fd < 0) return Fail(kErrorInvalidHandle);
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout_ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0) {
    return Fail(ErrorFromErrno(errno));
  }
  return true;
}

PipeServer PipeServer::Create(std::string_view name, int backlog) {
  PipeServer server;
  std::string socket_path;
  if (!SocketPathForName(name, socket_path)) return server;
  std::string folder = socket_path.substr(0, socket_path.rfind('/'));
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    SetLastError(ErrorFromErrno(errno));
    return server;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return server;
  }
  sockaddr_un addr = AddressOf(socket_path);
  auto bind_now = [&] {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  };
  int rc = bind_now();
  if (rc != 0 && errno == EADDRINUSE) {
    // A socket file is there. If a server still answers on it the name is taken; otherwise it
    // is left over from a server that died, and is replaced.
    struct stat st {};
    int probe = -1;
    uint32_t code = ::lstat(socket_path.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)
                        ? kErrorAlreadyExists  // not ours to remove
                        : ConnectNow(socket_path, probe);
    if (code == kErrorSuccess || code == kErrorPipeBusy || code == kErrorAlreadyExists) {
      if (probe >= 0) ::close(probe);
      ::close(fd);
      SetLastError(kErrorAlreadyExists);
      return server;
    }
    ::unlink(socket_path.c_str());
    rc = bind_now();
  }
  if (rc != 0 || ::listen(fd, backlog) != 0) {
    SetLastError(ErrorFromErrno(errno));
    if (rc == 0) ::unlink(socket_path.c_str());
    ::close(fd);
    return server;
  }
  server.listener_ = fd;
  server.socket_path_ = std::move(socket_path);
  SetLastError(kErrorSuccess);
  return server;
}

PipeHandle PipeServer::Accept(int timeout_ms) {
  if (listener_ < 0) {
    SetLastError(kErrorInvalidHandle);
    return kInvalidPipe;
  }
  pollfd pfd{static_cast<int>(listener_), POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&pfd, 1, timeout_ms < 0 ? -1 : timeout_ms);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) {
    SetLastError(kErrorSemTimeout);
    return kInvalidPipe;
  }
  if (rc < 0) {
    SetLastError(ErrorFromErrno(errno));
    return kInvalidPipe;
  }
  int fd;
  do {
    fd = ::accept4(static_cast<int>(listener_), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return kInvalidPipe;
  }
  SetLastError(kErrorSuccess);
  return fd;
}

void PipeServer::Close() {
  if (listener_ >= 0) {
    ::close(static_cast<int>(listener_));
    listener_ = -1;
    ::unlink(socket_path_.c_str());
  }
}

}  // namespace platform

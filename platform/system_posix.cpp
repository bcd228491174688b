#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "platform/File.h"
#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/TempPath_posix.h"

namespace platform {

namespace {

void SetErrno() {
  SetLastError(ErrorFromErrno(errno));
}

bool IsAbsolute(const char* path) {
  return path != nullptr && path[0] == '/';
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

void FillRandom(uint8_t* bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::getrandom(bytes + done, count - done, 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  if (done < count) {
    // No getrandom (old kernel, seccomp): the library's source is still non-deterministic.
    std::random_device rd;
    for (; done < count; ++done)
      bytes[done] = static_cast<uint8_t>(rd());
  }
}

// The native form of the user's private temporary folder; the trust check's code on failure.
uint32_t NativeTempFolder(std::string& folder) {
  folder = ChoosePrivateTempFolder(std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"),
                                   static_cast<uint32_t>(::geteuid()));
  return EnsurePrivateFolder(folder, static_cast<uint32_t>(::geteuid()));
}

// The lock file that stands for a marker name, in the private temporary folder; empty when that
// folder cannot be used. Path delimiters in the name become '_' ("Global\{...}" is one name).
std::string MarkerFile(std::string_view name) {
  std::string folder;
  if (NativeTempFolder(folder) != 0) return {};
  std::string file = NativePath(name);
  for (char& c : file) {
    if (c == '/' || c == '\\') c = '_';
  }
  return folder + file + ".lock";
}

}  // namespace

void Sleep(uint32_t ms) {
  if (ms == 0) {
    ::sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t GetTickCount64() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t GetTickCount() {
  return static_cast<uint32_t>(GetTickCount64());
}

std::chrono::local_time<std::chrono::milliseconds> LocalNow() {
  using namespace std::chrono;
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm local{};
  ::localtime_r(&secs, &local);
  // The zone's offset at this moment, as the system knows it; a leap second is folded in.
  return local_time<milliseconds>{seconds{secs + local.tm_gmtoff}} +
         milliseconds{ts.tv_nsec / 1000000};
}

Guid NewGuid() {
  uint8_t b[16];
  FillRandom(b, sizeof b);
  Guid g;
  g.data1 = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  g.data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
  // Version 4 in the top nibble of data3, the variant bits 10 at the top of data4[0].
  g.data3 = static_cast<uint16_t>(((b[6] & 0x0F) | 0x40) << 8 | b[7]);
  g.data4[0] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  for (size_t i = 1; i < 8; ++i)
    g.data4[i] = b[8 + i];
  return g;
}

std::string ChoosePrivateTempFolder(const char* runtime_dir, const char* tmp_dir, uint32_t uid) {
  if (IsAbsolute(runtime_dir)) return WithSlash(runtime_dir);
  std::string base = IsAbsolute(tmp_dir) ? WithSlash(tmp_dir) : std::string("/tmp/");
  return base + "ratenblick-" + std::to_string(uid) + "/";
}

namespace {

// mkdir -p with mode 0700 for every folder it makes; 0 or errno. A folder that another process
// makes in the meantime counts as made.
int MakeFolderChain(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return 0;
  if (errno != ENOENT) return errno;
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return ENOENT;
  if (const int err = MakeFolderChain(path.substr(0, slash)); err != 0) return err;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

}  // namespace

uint32_t EnsurePrivateFolder(const std::string& folder, uint32_t uid) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return ErrorFromErrno(errno);
    // Another process may create it between the two calls; lstat below decides either way.
    if (const int err = MakeFolderChain(path); err != 0) {
      return err == ENOENT ? kErrorPathNotFound : ErrorFromErrno(err);
    }
    if (::lstat(path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  }
  if (S_ISLNK(st.st_mode)) return kErrorAccessDenied;
  if (!S_ISDIR(st.st_mode)) return kErrorDirectory;
  if (st.st_uid != uid) return kErrorAccessDenied;
  // Private means no access for group or others at all: a folder with 0755, as a generic
  // folder creation leaves it, was not made to be private and is not taken for it.
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) return kErrorAccessDenied;
  return kErrorSuccess;
}

bool GetTempPath(std::string& path) {
  std::string native;
  const uint32_t code = NativeTempFolder(native);
  path = AnsiPathFromNative(native);
  SetLastError(code);
  return code == kErrorSuccess;
}

bool SetEnv(std::string_view name, std::string_view value) {
  if (::setenv(std::string(name).c_str(), std::string(value).c_str(), 1) != 0) {
    SetErrno();
    return false;
  }
  return true;
}

bool UnsetEnv(std::string_view name) {
  if (::unsetenv(std::string(name).c_str()) != 0) {
    SetErrno();
    return false;
  }
  return true;
}

std::string_view TempPathVariable() {
  return "XDG_RUNTIME_DIR";
}

std::string ProgramFolder() {
  std::string buffer(4096, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      SetErrno();
      return {};
    }
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find_last_of('/') + 1);
  SetLastError(kErrorSuccess);
  return AnsiPathFromNative(buffer);
}

PresenceMarker::PresenceMarker(std::string_view name) {
  const std::string file = MarkerFile(name);
  if (file.empty()) return;
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    SetErrno();
    return;
  }
  // Every holder keeps a shared lock; IsPresent asks for an exclusive one.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    SetErrno();
    ::close(fd);
    return;
  }
  handle_ = fd;
}

PresenceMarker::~PresenceMarker() {
  if (handle_ >= 0) ::close(handle_);
}

bool PresenceMarker::IsPresent(std::string_view name) {
  const std::string file = MarkerFile(name);
  if (file.empty()) return false;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace platform

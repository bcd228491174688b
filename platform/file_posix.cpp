#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/SysError.h"

namespace platform {

namespace {

void SetErrno() {
  SetLastError(ErrorFromErrno(errno));
}

// Appends the UTF-8 form of one UTF-16 unit (the code page never yields surrogates).
void AppendUtf8(std::string& out, char16_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

// Sharing as Windows decides it: an open fails when it wants an access that an open handle
// does not share, or when it refuses to share an access that an open handle has. Each handle
// describes itself with shared open-file-description locks on single bytes far beyond any
// data (kHasRead, kHasWrite, kDeniesRead, kDeniesWrite), and a new open looks for conflicting
// bytes first. A short flock() on the file makes look-and-take one step between openers.
// Only cooperating processes (ours) see these locks; a program that ignores advisory locks is
// not kept out.
constexpr off_t kShareBytes = 0x7FFFFFFF00000000;
enum ShareByte { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

bool HeldByOthers(int fd, ShareByte byte) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kShareBytes + byte;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool TakeShared(int fd, ShareByte byte) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kShareBytes + byte;
  fl.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Takes the sharing locks for a new handle fd, or reports a conflict with false. Read locks
// need a readable descriptor: a write-only handle gets a second, read-only one (lock_fd) that
// lives as long as the handle. Where the file system has no such locks, sharing is not
// enforced rather than every open failing.
bool AcquireSharing(int fd, const std::string& native, FileAccess access, FileShare share,
                    int& lock_fd) {
  const bool reads = access != FileAccess::kWrite;
  const bool writes = access != FileAccess::kRead;
  const bool denies_read = share == FileShare::kExclusive || share == FileShare::kDenyRead;
  const bool denies_write = share == FileShare::kExclusive || share == FileShare::kDenyWrite;
  int lfd = fd;
  if (!reads) {
    lock_fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (lock_fd < 0) return true;  // cannot read it: nothing to lock with
    lfd = lock_fd;
  }
  // Our openers hold the guard for microseconds; a foreign program that keeps an flock() on the
  // file must not hang us, so after a quarter of a second the check goes on without the guard.
  bool guarded = false;
  for (int i = 0; i < 250 && !guarded; ++i) {
    guarded = ::flock(lfd, LOCK_EX | LOCK_NB) == 0;
    if (!guarded && errno != EWOULDBLOCK && errno != EINTR) break;
    if (!guarded) {
      timespec ms{0, 1000000};
      ::nanosleep(&ms, nullptr);
    }
  }
  bool ok = !(reads && HeldByOthers(lfd, kDeniesRead)) &&
            !(writes && HeldByOthers(lfd, kDeniesWrite)) &&
            !(denies_read && HeldByOthers(lfd, kHasRead)) &&
            !(denies_write && HeldByOthers(lfd, kHasWrite));
  if (ok) {
    if (reads) ok = TakeShared(lfd, kHasRead) || errno == EINVAL;
    if (ok && writes) ok = TakeShared(lfd, kHasWrite) || errno == EINVAL;
    if (ok && denies_read) ok = TakeShared(lfd, kDeniesRead) || errno == EINVAL;
    if (ok && denies_write) ok = TakeShared(lfd, kDeniesWrite) || errno == EINVAL;
  }
  if (guarded) ::flock(lfd, LOCK_UN);
  if (!ok && lock_fd >= 0) {
    ::close(lock_fd);
    lock_fd = -1;
  }
  return ok;
}

}  // namespace

std::string NativePath(std::string_view ansi_path) {
  std::string out;
  out.reserve(ansi_path.size());
  for (char c : ansi_path)
    AppendUtf8(out, AnsiCharToWide(static_cast<unsigned char>(c)));
  return out;
}

std::string AnsiPathFromNative(std::string_view p) {
  std::u16string wide;
  for (size_t i = 0; i < p.size();) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    auto cont = [&](size_t k) {
      return i + k < p.size() && (static_cast<unsigned char>(p[i + k]) & 0xC0) == 0x80;
    };
    if (c < 0x80) {
      wide += c;
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2 && cont(1)) {
      wide += static_cast<char16_t>(((c & 0x1F) << 6) | (p[i + 1] & 0x3F));
      i += 2;
    } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      wide +=
          static_cast<char16_t>(((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
      i += 3;
    } else {
      // Not UTF-8: no code-page text names this file (NativePath would encode these bytes
      // again), as on Windows a name outside the code page has no 8-bit form. The raw bytes
      // at least show the name as it is.
      return std::string(p);
    }
  }
  return WideToAnsi(wide);
}

File File::Open(std::string_view path, FileAccess access, FileShare share, FileCreate create) {
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    SetLastError(path.empty() ? kErrorPathNotFound : kErrorInvalidName);
    return File();
  }
  // Without O_NONBLOCK, opening a FIFO (which a name in a shared folder may turn out to be)
  // waits for a partner process forever; it is cleared again once the file is open.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (access) {
    case FileAccess::kRead:
      flags |= O_RDONLY;
      break;
    case FileAccess::kWrite:
      flags |= O_WRONLY;
      break;
    case FileAccess::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (create) {
    case FileCreate::kOpenExisting:
      break;
    case FileCreate::kCreateAlways:
      flags |= O_CREAT;
      break;
    case FileCreate::kOpenAlways:
      flags |= O_CREAT;
      break;
    case FileCreate::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
  }
  const std::string native = NativePath(path);
  int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) {
    if (errno == EEXIST) {
      SetLastError(kErrorFileExists);
    } else if (errno == ENOENT && create == FileCreate::kOpenExisting) {
      // Windows tells a missing file from a missing folder on the way to it.
      std::string parent = native.substr(0, native.find_last_of('/') + 1);
      struct stat st;
      bool parent_ok = parent.empty() || ::stat(parent.c_str(), &st) == 0;
      SetLastError(parent_ok ? kErrorFileNotFound : kErrorPathNotFound);
    } else if (errno == ENOENT) {
      SetLastError(kErrorPathNotFound);
    } else {
      SetErrno();
    }
    return File();
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetLastError(kErrorAccessDenied);
    return File();
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    SetErrno();
    ::close(fd);
    return File();
  }
  int lock_fd = -1;
  if (!AcquireSharing(fd, native, access, share, lock_fd)) {
    ::close(fd);
    SetLastError(kErrorSharingViolation);
    return File();
  }
  if (create == FileCreate::kCreateAlways && ::ftruncate(fd, 0) != 0) {
    SetErrno();
    ::close(fd);
    if (lock_fd >= 0) ::close(lock_fd);
    return File();
  }
  SetLastError(kErrorSuccess);
  return File(fd, lock_fd);
}

int64_t File::Read(void* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, count);
    if (n >= 0) return n;
    if (errno != EINTR) {
      SetErrno();
      return -1;
    }
  }
}

int64_t File::Write(const void* buffer, size_t count) {
  size_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetErrno();
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t File::Seek(int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
               : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                : SEEK_END;
  off_t r = ::lseek(fd_, offset, whence);
  if (r < 0) {
    SetLastError(errno == EINVAL ? 131 /* ERROR_NEGATIVE_SEEK */ : ErrorFromErrno(errno));
    return -1;
  }
  return r;
}

int64_t File::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    SetErrno();
    return -1;
  }
  return st.st_size;
}

bool File::SetEnd() {
  off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  if (pos < 0 || ::ftruncate(fd_, pos) != 0) {
    SetErrno();
    return false;
  }
  return true;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also drops the sharing locks
    fd_ = -1;
  }
  if (lock_fd_ >= 0) {
    ::close(lock_fd_);
    lock_fd_ = -1;
  }
}

}  // namespace platform

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"

namespace platform {

namespace {

// The native form of a path, or false with 3 / 123 for a name the system cannot take.
bool ToNative(std::string_view path, std::string& native) {
  if (path.empty()) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (path.find('\0') != std::string_view::npos) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  native = NativePath(path);
  return true;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

// Windows tells a missing file from a missing folder on the way to it; errno does not.
void SetMissingError(const std::string& native) {
  const std::string trimmed = WithoutTrailingSlashes(native);
  const size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) {
    SetLastError(kErrorFileNotFound);
    return;
  }
  const std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
  struct stat st {};
  const bool parent_ok = ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  SetLastError(parent_ok ? kErrorFileNotFound : kErrorPathNotFound);
}

void SetErrorFor(const std::string& native, int err) {
  if (err == ENOENT) {
    SetMissingError(native);
  } else {
    SetLastError(ErrorFromErrno(err));
  }
}

uint32_t AttributesOf(const struct stat& st, std::string_view name) {
  uint32_t attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= kAttrDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attr |= kAttrReadOnly;
  if (!name.empty() && name.front() == '.' && name != "." && name != "..") attr |= kAttrHidden;
  return attr == 0 ? kAttrNormal : attr;
}

std::string_view LastPart(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// '*' any run, '?' one character; everything else literal and case-sensitive.
bool Matches(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

uint32_t GetFileAttributes(std::string_view path) {
  std::string native;
  if (!ToNative(path, native)) return kInvalidFileAttributes;
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) {
    SetErrorFor(native, errno);
    return kInvalidFileAttributes;
  }
  SetLastError(kErrorSuccess);
  return AttributesOf(st, LastPart(native));
}

bool DeleteFile(std::string_view path) {
  std::string native;
  if (!ToNative(path, native)) return false;
  struct stat st {};
  if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (::unlink(native.c_str()) != 0) {
    SetErrorFor(native, errno);
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool CreateDirectory(std::string_view path) {
  std::string native;
  if (!ToNative(path, native)) return false;
  native = WithoutTrailingSlashes(native);
  if (::mkdir(native.c_str(), 0777) != 0) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : ErrorFromErrno(errno));
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool RemoveDirectory(std::string_view path) {
  std::string native;
  if (!ToNative(path, native)) return false;
  native = WithoutTrailingSlashes(native);
  if (::rmdir(native.c_str()) != 0) {
    SetErrorFor(native, errno == ENOTDIR ? ENOENT : errno);
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool MoveFileReplace(std::string_view from, std::string_view to) {
  std::string src, dst;
  if (!ToNative(from, src) || !ToNative(to, dst)) return false;
  struct stat dst_st {};
  if (::stat(dst.c_str(), &dst_st) == 0 && S_ISDIR(dst_st.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (::rename(src.c_str(), dst.c_str()) != 0) {
    SetErrorFor(src, errno);
    return false;
  }
  return true;
}

bool CopyFile(std::string_view from, std::string_view to, bool fail_if_exists) {
  std::string src, dst;
  if (!ToNative(from, src) || !ToNative(to, dst)) return false;
  // O_NONBLOCK: a FIFO in place of the source must not hold the copy up; files ignore it.
  FdCloser in{::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (in.fd < 0) {
    SetErrorFor(src, errno);
    return false;
  }
  struct stat src_st {};
  if (::fstat(in.fd, &src_st) != 0 || S_ISDIR(src_st.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  // Truncating the target first would destroy a source that is the same file.
  struct stat dst_st {};
  if (::stat(dst.c_str(), &dst_st) == 0) {
    if (fail_if_exists) {
      SetLastError(kErrorFileExists);
      return false;
    }
    if (dst_st.st_dev == src_st.st_dev && dst_st.st_ino == src_st.st_ino) {
      SetLastError(kErrorSharingViolation);
      return false;
    }
  }
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (fail_if_exists ? O_EXCL : 0);
  FdCloser out{::open(dst.c_str(), flags, 0666)};
  if (out.fd < 0) {
    if (errno == EEXIST) {
      SetLastError(kErrorFileExists);
    } else {
      SetErrorFor(dst, errno);
    }
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrorFromErrno(errno));
      ::unlink(dst.c_str());
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out.fd, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        SetLastError(ErrorFromErrno(errno));
        ::unlink(dst.c_str());
        return false;
      }
      done += w;
    }
  }
  if (::close(out.fd) != 0) {
    out.fd = -1;
    SetLastError(ErrorFromErrno(errno));
    ::unlink(dst.c_str());
    return false;
  }
  out.fd = -1;
  SetLastError(kErrorSuccess);
  return true;
}

bool FindFirstFile(std::string_view pattern, FoundFile& found) {
  std::string native;
  if (!ToNative(pattern, native)) return false;
  const size_t slash = native.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : native.substr(0, slash);
  const std::string part = slash == std::string::npos ? native : native.substr(slash + 1);
  if (part.empty()) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : ErrorFromErrno(errno));
    return false;
  }
  while (dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !Matches(part, name)) continue;
    struct stat st {};
    const std::string full = folder + "/" + std::string(name);
    found.name = AnsiPathFromNative(name);
    // An entry that vanished or cannot be examined (a dangling link) still counts as a file.
    found.attributes = ::stat(full.c_str(), &st) == 0 ? AttributesOf(st, name) : kAttrNormal;
    SetLastError(kErrorSuccess);
    return true;
  }
  SetLastError(kErrorFileNotFound);
  return false;
}

std::string GetFullPathName(std::string_view path) {
  std::string native;
  if (!ToNative(path, native)) return {};
  if (native.front() != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd) {
      SetLastError(ErrorFromErrno(errno));
      return {};
    }
    native = std::string(cwd.get()) + "/" + native;
  }
  std::vector<std::string_view> parts;
  const std::string_view text = native;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('/', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();  // above the root is the root
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string full;
  for (const std::string_view part : parts) {
    full += '/';
    full += part;
  }
  if (full.empty() || text.back() == '/') full += '/';
  SetLastError(kErrorSuccess);
  return AnsiPathFromNative(full);
}

bool GetUniversalName(std::string_view, std::string&) {
  SetLastError(kErrorNotConnected);
  return false;
}

}  // namespace platform

#include <utility>

#include "platform/File.h"
#include "platform/SysError.h"
#include "platform/Win32.h"

namespace platform {

namespace {

DWORD AccessOf(FileAccess access) {
  switch (access) {
    case FileAccess::kRead:
      return GENERIC_READ;
    case FileAccess::kWrite:
      return GENERIC_WRITE;
    case FileAccess::kReadWrite:
      break;
  }
  return GENERIC_READ | GENERIC_WRITE;
}

DWORD ShareOf(FileShare share) {
  switch (share) {
    case FileShare::kExclusive:
      return 0;
    case FileShare::kDenyWrite:
      return FILE_SHARE_READ;
    case FileShare::kDenyRead:
      return FILE_SHARE_WRITE;
    case FileShare::kDenyNone:
      break;
  }
  return FILE_SHARE_READ | FILE_SHARE_WRITE;
}

DWORD DispositionOf(FileCreate create) {
  switch (create) {
    case FileCreate::kOpenExisting:
      return OPEN_EXISTING;
    case FileCreate::kCreateAlways:
      return CREATE_ALWAYS;
    case FileCreate::kOpenAlways:
      return OPEN_ALWAYS;
    case FileCreate::kCreateNew:
      break;
  }
  return CREATE_NEW;
}

}  // namespace

std::string NativePath(std::string_view ansi_path) {
  return std::string(ansi_path);
}

std::string AnsiPathFromNative(std::string_view native_path) {
  return std::string(native_path);
}

File File::Open(std::string_view path, FileAccess access, FileShare share, FileCreate create) {
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    SetLastError(path.empty() ? kErrorPathNotFound : kErrorInvalidName);
    return File();
  }
  const std::string name(path);
  HANDLE h = ::CreateFileA(name.c_str(), AccessOf(access), ShareOf(share), nullptr,
                           DispositionOf(create), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return File();
  SetLastError(kErrorSuccess);
  return File(HandleToInt(h), -1);
}

int64_t File::Read(void* buffer, size_t count) {
  DWORD n = 0;
  const DWORD ask = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  if (!::ReadFile(IntToHandle(fd_), buffer, ask, &n, nullptr)) return -1;
  return n;
}

int64_t File::Write(const void* buffer, size_t count) {
  const char* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t left = count - done;
    const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!::WriteFile(IntToHandle(fd_), p + done, ask, &n, nullptr)) {
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    done += n;
  }
  return static_cast<int64_t>(done);
}

int64_t File::Seek(int64_t offset, SeekOrigin origin) {
  const DWORD method = origin == SeekOrigin::kBegin     ? FILE_BEGIN
                       : origin == SeekOrigin::kCurrent ? FILE_CURRENT
                                                        : FILE_END;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(IntToHandle(fd_), distance, &position, method)) return -1;
  return position.QuadPart;
}

int64_t File::Size() {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(IntToHandle(fd_), &size)) return -1;
  return size.QuadPart;
}

bool File::SetEnd() {
  return ::SetEndOfFile(IntToHandle(fd_)) != FALSE;
}

void File::Close() {
  if (fd_ != -1) {
    ::CloseHandle(IntToHandle(fd_));
    fd_ = -1;
  }
}

}  // namespace platform

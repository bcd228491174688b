#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "platform/Win32.h"

namespace platform {

namespace {

// The calls below take NUL-terminated names; a name holding a NUL names no file.
bool ToName(std::string_view path, std::string& name) {
  if (path.find('\0') != std::string_view::npos) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  name.assign(path);
  return true;
}

}  // namespace

uint32_t GetFileAttributes(std::string_view path) {
  std::string name;
  if (!ToName(path, name)) return kInvalidFileAttributes;
  return ::GetFileAttributesA(name.c_str());
}

bool DeleteFile(std::string_view path) {
  std::string name;
  return ToName(path, name) && ::DeleteFileA(name.c_str());
}

bool CreateDirectory(std::string_view path) {
  std::string name;
  return ToName(path, name) && ::CreateDirectoryA(name.c_str(), nullptr);
}

bool RemoveDirectory(std::string_view path) {
  std::string name;
  return ToName(path, name) && ::RemoveDirectoryA(name.c_str());
}

bool CopyFile(std::string_view from, std::string_view to, bool fail_if_exists) {
  std::string source, target;
  return ToName(from, source) && ToName(to, target) &&
         ::CopyFileA(source.c_str(), target.c_str(), fail_if_exists ? TRUE : FALSE);
}

bool MoveFileReplace(std::string_view from, std::string_view to) {
  std::string source, target;
  return ToName(from, source) && ToName(to, target) &&
         ::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool FindFirstFile(std::string_view pattern, FoundFile& found) {
  std::string name;
  if (!ToName(pattern, name)) return false;
  WIN32_FIND_DATAA data{};
  HANDLE search = ::FindFirstFileA(name.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  for (;;) {
    const std::string_view entry(data.cFileName);
    if (entry != "." && entry != "..") {
      found.name = std::string(entry);
      found.attributes = data.dwFileAttributes;
      ::FindClose(search);
      SetLastError(kErrorSuccess);
      return true;
    }
    if (!::FindNextFileA(search, &data)) {
      ::FindClose(search);
      SetLastError(kErrorFileNotFound);
      return false;
    }
  }
}

std::string GetFullPathName(std::string_view path) {
  std::string name;
  if (path.empty()) {
    SetLastError(kErrorPathNotFound);
    return {};
  }
  if (!ToName(path, name)) return {};
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameA(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n + 1);
  }
}

bool GetUniversalName(std::string_view path, std::string& universal) {
  std::string name;
  if (!ToName(path, name)) return false;
  // The answer is a UNIVERSAL_NAME_INFO followed by the text it points into.
  std::string buffer(1024, '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD rc =
        ::WNetGetUniversalNameA(name.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
    if (rc == ERROR_MORE_DATA && size > buffer.size()) {
      buffer.resize(size);
      continue;
    }
    if (rc != NO_ERROR) {
      SetLastError(rc);
      return false;
    }
    const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOA*>(buffer.data());
    universal = info->lpUniversalName != nullptr ? info->lpUniversalName : "";
    return true;
  }
}

}  // namespace platform

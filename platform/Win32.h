// The Windows headers for the platform's Win32 implementation files, and nothing else: the
// character-set macros of windows.h (DeleteFile -> DeleteFileA, ...) would rename our own
// functions of the same names, so they are undone here and the system's calls are always
// written with their A or W suffix and the global scope (::DeleteFileA).
// Included only by *_win.cpp.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need: GUIDs and the network names of mapped drives.
#include <objbase.h>
#include <winnetwk.h>

#undef AnsiLower
#undef AnsiUpper
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef FindFirstFile
#undef GetFileAttributes
#undef GetFullPathName
#undef GetTempPath
#undef MoveFile
#undef RemoveDirectory

#include <cstdint>

namespace platform {

// A HANDLE kept in an int field: the system keeps handle values within 32 significant bits so
// that 32- and 64-bit processes can share them; INVALID_HANDLE_VALUE is -1 either way.
inline int HandleToInt(HANDLE h) {
  return static_cast<int>(reinterpret_cast<intptr_t>(h));
}
inline HANDLE IntToHandle(int value) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

// Closes a HANDLE on scope exit.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (Valid()) ::CloseHandle(h_);
  }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  HANDLE h_;
};

}  // namespace platform

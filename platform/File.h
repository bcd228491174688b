// Files by handle, the stand-in for CreateFileA / ReadFile / WriteFile / SetFilePointer /
// SetEndOfFile / CloseHandle on disk files.
//
// Paths are 8-bit text in the system code page, as everywhere above this layer; the
// implementation converts them to the file system's own encoding (UTF-8 on Linux) and back.
// Failures return an invalid File or -1/false and set GetLastError() to a Windows code
// (2 not found, 3 path not found, 5 access denied, 32 sharing violation, 123 invalid name).
// A File owns its handle and closes it on destruction; it is movable, not copyable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class FileAccess { kRead, kWrite, kReadWrite };

// What other openers of the same file may do while this handle is open, with the conflicts of
// Windows (an exclusive handle keeps even deny-none readers out). Honoured between handles of
// cooperating processes (ours); a foreign program that ignores advisory locks on Linux is not
// kept out.
enum class FileShare { kExclusive, kDenyWrite, kDenyRead, kDenyNone };

enum class FileCreate {
  kOpenExisting,  // fails with 2 when missing
  kCreateAlways,  // creates or truncates
  kOpenAlways,    // opens, creating when missing
  kCreateNew,     // fails with 80 when present
};

enum class SeekOrigin { kBegin, kCurrent, kEnd };

class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // A FIFO opens without waiting for the other side (reading one without a writer gives 0);
  // a folder fails with 5.
  static File Open(std::string_view path, FileAccess access, FileShare share, FileCreate create);

  bool IsOpen() const { return fd_ >= 0; }
  // Bytes read (0 at the end), or -1 on failure.
  int64_t Read(void* buffer, size_t count);
  // Bytes written, or -1 on failure.
  int64_t Write(const void* buffer, size_t count);
  // The new position, or -1 on failure (a negative resulting position fails with 131).
  int64_t Seek(int64_t offset, SeekOrigin origin);
  int64_t Size();
  // Cuts or extends the file at the current position (SetEndOfFile).
  bool SetEnd();
  void Close();

 private:
  File(int fd, int lock_fd) : fd_(fd), lock_fd_(lock_fd) {}
  // POSIX: the descriptor. Windows: the HANDLE, whose significant bits fit 32 (the system keeps
  // handles 32-bit for 32-bit processes), -1 for INVALID_HANDLE_VALUE.
  int fd_ = -1;
  int lock_fd_ = -1;  // POSIX: a read-only twin that holds the sharing locks of a write-only handle
};

// The file system's name for an 8-bit path, and back. On Linux: code page to UTF-8; a name
// from the file system that is not valid UTF-8 is taken byte for byte (it does not lead back
// to the same file), and characters outside the code page become '?'.
std::string NativePath(std::string_view ansi_path);
std::string AnsiPathFromNative(std::string_view native_path);

// The path delimiter of this platform.
#ifdef _WIN32
constexpr char kPathDelim = '\\';
#else
constexpr char kPathDelim = '/';
#endif

}  // namespace platform

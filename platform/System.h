// The small system services the program takes from the operating system: sleeping, a
// millisecond tick count, the local clock as a day number, GUIDs, the user's temporary folder,
// the program's own folder and the presence marker that tells other processes the program runs.
//
// Text in and out is 8-bit in the system code page; folders end in kPathDelim. Calls that can
// fail report it through their return value and set GetLastError() to a Windows code; nothing
// here throws (except std::bad_alloc). All functions are safe on any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Suspends the calling thread for at least ms milliseconds (0 yields).
void Sleep(uint32_t ms);

// Milliseconds from a fixed, unspecified start; monotonic, not affected by clock changes.
// The 32-bit form wraps after about 49.7 days like GetTickCount; compare with unsigned
// subtraction (now - start).
uint32_t GetTickCount();
uint64_t GetTickCount64();

// The local wall-clock date and time (the system clock in the current time zone), to the
// millisecond. util/DayNumbers.h makes the program's day number of it (Now()).
std::chrono::local_time<std::chrono::milliseconds> LocalNow();

// A GUID in the Windows layout. The text forms print data1..data3 as numbers and data4 byte by
// byte, upper-case: {8 hex}-{4}-{4}-{4}-{12}.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters.
  std::string ToString() const;
  // The same without braces, 36 characters.
  std::string ToText36() const;

  friend bool operator==(const Guid&, const Guid&) = default;
};

// A random (version 4) GUID from the system's secure random source.
Guid NewGuid();

// The user's temporary folder, ending in the delimiter (GetTempPathA). The folder is private to
// the user: on Linux $XDG_RUNTIME_DIR when set, else ${TMPDIR:-/tmp}/ratenblick-<uid>/, created
// with its missing parents, mode 0700, when missing. A folder that cannot be trusted (a symbolic
// link, owned by somebody else, open to group or others) is refused: the result is false with error
// 5, and path still receives the refused folder so that the caller can name it. Other failures (the
// folder cannot be created or is not a folder) give their own codes.
bool GetTempPath(std::string& path);

// Sets (or, with UnsetEnv, removes) a variable of this process's environment, for this process
// and the children it starts; false with the last error set when the system refuses.
bool SetEnv(std::string_view name, std::string_view value);
bool UnsetEnv(std::string_view name);

// The environment variable that GetTempPath takes the user's temporary folder from first
// ("XDG_RUNTIME_DIR" on Linux, "TMP" on Windows): tests point it at a folder of their own.
std::string_view TempPathVariable();

// The folder of the running program's file, ending in the delimiter; empty with the last
// error set when it cannot be found.
std::string ProgramFolder();

// Tells other processes of the user that a program instance runs, like a named mutex that is
// never waited on: created on construction, held for the object's lifetime, released on
// destruction (and by the system when the process ends). Several holders may exist at once.
// Failing to create it is not an error for the program; Held() says whether it worked.
// On Linux the marker lives in the user's private temporary folder, so only the user's own
// processes see it: a place that every account may write is one where another account could
// plant or block the marker.
class PresenceMarker {
 public:
  explicit PresenceMarker(std::string_view name);
  PresenceMarker(const PresenceMarker&) = delete;
  PresenceMarker& operator=(const PresenceMarker&) = delete;
  ~PresenceMarker();

  bool Held() const { return handle_ >= 0; }

  // Whether some process (this one included) holds a marker of that name.
  static bool IsPresent(std::string_view name);

 private:
  int handle_ = -1;
};

// The marker name the program announces itself with.
inline constexpr std::string_view kPresenceMarkerName =
    "Global\\{32DC5FAA-DE26-4864-A132-2A5A8AB1A37F}";

}  // namespace platform

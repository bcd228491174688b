#include <stdlib.h>

#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/Win32.h"

namespace platform {

namespace {

// The session's own namespace: the name without "Global\", for an account that may not create
// objects in the global one.
std::string SessionName(std::string_view name) {
  constexpr std::string_view kGlobal = "Global\\";
  if (name.substr(0, kGlobal.size()) == kGlobal) return std::string(name.substr(kGlobal.size()));
  return std::string(name);
}

}  // namespace

void Sleep(uint32_t ms) {
  ::Sleep(ms);
}

uint64_t GetTickCount64() {
  return ::GetTickCount64();
}

uint32_t GetTickCount() {
  return static_cast<uint32_t>(::GetTickCount64());
}

std::chrono::local_time<std::chrono::milliseconds> LocalNow() {
  using namespace std::chrono;
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  const local_days date{year{st.wYear} / month{st.wMonth} / day{st.wDay}};
  return local_time<milliseconds>{date.time_since_epoch()} + hours{st.wHour} + minutes{st.wMinute} +
         seconds{st.wSecond} + milliseconds{st.wMilliseconds};
}

Guid NewGuid() {
  GUID g{};
  Guid out;
  if (FAILED(::CoCreateGuid(&g))) return out;
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  for (size_t i = 0; i < 8; ++i)
    out.data4[i] = g.Data4[i];
  return out;
}

bool GetTempPath(std::string& path) {
  char buffer[MAX_PATH + 2] = {};
  const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) {
    path.clear();
    if (n != 0) SetLastError(kErrorFilenameExcedRange);
    return false;
  }
  path.assign(buffer, n);
  if (path.back() != '\\') path += '\\';
  SetLastError(kErrorSuccess);
  return true;
}

// Through the C runtime, which keeps its own copy of the environment for getenv and passes the
// change on to the system's (GetTempPathA and child processes read that one).
bool SetEnv(std::string_view name, std::string_view value) {
  if (value.empty()) return UnsetEnv(name);
  if (::_putenv_s(std::string(name).c_str(), std::string(value).c_str()) != 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

bool UnsetEnv(std::string_view name) {
  // An empty value removes the variable.
  if (::_putenv_s(std::string(name).c_str(), "") != 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

std::string_view TempPathVariable() {
  return "TMP";
}

std::string ProgramFolder() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find_last_of("\\/") + 1);
  SetLastError(kErrorSuccess);
  return buffer;
}

PresenceMarker::PresenceMarker(std::string_view name) {
  // An access list that is present and empty of restrictions: every account, also one in
  // another session, may open the mutex.
  SECURITY_DESCRIPTOR descriptor{};
  if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    return;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  const std::string full(name);
  HANDLE h = ::CreateMutexA(&attributes, FALSE, full.c_str());
  if (h == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Creating global objects takes a privilege that a plain account on a terminal server
    // lacks; the session's namespace is the best that is left.
    h = ::CreateMutexA(&attributes, FALSE, SessionName(name).c_str());
  }
  if (h != nullptr) handle_ = HandleToInt(h);
}

PresenceMarker::~PresenceMarker() {
  if (handle_ >= 0) ::CloseHandle(IntToHandle(handle_));
}

bool PresenceMarker::IsPresent(std::string_view name) {
  for (const std::string& candidate : {std::string(name), SessionName(name)}) {
    HANDLE h = ::OpenMutexA(SYNCHRONIZE, FALSE, candidate.c_str());
    if (h != nullptr) {
      ::CloseHandle(h);
      return true;
    }
  }
  return false;
}

}  // namespace platform

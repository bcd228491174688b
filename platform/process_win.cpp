#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "platform/Process.h"
#include "platform/SysError.h"
#include "platform/Win32.h"

namespace platform {

namespace {

std::atomic<bool> stop_requested{false};

// A console program started without a console of its own (a service manager, a test runner)
// cannot be sent Ctrl+Break, so every program that takes stop requests also waits on a named
// event of its process ID; RequestStop sets it.
std::string StopEventName(DWORD pid) {
  return "Local\\ratenblick-stop-" + std::to_string(pid);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stop_requested = true;
      return TRUE;
    default:
      return FALSE;
  }
}

// One argument quoted so that the child's C runtime splits it back out unchanged: backslashes
// count only before a quote, where they are doubled.
void AppendQuoted(std::string& line, const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += arg;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

bool SameName(std::string_view entry, const std::string& name) {
  if (entry.size() <= name.size() || entry[name.size()] != '=') return false;
  // Environment names are case-insensitive on Windows.
  return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.data(),
                          static_cast<int>(name.size()), name.data(),
                          static_cast<int>(name.size())) == CSTR_EQUAL;
}

// This process's environment with env set on top, as the block CreateProcessA takes.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& env) {
  std::string block;
  char* strings = ::GetEnvironmentStringsA();
  for (const char* e = strings; e != nullptr && *e != '\0'; e += std::strlen(e) + 1) {
    const std::string_view entry(e);
    bool replaced = false;
    for (const auto& [name, value] : env)
      replaced = replaced || SameName(entry, name);
    if (!replaced) block.append(entry).push_back('\0');
  }
  if (strings != nullptr) ::FreeEnvironmentStringsA(strings);
  for (const auto& [name, value] : env)
    block.append(name).append("=").append(value).push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                                 const std::vector<std::pair<std::string, std::string>>& env) {
  ChildProcess child;
  std::string line;
  AppendQuoted(line, program);
  for (const std::string& a : args) {
    line += ' ';
    AppendQuoted(line, a);
  }
  std::string block = EnvironmentBlock(env);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // A group of its own, so that a stop request (Ctrl+Break) reaches the child and not us.
  if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_PROCESS_GROUP, block.data(), nullptr, &startup, &info)) {
    return child;
  }
  ::CloseHandle(info.hThread);
  child.pid_ = HandleToInt(info.hProcess);
  return child;
}

bool ChildProcess::RequestStop(StopRequest) {
  if (pid_ <= 0) return false;
  // Both kinds of request look the same to a Windows program.
  const DWORD pid = ::GetProcessId(IntToHandle(pid_));
  if (HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, StopEventName(pid).c_str())) {
    const bool set = ::SetEvent(event) != FALSE;
    ::CloseHandle(event);
    return set;
  }
  // A program that takes no stop requests of ours: Ctrl+Break to its process group.
  return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pid) != FALSE;
}

int ChildProcess::Wait(uint32_t timeout_ms) {
  if (pid_ <= 0) return -1;
  HANDLE process = IntToHandle(pid_);
  if (::WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  const bool known = ::GetExitCodeProcess(process, &code) != FALSE;
  ::CloseHandle(process);
  pid_ = -1;
  return known ? static_cast<int>(code) : -1;
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  HANDLE process = IntToHandle(pid_);
  ::TerminateProcess(process, 1);
  ::WaitForSingleObject(process, INFINITE);
  ::CloseHandle(process);
  pid_ = -1;
}

void InstallStopHandler() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  HANDLE event =
      ::CreateEventA(nullptr, TRUE, FALSE, StopEventName(::GetCurrentProcessId()).c_str());
  if (event == nullptr) return;
  // The waiting thread and its event live as long as the process.
  std::thread([event] {
    if (::WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) stop_requested = true;
  }).detach();
}

bool StopRequested() {
  return stop_requested;
}

}  // namespace platform

// Processes: a child program started with a changed environment (tests and benchmarks start
// the stand-in host this way), and the stop request of a long-running program (SIGINT, SIGTERM
// and SIGHUP on POSIX; on Windows the console's Ctrl+C, Ctrl+Break and close events, and a
// named event "Local\ratenblick-stop-<process ID>" that RequestStop sets, since a program
// without a console of its own cannot be sent console events).
//
// Failures report through the return value and GetLastError(); nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A started child process. The destructor kills a child that still runs and reaps it, so a
// failing test never leaves one behind. Movable, not copyable.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Runs program (a path) with args; env holds NAME=value pairs set on top of this process's
  // environment. Not running on failure.
  static ChildProcess Start(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::pair<std::string, std::string>>& env = {});

  bool Running() const { return pid_ > 0; }
  // How a stop is asked for: as a service manager does (SIGTERM) or as a closing terminal
  // does (SIGHUP).
  enum class StopRequest { kTerminate, kHangUp };
  // Asks the child to stop, as a user, a service manager or a closing terminal would.
  bool RequestStop(StopRequest how = StopRequest::kTerminate);
  // Waits up to timeout_ms for the child to end; its exit code, or -1 when it did not end in
  // time (it keeps running), or 128 + the signal that ended it.
  int Wait(uint32_t timeout_ms);
  // Ends the child at once and reaps it.
  void Kill();

 private:
  int pid_ = -1;
};

// Makes SIGINT, SIGTERM and SIGHUP (or their platform's equivalent) set the stop request
// instead of ending the process, so that the program can clean up. Call once, early in main.
void InstallStopHandler();
bool StopRequested();

}  // namespace platform

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Process.h"
#include "platform/SysError.h"

extern char** environ;

namespace platform {

namespace {

volatile sig_atomic_t stop_requested = 0;

void OnStopSignal(int) {
  stop_requested = 1;
}

// The exit code of a reaped child.
int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                                 const std::vector<std::pair<std::string, std::string>>& env) {
  ChildProcess child;
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : env) {
      if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
    }
    if (!replaced) env_strings.push_back(std::move(entry));
  }
  for (const auto& [name, value] : env)
    env_strings.push_back(name + "=" + value);

  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env_strings)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data());
  if (rc != 0) {
    SetLastError(ErrorFromErrno(rc));
    return child;
  }
  child.pid_ = pid;
  return child;
}

bool ChildProcess::RequestStop(StopRequest how) {
  if (pid_ <= 0) return false;
  return ::kill(pid_, how == StopRequest::kHangUp ? SIGHUP : SIGTERM) == 0;
}

int ChildProcess::Wait(uint32_t timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return ExitCodeOf(status);
    }
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      return -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

void InstallStopHandler() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking wait returns and sees the request
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);  // a closed terminal: clean up like on SIGTERM
}

bool StopRequested() {
  return stop_requested != 0;
}

}  // namespace platform

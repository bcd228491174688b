#include "platform/Process.h"

#include <utility>

namespace platform {

// Moving and dropping a handle are the same on every system; opening and closing are not.

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = std::exchange(other.pid_, -1);
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  Kill();
}

}  // namespace platform

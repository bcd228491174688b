#include "platform/File.h"

#include <utility>

namespace platform {

// Moving and dropping a handle are the same on every system; opening and closing are not.

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lock_fd_(std::exchange(other.lock_fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    lock_fd_ = std::exchange(other.lock_fd_, -1);
  }
  return *this;
}

File::~File() {
  Close();
}

}  // namespace platform

#include "platform/Pipe.h"

#include <utility>

namespace platform {

// Moving and dropping a handle are the same on every system; opening and closing are not.

PipeServer::PipeServer(PipeServer&& other) noexcept
    : listener_(std::exchange(other.listener_, -1)), socket_path_(std::move(other.socket_path_)) {}

PipeServer& PipeServer::operator=(PipeServer&& other) noexcept {
  if (this != &other) {
    Close();
    listener_ = std::exchange(other.listener_, -1);
    socket_path_ = std::move(other.socket_path_);
  }
  return *this;
}

PipeServer::~PipeServer() {
  Close();
}

}  // namespace platform

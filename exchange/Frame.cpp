#include "exchange/Frame.h"

#include "util/Coding.h"

namespace rb {

std::string FrameInt(int64_t value) {
  std::string out;
  PutFixed64(out, value);
  return out;
}

int64_t ReadFrameInt(const char* field) {
  return DecodeFixed64(field);
}

std::string FrameHead(std::string_view id) {
  std::string out = FrameInt(static_cast<int64_t>(id.size()));
  out += id;
  return out;
}

std::string EncodeFrame(std::string_view id, std::string_view data) {
  std::string out = FrameHead(id);
  out.reserve(out.size() + kFrameIntSize + data.size());
  PutFixed64(out, static_cast<int64_t>(data.size()));
  out += data;
  return out;
}

std::string FrameEndMarker() {
  return FrameInt(kFrameEndMarker);
}

}  // namespace rb

// The frame that carries every request and reply between the program and the host's exchange
// service, written and read here only (the client in IPCClient.cpp, the stand-in host in
// host/). Integers are 8 bytes, little-endian two's complement:
//
//   ID length | message ID (ID length bytes, 8-bit text) | data size | data (data size bytes)
//
// An ID length of -1 where a frame would begin is the end marker: the client writes it before
// closing. A request with no ID and no data is 16 zero bytes:
//   EncodeFrame("", "")  ->  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00
//
// Limits: no frame in this exchange needs an ID over 64 KiB or data over 64 MiB (a document
// travels as a file name, query rows as a file). Either side refuses a frame that announces
// more before it reads or allocates anything of it, so a broken or hostile peer cannot make it
// grow without bound. Pure functions; safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rb {

inline constexpr int64_t kFrameEndMarker = -1;
inline constexpr int64_t kMaxFrameIdLength = 64 * 1024;
inline constexpr int64_t kMaxFrameDataSize = 64 * 1024 * 1024;
inline constexpr int kFrameIntSize = 8;

// The 8 bytes of one frame integer.
std::string FrameInt(int64_t value);
// The integer in the 8 bytes at field. REQUIRES: 8 readable bytes.
int64_t ReadFrameInt(const char* field);

// ID length and ID, the first piece of a frame (8 + id.size() bytes).
std::string FrameHead(std::string_view id);
// A whole frame.
std::string EncodeFrame(std::string_view id, std::string_view data);
// The end marker, 8 bytes of 0xFF.
std::string FrameEndMarker();

// Whether a received ID length or data size lies above the limits above. A length of 0 or
// less announces nothing to read and is never too large.
inline bool FrameIdTooLong(int64_t id_length) {
  return id_length > kMaxFrameIdLength;
}
inline bool FrameDataTooLarge(int64_t data_size) {
  return data_size > kMaxFrameDataSize;
}

}  // namespace rb

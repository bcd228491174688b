// Byte streams: the abstract TStream with a position, and the memory and file streams that the
// readers and writers above it work on.
//
// Read/Write move as many bytes as they can and return the count; ReadBuffer/WriteBuffer demand
// the whole count and raise EReadError("Stream read error") / EWriteError("Stream write error")
// otherwise. Sizes and positions are 64-bit. Streams are used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace rb {

using platform::SeekOrigin;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t new_size) = 0;

  int64_t Position() { return Seek(0, SeekOrigin::kCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::kBegin); }
  int64_t Size() { return GetSize(); }

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies all of source from its start, a
  // negative count nothing. Returns the bytes copied; raises EReadError when source runs short.
  int64_t CopyFrom(TStream& source, int64_t count);
  // Everything from the position to the end, as bytes.
  std::string ReadRest();
};

// A growable block of memory. Positions past the end are allowed (writing there zero-fills), and
// so are positions before the start, where nothing can be read or written.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return size_; }
  void SetSize(int64_t new_size) override;

  // Reserves room without changing the size.
  void SetCapacity(int64_t capacity);
  int64_t Capacity() const { return static_cast<int64_t>(data_.size()); }
  void Clear();
  char* Memory() { return data_.data(); }
  const char* Memory() const { return data_.data(); }
  std::string_view View() const { return {data_.data(), static_cast<size_t>(size_)}; }

  void LoadFromStream(TStream& source);
  // Raise EFOpenError / EFCreateError like TFileStream.
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);

 private:
  std::vector<char> data_;  // size() is the capacity
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Open modes, combined as access | sharing, or fmCreate with an optional sharing word.
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,  // create or truncate, read-write, exclusive unless a sharing word is added
};

// A file opened by name. Failure to open raises EFOpenError
// ("Cannot open file \"<path>\". <system message>"), failure to create EFCreateError
// ("Cannot create file \"<path>\". <system message>"). SetSize raises EOSError when the size
// cannot be set (a negative size included), leaving the file as it was.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& path, uint16_t mode);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t new_size) override;

  const std::string& FileName() const { return path_; }

 private:
  std::string path_;
  platform::File file_;
};

}  // namespace rb

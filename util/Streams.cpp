#include "util/Streams.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/SysError.h"
#include "util/Errors.h"

namespace rb {

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, SeekOrigin::kCurrent);
  int64_t size = Seek(0, SeekOrigin::kEnd);
  Seek(pos, SeekOrigin::kBegin);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count < 0) return 0;
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kChunk = 64 * 1024;
  std::vector<char> buffer(static_cast<size_t>(std::min(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min(left, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

std::string TStream::ReadRest() {
  int64_t pos = Position();
  int64_t size = Size();
  std::string out;
  if (size > pos) {
    out.resize(static_cast<size_t>(size - pos));
    out.resize(static_cast<size_t>(Read(out.data(), size - pos)));
  }
  return out;
}

TMemoryStream::TMemoryStream(std::string_view bytes) {
  SetSize(static_cast<int64_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(data_.data(), bytes.data(), bytes.size());
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  // A position before the start (Seek allows it) has nothing to read, like one past the end.
  if (count <= 0 || position_ < 0 || position_ >= size_) return 0;
  int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  // Nothing goes before the start, nor beyond the last position a 64-bit size can name.
  if (count <= 0 || position_ < 0 || count > INT64_MAX - position_) return 0;
  int64_t end = position_ + count;
  if (end > size_) {
    if (end > Capacity()) SetCapacity(std::max(end, Capacity() + Capacity() / 2));
    if (position_ > size_) {
      std::memset(data_.data() + size_, 0, static_cast<size_t>(position_ - size_));
    }
    size_ = end;
  }
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t base = origin == SeekOrigin::kBegin     ? 0
                       : origin == SeekOrigin::kCurrent ? position_
                                                        : size_;
  // An offset taken from damaged data must not overflow: the position stops at the range's end.
  if (__builtin_add_overflow(base, offset, &position_)) {
    position_ = offset < 0 ? INT64_MIN : INT64_MAX;
  }
  return position_;
}

void TMemoryStream::SetSize(int64_t new_size) {
  if (new_size < 0) new_size = 0;
  if (new_size > Capacity()) SetCapacity(new_size);
  if (new_size > size_) {
    std::memset(data_.data() + size_, 0, static_cast<size_t>(new_size - size_));
  }
  size_ = new_size;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::SetCapacity(int64_t capacity) {
  if (capacity <= Capacity()) return;
  // Whole 8 KiB blocks, so that a stream written byte by byte does not reallocate each time.
  const int64_t rounded =
      capacity > INT64_MAX - 0x1FFF ? capacity : (capacity + 0x1FFF) & ~int64_t{0x1FFF};
  data_.resize(static_cast<size_t>(rounded));
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t count = source.Size();
  SetSize(count);
  if (count != 0) source.ReadBuffer(data_.data(), count);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream file(path, fmCreate);
  file.WriteBuffer(data_.data(), size_);
}

TFileStream::TFileStream(const std::string& path, uint16_t mode) : path_(path) {
  using platform::FileAccess;
  using platform::FileCreate;
  using platform::FileShare;
  FileShare share = FileShare::kExclusive;  // no sharing word: compatibility mode
  switch (mode & 0xF0) {
    case fmShareDenyWrite:
      share = FileShare::kDenyWrite;
      break;
    case fmShareDenyRead:
      share = FileShare::kDenyRead;
      break;
    case fmShareDenyNone:
      share = FileShare::kDenyNone;
      break;
    default:
      break;
  }
  if ((mode & fmCreate) == fmCreate) {
    file_ = platform::File::Open(path, FileAccess::kReadWrite, share, FileCreate::kCreateAlways);
    if (!file_.IsOpen()) {
      throw EFCreateError("Cannot create file \"" + path + "\". " +
                          platform::SysErrorMessage(platform::GetLastError()));
    }
    return;
  }
  const FileAccess access = (mode & 3) == fmOpenWrite       ? FileAccess::kWrite
                            : (mode & 3) == fmOpenReadWrite ? FileAccess::kReadWrite
                                                            : FileAccess::kRead;
  file_ = platform::File::Open(path, access, share, FileCreate::kOpenExisting);
  if (!file_.IsOpen()) {
    throw EFOpenError("Cannot open file \"" + path + "\". " +
                      platform::SysErrorMessage(platform::GetLastError()));
  }
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t total = 0;
  char* p = static_cast<char*>(buffer);
  while (total < count) {
    int64_t n = file_.Read(p + total, static_cast<size_t>(count - total));
    if (n <= 0) break;
    total += n;
  }
  return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = file_.Write(buffer, static_cast<size_t>(count));
  return n < 0 ? 0 : n;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  return file_.Seek(offset, origin);
}

int64_t TFileStream::GetSize() {
  return file_.Size();
}

void TFileStream::SetSize(int64_t new_size) {
  const int64_t pos = Position();
  // The end is set at the position: where the seek is refused, the file must stay as it is.
  if (Seek(new_size, SeekOrigin::kBegin) < 0 || !file_.SetEnd()) RaiseLastOSError();
  if (pos < new_size) Seek(pos, SeekOrigin::kBegin);
}

}  // namespace rb

#include "recordset/TXFiler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "json/Utf8.h"
#include "platform/CodePage.h"
#include "util/Coding.h"
#include "util/Errors.h"

namespace rb {

namespace {

constexpr char kSignature[4] = {'T', 'P', 'F', '0'};
// Long payloads grow their result by at most this much per read, so a corrupt length fails at
// the end of the stream instead of allocating the length up front.
constexpr int64_t kPayloadChunk = 64 * 1024;

constexpr int kExponentBias = 16383;
constexpr int kMaxExponent = 0x7FFF;

}  // namespace

void EncodeExtended(long double value, unsigned char out[10]) {
  uint64_t significand = 0;
  int exponent = 0;  // biased
  const bool negative = std::signbit(value);
  if (std::isnan(value)) {
    exponent = kMaxExponent;
    significand = 0xC000000000000000u;  // quiet NaN
  } else if (std::isinf(value)) {
    exponent = kMaxExponent;
    significand = 0x8000000000000000u;
  } else if (value != 0) {
    int e = 0;
    const long double m = std::frexp(std::fabs(value), &e);  // |value| = m * 2^e, m in [0.5, 1)
    // m * 2^64 in two exact 32-bit halves; rounding matters only where long double is wider
    // than 64 significand bits.
    const long double high = std::floor(std::ldexp(m, 32));
    const long double low = std::nearbyint(std::ldexp(m, 64) - std::ldexp(high, 32));
    significand = (static_cast<uint64_t>(high) << 32) + static_cast<uint64_t>(low);
    if (significand == 0) {  // rounding carried out of the top bit
      significand = 0x8000000000000000u;
      ++e;
    }
    exponent = e - 1 + kExponentBias;
    if (exponent >= kMaxExponent) {
      exponent = kMaxExponent;
      significand = 0x8000000000000000u;
    } else if (exponent <= 0) {  // subnormal: exponent field 0 scales like 1
      const int shift = 1 - exponent;
      significand = shift >= 64 ? 0 : significand >> shift;
      exponent = 0;
    }
  }
  EncodeFixed<uint64_t>(out, significand);
  EncodeFixed16(out + 8, static_cast<uint16_t>(exponent | (negative ? 0x8000 : 0)));
}

long double DecodeExtended(const unsigned char in[10]) {
  if constexpr (std::numeric_limits<long double>::digits == 64 &&
                std::endian::native == std::endian::little) {
    // Where long double is the x87 format itself, a normal number (integer bit set, exponent
    // neither 0 nor all ones) is these very bytes; the general path below costs a scaling call
    // per value, which dominates loading a record set of amounts and dates.
    const int top = DecodeFixed16(in + 8);
    if ((in[7] & 0x80) != 0 && (top & kMaxExponent) != 0 && (top & kMaxExponent) != kMaxExponent) {
      long double value = 0;
      std::memcpy(&value, in, 10);
      return value;
    }
  }
  const uint64_t significand = DecodeFixed<uint64_t>(in);
  const int top = DecodeFixed16(in + 8);
  const bool negative = (top & 0x8000) != 0;
  const int exponent = top & kMaxExponent;
  long double value;
  if (exponent == kMaxExponent) {
    value = (significand << 1) == 0 ? HUGE_VALL : std::nanl("");
  } else {
    // value = significand * 2^(exponent - bias - 63); exponent 0 scales like 1.
    const int scale = (exponent == 0 ? 1 : exponent) - kExponentBias - 63;
    value = std::ldexp(static_cast<long double>(significand), scale);
  }
  return negative ? -value : value;
}

// ---------------------------------------------------------------------------------------------

TXFiler::TXFiler(TStream& stream, int32_t buffer_size)
    : stream_(stream),
      buffer_(std::make_unique<unsigned char[]>(
          static_cast<size_t>(std::max(buffer_size, int32_t{1})))),
      buf_size_(std::max(buffer_size, int32_t{1})) {}

TXFiler::~TXFiler() = default;

// ---------------------------------------------------------------------------------------------

TXReader::TXReader(TStream& stream, int32_t buffer_size) : TXFiler(stream, buffer_size) {}

TXReader::~TXReader() {
  try {
    if (buf_end_ > buf_pos_) stream_.Seek(buf_pos_ - buf_end_, SeekOrigin::kCurrent);
  } catch (...) {
    // A stream that cannot seek back leaves its position after the buffered block.
  }
}

void TXReader::ReadError(const std::string& argument) {
  throw EReadError("TXReader.EReadError: " + argument + " At " +
                   std::to_string(stream_.Position()));
}

void TXReader::InvalidValue(const std::string& detail) {
  ReadError("SInvalidPropertyValue: " + detail);
}

void TXReader::FillBuffer() {
  const int64_t n = stream_.Read(buffer_.get(), buf_size_);
  if (n <= 0) throw EReadError("SReadError");
  buf_end_ = static_cast<int32_t>(n);
  buf_pos_ = 0;
}

void TXReader::ReadBytes(void* destination, int64_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  while (count > 0) {
    if (buf_pos_ >= buf_end_) FillBuffer();
    const int64_t n = std::min<int64_t>(count, buf_end_ - buf_pos_);
    std::memcpy(out, buffer_.get() + buf_pos_, static_cast<size_t>(n));
    buf_pos_ += static_cast<int32_t>(n);
    out += n;
    count -= n;
  }
}

uint8_t TXReader::ReadByteRefilling() {
  FillBuffer();
  return buffer_[buf_pos_++];
}

uint32_t TXReader::ReadUInt32() {
  unsigned char b[4];
  ReadBytes(b, 4);
  return DecodeFixed32(b);
}

std::string TXReader::ReadPayload(int64_t count) {
  std::string out;
  while (count > 0) {
    const int64_t n = std::min(count, kPayloadChunk);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    ReadBytes(out.data() + at, n);
    count -= n;
  }
  return out;
}

void TXReader::CheckValueSlow(TValueType expected) {
  if (ReadValue() == expected) return;
  StepBack();
  SkipValue();
  InvalidValue("TXReader.CheckValue ValueType: " + std::to_string(int{expected}) +
               " Stream.Size=" + std::to_string(stream_.Size()));
}

void TXReader::ReadSignature() {
  char signature[4];
  ReadBytes(signature, 4);
  if (std::memcmp(signature, kSignature, 4) != 0) ReadError("SInvalidImage");
}

void TXReader::BooleanError() {
  InvalidValue("TXReader.ReadBoolean Stream.Size=" + std::to_string(stream_.Size()));
}

int32_t TXReader::ReadInteger() {
  // Straight from the buffer when the longest integer fits in what is left of it; any other
  // tag, and a value across the end of the block, take the path below.
  if (buf_end_ - buf_pos_ >= 5) {
    const unsigned char* p = buffer_.get() + buf_pos_;
    switch (p[0]) {
      case vaInt8:
        buf_pos_ += 2;
        return static_cast<int8_t>(p[1]);
      case vaInt16:
        buf_pos_ += 3;
        return static_cast<int16_t>(DecodeFixed16(p + 1));
      case vaInt32:
        buf_pos_ += 5;
        return static_cast<int32_t>(DecodeFixed32(p + 1));
      default:
        break;
    }
  }
  switch (ReadValue()) {
    case vaInt8:
      return static_cast<int8_t>(ReadByte());
    case vaInt16: {
      unsigned char b[2];
      ReadBytes(b, 2);
      return static_cast<int16_t>(DecodeFixed16(b));
    }
    case vaInt32:
      return static_cast<int32_t>(ReadUInt32());
    default:
      InvalidValue("TXReader.ReadInteger ReadValue invalid Stream.Size=" +
                   std::to_string(stream_.Size()));
  }
}

int64_t TXReader::ReadInt64() {
  if (NextValue() != vaInt64) return ReadInteger();
  ReadValue();
  const uint64_t low = ReadUInt32();
  const uint64_t high = ReadUInt32();
  return static_cast<int64_t>(high << 32 | low);
}

long double TXReader::ReadFloat() {
  // Straight from the buffer when the whole value is there, as it is for all but one value
  // per block.
  if (buf_end_ - buf_pos_ >= 11 && buffer_[buf_pos_] == vaExtended) {
    const long double value = DecodeExtended(buffer_.get() + buf_pos_ + 1);
    buf_pos_ += 11;
    return value;
  }
  if (NextValue() != vaExtended) return static_cast<long double>(ReadInt64());
  ReadValue();
  unsigned char bytes[10];
  ReadBytes(bytes, 10);
  return DecodeExtended(bytes);
}

std::string TXReader::ReadString() {
  const TValueType next = NextValue();
  if (next == vaWString || next == vaUTF8String) return platform::WideToAnsi(ReadWideString());
  switch (ReadValue()) {
    case vaString:
      return ReadPayload(ReadByte());
    case vaLString:
      return ReadPayload(ReadUInt32());
    default:
      InvalidValue("TXReader.ReadString ReadValue invalid Stream.Size=" +
                   std::to_string(stream_.Size()));
  }
}

std::u16string TXReader::ReadWideString() {
  const TValueType next = NextValue();
  if (next == vaString || next == vaLString) return platform::AnsiToWide(ReadString());
  switch (ReadValue()) {
    case vaWString: {
      const std::string bytes = ReadPayload(int64_t{ReadUInt32()} * 2);
      std::u16string text(bytes.size() / 2, u'\0');
      for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(DecodeFixed16(bytes.data() + 2 * i));
      }
      return text;
    }
    case vaUTF8String:
      return Utf8ToWide(ReadPayload(ReadUInt32()));
    default:
      InvalidValue("TXReader.ReadWideString ReadValue invalid Stream.Size=" +
                   std::to_string(stream_.Size()));
  }
}

std::string TXReader::ReadShortName() {
  return ReadPayload(ReadByte());
}

void TXReader::SkipBytes(int64_t count) {
  unsigned char scratch[256];
  while (count > 0) {
    const int64_t n = std::min<int64_t>(count, sizeof scratch);
    ReadBytes(scratch, n);
    count -= n;
  }
}

// Nested lists and collections are tracked on an explicit stack rather than by recursion, so a
// corrupt stream of many list tags cannot exhaust the call stack.
namespace {
enum class Open : char {
  kList,        // values up to 00
  kCollection,  // items up to 00
  kItem,        // named values up to 00
};
}  // namespace

void TXReader::SkipValue() {
  std::vector<Open> open;
  auto skip_tagged = [&](uint8_t tag) {
    switch (tag % 128) {
      case vaList:
        open.push_back(Open::kList);
        break;
      case vaInt8:
        SkipBytes(1);
        break;
      case vaInt16:
        SkipBytes(2);
        break;
      case vaInt32:
      case vaSingle:
        SkipBytes(4);
        break;
      case vaExtended:
        SkipBytes(10);
        break;
      case vaString:
      case vaIdent:
        SkipBytes(ReadByte());
        break;
      case vaBinary:
      case vaLString:
      case vaUTF8String:
        SkipBytes(ReadUInt32());
        break;
      case vaWString:
        SkipBytes(int64_t{ReadUInt32()} * 2);
        break;
      case vaSet:
        for (uint8_t n = ReadByte(); n != 0; n = ReadByte())
          SkipBytes(n);
        break;
      case vaCollection:
        open.push_back(Open::kCollection);
        break;
      case vaCurrency:
      case vaDate:
      case vaInt64:
        SkipBytes(8);
        break;
      default:  // 00, 08, 09, 0D and unknown tags have no payload
        break;
    }
  };

  skip_tagged(ReadValue());
  while (!open.empty()) {
    const uint8_t tag = ReadValue();
    if (tag == vaNull) {
      open.pop_back();
      continue;
    }
    switch (open.back()) {
      case Open::kList:
        skip_tagged(tag);
        break;
      case Open::kCollection:
        if (tag == vaInt8 || tag == vaInt16 || tag == vaInt32) {
          skip_tagged(tag);
          SkipBytes(1);  // the item's list tag
        }
        // Otherwise the byte just read was that list tag.
        open.push_back(Open::kItem);
        break;
      case Open::kItem:
        SkipBytes(tag);  // the tag was the name's length byte
        skip_tagged(ReadValue());
        break;
    }
  }
}

void TXReader::ReadPrefix(int32_t& flags, int32_t& child_position) {
  if ((NextValue() & 0xF0) != 0xF0) {
    flags = 0;
    return;
  }
  flags = ReadValue() & 0x0F;
  if (flags & 2) child_position = ReadInteger();
}

void TXReader::SetComponentName(TXComponent& component, std::string name) {
  if (on_set_name_) on_set_name_(*this, component, name);
  component.SetName(std::move(name));
}

void TXReader::ReferenceName(std::string& name) {
  if (on_reference_name_) on_reference_name_(*this, name);
}

// ---------------------------------------------------------------------------------------------

TXWriter::TXWriter(TStream& stream, int32_t buffer_size) : TXFiler(stream, buffer_size) {}

TXWriter::~TXWriter() {
  try {
    FlushBuffer();
  } catch (...) {
    // Documented: callers who need the outcome flush first.
  }
}

void TXWriter::SetRoot(TXComponent* root) {
  TXFiler::SetRoot(root);
  lookup_root_ = root;
}

// On failure the bytes the stream did not take stay buffered, and only those: a retry (the
// destructor's, or the caller's once the stream can take them) then neither loses nor repeats a
// byte, even when the stream took part of the block before it failed.
void TXWriter::FlushBuffer() {
  if (buf_pos_ == 0) return;
  const int64_t written = std::clamp<int64_t>(stream_.Write(buffer_.get(), buf_pos_), 0, buf_pos_);
  const auto left = static_cast<int32_t>(buf_pos_ - written);
  std::memmove(buffer_.get(), buffer_.get() + written, static_cast<size_t>(left));
  buf_pos_ = left;
  if (left != 0) throw EWriteError("Stream write error");
}

void TXWriter::WriteBytes(const void* source, int64_t count) {
  const auto* in = static_cast<const unsigned char*>(source);
  while (count > 0) {
    if (buf_pos_ >= buf_size_) FlushBuffer();
    const int64_t n = std::min<int64_t>(count, buf_size_ - buf_pos_);
    std::memcpy(buffer_.get() + buf_pos_, in, static_cast<size_t>(n));
    buf_pos_ += static_cast<int32_t>(n);
    in += n;
    count -= n;
  }
}

void TXWriter::WriteValue(TValueType tag) {
  const unsigned char byte = tag;
  WriteBytes(&byte, 1);
}

void TXWriter::WriteSignature() {
  WriteBytes(kSignature, 4);
}

void TXWriter::WriteBoolean(bool value) {
  WriteValue(value ? vaTrue : vaFalse);
}

void TXWriter::WriteInteger(int32_t value) {
  unsigned char bytes[4];
  EncodeFixed32(bytes, static_cast<uint32_t>(value));
  if (value >= -128 && value <= 127) {
    WriteValue(vaInt8);
    WriteBytes(bytes, 1);
  } else if (value >= -32768 && value <= 32767) {
    WriteValue(vaInt16);
    WriteBytes(bytes, 2);
  } else {
    WriteValue(vaInt32);
    WriteBytes(bytes, 4);
  }
}

void TXWriter::WriteFloat(long double value) {
  unsigned char bytes[10];
  EncodeExtended(value, bytes);
  WriteValue(vaExtended);
  WriteBytes(bytes, 10);
}

void TXWriter::WriteCount(uint32_t count) {
  unsigned char bytes[4];
  EncodeFixed32(bytes, count);
  WriteBytes(bytes, 4);
}

void TXWriter::WriteString(const std::string& text) {
  const std::string utf8 = CodePageToUtf8(text);
  if (utf8 != text) {
    WriteValue(vaUTF8String);
    WriteCount(static_cast<uint32_t>(utf8.size()));
    WriteBytes(utf8.data(), static_cast<int64_t>(utf8.size()));
    return;
  }
  if (text.size() <= 255) {
    const auto n = static_cast<unsigned char>(text.size());
    WriteValue(vaString);
    WriteBytes(&n, 1);
  } else {
    WriteValue(vaLString);
    WriteCount(static_cast<uint32_t>(text.size()));
  }
  WriteBytes(text.data(), static_cast<int64_t>(text.size()));
}

}  // namespace rb

// Typed value streams: a sequence of values, each a one-byte tag followed by a payload whose
// form the tag fixes. All counts and numbers are little-endian.
//
//   02 FF             8-bit integer -1          06 03 'a' 'b' 'c'     short text "abc"
//   03 00 01          16-bit integer 256        14 02 00 00 00 C3 A4  UTF-8 text "ä"
//   05 <10 bytes>     80-bit extended float     01 ... 00             list of values
//
// A stream may open with the signature "TPF0". TXReader and TXWriter go through one buffer of
// the given size, so single-byte tags do not each cost a stream call.
//
// Ownership: a filer borrows its stream, which must outlive it, and owns its buffer. Releasing a
// reader seeks the stream back over the bytes it buffered but did not consume, so the stream
// stands just after the last value read; releasing a writer flushes its buffer.
//
// Failure: every reader error is EReadError.
//   - the stream ends inside a value:  "SReadError"
//   - a wrong signature:               "TXReader.EReadError: SInvalidImage At <pos>"
//   - an unexpected tag:               "TXReader.EReadError: SInvalidPropertyValue: <detail>
//                                       At <pos>" (one line)
// where <pos> is the underlying stream's position, i.e. the end of the last block read into the
// buffer, not the offset of the offending value. Long payloads are read in bounded pieces, so a
// corrupt length costs no more memory than the stream really holds. The writer raises only
// EWriteError "Stream write error", from FlushBuffer, when the stream takes less than the whole
// block; the bytes it did not take stay buffered for a retry. The destructor flushes too but
// cannot report, so call FlushBuffer first when the outcome matters.
//
// One thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "util/Streams.h"

namespace rb {

// Value tags. ReadValue returns the raw byte, which may lie outside this list (a prefix byte
// 0xF0..0xFF, or corrupt data).
enum TValueType : uint8_t {
  vaNull = 0x00,  // end of list
  vaList = 0x01,
  vaInt8 = 0x02,
  vaInt16 = 0x03,
  vaInt32 = 0x04,
  vaExtended = 0x05,
  vaString = 0x06,  // 1-byte length
  vaIdent = 0x07,
  vaFalse = 0x08,
  vaTrue = 0x09,
  vaBinary = 0x0A,
  vaSet = 0x0B,
  vaLString = 0x0C,  // 4-byte length
  vaNil = 0x0D,
  vaCollection = 0x0E,
  vaSingle = 0x0F,
  vaCurrency = 0x10,
  vaDate = 0x11,
  vaWString = 0x12,  // 4-byte count of UTF-16 units
  vaInt64 = 0x13,
  vaUTF8String = 0x14,
};

// The 80-bit x87 double-extended layout, built arithmetically so it does not depend on how the
// compiler stores long double: 64-bit significand with an explicit integer bit, then 15-bit
// exponent (bias 16383) and sign. 1.5 is 00 00 00 00 00 00 00 C0 FF 3F.
void EncodeExtended(long double value, unsigned char out[10]);
long double DecodeExtended(const unsigned char in[10]);

// The least that an object filled from a component stream has: a name and a tag.
class TXComponent {
 public:
  TXComponent() = default;
  TXComponent(const TXComponent&) = delete;
  TXComponent& operator=(const TXComponent&) = delete;
  virtual ~TXComponent() = default;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

 private:
  std::string name_;
  int32_t tag_ = 0;
};

class TXFiler {
 public:
  // A buffer size below 1 is taken as 1.
  TXFiler(TStream& stream, int32_t buffer_size);
  TXFiler(const TXFiler&) = delete;
  TXFiler& operator=(const TXFiler&) = delete;
  virtual ~TXFiler();

  virtual void SetRoot(TXComponent* root) { root_ = root; }
  TXComponent* Root() const { return root_; }
  TStream& Stream() const { return stream_; }

 protected:
  TStream& stream_;
  std::unique_ptr<unsigned char[]> buffer_;
  const int32_t buf_size_;
  int32_t buf_pos_ = 0;
  int32_t buf_end_ = 0;  // reader: valid bytes in the buffer
  TXComponent* root_ = nullptr;
  TXComponent* lookup_root_ = nullptr;
};

class TXReader;
// Called with the name about to be given; may change it.
using TXNameHook = std::function<void(TXReader& reader, TXComponent& component, std::string& name)>;
using TXReferenceNameHook = std::function<void(TXReader& reader, std::string& name)>;

class TXReader : public TXFiler {
 public:
  TXReader(TStream& stream, int32_t buffer_size);
  ~TXReader() override;

  void ReadBytes(void* destination, int64_t count);
  // Refills the buffer from the stream; reading nothing is the "SReadError" error.
  void FillBuffer();

  TValueType ReadValue() { return static_cast<TValueType>(ReadByte()); }
  // Peeks. ReadByte leaves at least the byte just read in the buffer, so one step back is
  // always there.
  TValueType NextValue() {
    const TValueType tag = ReadValue();
    StepBack();
    return tag;
  }
  bool EndOfList() { return NextValue() == vaNull; }
  // On another tag: skips that whole value, then raises.
  void CheckValue(TValueType expected) {
    if (buf_pos_ < buf_end_ && buffer_[buf_pos_] == expected) {
      ++buf_pos_;  // the common case, inline: every record begins and ends with one
      return;
    }
    CheckValueSlow(expected);
  }
  void ReadListBegin() { CheckValue(vaList); }
  void ReadListEnd() { CheckValue(vaNull); }
  void ReadSignature();

  bool ReadBoolean() {
    const TValueType tag = ReadValue();
    if (tag == vaTrue) return true;
    if (tag != vaFalse) BooleanError();
    return false;
  }
  // Tags 02/03/04, sign-extended.
  int32_t ReadInteger();
  // Tag 13, or whatever ReadInteger takes.
  int64_t ReadInt64();
  // Tag 05, or whatever ReadInt64 takes.
  long double ReadFloat();
  // 8-bit text (Windows-1252): tags 06 and 0C as they are, 12 and 14 converted.
  std::string ReadString();
  // ReadString without the copy where it can: a short text (tag 06) that lies whole in the
  // buffer is returned in place, valid until the next read; any other text is read by
  // ReadString into scratch.
  std::string_view ReadStringView(std::string& scratch) {
    if (buf_end_ - buf_pos_ >= 2 && buffer_[buf_pos_] == vaString) {
      const int32_t n = buffer_[buf_pos_ + 1];
      if (buf_end_ - buf_pos_ - 2 >= n) {
        const char* text = reinterpret_cast<const char*>(buffer_.get() + buf_pos_ + 2);
        buf_pos_ += 2 + n;
        return {text, static_cast<size_t>(n)};
      }
    }
    scratch = ReadString();
    return scratch;
  }
  // UTF-16 text: tags 12 and 14, or 06 and 0C converted from the code page.
  std::u16string ReadWideString();
  // A 1-byte length and that many bytes, untagged.
  std::string ReadShortName();

  // Skips one whole value, nested lists and collections included. The tag counts modulo 128;
  // tags above 20 have no payload.
  void SkipValue();
  void SkipBytes(int64_t count);

  // An optional prefix byte 0xF0..0xFF: flags are its low nibble; flag 2 means an integer child
  // position follows. Without one, flags is 0 and nothing is read.
  virtual void ReadPrefix(int32_t& flags, int32_t& child_position);
  // Runs the name hook, then names the component.
  virtual void SetComponentName(TXComponent& component, std::string name);
  virtual void ReferenceName(std::string& name);

  void SetNameHook(TXNameHook hook) { on_set_name_ = std::move(hook); }
  void SetReferenceNameHook(TXReferenceNameHook hook) { on_reference_name_ = std::move(hook); }

 private:
  void StepBack() { --buf_pos_; }
  // Inline while the buffer holds bytes: the record-set stream is mostly one-byte tags and
  // short values, and a call per byte showed up in every profile of a load.
  uint8_t ReadByte() { return buf_pos_ < buf_end_ ? buffer_[buf_pos_++] : ReadByteRefilling(); }
  uint8_t ReadByteRefilling();
  uint32_t ReadUInt32();
  std::string ReadPayload(int64_t count);
  [[noreturn]] void ReadError(const std::string& argument);
  [[noreturn]] void InvalidValue(const std::string& detail);
  [[noreturn]] void BooleanError();
  void CheckValueSlow(TValueType expected);

  TXNameHook on_set_name_;
  TXReferenceNameHook on_reference_name_;
};

class TXWriter : public TXFiler {
 public:
  TXWriter(TStream& stream, int32_t buffer_size);
  // Flushes; a write failure here is lost (see FlushBuffer).
  ~TXWriter() override;

  // Also keeps the object as the lookup root.
  void SetRoot(TXComponent* root) override;

  void WriteBytes(const void* source, int64_t count);
  // Writes out everything buffered; raises EWriteError when the stream takes less, keeping what
  // it did not take.
  void FlushBuffer();

  void WriteValue(TValueType tag);
  void WriteSignature();
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  void WriteBoolean(bool value);
  // The smallest of tags 02/03/04 that holds the value.
  void WriteInteger(int32_t value);
  void WriteFloat(long double value);
  // ASCII text as 06 (up to 255 bytes) or 0C; any other text as UTF-8 under 14.
  void WriteString(const std::string& text);

 private:
  void WriteCount(uint32_t count);
};

}  // namespace rb

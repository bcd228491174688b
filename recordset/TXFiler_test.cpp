#include "recordset/TXFiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "util/Errors.h"

namespace rb {
namespace {

using Bytes = std::string;

Bytes Written(const std::function<void(TXWriter&)>& write, int32_t buffer_size = 16384) {
  TMemoryStream stream;
  {
    TXWriter writer(stream, buffer_size);
    write(writer);
    writer.FlushBuffer();
  }
  return Bytes(stream.View());
}

// Runs fn on a reader over bytes and returns the EReadError text, or "" when nothing was raised.
std::string ReadErrorOf(const Bytes& bytes, const std::function<void(TXReader&)>& fn,
                        int32_t buffer_size = 16384) {
  TMemoryStream stream(bytes);
  TXReader reader(stream, buffer_size);
  try {
    fn(reader);
  } catch (const EReadError& e) {
    return e.what();
  }
  return "";
}

TEST(TXWriter, IntegerTakesTheSmallestTag) {
  struct Case {
    int32_t value;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {0, Bytes("\x02\x00", 2)},
      {127, "\x02\x7F"},
      {128, Bytes("\x03\x80\x00", 3)},
      {-128, "\x02\x80"},
      {-129, "\x03\x7F\xFF"},
      {32767, "\x03\xFF\x7F"},
      {32768, Bytes("\x04\x00\x80\x00\x00", 5)},
      {-32768, Bytes("\x03\x00\x80", 3)},
      {-32769, "\x04\xFF\x7F\xFF\xFF"},
      {std::numeric_limits<int32_t>::min(), Bytes("\x04\x00\x00\x00\x80", 5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const Bytes bytes = Written([&](TXWriter& w) { w.WriteInteger(c.value); });
    EXPECT_EQ(bytes, c.bytes);
    TMemoryStream stream(bytes);
    TXReader reader(stream, 16);
    EXPECT_EQ(reader.ReadInteger(), c.value);
  }
}

TEST(TXReader, IntegersAreSignExtended) {
  struct Case {
    Bytes bytes;
    int64_t value;
  };
  const std::vector<Case> cases = {
      {"\x02\xFF", -1},
      {"\x03\xFF\xFF", -1},
      {"\x04\xFF\xFF\xFF\xFF", -1},
      {"\x03\x34\x12", 0x1234},
      {"\x13\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", -2},
      {Bytes("\x13\x00\x00\x00\x00\x01\x00\x00\x00", 9), int64_t{1} << 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    if (c.bytes[0] != vaInt64) {
      TMemoryStream stream(c.bytes);
      EXPECT_EQ(TXReader(stream, 16).ReadInteger(), c.value);
    }
    TMemoryStream stream(c.bytes);
    EXPECT_EQ(TXReader(stream, 16).ReadInt64(), c.value);
  }
}

TEST(TXReader, FloatAcceptsIntegerTags) {
  TMemoryStream stream(Bytes("\x02\x05\x13\x00\x00\x00\x00\x00\x00\x00\x01", 11));
  TXReader reader(stream, 16);
  EXPECT_EQ(reader.ReadFloat(), 5.0L);
  EXPECT_EQ(reader.ReadFloat(), std::ldexp(1.0L, 56));
}

TEST(TXReader, ValuesAcrossTheEndOfTheBufferReadTheSameAtEveryBufferSize) {
  // Integers, floats, Booleans and list tags are taken straight from the buffer when they lie
  // whole in it and byte by byte when they cross its end; texts go through the copying path.
  // Each buffer size puts those ends elsewhere.
  const std::vector<int32_t> integers = {-1,    127,   -128,      300,      -32768,
                                         32767, 70000, INT32_MIN, INT32_MAX};
  const std::vector<long double> floats = {1.5L, -0.1L, 45000.25L, 1e300L, -3.0L};
  const Bytes bytes = Written([&](TXWriter& w) {
    for (size_t i = 0; i < integers.size(); ++i) {
      w.WriteInteger(integers[i]);
      w.WriteBoolean(i % 2 == 0);
      w.WriteFloat(floats[i % floats.size()]);
      w.WriteString(std::string(i * 3, static_cast<char>('a' + i)));
    }
    w.WriteListEnd();
  });
  for (int32_t buffer_size = 1; buffer_size <= 40; ++buffer_size) {
    SCOPED_TRACE(buffer_size);
    TMemoryStream stream(bytes);
    TXReader reader(stream, buffer_size);
    for (size_t i = 0; i < integers.size(); ++i) {
      EXPECT_EQ(reader.ReadInteger(), integers[i]);
      EXPECT_EQ(reader.ReadBoolean(), i % 2 == 0);
      EXPECT_EQ(reader.ReadFloat(), floats[i % floats.size()]);
      EXPECT_EQ(reader.ReadString(), std::string(i * 3, static_cast<char>('a' + i)));
    }
    EXPECT_TRUE(reader.EndOfList());
    reader.ReadListEnd();
  }
}

TEST(Extended, OneAndAHalfHasTheX87Layout) {
  unsigned char bytes[10];
  EncodeExtended(1.5L, bytes);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(bytes), 10), Bytes("\0\0\0\0\0\0\0\xC0\xFF\x3F", 10));
  EXPECT_EQ(DecodeExtended(bytes), 1.5L);
  EXPECT_EQ(Written([](TXWriter& w) { w.WriteFloat(1.5L); }),
            Bytes("\x05\0\0\0\0\0\0\0\xC0\xFF\x3F", 11));
  const unsigned char minus_one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xBF};
  EXPECT_EQ(DecodeExtended(minus_one), -1.0L);
}

TEST(Extended, RoundTripsEveryKindOfValue) {
  using L = std::numeric_limits<long double>;
  const std::vector<long double> values = {
      0.0L,          1.0L,           -2.5L,
      0.1L,          1e300L,         -1e-300L,
      123456.75L,    L::max(),       L::min(),
      L::lowest(),   L::epsilon(),   L::denorm_min(),
      L::infinity(), -L::infinity(), 3.14159265358979323846264338327950288L,
  };
  for (long double v : values) {
    SCOPED_TRACE(static_cast<double>(v));
    unsigned char bytes[10];
    EncodeExtended(v, bytes);
    EXPECT_EQ(DecodeExtended(bytes), v);
  }
  unsigned char bytes[10];
  EncodeExtended(-0.0L, bytes);
  EXPECT_TRUE(std::signbit(DecodeExtended(bytes)));
  EXPECT_EQ(bytes[9], 0x80);
  EncodeExtended(L::quiet_NaN(), bytes);
  EXPECT_TRUE(std::isnan(DecodeExtended(bytes)));
  EXPECT_EQ(bytes[9] & 0x7F, 0x7F);
}

TEST(Extended, DecodesRandomBitPatternsAsSignificandTimesPowerOfTwo) {
  // value = significand * 2^(exponent - 16383 - 63), exponent 0 scaling like 1; covers normal,
  // subnormal and unnormal (integer bit clear) patterns alike.
  uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 20000; ++i) {
    uint64_t significand = next();
    if (i % 3 == 0) significand &= ~(uint64_t{1} << 63);
    int exponent = static_cast<int>(next() % 0x7FFF);  // all but infinity and NaN
    if (i % 7 == 0) exponent = 0;
    const bool negative = (next() & 1) != 0;
    unsigned char bytes[10];
    for (int b = 0; b < 8; ++b)
      bytes[b] = static_cast<unsigned char>(significand >> (8 * b));
    const int top = exponent | (negative ? 0x8000 : 0);
    bytes[8] = static_cast<unsigned char>(top & 0xFF);
    bytes[9] = static_cast<unsigned char>(top >> 8);
    long double expected = std::ldexp(static_cast<long double>(significand),
                                      (exponent == 0 ? 1 : exponent) - 16383 - 63);
    if (negative) expected = -expected;
    ASSERT_EQ(DecodeExtended(bytes), expected) << i;
  }
}

TEST(Extended, PiMatchesTheFpuConstant) {
  if (std::numeric_limits<long double>::digits != 64) GTEST_SKIP() << "long double is not x87";
  unsigned char bytes[10];
  EncodeExtended(3.14159265358979323846264338327950288L, bytes);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(bytes), 10),
            Bytes("\x35\xC2\x68\x21\xA2\xDA\x0F\xC9\x00\x40", 10));
}

TEST(TXWriter, StringChoosesItsTag) {
  struct Case {
    const char* name;
    std::string text;
    Bytes prefix;
  };
  const std::vector<Case> cases = {
      {"empty", "", Bytes("\x06\x00", 2)},
      {"short ascii", "abc", "\x06\x03"},
      {"255 ascii", std::string(255, 'x'), "\x06\xFF"},
      {"256 ascii", std::string(256, 'x'), Bytes("\x0C\x00\x01\x00\x00", 5)},
      {"one umlaut", "\xE4", Bytes("\x14\x02\x00\x00\x00", 5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = Written([&](TXWriter& w) { w.WriteString(c.text); });
    ASSERT_GE(bytes.size(), c.prefix.size());
    EXPECT_EQ(bytes.substr(0, c.prefix.size()), c.prefix);
    TMemoryStream stream(bytes);
    TXReader reader(stream, 7);
    EXPECT_EQ(reader.ReadString(), c.text);
    EXPECT_EQ(stream.Position(), stream.Size());
  }
  EXPECT_EQ(Written([](TXWriter& w) { w.WriteString("\xE4"); }),
            Bytes("\x14\x02\x00\x00\x00\xC3\xA4", 7));
}

TEST(TXReader, TextTagsConvertBetweenEightBitAndWide) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::string narrow;
    std::u16string wide;
  };
  const std::vector<Case> cases = {
      {"utf-8", Bytes("\x14\x02\x00\x00\x00\xC3\xA4", 7), "\xE4", u"\u00E4"},
      {"utf-16", Bytes("\x12\x02\x00\x00\x00\xAC\x20\x41\x00", 9),
       "\x80"
       "A",
       u"\u20ACA"},
      {"short", "\x06\x01\x80", "\x80", u"\u20AC"},
      {"long", Bytes("\x0C\x02\x00\x00\x00\xFC!", 7), "\xFC!", u"\u00FC!"},
      {"utf-16 without a code page byte", Bytes("\x12\x01\x00\x00\x00\x00\x04", 7), "?", u"\u0400"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream narrow_stream(c.bytes);
    EXPECT_EQ(TXReader(narrow_stream, 16).ReadString(), c.narrow);
    TMemoryStream wide_stream(c.bytes);
    EXPECT_EQ(TXReader(wide_stream, 16).ReadWideString(), c.wide);
  }
}

TEST(TXReader, ReleaseHandsUnreadBytesBack) {
  for (int32_t buffer_size : {4, 5, 7, 10, 16384}) {
    SCOPED_TRACE(buffer_size);
    TMemoryStream stream(Bytes(100, '\x08'));
    {
      TXReader reader(stream, buffer_size);
      for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(reader.ReadBoolean());
      // A peek may refill the buffer (at 10 for sizes 5 and 10); the peeked byte is not consumed.
      EXPECT_EQ(reader.NextValue(), vaFalse);
    }
    EXPECT_EQ(stream.Position(), 10);
  }
}

TEST(TXReader, PeekingLeavesTheValueInPlace) {
  TMemoryStream stream(Bytes("\x09\x00", 2));
  TXReader reader(stream, 1);  // the peeked byte is the whole buffer
  EXPECT_EQ(reader.NextValue(), vaTrue);
  EXPECT_FALSE(reader.EndOfList());
  EXPECT_TRUE(reader.ReadBoolean());
  EXPECT_TRUE(reader.EndOfList());
  reader.ReadListEnd();
}

TEST(TXReader, ErrorTextsNameTheOperationTheSizeAndTheStreamPosition) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::function<void(TXReader&)> read;
    int32_t buffer_size;
    std::string message;
  };
  Bytes record200 = Bytes("\x02\x05", 2) + Bytes(198, '\x00');
  Bytes hundred = Bytes("\x0D", 1) + Bytes(99, '\x00');
  const std::vector<Case> cases = {
      {"wrong list tag", record200, [](TXReader& r) { r.ReadListBegin(); }, 16384,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.CheckValue ValueType: 1 "
       "Stream.Size=200 At 200"},
      {"position is the end of the buffered block", hundred, [](TXReader& r) { r.ReadListEnd(); },
       16,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.CheckValue ValueType: 0 "
       "Stream.Size=100 At 16"},
      {"boolean", hundred, [](TXReader& r) { r.ReadBoolean(); }, 16384,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadBoolean Stream.Size=100 At 100"},
      {"integer", hundred, [](TXReader& r) { r.ReadInteger(); }, 16384,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadInteger ReadValue invalid "
       "Stream.Size=100 At 100"},
      {"int64 falls back to integer", hundred, [](TXReader& r) { r.ReadInt64(); }, 16384,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadInteger ReadValue invalid "
       "Stream.Size=100 At 100"},
      {"string", hundred, [](TXReader& r) { r.ReadString(); }, 16384,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadString ReadValue invalid "
       "Stream.Size=100 At 100"},
      {"wide string", hundred, [](TXReader& r) { r.ReadWideString(); }, 16384,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadWideString ReadValue invalid "
       "Stream.Size=100 At 100"},
      {"signature", "TPF1xx", [](TXReader& r) { r.ReadSignature(); }, 16384,
       "TXReader.EReadError: SInvalidImage At 6"},
      {"value at the end of the stream", "", [](TXReader& r) { r.ReadValue(); }, 16384,
       "SReadError"},
      {"payload cut off",
       "\x06\x05"
       "ab",
       [](TXReader& r) { r.ReadString(); }, 16384, "SReadError"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadErrorOf(c.bytes, c.read, c.buffer_size), c.message);
  }
}

TEST(TXReader, CheckValueSkipsTheUnexpectedValue) {
  TMemoryStream stream(Bytes("\x01\x02\x07\x06\x01x\x00\x09", 8));
  TXReader reader(stream, 16);
  EXPECT_THROW(reader.CheckValue(vaInt8), EReadError);
  EXPECT_TRUE(reader.ReadBoolean());
}

TEST(TXReader, ReadsThePrefixByte) {
  struct Case {
    Bytes bytes;
    int32_t flags;
    int32_t child;
    int64_t consumed;
  };
  const std::vector<Case> cases = {
      {"\xF2\x02\x05", 2, 5, 3}, {Bytes("\xF3\x03\x00\x01", 4), 3, 256, 4},
      {"\xF1", 1, -7, 1},        {"\xF0", 0, -7, 1},
      {"\x06", 0, -7, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    TMemoryStream stream(c.bytes);
    int32_t flags = -1;
    int32_t child = -7;
    {
      TXReader reader(stream, 16);
      reader.ReadPrefix(flags, child);
    }
    EXPECT_EQ(flags, c.flags);
    EXPECT_EQ(child, c.child);
    EXPECT_EQ(stream.Position(), c.consumed);
  }
}

// One of every value the reader knows, nested ones included.
Bytes EveryValue() {
  return Written([](TXWriter& w) {
    w.WriteSignature();
    w.WriteListBegin();
    w.WriteInteger(1);
    w.WriteInteger(1000);
    w.WriteInteger(100000);
    w.WriteFloat(-2.25L);
    w.WriteString("short");
    w.WriteString(std::string(300, 'L'));
    w.WriteString("\xFC");
    w.WriteBoolean(false);
    w.WriteBoolean(true);
    w.WriteBytes(
        "\x07\x03"
        "Foo",
        5);                                      // identifier
    w.WriteBytes("\x0A\x03\x00\x00\x00xyz", 8);  // binary
    w.WriteBytes(
        "\x0B\x01"
        "a\x02"
        "bc\x00",
        7);                                                   // set
    w.WriteBytes("\x0D", 1);                                  // nil
    w.WriteBytes("\x0F\x00\x00\xC0\x3F", 5);                  // single
    w.WriteBytes("\x10\x01\x00\x00\x00\x00\x00\x00\x00", 9);  // currency
    w.WriteBytes("\x11\x00\x00\x00\x00\x00\x00\xF0\x3F", 9);  // date
    w.WriteBytes("\x12\x01\x00\x00\x00\x41\x00", 7);          // UTF-16
    w.WriteBytes("\x13\x01\x02\x03\x04\x05\x06\x07\x08", 9);  // 64-bit
    w.WriteBytes("\x0E", 1);                                  // collection:
    w.WriteBytes("\x02\x05\x01\x01X\x02\x07\x00", 8);         //  item with order
    w.WriteBytes("\x01\x02YY\x01\x02\x01\x00\x00", 9);        //  item with a list
    w.WriteListEnd();                                         // collection end
    w.WriteBytes("\x85", 1);                                  // tag 5 + 128
    w.WriteBytes("\x00\x00\x00\x00\x00\x00\x00\x80\xFF\x3F", 10);
    w.WriteBytes("\x7F", 1);  // unknown: no payload
    w.WriteListEnd();
    w.WriteBytes("\x09", 1);
  });
}

TEST(TXReader, SkipValuePassesOverEveryKindOfValue) {
  const Bytes bytes = EveryValue();
  TMemoryStream stream(bytes);
  TXReader reader(stream, 5);
  reader.ReadSignature();
  reader.SkipValue();  // the whole list
  EXPECT_TRUE(reader.ReadBoolean());
  EXPECT_THROW(reader.ReadValue(), EReadError);
}

TEST(TXReader, SkipsLongNestingWithoutRecursion) {
  const Bytes bytes = Bytes(200000, '\x01') + Bytes(200000, '\x00') + "\x09";
  TMemoryStream stream(bytes);
  TXReader reader(stream, 16384);
  reader.SkipValue();
  EXPECT_TRUE(reader.ReadBoolean());
}

// Reads the list of EveryValue with the typed operations a caller would use.
void ReadEveryValue(TXReader& r) {
  r.ReadSignature();
  r.ReadListBegin();
  EXPECT_EQ(r.ReadInteger(), 1);
  EXPECT_EQ(r.ReadInt64(), 1000);
  EXPECT_EQ(r.ReadFloat(), 100000.0L);
  EXPECT_EQ(r.ReadFloat(), -2.25L);
  EXPECT_EQ(r.ReadString(), "short");
  EXPECT_EQ(r.ReadString().size(), 300u);
  EXPECT_EQ(r.ReadWideString(), u"\u00FC");
  EXPECT_FALSE(r.ReadBoolean());
  EXPECT_TRUE(r.ReadBoolean());
  while (!r.EndOfList())
    r.SkipValue();
  r.ReadListEnd();
  EXPECT_TRUE(r.ReadBoolean());
}

TEST(TXReader, EveryTruncatedPrefixFailsWithTheEndOfStreamError) {
  const Bytes bytes = EveryValue();
  {
    TMemoryStream stream(bytes);
    TXReader reader(stream, 16384);
    ReadEveryValue(reader);
  }
  for (size_t n = 0; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    for (int32_t buffer_size : {3, 16384}) {
      EXPECT_EQ(ReadErrorOf(bytes.substr(0, n), ReadEveryValue, buffer_size), "SReadError");
      EXPECT_EQ(ReadErrorOf(
                    bytes.substr(0, n),
                    [](TXReader& r) {
                      r.ReadSignature();
                      r.SkipValue();
                      r.ReadValue();
                    },
                    buffer_size),
                "SReadError");
    }
  }
}

TEST(TXReader, CorruptBytesGiveReadErrorsOnly) {
  const Bytes bytes = EveryValue();
  for (size_t i = 0; i < bytes.size(); ++i) {
    for (int v : {0x00, 0x01, 0x05, 0x0A, 0x0B, 0x0C, 0x0E, 0x12, 0x14, 0x7F, 0x8E, 0xF2, 0xFF}) {
      Bytes corrupt = bytes;
      corrupt[i] = static_cast<char>(v);
      TMemoryStream stream(corrupt);
      TXReader reader(stream, 64);
      try {
        reader.ReadSignature();
        while (true)
          reader.SkipValue();
      } catch (const EReadError&) {
      }
      stream.SetPosition(0);
      TXReader typed(stream, 64);
      try {
        // Typed reads may meet unexpected values; only EReadError may come out.
        typed.ReadSignature();
        typed.ReadListBegin();
        for (int k = 0; k < 40; ++k) {
          switch (k % 5) {
            case 0:
              typed.ReadInteger();
              break;
            case 1:
              typed.ReadFloat();
              break;
            case 2:
              typed.ReadString();
              break;
            case 3:
              typed.ReadWideString();
              break;
            default:
              typed.ReadBoolean();
              break;
          }
        }
      } catch (const EReadError&) {
      }
    }
  }
}

TEST(TXReader, HugeLengthsFailAtTheEndOfTheStream) {
  const std::vector<Bytes> cases = {
      "\x0C\xFF\xFF\xFF\x7F"
      "abc",
      "\x14\xFF\xFF\xFF\xFF"
      "abc",
      "\x12\xFF\xFF\xFF\x7F"
      "abcd",
  };
  for (const auto& bytes : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    EXPECT_EQ(ReadErrorOf(bytes, [](TXReader& r) { r.ReadString(); }), "SReadError");
    EXPECT_EQ(ReadErrorOf(bytes, [](TXReader& r) { r.SkipValue(); }), "SReadError");
  }
}

TEST(TXWriter, SmallBufferWritesTheSameBytes) {
  const Bytes big = EveryValue();
  TMemoryStream stream;
  {
    TXWriter writer(stream, 3);
    writer.WriteBytes(big.data(), static_cast<int64_t>(big.size()));
    // Released without an explicit flush: the destructor writes the rest.
  }
  EXPECT_EQ(stream.View(), big);
}

class FailingStream : public TMemoryStream {
 public:
  bool fail = true;
  int64_t Write(const void* buffer, int64_t count) override {
    return fail ? 0 : TMemoryStream::Write(buffer, count);
  }
};

TEST(TXWriter, FlushReportsTheStreamsWriteErrorAndKeepsTheBytes) {
  FailingStream stream;
  TXWriter writer(stream, 16);
  writer.WriteInteger(5);
  try {
    writer.FlushBuffer();
    FAIL() << "the write failure must be reported";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
  for (int i = 0; i < 7; ++i)
    writer.WriteInteger(i);  // fills the buffer
  EXPECT_THROW(writer.WriteInteger(1), EWriteError) << "a full buffer must be written out";
  stream.fail = false;
  writer.FlushBuffer();
  EXPECT_EQ(stream.Size(), 16);
  EXPECT_EQ(stream.View().substr(0, 4), Bytes("\x02\x05\x02\x00", 4));
}

// A stream that takes only part of what it is given, then fails, like a disk filling up.
class ShortWriteStream : public TMemoryStream {
 public:
  int64_t room = 0;
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t n = std::min(count, room);
    room -= n;
    return TMemoryStream::Write(buffer, n);
  }
};

// Regression: a flush that failed part-way kept the whole block, so the retry wrote its start
// twice.
TEST(TXWriter, RetryAfterAShortWriteNeitherRepeatsNorLosesBytes) {
  const Bytes expected = EveryValue();
  for (int64_t room : {0, 1, 5, 13, 40}) {
    SCOPED_TRACE(room);
    ShortWriteStream stream;
    stream.room = room;
    {
      TXWriter writer(stream, 16);
      try {
        writer.WriteBytes(expected.data(), static_cast<int64_t>(expected.size()));
        writer.FlushBuffer();
        FAIL() << "the short write must be reported";
      } catch (const EWriteError&) {
      }
      stream.room = 1 << 20;
      writer.FlushBuffer();
      // What WriteBytes had not yet taken when the error came is the caller's to write again.
      const int64_t taken = stream.Size();
      writer.WriteBytes(expected.data() + taken, static_cast<int64_t>(expected.size()) - taken);
    }
    EXPECT_EQ(stream.View(), expected);
  }
}

TEST(TXWriter, DestructorWritesOnlyWhatAFailedFlushLeft) {
  ShortWriteStream stream;
  stream.room = 3;
  {
    TXWriter writer(stream, 64);
    writer.WriteBytes("abcdefgh", 8);
    EXPECT_THROW(writer.FlushBuffer(), EWriteError);
    stream.room = 100;
  }
  EXPECT_EQ(stream.View(), "abcdefgh");
}

TEST(TXReader, NameHookMayRenameTheComponent) {
  TMemoryStream stream;
  TXReader reader(stream, 16);
  TXComponent component;
  reader.SetComponentName(component, "First");
  EXPECT_EQ(component.Name(), "First");
  reader.SetNameHook([](TXReader&, TXComponent&, std::string& name) { name += "_1"; });
  reader.SetComponentName(component, "Wrapper");
  EXPECT_EQ(component.Name(), "Wrapper_1");
  std::string reference = "Ref";
  reader.ReferenceName(reference);
  EXPECT_EQ(reference, "Ref");
  reader.SetReferenceNameHook([](TXReader&, std::string& name) { name = "Other"; });
  reader.ReferenceName(reference);
  EXPECT_EQ(reference, "Other");
}

}  // namespace
}  // namespace rb

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "recordset/TXFiler.h"
#include "recordset/UVirtualDataset.h"

namespace rb {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

const std::string kSig = "TPF0";
const std::string kExtended15 = Bytes({0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F});

std::string Extended(long double v) {
  unsigned char out[10];
  EncodeExtended(v, out);
  return "\x05" + std::string(reinterpret_cast<char*>(out), 10);
}

std::string SaveToBytes(TVirtualDataSet& ds) {
  TMemoryStream stream;
  TBinaryStreamFormat format;
  ds.SaveToStream(stream, format);
  return std::string(stream.View());
}

int LoadBytes(TVirtualDataSet& ds, const std::string& bytes) {
  TMemoryStream stream(bytes);
  TBinaryStreamFormat format;
  return ds.LoadFromStream(stream, format);
}

// ID integer, WW_NETTO float, POT integer.
void DefineExample(TVirtualDataSet& ds) {
  ds.LoadFieldDefsFromText("ID,3,0\r\nWW_NETTO,6,0\r\nPOT,3,0\r\n", true);
}

const std::string kExample = kSig + Bytes({0x01, 0x01, 0x02, 0x00, 0x08, 0x02, 0x07, 0x08}) +
                             kExtended15 + Bytes({0x09, 0x00, 0x00});

TEST(BinaryStreamFormat, WritesTheExampleRecord) {
  TVirtualDataSet ds;
  DefineExample(ds);
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(7);
  ds.FieldByName("WW_NETTO")->SetAsFloat(1.5);
  ds.Post();
  std::string bytes = SaveToBytes(ds);
  EXPECT_EQ(bytes.size(), 26u);
  EXPECT_EQ(bytes, kExample);
}

TEST(BinaryStreamFormat, ReadsTheExampleRecord) {
  TVirtualDataSet ds;
  DefineExample(ds);
  EXPECT_EQ(LoadBytes(ds, kExample), 1);
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 7);
  EXPECT_EQ(ds.FieldByName("WW_NETTO")->AsFloat(), 1.5);
  EXPECT_TRUE(ds.FieldByName("POT")->IsNull());
  EXPECT_EQ(ds.FieldByName("POT")->AsString(), "");
}

TEST(BinaryStreamFormat, SmallStreams) {
  struct Case {
    const char* name;
    std::string bytes;
    int records;
    std::string error;  // "" when the load succeeds
  } cases[] = {
      {"empty stream reads nothing", "", 0, ""},
      {"signature only", kSig, 0, "SReadError"},
      {"empty record list", kSig + Bytes({1, 0}), 0, ""},
      {"wrong signature", "TPF1" + Bytes({1, 0}), 0, "TXReader.EReadError: SInvalidImage At 6"},
      {"all fields null", kSig + Bytes({1, 1, 2, 0, 9, 9, 9, 0, 0}), 1, ""},
      {"wrong record begin", kSig + Bytes({1, 2, 0}), 0,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.CheckValue ValueType: 1 "
       "Stream.Size=7 At 7"},
      {"null marker not Boolean", kSig + Bytes({1, 1, 2, 0, 2}), 0,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadBoolean Stream.Size=9 At 9"},
      {"group integer missing", kSig + Bytes({1, 1, 8}), 0,
       "TXReader.EReadError: SInvalidPropertyValue: TXReader.ReadInteger ReadValue invalid "
       "Stream.Size=7 At 7"},
  };
  for (auto& c : cases) {
    TVirtualDataSet ds;
    DefineExample(ds);
    std::string error;
    int n = -1;
    try {
      n = LoadBytes(ds, c.bytes);
    } catch (const EReadError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error) << c.name;
    if (c.error.empty()) {
      EXPECT_EQ(n, c.records) << c.name;
    }
    EXPECT_EQ(ds.RecordCount(), c.records) << c.name;
    EXPECT_EQ(ds.State(), TDataSetState::dsBrowse) << c.name;
    if (c.records == 0) {
      EXPECT_TRUE(ds.Eof()) << c.name;
    } else {
      EXPECT_EQ(ds.RecNo(), 1) << c.name;
    }
  }
}

TEST(BinaryStreamFormat, LaterValueGroupsOverwriteEarlierOnes) {
  TVirtualDataSet ds;
  DefineExample(ds);
  std::string bytes = kSig + Bytes({1, 1}) +                //
                      Bytes({2, 0, 8, 2, 7, 9, 8, 2, 1}) +  // ID 7, POT 1
                      Bytes({3, 5, 0, 8, 2, 9, 9, 9}) +     // ID 9, rest null
                      Bytes({0, 0});
  EXPECT_EQ(LoadBytes(ds, bytes), 1);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 9);
  EXPECT_TRUE(ds.FieldByName("POT")->IsNull());
}

TEST(BinaryStreamFormat, ValuesByFieldType) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("C,7,0\r\nB,8,0\r\nD,11,0\r\nT,1,4\r\nE,1,5\r\nF,6,0\r\n", true);
  std::string bytes =
      kSig + Bytes({1, 1, 2, 0}) + Bytes({8}) + Extended(12.34567L) + Bytes({8}) +
      Extended(1.23456L) +                                                //
      Bytes({8}) + Extended(0.0L) +                                       // date-time 0.0: null
      Bytes({8, 6, 6}) + "abcdef" +                                       // cut to 4
      Bytes({8, 6, 0}) +                                                  // empty text: null
      Bytes({8, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) +  // int64 -1
      Bytes({0, 1, 2, 0, 9, 9}) + Bytes({8}) + Extended(1.0L) +
      Bytes({8, 0x14, 2, 0, 0, 0, 0xC3, 0xA4, 9, 8, 2, 3, 0, 0});
  ASSERT_EQ(LoadBytes(ds, bytes), 2);
  EXPECT_EQ(ds.FieldByName("C")->AsFixed(), 123457);
  EXPECT_DOUBLE_EQ(ds.FieldByName("C")->AsFloat(), 12.3457);
  EXPECT_EQ(ds.FieldByName("B")->AsFixed(), 12346);
  EXPECT_TRUE(ds.FieldByName("D")->IsNull());
  EXPECT_EQ(ds.FieldByName("T")->AsString(), "abcd");
  EXPECT_TRUE(ds.FieldByName("E")->IsNull());
  EXPECT_EQ(ds.FieldByName("F")->AsFloat(), -1.0);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), 1.0);
  EXPECT_EQ(ds.FieldByName("D")->AsString(), "31.12.1899 00:00:00");
  EXPECT_EQ(ds.FieldByName("T")->AsString(), "\xE4");
  EXPECT_EQ(ds.FieldByName("F")->AsFloat(), 3.0);
}

TEST(BinaryStreamFormat, WriterEncodings) {
  struct Case {
    const char* name;
    const char* defs;
    std::function<void(TField&)> set;
    std::string value;  // bytes after the false null marker
  } cases[] = {
      {"integer 127", "X,3,0\r\n", [](TField& f) { f.SetAsInteger(127); }, Bytes({2, 0x7F})},
      {"integer 128", "X,3,0\r\n", [](TField& f) { f.SetAsInteger(128); }, Bytes({3, 0x80, 0})},
      {"integer -32768", "X,3,0\r\n", [](TField& f) { f.SetAsInteger(-32768); },
       Bytes({3, 0, 0x80})},
      {"integer 32768", "X,3,0\r\n", [](TField& f) { f.SetAsInteger(32768); },
       Bytes({4, 0, 0x80, 0, 0})},
      {"Boolean", "X,5,0\r\n", [](TField& f) { f.SetAsBoolean(true); }, Bytes({9})},
      {"currency as decimal", "X,7,0\r\n", [](TField& f) { f.SetAsCurrency(1.5); }, kExtended15},
      {"BCD as decimal", "X,8,0\r\n", [](TField& f) { f.SetAsFloat(1.5); }, kExtended15},
      {"large integer as float", "X,25,0\r\n", [](TField& f) { f.SetAsLargeInt(3); },
       Extended(3.0L)},
      {"255 ASCII bytes", "X,1,300\r\n", [](TField& f) { f.SetAsString(std::string(255, 'a')); },
       Bytes({6, 0xFF}) + std::string(255, 'a')},
      {"256 ASCII bytes", "X,1,300\r\n", [](TField& f) { f.SetAsString(std::string(256, 'a')); },
       Bytes({0x0C, 0, 1, 0, 0}) + std::string(256, 'a')},
      {"non-ASCII text", "X,1,10\r\n", [](TField& f) { f.SetAsString("\xE4"); },
       Bytes({0x14, 2, 0, 0, 0, 0xC3, 0xA4})},
  };
  for (auto& c : cases) {
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(c.defs, true);
    ds.Append();
    c.set(ds.Fields(0));
    ds.Post();
    std::string expected = kSig + Bytes({1, 1, 2, 0, 8}) + c.value + Bytes({0, 0});
    EXPECT_EQ(SaveToBytes(ds), expected) << c.name;
  }
}

// Every field type that keeps a value, written and read back field for field.
TEST(BinaryStreamFormat, RoundTripFieldForField) {
  const char* defs =
      "S,1,20\r\nSI,2,0\r\nI,3,0\r\nW,4,0\r\nL,5,0\r\nF,6,0\r\nC,7,0\r\nB,8,0\r\nD,9,0\r\n"
      "T,10,0\r\nDT,11,0\r\nY,12,4\r\nV,13,6\r\nA,14,0\r\nM,16,0\r\nFC,23,5\r\nG,25,0\r\n";
  TVirtualDataSet src;
  src.LoadFieldDefsFromText(defs, true);
  for (int r = 0; r < 3; ++r) {
    src.Append();
    if (r != 1) {  // the middle record stays all null
      src.FieldByName("S")->SetAsString(
          "Gr\xFC\xDF"
          "e " +
          std::to_string(r));
      src.FieldByName("SI")->SetAsInteger(-300 * (r + 1));
      src.FieldByName("I")->SetAsInteger(100000 * (r + 1));
      src.FieldByName("W")->SetAsInteger(65000);
      src.FieldByName("L")->SetAsBoolean(r == 0);
      src.FieldByName("F")->SetAsFloat(1.0 / 3.0 + r);
      src.FieldByName("C")->SetAsCurrency(-12.5 - r);
      src.FieldByName("B")->SetAsFixed(123456789 + r);
      src.FieldByName("D")->SetAsDateTime(45000 + r);
      src.FieldByName("T")->SetAsDateTime(0.75);
      src.FieldByName("DT")->SetAsDateTime(45000.25 + r);
      src.FieldByName("Y")->SetAsString("wxyz");
      src.FieldByName("V")->SetAsString("ab");
      src.FieldByName("A")->SetAsInteger(r + 1);
      src.FieldByName("M")->SetAsString(std::string(1000, 'm') + "\x80");
      src.FieldByName("FC")->SetAsString("fix");
      src.FieldByName("G")->SetAsLargeInt(INT64_C(1) << 52);
    }
    src.Post();
  }
  std::string bytes = SaveToBytes(src);
  TVirtualDataSet dst;
  dst.LoadFieldDefsFromText(defs, true);
  ASSERT_EQ(LoadBytes(dst, bytes), 3);
  src.First();
  for (dst.First(); !dst.Eof(); dst.Next(), src.Next()) {
    for (int f = 0; f < src.FieldCount(); ++f) {
      TField& a = src.Fields(f);
      TField& b = dst.Fields(f);
      EXPECT_EQ(a.IsNull(), b.IsNull()) << a.FieldName() << " in " << src.RecNo();
      EXPECT_EQ(a.AsString(), b.AsString()) << a.FieldName() << " in " << src.RecNo();
    }
  }
  EXPECT_TRUE(src.Eof());
  EXPECT_EQ(SaveToBytes(dst), bytes);
}

TEST(BinaryStreamFormat, LoadAppendsAndStandsOnTheFirstRecord) {
  TVirtualDataSet ds;
  DefineExample(ds);
  LoadBytes(ds, kExample);
  ds.Last();
  EXPECT_EQ(LoadBytes(ds, kExample), 1);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Loading());
}

TEST(BinaryStreamFormat, NotificationsAreSuspendedDuringTheLoad) {
  TVirtualDataSet ds;
  DefineExample(ds);
  int changes = 0;
  ds.OnDataChange = [&](TVirtualDataSet&, TField*) { ++changes; };
  LoadBytes(ds, kExample + "");
  EXPECT_FALSE(ds.ControlsDisabled());
  EXPECT_LE(changes, 3);  // resume and the final moves only, nothing per value
  changes = 0;
  EXPECT_THROW(LoadBytes(ds, kSig), EReadError);
  EXPECT_FALSE(ds.ControlsDisabled());
}

// A stream that refuses every byte, like a full disk.
class FullStream : public TMemoryStream {
 public:
  int64_t Write(const void*, int64_t) override { return 0; }
};

TEST(BinaryStreamFormat, WriteFailureIsRaisedAndNotificationsResume) {
  TVirtualDataSet ds;
  DefineExample(ds);
  LoadBytes(ds, kExample);
  FullStream full;
  TBinaryStreamFormat format;
  EXPECT_THROW(ds.SaveToStream(full, format), EWriteError);
  EXPECT_FALSE(ds.ControlsDisabled());
  ds.DisableControls();  // a caller's own suspension is left alone
  EXPECT_THROW(ds.SaveToStream(full, format), EWriteError);
  EXPECT_TRUE(ds.ControlsDisabled());
  ds.EnableControls();
  EXPECT_EQ(format.Stream(), nullptr);
  EXPECT_EQ(SaveToBytes(ds), kExample);  // the format is usable again
}

TEST(BinaryStreamFormat, BufferSizeFloor) {
  TBinaryStreamFormat format;
  EXPECT_EQ(format.BufferSize(), 16384);
  for (auto [given, kept] :
       {std::pair{100, 16384}, {16383, 16384}, {16384, 16384}, {20000, 20000}}) {
    format.SetBufferSize(given);
    EXPECT_EQ(format.BufferSize(), kept) << given;
  }
}

TEST(BinaryStreamFormat, PresizesTheRecordListFromTheStreamSize) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("S,1,1\r\n", true);  // record data size 1 + 2
  ASSERT_EQ(ds.RecordDataSize(), 3);
  std::string bytes = kSig + Bytes({1});
  for (int i = 0; i < 10; ++i)
    bytes += Bytes({1, 2, 0, 8, 6, 40}) + std::string(40, 'x') + Bytes({0});
  bytes += Bytes({0});
  ASSERT_EQ(LoadBytes(ds, bytes), 10);
  int q = static_cast<int>(bytes.size()) / 3;  // 155: far more than the 10 records
  EXPECT_EQ(ds.Provider().List().Capacity(), q + q / 50);
  EXPECT_EQ(ds.FieldByName("S")->AsString(), "x");
}

// A stream that reports a size near 2^63 (a device, a broken file system) around real bytes.
class HugeSizeStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int64_t GetSize() override { return INT64_MAX - 1; }
};

TEST(BinaryStreamFormat, PresizingCapsAReportedSizeNearTwoToTheSixtyThird) {
  struct Case {
    const char* name;
    const char* defs;
  } cases[] = {
      {"one Boolean field", "B,5,0\r\n"},
      {"one string of one character", "S,1,1\r\n"},
      {"integer and float", "ID,3,0\r\nN,6,0\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(c.defs, true);
    ASSERT_GT(ds.RecordDataSize(), 0);
    HugeSizeStream stream(kSig + Bytes({1, 0}));
    TBinaryStreamFormat format;
    EXPECT_EQ(ds.LoadFromStream(stream, format), 0);
    const int64_t limit = (1 << 20) + (1 << 20) / 50;  // the hint's ceiling, not a gigabyte
    EXPECT_EQ(ds.Provider().List().Capacity(), limit);
  }
}

// A stream of several records; every prefix must fail cleanly and keep the complete records.
std::string MultiRecordStream(int records) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("ID,3,0\r\nN,6,0\r\nS,1,8\r\nD,11,0\r\n", true);
  for (int i = 0; i < records; ++i) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(i * 1000);
    if (i % 2 == 0) ds.FieldByName("N")->SetAsFloat(i + 0.5);
    ds.FieldByName("S")->SetAsString(i % 3 == 0 ? "\xE4x" : "ab");
    ds.FieldByName("D")->SetAsDateTime(40000 + i);
    ds.Post();
  }
  return SaveToBytes(ds);
}

TEST(BinaryStreamFormat, EveryTruncationFailsAndKeepsPostedRecords) {
  const std::string full = MultiRecordStream(4);
  int last_count = 0;
  for (size_t len = 1; len < full.size(); ++len) {
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText("ID,3,0\r\nN,6,0\r\nS,1,8\r\nD,11,0\r\n", true);
    EXPECT_THROW(LoadBytes(ds, full.substr(0, len)), EReadError) << len;
    EXPECT_EQ(ds.State(), TDataSetState::dsBrowse) << len;
    EXPECT_FALSE(ds.Loading()) << len;
    EXPECT_GE(ds.RecordCount(), last_count) << len;  // grows with the prefix, never a torn record
    EXPECT_LE(ds.RecordCount(), 4) << len;
    last_count = ds.RecordCount();
    int i = 0;
    for (ds.First(); !ds.Eof(); ds.Next(), ++i)
      ASSERT_EQ(ds.FieldByName("ID")->AsInteger(), i * 1000);
  }
  EXPECT_EQ(last_count, 4);
}

TEST(BinaryStreamFormat, CorruptedBytesNeverCrash) {
  const std::string full = MultiRecordStream(3);
  for (size_t pos = 0; pos < full.size(); ++pos) {
    for (int value : {0x00, 0x01, 0x05, 0x06, 0x0C, 0x12, 0x14, 0x7F, 0xFF}) {
      std::string bytes = full;
      bytes[pos] = static_cast<char>(value);
      TVirtualDataSet ds;
      ds.LoadFieldDefsFromText("ID,3,0\r\nN,6,0\r\nS,1,8\r\nD,11,0\r\n", true);
      try {
        LoadBytes(ds, bytes);
      } catch (const EReadError&) {
      } catch (const EDatabaseError&) {
        // a value out of the field's range
      }
      EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
      EXPECT_LE(ds.RecordCount(), 3);
    }
  }
}

TEST(BinaryStreamFormat, HugeDeclaredLengthDoesNotAllocateIt) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("S,1,8\r\n", true);
  std::string bytes = kSig + Bytes({1, 1, 2, 0, 8, 0x0C, 0xFF, 0xFF, 0xFF, 0x7F}) + "abc";
  EXPECT_THROW(LoadBytes(ds, bytes), EReadError);
  EXPECT_EQ(ds.RecordCount(), 0);
}

TEST(BinaryStreamFormat, LoadFromFileTriesTenTimesThenGivesZero) {
  std::vector<uint32_t> waits;
  RetryPolicy retry = RecordsFileRetry();
  retry.sleep = [&](uint32_t ms) { waits.push_back(ms); };
  TVirtualDataSet ds;
  DefineExample(ds);
  TBinaryStreamFormat format;
  EXPECT_EQ(ds.LoadFromFile("/nonexistent-dir/records.vds", format, retry), 0);
  EXPECT_EQ(waits, std::vector<uint32_t>(9, 100));
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());

  std::string path = ::testing::TempDir() + "records_test.vds";
  {
    TFileStream file(path, fmCreate);
    file.WriteBuffer(kExample.data(), static_cast<int64_t>(kExample.size()));
  }
  waits.clear();
  EXPECT_EQ(ds.LoadFromFile(path, format, retry), 1);
  EXPECT_TRUE(waits.empty());
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 7);
  std::remove(path.c_str());
}

TEST(BinaryStreamFormat, LoadNeedsAnOpenRecordSet) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("ID,3,0\r\n", false);
  EXPECT_THROW(LoadBytes(ds, kExample), EDatabaseError);
}

// ---------------------------------------------------------------------------------------------
// A load builds its records straight in the store unless something of the caller's would run
// for each record (events, validation, calculated fields, a derived record set); the two ways
// must leave the same records and raise the same errors.

// Every type that a definition may name, the structured ones included.
const char kEveryType[] =
    "S,1,4\r\nSI,2,0\r\nI,3,0\r\nW,4,0\r\nL,5,0\r\nF,6,0\r\nC,7,0\r\nB,8,0\r\nD,9,0\r\n"
    "T,10,0\r\nDT,11,0\r\nY,12,3\r\nV,13,3\r\nA,14,0\r\nM,16,0\r\nFC,23,2\r\nG,25,0\r\n"
    "X,26,0\r\nR,27,0\r\n";
std::string Int32(int32_t v) {
  return Bytes({8, 4, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF});
}
std::string Float(long double v) {
  return Bytes({8}) + Extended(v);
}
std::string Text(const std::string& text) {
  return Bytes({8, 6, static_cast<int>(text.size())}) + text;
}
const std::string kNull = Bytes({9});

// One value group of the every-type definitions, in their order: sensible values, the named
// ones replaced ("*" replaces all).
std::string Group(const std::vector<std::pair<std::string, std::string>>& replaced = {}) {
  // clang-format off
  std::vector<std::pair<std::string, std::string>> values = {
      {"S", Text("abc")}, {"SI", Int32(-300)}, {"I", Int32(100000)}, {"W", Int32(65000)},
      {"L", Bytes({8, 9})}, {"F", Float(1.0L / 3)}, {"C", Float(-12.5L)},
      {"B", Float(1234.5678L)}, {"D", Float(45000.7L)}, {"T", Float(0.75L)},
      {"DT", Float(45000.25L)}, {"Y", Text("xyz")}, {"V", Text("ab")}, {"A", Int32(5)},
      {"M", Text("memo")}, {"FC", Text("fc")}, {"G", Float(4503599627370496.0L)},
      {"X", Text("adt")}, {"R", Text("arr")}};
  // clang-format on
  std::string bytes = Bytes({2, 0});
  for (auto& [name, value] : values) {
    for (auto& [which, by] : replaced)
      if (which == name || which == "*") value = by;
    bytes += value;
  }
  return bytes;
}
std::string Record(const std::vector<std::string>& groups) {
  std::string bytes = Bytes({1});
  for (const std::string& g : groups)
    bytes += g;
  return bytes + Bytes({0});
}
std::string Records(const std::vector<std::string>& records) {
  std::string bytes = kSig + Bytes({1});
  for (const std::string& r : records)
    bytes += r;
  return bytes + Bytes({0});
}

// What a load leaves behind: its count or error, every field of every record, and the stream
// the records save to.
struct LoadOutcome {
  int count = -1;
  std::string error;
  std::vector<std::string> rows;
  std::string saved;
  bool operator==(const LoadOutcome&) const = default;
};

void PrintTo(const LoadOutcome& o, std::ostream* os) {
  *os << "count " << o.count << ", error \"" << o.error << "\", rows:";
  for (const std::string& row : o.rows)
    *os << "\n  " << row;
}

LoadOutcome Load(const char* defs, const std::string& bytes, bool record_by_record) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText(defs, true);
  int posts = 0;
  // Any handler of the caller's makes the load go through Append and Post.
  if (record_by_record) ds.AfterPost = [&](TVirtualDataSet&) { ++posts; };
  LoadOutcome out;
  try {
    out.count = LoadBytes(ds, bytes);
  } catch (const Exception& e) {
    out.error = e.what();
  }
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(posts, record_by_record ? ds.RecordCount() : 0);
  for (ds.First(); !ds.Eof(); ds.Next()) {
    std::string row;
    for (int i = 0; i < ds.FieldCount(); ++i) {
      const TField& f = ds.Fields(i);
      row += f.IsNull() ? "<null>" : f.AsString();
      row += '|';
    }
    out.rows.push_back(row);
  }
  out.saved = SaveToBytes(ds);
  return out;
}

TEST(BinaryStreamFormat, DirectLoadEqualsTheRecordByRecordOne) {
  const long double kHuge = 1e30L;
  struct Case {
    const char* name;
    std::string bytes;
    int records;  // left in the set
    bool fails;
  } cases[] = {
      {"every type", Records({Record({Group()}), Record({Group()})}), 2, false},
      {"every type null", Records({Record({Group({{"*", kNull}})})}), 1, false},
      {"day number 0 is null",
       Records({Record({Group({{"D", Float(0)}, {"T", Float(0)}, {"DT", Float(0)}})})}), 1, false},
      {"texts cut to their sizes",
       Records({Record({Group({{"S", Text("abcdef")},
                               {"Y", Text("uvwxyz")},
                               {"V", Text("uvwxyz")},
                               {"FC", Text("long")}})})}),
       1, false},
      {"UTF-8 and long texts",
       Records({Record({Group({{"S", Bytes({8, 0x14, 2, 0, 0, 0, 0xC3, 0xA4})},
                               {"M", Bytes({8, 0x0C, 3, 0, 0, 0}) + "abc"}})})}),
       1, false},
      {"integers where floats are read",
       Records({Record({Group({{"F", Int32(-7)}, {"G", Int32(9)}, {"DT", Int32(2)}})})}), 1, false},
      {"a fraction rounding to midnight", Records({Record({Group({{"T", Float(0.9999999999L)}})})}),
       1, false},
      {"later groups overwrite earlier ones",
       Records({Record({Group(), Group({{"S", kNull}, {"I", Int32(-1)}, {"M", kNull}})})}), 1,
       false},
      {"small integer out of range",
       Records({Record({Group()}), Record({Group({{"SI", Int32(40000)}})})}), 1, true},
      {"word below zero", Records({Record({Group({{"W", Int32(-1)}})})}), 0, true},
      {"date beyond the day range", Records({Record({Group({{"D", Float(1e12L)}})})}), 0, true},
      {"time of an infinite day", Records({Record({Group({{"T", Float(HUGE_VALL)}})})}), 0, true},
      {"currency beyond 64 bits", Records({Record({Group({{"C", Float(kHuge)}})})}), 0, true},
      {"BCD beyond 64 bits", Records({Record({Group({{"B", Float(-kHuge)}})})}), 0, true},
      {"large integer beyond 64 bits", Records({Record({Group({{"G", Float(kHuge)}})})}), 0, true},
      {"a number where a text belongs",
       Records({Record({Group()}), Record({Group({{"S", Int32(1)}})})}), 1, true},
      {"a null marker that is no Boolean", Records({Record({Group({{"L", Bytes({2, 1})}})})}), 0,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LoadOutcome direct = Load(kEveryType, c.bytes, false);
    const LoadOutcome by_record = Load(kEveryType, c.bytes, true);
    EXPECT_EQ(direct, by_record);
    EXPECT_EQ(direct.rows.size(), static_cast<size_t>(c.records));
    EXPECT_EQ(!direct.error.empty(), c.fails) << direct.error;
  }
}

TEST(BinaryStreamFormat, DirectLoadOfCorruptedBytesEqualsTheRecordByRecordOne) {
  const std::string full =
      Records({Record({Group()}), Record({Group({{"S", kNull}, {"D", Float(0)}})}),
               Record({Group(), Group({{"W", Int32(7)}})})});
  int differing = 0;
  for (size_t pos = 4; pos < full.size(); ++pos) {
    for (int value : {0x00, 0x01, 0x02, 0x05, 0x06, 0x09, 0x0C, 0x14, 0x7F, 0xFF}) {
      std::string bytes = full;
      bytes[pos] = static_cast<char>(value);
      if (!(Load(kEveryType, bytes, false) == Load(kEveryType, bytes, true))) {
        ADD_FAILURE() << "byte " << pos << " set to " << value;
        if (++differing == 5) return;
      }
    }
  }
}

// A derived record set: Append and Post may do more here than the base class knows of.
class CountingSet : public TVirtualDataSet {
 public:
  int buffers = 0;

 protected:
  TRecordBuffer* GetActiveBuffer() override {
    ++buffers;
    return TVirtualDataSet::GetActiveBuffer();
  }
};

TEST(BinaryStreamFormat, PerRecordHooksStillRunDuringALoad) {
  const std::string two = Records({Record({Group()}), Record({Group()})});
  struct Case {
    const char* name;
    std::function<void(TVirtualDataSet&, int& calls)> hook;
  } cases[] = {
      {"BeforeInsert", [](TVirtualDataSet& ds, int& n) { ds.BeforeInsert = [&n](auto&) { ++n; }; }},
      {"OnNewRecord", [](TVirtualDataSet& ds, int& n) { ds.OnNewRecord = [&n](auto&) { ++n; }; }},
      {"AfterInsert", [](TVirtualDataSet& ds, int& n) { ds.AfterInsert = [&n](auto&) { ++n; }; }},
      {"BeforePost", [](TVirtualDataSet& ds, int& n) { ds.BeforePost = [&n](auto&) { ++n; }; }},
      {"AfterPost", [](TVirtualDataSet& ds, int& n) { ds.AfterPost = [&n](auto&) { ++n; }; }},
      {"validation of one field",
       [](TVirtualDataSet& ds, int& n) {
         ds.FieldByName("I")->OnValidate = [&n](TField&) { ++n; };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(kEveryType, true);
    int calls = 0;
    c.hook(ds, calls);
    EXPECT_EQ(LoadBytes(ds, two), 2);
    EXPECT_EQ(calls, 2);
  }
  // A cancel handler runs when a record is dropped half-read.
  TVirtualDataSet cancelled;
  cancelled.LoadFieldDefsFromText(kEveryType, true);
  int cancels = 0;
  cancelled.AfterCancel = [&](TVirtualDataSet&) { ++cancels; };
  EXPECT_THROW(LoadBytes(cancelled, two.substr(0, two.size() - 5)), EReadError);
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(cancelled.RecordCount(), 1);
  // Calculated fields are calculated for each record loaded.
  TVirtualDataSet calculated;
  calculated.AddField("I", ftInteger);
  calculated.AddField("TWICE", ftInteger, 0, TFieldKind::fkCalculated);
  int calculations = 0;
  calculated.OnCalcFields = [&](TVirtualDataSet& ds) {
    ++calculations;
    ds.FieldByName("TWICE")->SetAsInteger(2 * ds.FieldByName("I")->AsInteger());
  };
  calculated.Open();
  calculations = 0;
  EXPECT_EQ(LoadBytes(calculated, Records({Record({Bytes({2, 0}) + Int32(21) + kNull})})), 1);
  EXPECT_GE(calculations, 1);
  EXPECT_EQ(calculated.FieldByName("TWICE")->AsInteger(), 42);
  // A derived record set is filled through its own buffer.
  CountingSet derived;
  derived.LoadFieldDefsFromText("ID,3,0\r\n", true);
  derived.buffers = 0;
  EXPECT_EQ(LoadBytes(derived, kSig + Bytes({1, 1, 2, 0, 8, 2, 7, 0, 0})), 1);
  EXPECT_GE(derived.buffers, 1);
}

}  // namespace
}  // namespace rb

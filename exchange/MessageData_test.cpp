#include "exchange/MessageData.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "util/Errors.h"

namespace rb {
namespace {

std::string Bytes(TStreamStorage& s) {
  return std::string(s.Buffer().View());
}

// One raw entry as a service would send it.
std::string Entry(std::u16string_view name, std::string_view value) {
  std::string out;
  auto put = [&](uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
      out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(2 * name.size(), 4);
  for (char16_t u : name)
    put(u, 2);
  put(value.size(), 8);
  out += value;
  return out;
}

std::string Utf16(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

void Fill(TStreamStorage& s, const std::string& raw) {
  s.Buffer().WriteBuffer(raw.data(), static_cast<int64_t>(raw.size()));
  s.Buffer().SetPosition(0);
}

TEST(StreamStorage, PutIntegerLaysOutTheEntryByteForByte) {
  TStreamStorage s;
  s.PutInteger(u"INDEX", -1);
  const std::string expected("\x0A\0\0\0I\0N\0D\0E\0X\0\x04\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF", 26);
  EXPECT_EQ(Bytes(s), expected);
  EXPECT_EQ(s.ScanPosition(), 26);
}

TEST(StreamStorage, PutBooleanIsTwentyOneBytesEndingInTheValue) {
  TStreamStorage s;
  s.PutBoolean(u"SYNC", true);
  s.PutBoolean(u"OFF", false);
  const std::string b = Bytes(s);
  ASSERT_EQ(b.size(), 21u + 19u);
  EXPECT_EQ(b[20], '\x01');
  EXPECT_EQ(b[39], '\x00');
}

TEST(StreamStorage, EmptyNamesAndEmptyTextsWriteNothing) {
  TStreamStorage s;
  s.PutText(u"DATA", u"");
  s.PutText(u"", u"x");
  s.PutInteger(u"", 5);
  s.PutBoolean(u"", true);
  EXPECT_EQ(s.Buffer().Size(), 0);
  // An empty text leaves no entry, so the same name can still be put later.
  s.PutText(u"DATA", u"ok");
  EXPECT_EQ(s.GetText(u"DATA"), u"ok");
}

TEST(StreamStorage, DuplicateNameRaisesAndLeavesTheBufferAlone) {
  TStreamStorage s;
  s.PutText(u"COMMAND", u"TAXH");
  const std::string before = Bytes(s);
  try {
    s.PutText(u"COMMAND", u"GETJSON");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Value with name \"COMMAND\" already exists");
  }
  EXPECT_THROW(s.PutInteger(u"COMMAND", 1), Exception);
  EXPECT_EQ(Bytes(s), before);
}

TEST(StreamStorage, PutValuesReadBackAsText) {
  TStreamStorage s;
  s.PutText(u"COMMAND", u"GETJSON");
  s.PutText(u"DATA", u"C:\\Temp\\\u00E4\u20AC.json");
  EXPECT_EQ(s.GetText(u"DATA"), u"C:\\Temp\\\u00E4\u20AC.json");
  EXPECT_EQ(s.GetText(u"COMMAND"), u"GETJSON");
  EXPECT_EQ(s.GetText(u"command"), u"");  // names are case-sensitive
  EXPECT_EQ(s.GetText(u"MISSING"), u"");
}

TEST(StreamStorage, ScannedEntriesAreIndexedLazilyAndOnlyUpToTheOneFound) {
  TStreamStorage s;
  const std::string e1 = Entry(u"AA", Utf16(u"first"));
  const std::string e2 = Entry(u"BB", Utf16(u"second"));
  const std::string e3 = Entry(u"CC", Utf16(u"third"));
  const std::string e4 = Entry(u"DD", Utf16(u"fourth"));
  Fill(s, e1 + e2 + e3 + e4);
  EXPECT_EQ(s.ScanPosition(), 0);

  EXPECT_EQ(s.GetText(u"CC"), u"third");
  EXPECT_EQ(s.ScanPosition(), static_cast<int64_t>(e1.size() + e2.size() + e3.size()));
  EXPECT_EQ(s.NameIndex().ValueOfKey("AA"), 4 + 4);
  EXPECT_NE(s.NameIndex().ValueOfKey("BB"), -1);
  EXPECT_NE(s.NameIndex().ValueOfKey("CC"), -1);
  EXPECT_EQ(s.NameIndex().ValueOfKey("DD"), -1);

  // Overwrite the first entry's name in the buffer: only an answer from the index still finds it.
  s.Buffer().Memory()[4] = 'Z';
  EXPECT_EQ(s.GetText(u"AA"), u"first");
  EXPECT_EQ(s.NameIndex().ValueOfKey("DD"), -1);

  EXPECT_EQ(s.GetText(u"DD"), u"fourth");
  EXPECT_EQ(s.ScanPosition(), s.Buffer().Size());
}

TEST(StreamStorage, EntriesPassedByAScanAreNotIndexedTwice) {
  TStreamStorage s;
  Fill(s, Entry(u"A", "") + Entry(u"B", Utf16(u"b")));
  int64_t size = 0;
  ASSERT_TRUE(s.FindEntry(u"B", size));
  EXPECT_EQ(size, 2);
  // FindEntry alone (no GetText) must move ScanPosition past what it indexed; a later search
  // would otherwise index A and B a second time (which ValueOfKey could not show).
  EXPECT_EQ(s.ScanPosition(), s.Buffer().Size());
  EXPECT_FALSE(s.FindEntry(u"C", size));
  EXPECT_EQ(s.Buffer().Position(), s.Buffer().Size());
  // The scanned names count for the duplicate check of a later put.
  EXPECT_THROW(s.PutText(u"A", u"x"), Exception);
}

TEST(StreamStorage, NonTextValuesReadAsTheirBytes) {
  TStreamStorage s;
  s.PutBoolean(u"SYNC", true);
  s.PutInteger(u"INDEX", 0x00420041);
  EXPECT_EQ(s.GetText(u"SYNC"), u"");  // one byte: no whole code unit
  EXPECT_EQ(s.GetText(u"INDEX"), u"AB");
}

// Replies made up by a faulty service: none may crash, read outside the buffer or loop; the
// wanted value is either there whole or empty.
TEST(StreamStorage, CorruptEntriesYieldTheEmptyText) {
  const std::string good = Entry(u"DATA", Utf16(u"value"));
  auto with_name_length = [&](int32_t length) {
    std::string e = good;
    for (int i = 0; i < 4; ++i)
      e[i] = static_cast<char>((static_cast<uint32_t>(length) >> (8 * i)) & 0xFF);
    return e;
  };
  auto with_value_size = [&](int64_t size) {
    std::string e = good;
    for (int i = 0; i < 8; ++i)
      e[12 + i] = static_cast<char>((static_cast<uint64_t>(size) >> (8 * i)) & 0xFF);
    return e;
  };
  struct Case {
    const char* name;
    std::string raw;
  } cases[] = {
      {"negative name length", with_name_length(-2)},
      {"name length beyond the buffer", with_name_length(0x7FFFFFFF)},
      {"negative value size", with_value_size(-10)},
      {"value size beyond the buffer", with_value_size(INT64_MAX)},
      {"negative size of an earlier entry",
       std::string(Entry(u"X", "ab")).replace(6, 8, "\xF0\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8) + good},
      {"three bytes", std::string("\x08\0\0", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TStreamStorage s;
    Fill(s, c.raw);
    EXPECT_EQ(s.GetText(u"DATA"), u"");
    EXPECT_LE(s.ScanPosition(), s.Buffer().Size());
  }
}

TEST(StreamStorage, EveryTruncatedReplyGivesTheWholeValueOrNothing) {
  const std::string full = Entry(u"COMMAND", Utf16(u"TAXH")) + Entry(u"DATA", Utf16(u"19,5"));
  for (size_t n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    TStreamStorage s;
    Fill(s, full.substr(0, n));
    const std::u16string text = s.GetText(u"DATA");
    EXPECT_EQ(text, n == full.size() ? u"19,5" : u"");
  }
}

TEST(StreamStorage, OddTextLengthDropsTheLastByte) {
  TStreamStorage s;
  Fill(s, Entry(u"DATA", std::string("a\0b\0c", 5)) + Entry(u"NEXT", Utf16(u"n")));
  EXPECT_EQ(s.GetText(u"DATA"), u"ab");
  EXPECT_EQ(s.GetText(u"NEXT"), u"n");  // the dropped byte did not shift the next entry
}

TEST(StringHash, HashKeyIsTheElfHash) {
  TStringHash h(50);
  struct {
    const char* key;
    uint32_t hash;
  } rows[] = {
      {"", 0}, {"A", 65}, {"DATA", 296577}, {"COMMAND", 138548836}, {"ABCDEFGHIJ", 144632490}};
  for (const auto& r : rows)
    EXPECT_EQ(h.HashKey(r.key), r.hash) << r.key;
  EXPECT_EQ(h.HashKey("DATA") % 50, 27u);
  EXPECT_EQ(h.HashKey("COMMAND") % 50, 36u);
  EXPECT_EQ(h.HashKey("\xFC\xFC\xFC\xFC\xFC\xFC\xFC\xFC"), 0x0CCCBC7Cu);  // bytes count unsigned
}

TEST(StringHash, LastInsertedWinsAndClearAllEmpties) {
  TStringHash h(50);
  h.AddKey("DATA", 1);
  h.AddKey("DATA", 2);
  h.AddKey("ATAD", 3);
  EXPECT_EQ(h.ValueOfKey("DATA"), 2);
  EXPECT_EQ(h.ValueOfKey("ATAD"), 3);
  EXPECT_EQ(h.ValueOfKey("data"), -1);
  h.ClearAll();
  EXPECT_EQ(h.ValueOfKey("DATA"), -1);
  for (int i = 0; i < 100000; ++i)
    h.AddKey("same", i);  // one long chain
  EXPECT_EQ(h.ValueOfKey("same"), 99999);

  TStringHash no_buckets(0);
  no_buckets.AddKey("DATA", 4);
  EXPECT_EQ(no_buckets.ValueOfKey("DATA"), 4);
  EXPECT_EQ(no_buckets.ValueOfKey("COMMAND"), -1);
}

// Counts how many instances are alive, to see when the last reference frees one.
class TCountedProbe : public TRefCountedObject, public IMessageData {
 public:
  explicit TCountedProbe(int& alive) : alive_(alive) { ++alive_; }
  ~TCountedProbe() override { --alive_; }
  std::string MessageId() const override { return {}; }
  TStreamStorage& Storage() override { return storage_; }
  void SetMessageId(const std::string&) override {}

 private:
  int& alive_;
  TStreamStorage storage_;
};

TEST(RefCounted, LastReleaseFreesTheObject) {
  int alive = 0;
  {
    TRef<IMessageData> a = MakeCounted<TCountedProbe, IMessageData>(alive);
    auto* object = dynamic_cast<TRefCountedObject*>(a.Get());
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->RefCount(), 1);
    TRef<IMessageData> b = a;
    EXPECT_EQ(object->RefCount(), 2);
    a.Reset();
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

TEST(RefCounted, QueryInterfaceAnswersOnlyWhatTheObjectOffers) {
  TMessageRef m = NewMessageData();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(m->QueryInterface(kIID_IMessageData, &out), kSOk);
  EXPECT_EQ(out, static_cast<void*>(m.Get()));
  m->Release();  // the query's reference
  const TInterfaceId other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(m->QueryInterface(other, &out), kENoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(dynamic_cast<TRefCountedObject*>(m.Get())->RefCount(), 1);
  // Without a place for the reference none is taken, or the message could never be freed.
  EXPECT_EQ(m->QueryInterface(kIID_IInterface, nullptr), kSOk);
  EXPECT_EQ(m->QueryInterface(other, nullptr), kENoInterface);
  EXPECT_EQ(dynamic_cast<TRefCountedObject*>(m.Get())->RefCount(), 1);
}

TEST(RefCounted, CountsStayExactAcrossThreads) {
  int alive = 0;
  TRef<IMessageData> shared = MakeCounted<TCountedProbe, IMessageData>(alive);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i)
        TRef<IMessageData> copy = shared;
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(dynamic_cast<TRefCountedObject*>(shared.Get())->RefCount(), 1);
  shared.Reset();
  EXPECT_EQ(alive, 0);
}

TEST(MessageData, NewMessageIsEmpty) {
  TMessageRef m = NewMessageData();
  EXPECT_EQ(m->MessageId(), "");
  EXPECT_EQ(m->Storage().Buffer().Size(), 0);
  m->SetMessageId("R-1");
  EXPECT_EQ(m->MessageId(), "R-1");
}

}  // namespace
}  // namespace rb

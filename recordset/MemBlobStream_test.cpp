#include "recordset/MemBlobStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/TestSupport.h"

namespace rb {
namespace {

std::string ReadAll(TStream& s) {
  std::string out;
  char chunk[3];  // small, so that reads end inside and at the blob's end
  for (int64_t n; (n = s.Read(chunk, sizeof chunk)) > 0;)
    out.append(chunk, static_cast<size_t>(n));
  return out;
}

void WriteText(TStream& s, const std::string& text) {
  s.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

// ID, NOTE (memo) and PIC (blob) with two records.
class BlobStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.LoadFieldDefsFromText("ID,3,0\r\nNOTE,16,0\r\nPIC,15,0\r\n", true);
    for (int id : {1, 2}) {
      ds.Append();
      ds.FieldByName("ID")->SetAsInteger(id);
      ds.FieldByName("NOTE")->SetAsString("note " + std::to_string(id));
      ds.FieldByName("PIC")->SetAsString(std::string("\x00\x01\xFF", 3) + std::to_string(id));
      ds.Post();
    }
    ds.First();
    note = ds.FieldByName("NOTE");
  }
  TVirtualDataSet ds;
  TField* note = nullptr;
};

TEST_F(BlobStreamTest, ReadsWhatTheFieldShowsAndNeverPastTheEnd) {
  auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmRead);
  EXPECT_EQ(s->Size(), 6);
  EXPECT_EQ(ReadAll(*s), "note 1");
  char c = 'x';
  EXPECT_EQ(s->Read(&c, 1), 0);  // at the end

  struct Case {
    const char* name;
    int64_t offset;
    SeekOrigin origin;
    int64_t position;
    std::string rest;
  } cases[] = {
      {"from the beginning", 2, SeekOrigin::kBegin, 2, "te 1"},
      {"from the end", -1, SeekOrigin::kEnd, 5, "1"},
      {"past the end", 10, SeekOrigin::kEnd, 16, ""},
      {"before the beginning", -3, SeekOrigin::kBegin, -3, ""},
      {"from the current position", 4, SeekOrigin::kCurrent, 1, "ote 1"},
  };
  for (const Case& k : cases) {
    if (k.origin == SeekOrigin::kCurrent) s->Seek(-3, SeekOrigin::kBegin);
    EXPECT_EQ(s->Seek(k.offset, k.origin), k.position) << k.name;
    EXPECT_EQ(ReadAll(*s), k.rest) << k.name;
  }
  // A count far beyond the blob reads only the blob.
  std::vector<char> big(1000, '#');
  s->SetPosition(0);
  EXPECT_EQ(s->Read(big.data(), static_cast<int64_t>(big.size())), 6);
  EXPECT_EQ(big[6], '#');
  EXPECT_EQ(s->Read(big.data(), -5), 0);
  // Binary content, with its zero byte.
  auto pic = ds.CreateBlobStream(*ds.FieldByName("PIC"), TBlobStreamMode::bmRead);
  EXPECT_EQ(ReadAll(*pic), std::string("\x00\x01\xFF"
                                       "1",
                                       4));
}

TEST_F(BlobStreamTest, ReadOnlyStreamWritesNothing) {
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmRead);
    EXPECT_EQ(s->Write("zz", 2), 0);
    s->SetSize(0);
    EXPECT_THROW(WriteText(*s, "zz"), EWriteError);
  }
  EXPECT_FALSE(note->Modified());
  EXPECT_EQ(note->AsString(), "note 1");
}

TEST_F(BlobStreamTest, OpeningForWritingChecksStateAndReadOnly) {
  const std::string not_editing = "Datenmenge weder im Editier- noch im Einf\xFCgemodus";
  EXPECT_EQ(
      ErrorText<EDatabaseError>([&] { ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite); }),
      not_editing);
  EXPECT_EQ(
      ErrorText<EDatabaseError>([&] { ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite); }),
      not_editing);
  EXPECT_EQ(note->AsString(), "note 1");  // the failed write mode emptied nothing

  note->SetReadOnly(true);
  note->SetDisplayLabel("Notiz");
  ds.Edit();
  EXPECT_EQ(
      ErrorText<EDatabaseError>([&] { ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite); }),
      "Feld 'Notiz' kann nicht ver\xE4ndert werden");
  EXPECT_NO_THROW(ds.CreateBlobStream(*note, TBlobStreamMode::bmRead));
  ds.SetLoading(true);  // loading may fill read-only fields
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite);
    WriteText(*s, "geladen");
  }
  ds.SetLoading(false);
  ds.Post();
  EXPECT_EQ(note->AsString(), "geladen");
}

TEST_F(BlobStreamTest, NotABlobFieldOfThisRecordSet) {
  EXPECT_EQ(ErrorText<EInvalidCast>(
                [&] { ds.CreateBlobStream(*ds.FieldByName("ID"), TBlobStreamMode::bmRead); }),
            "Invalid class typecast");
  TVirtualDataSet other;
  other.LoadFieldDefsFromText("NOTE,16,0\r\n", true);
  EXPECT_THROW(ds.CreateBlobStream(*other.FieldByName("NOTE"), TBlobStreamMode::bmRead),
               EInvalidCast);
}

TEST_F(BlobStreamTest, WriteModeEmptiesAtOnceThenWritesAndPosts) {
  std::vector<TField*> changed;
  ds.OnDataChange = [&](TVirtualDataSet&, TField* f) { changed.push_back(f); };
  ds.SetRecNo(2);
  ds.Edit();
  changed.clear();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite);
    EXPECT_TRUE(static_cast<TMemBlobStream&>(*s).Cached());
    EXPECT_EQ(note->AsString(), "");  // emptied on opening
    WriteText(*s, "neu");
    EXPECT_EQ(note->AsString(), "neu");
    EXPECT_TRUE(changed.empty());  // notified on release only
  }
  EXPECT_EQ(changed, std::vector<TField*>{note});
  EXPECT_TRUE(note->Modified());
  ds.Post();
  EXPECT_FALSE(note->Modified());
  ds.First();
  ds.Next();
  EXPECT_EQ(note->AsString(), "neu");
  ds.First();
  EXPECT_EQ(note->AsString(), "note 1");
}

TEST_F(BlobStreamTest, ReadWriteKeepsContentsAndGrowsWithZeroFill) {
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite);
    EXPECT_EQ(ReadAll(*s), "note 1");
    WriteText(*s, "!");  // appends at the end
    s->Seek(2, SeekOrigin::kEnd);
    WriteText(*s, "x");
    s->SetPosition(0);
    WriteText(*s, "N");
    EXPECT_EQ(s->Size(), 10);
  }
  EXPECT_EQ(note->AsString(), std::string("Note 1!\0\0x", 10));
  // A stream that only moved and read leaves the field unmodified; the earlier one counts.
  { auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite); }
  ds.Post();
  ds.First();
  EXPECT_EQ(note->AsString(), std::string("Note 1!\0\0x", 10));
}

TEST_F(BlobStreamTest, LeavingTheEditByCheckBrowseModeKeepsTheWrite) {
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite);
    s->Seek(0, SeekOrigin::kEnd);
    WriteText(*s, "+");
  }
  ds.Next();  // posts because the stream's release marked the record modified
  ds.First();
  EXPECT_EQ(note->AsString(), "note 1+");
}

TEST_F(BlobStreamTest, SetSizeCutsAndExtends) {
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite);
    s->SetSize(4);
    EXPECT_EQ(note->AsString(), "note");
    s->SetSize(6);
    EXPECT_EQ(note->AsString(), std::string("note\0\0", 6));
    s->SetSize(-1);  // ignored
    EXPECT_EQ(s->Size(), 6);
  }
  ds.Post();
  EXPECT_EQ(note->AsString().size(), 6u);
}

TEST_F(BlobStreamTest, WritesNeitherBeforeTheStartNorBeyondTheLimit) {
  ds.Edit();
  auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite);
  s->Seek(-1, SeekOrigin::kBegin);
  EXPECT_EQ(s->Write("a", 1), 0);
  s->Seek(INT64_MAX, SeekOrigin::kBegin);
  EXPECT_EQ(s->Seek(10, SeekOrigin::kCurrent), INT64_MAX);  // saturates, no overflow
  EXPECT_EQ(s->Write("a", 1), 0);
  s->SetPosition(2147483647LL);
  EXPECT_EQ(s->Write("a", 1), 0);  // one past the largest blob
  EXPECT_EQ(note->AsString(), "note 1");
  EXPECT_FALSE(static_cast<TMemBlobStream&>(*s).Modified());
}

TEST_F(BlobStreamTest, CancelAndCloseBlobRestoreTheStoredBlob) {
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite);
    WriteText(*s, "verworfen");
  }
  ds.CloseBlob(*note);  // still editing: back to what is stored
  EXPECT_EQ(note->AsString(), "note 1");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite);
    WriteText(*s, "verworfen");
  }
  ds.Cancel();
  EXPECT_EQ(note->AsString(), "note 1");
  EXPECT_FALSE(note->Modified());

  // In an insert there is nothing stored to go back to: the blob is emptied.
  ds.Append();
  {
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite);
    WriteText(*s, "neu");
  }
  ds.CloseBlob(*note);
  EXPECT_EQ(note->AsString(), "");
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST_F(BlobStreamTest, InsertGetsTheWrittenBlob) {
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(3);
  {
    auto s = ds.CreateBlobStream(*ds.FieldByName("PIC"), TBlobStreamMode::bmWrite);
    WriteText(*s, std::string(100000, '\x7F'));
  }
  ds.Post();
  ds.Last();
  EXPECT_EQ(ds.FieldByName("PIC")->AsString(), std::string(100000, '\x7F'));
}

TEST_F(BlobStreamTest, AStreamOutlivingTheEditWritesNothing) {
  ds.Edit();
  auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite);
  ds.Cancel();
  ds.Next();  // the cursor's buffer now shows record 2
  s->SetPosition(0);
  EXPECT_EQ(s->Write("XX", 2), 0);
  s->SetSize(0);
  EXPECT_EQ(note->AsString(), "note 2");
  ds.First();
  EXPECT_EQ(note->AsString(), "note 1");
}

TEST_F(BlobStreamTest, AStreamOfAnEarlierEditDoesNotWriteIntoTheNextOne) {
  // Opened while record 1 was edited; record 2 is being edited when it writes.
  ds.Edit();
  auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmReadWrite);
  ds.Post();
  ds.Next();
  ds.Edit();
  EXPECT_EQ(s->Write("XX", 2), 0);
  s->SetSize(0);
  ds.Post();
  EXPECT_EQ(note->AsString(), "note 2");
  ds.Append();
  EXPECT_EQ(s->Write("YY", 2), 0);  // nor into a new record
  s.reset();
  ds.Cancel();
  ds.First();
  EXPECT_EQ(note->AsString(), "note 1");
}

TEST_F(BlobStreamTest, NotificationErrorOnReleaseIsReportedNotRaised) {
  std::vector<std::string> reported;
  TVirtualDataSet::SetErrorReporter([&](const std::exception& e) { reported.push_back(e.what()); });
  ds.Edit();
  ds.OnDataChange = [](TVirtualDataSet&, TField* f) {
    if (f != nullptr) throw EDatabaseError("Ansicht verweigert");
  };
  EXPECT_NO_THROW({
    auto s = ds.CreateBlobStream(*note, TBlobStreamMode::bmWrite);
    WriteText(*s, "x");
  });
  TVirtualDataSet::SetErrorReporter(nullptr);
  EXPECT_EQ(reported, std::vector<std::string>{"Ansicht verweigert"});
  EXPECT_TRUE(note->Modified());
}

TEST(BlobStream, NoRecordToWorkOn) {
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText("NOTE,16,0\r\n", true);
  auto s = ds.CreateBlobStream(*ds.FieldByName("NOTE"), TBlobStreamMode::bmRead);
  EXPECT_FALSE(static_cast<TMemBlobStream&>(*s).Opened());
  char c;
  EXPECT_EQ(s->Read(&c, 1), 0);
  EXPECT_EQ(s->Size(), 0);
}

// A record set whose fields read from a buffer other than the cursor's (as while a view draws
// a row that is not current).
class SideBufferSet : public TVirtualDataSet {
 public:
  TRecordBuffer side;
  bool use_side = false;

 protected:
  TRecordBuffer* GetActiveBuffer() override {
    return use_side ? &side : TVirtualDataSet::GetActiveBuffer();
  }
};

TEST(BlobStream, AnotherBufferReadsTheStoredRecord) {
  SideBufferSet ds;
  ds.LoadFieldDefsFromText("NOTE,16,0\r\n", true);
  for (const char* text : {"eins", "zwei"}) {
    ds.Append();
    ds.FieldByName("NOTE")->SetAsString(text);
    ds.Post();
  }
  ds.side.blobs = {"veraltet"};
  ds.side.index = 1;
  ds.side.current = true;
  ds.use_side = true;
  auto s = ds.CreateBlobStream(*ds.FieldByName("NOTE"), TBlobStreamMode::bmRead);
  EXPECT_FALSE(static_cast<TMemBlobStream&>(*s).Cached());
  EXPECT_EQ(ReadAll(*s), "zwei");
  ds.side.index = 7;  // no such record: the buffer's own blob
  s->SetPosition(0);
  EXPECT_EQ(ReadAll(*s), "veraltet");
}

}  // namespace
}  // namespace rb

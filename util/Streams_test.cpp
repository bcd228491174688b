#include "util/Streams.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>

#include "platform/File.h"
#include "platform/SysError.h"
#include "platform/TestFolder.h"
#include "util/Errors.h"

namespace rb {
namespace {

TEST(MemoryStream, ReadWriteSeekAndGrowth) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  EXPECT_EQ(s.Size(), 3);
  s.SetPosition(6);
  s.WriteBuffer("z", 1);  // the gap is zero-filled
  EXPECT_EQ(s.View(), std::string_view("abc\0\0\0z", 7));
  s.SetPosition(1);
  char buf[4] = {};
  EXPECT_EQ(s.Read(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "bc");
  s.SetPosition(7);
  EXPECT_EQ(s.Read(buf, 1), 0);
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(s.View(), "ab");
}

TEST(MemoryStream, ReadBufferShortRaisesStreamReadError) {
  TMemoryStream s("xy");
  char buf[3];
  try {
    s.ReadBuffer(buf, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST(MemoryStream, ReadBeforeTheStartGivesNothing) {
  // Regression: a position moved before the start read the bytes in front of the buffer.
  TMemoryStream s("abcdef");
  char buf[16] = {};
  for (const int64_t pos : {int64_t{-1}, int64_t{-6}, int64_t{-1000}}) {
    s.SetPosition(pos);
    EXPECT_EQ(s.Read(buf, sizeof buf), 0) << pos;
    EXPECT_EQ(s.Position(), pos) << pos;
  }
  s.Seek(-3, SeekOrigin::kCurrent);
  EXPECT_EQ(s.Read(buf, 2), 0);
}

TEST(MemoryStream, WritingBeforeTheStartChangesNothing) {
  TMemoryStream s("abc");
  s.SetPosition(-2);
  EXPECT_EQ(s.Write("xy", 2), 0);
  EXPECT_THROW(s.WriteBuffer("xy", 2), EWriteError);
  EXPECT_EQ(s.View(), "abc");
  s.SetSize(-5);  // a negative size empties the stream
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), -2) << "a position before the start is not moved";
}

TEST(MemoryStream, ShrinkingThenGrowingZeroFills) {
  // The bytes beyond a shrunken size are still in the buffer; they must not come back.
  TMemoryStream s("secret");
  s.SetSize(1);
  s.SetSize(6);
  EXPECT_EQ(s.View(), std::string_view("s\0\0\0\0\0", 6));
  s.SetSize(2);
  s.SetPosition(4);
  s.WriteBuffer("!", 1);
  EXPECT_EQ(s.View(), std::string_view("s\0\0\0!", 5));
}

TEST(MemoryStream, LoadFromStreamTakesAllFromTheStart) {
  TMemoryStream source("0123456789");
  source.SetPosition(7);
  TMemoryStream copy("old contents, longer");
  copy.SetPosition(3);
  copy.LoadFromStream(source);
  EXPECT_EQ(copy.View(), "0123456789");
  EXPECT_EQ(copy.Position(), 0);
  copy.Clear();
  EXPECT_EQ(copy.Size(), 0);
  EXPECT_EQ(copy.Position(), 0);
}

TEST(MemoryStream, FarPositionsDoNotOverflow) {
  // Regression: offsets from damaged data overflowed the 64-bit position (undefined behaviour).
  TMemoryStream s("abc");
  const int64_t max = std::numeric_limits<int64_t>::max();
  const int64_t min = std::numeric_limits<int64_t>::min();
  s.SetPosition(max - 1);
  EXPECT_EQ(s.Seek(10, SeekOrigin::kCurrent), max);
  EXPECT_EQ(s.Seek(max, SeekOrigin::kEnd), max);
  EXPECT_EQ(s.Write("x", 1), 0) << "no byte fits beyond the last position";
  s.SetPosition(max - 1);
  EXPECT_EQ(s.Write("xy", 2), 0);
  s.SetPosition(-2);
  EXPECT_EQ(s.Seek(min, SeekOrigin::kCurrent), min);
  char byte;
  EXPECT_EQ(s.Read(&byte, 1), 0);
  EXPECT_EQ(s.View(), "abc");
}

TEST(MemoryStream, CopyFromCopiesACountOrEverything) {
  TMemoryStream source("0123456789");
  TMemoryStream target;
  source.SetPosition(4);
  EXPECT_EQ(target.CopyFrom(source, 3), 3);
  EXPECT_EQ(target.View(), "456");
  EXPECT_EQ(source.Position(), 7);
  EXPECT_EQ(target.CopyFrom(source, 0), 10) << "0 copies all of the source from its start";
  EXPECT_EQ(target.View(), "4560123456789");
  EXPECT_THROW(target.CopyFrom(source, 1), EReadError) << "the source is at its end";
  // Regression: a negative count asked for a buffer of 2^64 - n bytes.
  source.SetPosition(0);
  EXPECT_EQ(target.CopyFrom(source, -5), 0);
  EXPECT_EQ(source.Position(), 0);
  EXPECT_EQ(target.Size(), 13);
}

// The system's text for code 3. Windows (and Wine, in its own words) says it through
// FormatMessage; elsewhere it is our table, worded as Windows words it.
std::string PathNotFoundText() {
  return platform::kPathDelim == '\\' ? platform::SysErrorMessage(3)
                                      : "The system cannot find the path specified.";
}

TEST(FileStream, OpenErrorsCarryTheNameAndSystemText) {
  try {
    TFileStream f("/nonexistent-dir-rb/x.txt", fmOpenRead | fmShareDenyWrite);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.what(), "Cannot open file \"/nonexistent-dir-rb/x.txt\". " + PathNotFoundText());
  }
}

TEST(FileStream, RoundTripThroughMemoryStream) {
  const platform::TTestFolder folder("rbstream");
  const std::string tmpl = folder.Path() + "/round-trip";
  TMemoryStream out(std::string(100000, 'q') + "end");
  out.SaveToFile(tmpl);
  TMemoryStream in;
  in.LoadFromFile(tmpl);
  EXPECT_EQ(in.View(), out.View());
  TFileStream f(tmpl, fmOpenReadWrite | fmShareExclusive);
  f.SetSize(10);
  EXPECT_EQ(f.Size(), 10);
  f.SetPosition(7);
  EXPECT_EQ(f.ReadRest(), "qqq");
}

class TempFile {
 public:
  TempFile() { std::ofstream(path_, std::ios::binary).flush(); }
  const std::string& path() const { return path_; }

 private:
  const platform::TTestFolder folder_{"rbstream"};
  const std::string path_ = folder_.Path() + "/file";
};

TEST(FileStream, SetSizeKeepsTheDataWhenTheSizeIsRefused) {
  // Regression: a refused seek left the position where it was, and the file was cut there.
  TempFile tmp;
  TMemoryStream("0123456789").SaveToFile(tmp.path());
  TFileStream f(tmp.path(), fmOpenReadWrite | fmShareExclusive);
  f.SetPosition(4);
  EXPECT_THROW(f.SetSize(-1), EOSError);
  EXPECT_EQ(f.Size(), 10);
  f.SetSize(20);
  EXPECT_EQ(f.Size(), 20);
  EXPECT_EQ(f.Position(), 4) << "growing keeps the position";
  f.SetSize(2);
  EXPECT_EQ(f.Size(), 2);
  EXPECT_EQ(f.Position(), 2) << "cutting below the position leaves it at the end";
}

TEST(FileStream, CreateTruncatesAndMayShare) {
  TempFile tmp;
  TMemoryStream("old contents").SaveToFile(tmp.path());
  {
    TFileStream f(tmp.path(), fmCreate);
    EXPECT_EQ(f.Size(), 0);
    EXPECT_THROW(TFileStream(tmp.path(), fmOpenRead | fmShareDenyNone), EFOpenError)
        << "fmCreate alone is exclusive";
    f.WriteBuffer("new", 3);
  }
  {
    // Regression: fmCreate with a sharing mode opened the old file read-only instead.
    TFileStream f(tmp.path(), fmCreate | fmShareDenyWrite);
    EXPECT_EQ(f.Size(), 0);
    f.WriteBuffer("newer", 5);
    TFileStream reader(tmp.path(), fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(reader.ReadRest(), "newer");
  }
}

TEST(FileStream, CreateErrorCarriesTheNameAndSystemText) {
  try {
    TFileStream f("/nonexistent-dir-rb/x.txt", fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.what(), "Cannot create file \"/nonexistent-dir-rb/x.txt\". " + PathNotFoundText());
  }
}

}  // namespace
}  // namespace rb

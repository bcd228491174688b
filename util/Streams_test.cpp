#include "util/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(FileStream, OpenErrorsCarryTheNameAndSystemText) {
  try {
    TFileStream f("/nonexistent-dir-rb/x.txt", fmOpenRead | fmShareDenyWrite);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot open file \"/nonexistent-dir-rb/x.txt\". The system cannot find the path "
                 "specified.");
  }
}

TEST(FileStream, RoundTripThroughMemoryStream) {
  char tmpl[] = "/tmp/rbstreamXXXXXX";
  int fd = ::mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ::close(fd);
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
  ::unlink(tmpl);
}

}  // namespace
}  // namespace rb

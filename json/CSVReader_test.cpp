#include "json/CSVReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Locale.h"
#include "util/Errors.h"

namespace rb {
namespace {

using Row = std::vector<std::string>;

Row Fields(const TCSVReader& csv) {
  Row row;
  for (int32_t i = 0; i < csv.FieldCount(); ++i)
    row.push_back(csv.Field(i));
  return row;
}

// The rows the callers' loop uses: First; while not Eof: use; Next.
std::vector<Row> UsedRows(const std::string& text, char separator = ',') {
  TMemoryStream stream(text);
  TCSVReader csv(stream, separator);
  std::vector<Row> rows;
  for (csv.First(); !csv.Eof(); csv.Next())
    rows.push_back(Fields(csv));
  return rows;
}

TEST(CSVReader, WalksRowsThenRaisesPastEof) {
  TMemoryStream stream("a,b\r\nc,d\r\n");
  TCSVReader csv(stream, ',');
  csv.First();
  EXPECT_FALSE(csv.Eof());
  EXPECT_EQ(Fields(csv), (Row{"a", "b"}));
  EXPECT_EQ(csv.RowNumber(), 0);
  csv.Next();
  EXPECT_FALSE(csv.Eof());
  EXPECT_EQ(Fields(csv), (Row{"c", "d"}));
  csv.Next();
  EXPECT_TRUE(csv.Eof());
  EXPECT_EQ(csv.FieldCount(), 0);
  try {
    csv.Next();
    FAIL() << "reading past the last row must raise";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Try to read past eof");
  }
  csv.First();  // restarts
  EXPECT_EQ(Fields(csv), (Row{"a", "b"}));
}

TEST(CSVReader, RowsTheCallersLoopUses) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<Row> rows;
  };
  const std::vector<Case> cases = {
      {"empty input", "", {}},
      {"last row without line break is not used", "a,b\r\nc,d", {{"a", "b"}}},
      {"single row without line break", "a,b", {}},
      {"ending in CR LF loses nothing", "x\r\ny\r\n", {{"x"}, {"y"}}},
      {"empty row has no fields", "\r\na\r\n", {{}, {"a"}}},
      {"empty fields", ",\r\n,,x\r\n", {{"", ""}, {"", "", "x"}}},
      {"line feeds alone make one row", "a\nb\nc\r\n", {{"a\nb\nc"}}},
      {"CR alone: next row loses its first byte", "ab\rcd\rxy\r\n", {{"ab"}, {"d"}, {"y"}}},
      {"quoted pair of quotes", "\"x\"\"y\"\r\n", {{"x\"y"}}},
      {"quoted separator and line breaks", "\"a,b\r\nc\",d\r\n", {{"a,b\r\nc", "d"}}},
      {"quote in the middle is plain", "a\"b,c\r\n", {{"a\"b", "c"}}},
      {"quoted after separator", "1,\"2,3\",4\r\n", {{"1", "2,3", "4"}}},
      {"empty quoted", "\"\",x\r\n", {{"", "x"}}},
      {"unterminated quote ends the input", "a\r\n\"bc,d\r\n", {{"a"}}},
      {"unterminated quote after separator", "a\r\nb,\"c\r\n", {{"a"}}},
      {"zero byte ends the input", std::string("a\r\nb\0c\r\n", 8), {{"a"}}},
      {"zero byte right after a row", std::string("a\r\0b\r\n", 6), {}},
      {"signature alone", "TPF0", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UsedRows(c.text), c.rows);
  }
}

TEST(CSVReader, LastRowIsReadTogetherWithEof) {
  TMemoryStream stream("a,b\r\nc,d");
  TCSVReader csv(stream, ',');
  csv.First();
  csv.Next();
  EXPECT_TRUE(csv.Eof());
  EXPECT_EQ(Fields(csv), (Row{"c", "d"}));
  EXPECT_THROW(csv.Next(), EReadError);
}

TEST(CSVReader, ZeroByteNeverRaises) {
  TMemoryStream stream(std::string("ab\0", 3));
  TCSVReader csv(stream, ',');
  csv.First();
  EXPECT_TRUE(csv.Eof());
  EXPECT_NO_THROW(csv.Next());
  EXPECT_TRUE(csv.Eof());
}

TEST(CSVReader, FieldsBeyondTheRowAreEmpty) {
  // A short row after a long one must not show the long row's leftovers.
  TMemoryStream stream("a,b,c,d\r\nx\r\n");
  TCSVReader csv(stream, ',');
  csv.First();
  EXPECT_EQ(csv.Field(3), "d");
  csv.Next();
  EXPECT_EQ(csv.Field(0), "x");
  EXPECT_EQ(csv.Field(1), "");
  EXPECT_EQ(csv.Field(3), "");
  EXPECT_EQ(csv.Field(500), "");
  EXPECT_EQ(csv.Field(-1), "");
}

TEST(CSVReader, GrowsPastAHundredFields) {
  std::string text;
  for (int i = 0; i < 250; ++i)
    text += std::to_string(i) + ",";
  text += "end\r\nlast\r\n";
  TMemoryStream stream(text);
  TCSVReader csv(stream, ',');
  csv.First();
  ASSERT_EQ(csv.FieldCount(), 251);
  EXPECT_EQ(csv.Field(199), "199");
  EXPECT_EQ(csv.Field(250), "end");
  csv.Next();
  EXPECT_EQ(Fields(csv), (Row{"last"}));
}

TEST(CSVReader, ReadsFromTheStreamPosition) {
  TMemoryStream stream("skip;a;b\r\n");
  stream.SetPosition(5);
  TCSVReader csv(stream, ';');
  csv.First();
  EXPECT_EQ(Fields(csv), (Row{"a", "b"}));
}

TEST(CSVReader, SeparatorZeroTakesTheLocaleListSeparator) {
  platform::SetUserLocaleForTesting(platform::LocaleSeparators{',', ';'});
  EXPECT_EQ(UsedRows("a;b,c\r\n", '\0'), (std::vector<Row>{{"a", "b,c"}}));
  platform::SetUserLocaleForTesting(std::nullopt);
}

TEST(CSVReader, EveryPrefixOfAQuotedTextIsSafe) {
  // Cut-off input of every length must end cleanly; ASan watches the reads.
  const std::string text = "\"a\"\"b\",\"c\r\n\",,\"\"\r\nx,\"y\"\r\n";
  for (size_t n = 0; n <= text.size(); ++n) {
    SCOPED_TRACE(n);
    TMemoryStream stream(text.substr(0, n));
    TCSVReader csv(stream, ',');
    int rows = 0;
    for (csv.First(); !csv.Eof() && rows < 10; csv.Next()) {
      for (int32_t i = 0; i < csv.FieldCount(); ++i)
        csv.Field(i);
      ++rows;
    }
    EXPECT_LT(rows, 10);
  }
}

}  // namespace
}  // namespace rb

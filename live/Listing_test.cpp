#include "live/Listing.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace rb::live {
namespace {

const std::string kSumTable =
    "<table style=\"width:100%\"><tr><th colspan=\"2\"></b>Auftragssumme einschliesslich diese "
    "Rechnung Netto/Brutto:<b></th><th  align=right>1.300,00 / 1.547,00</th></tr></Table>";

TEST(Listing, EncodeHtmlChars) {
  struct Row {
    const char* name;
    std::string text;
    std::string expected;
  } rows[] = {
      {"umlauts and sharp s",
       "Gr\xF6\xDF"
       "e",
       "Gr&ouml;&szlig;e"},
      {"upper and lower case apart", "\xC4\xE4\xD6\xF6\xDC\xFC",
       "&Auml;&auml;&Ouml;&ouml;&Uuml;&uuml;"},
      {"markup stays", "a<b> & \"c\"", "a<b> & \"c\""},
      {"euro", "5 \x80", "5 &euro;"},
      {"the other table entries below A0", "\x94\x93\x91\x89\x9C\x9F",
       "&rdquo;&ldquo;&lsquo;&permil;&oelig;&Yuml;"},
      {"other bytes 80..9F stay", "\x92\x81\x8A\x9A", "\x92\x81\x8A\x9A"},
      {"no-break space stays", "1\xA0m", "1\xA0m"},
      {"both ends of the Latin-1 range", "\xA1\xFF", "&iexcl;&yuml;"},
      {"signs", "\xA7\xB0\xD7\xF7\xAD", "&sect;&deg;&times;&divide;&shy;"},
      {"capitals with their own names", "\xC6\xD0\xDE\xE6\xF0\xFE",
       "&AElig;&ETH;&THORN;&aelig;&eth;&thorn;"},
      {"a zero byte stays", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"empty", "", ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(EncodeHtmlChars(row.text), row.expected) << row.name;
}

TEST(Listing, EncodeHtmlCharsCoversExactly102Characters) {
  int encoded = 0;
  for (int c = 0; c < 256; ++c) {
    const std::string out = EncodeHtmlChars(std::string(1, static_cast<char>(c)));
    if (out.size() == 1) {
      EXPECT_EQ(out[0], static_cast<char>(c));
      continue;
    }
    ++encoded;
    EXPECT_TRUE(out.size() > 3 && out.front() == '&' && out.back() == ';') << c;
    EXPECT_EQ(
        out.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 1),
        out.size() - 1)
        << c;
  }
  EXPECT_EQ(encoded, 102);
}

TEST(Listing, ClipboardHtmlHeader) {
  EXPECT_EQ(ClipboardHtmlHeader(1000),
            "Version:1.0\r\nStartHTML:00000097\r\nEndHTML:00001205\r\n"
            "StartFragment:00000172\r\nEndFragment:00001172\r\n");
  EXPECT_EQ(ClipboardHtmlHeader(0),
            "Version:1.0\r\nStartHTML:00000097\r\nEndHTML:00000205\r\n"
            "StartFragment:00000172\r\nEndFragment:00000172\r\n");
  // Beyond eight digits the header grows by a byte per extra digit, and the offsets follow.
  EXPECT_EQ(ClipboardHtmlHeader(99999900),
            "Version:1.0\r\nStartHTML:00000099\r\nEndHTML:100000107\r\n"
            "StartFragment:00000174\r\nEndFragment:100000074\r\n");
}

TEST(Listing, ClipboardHtmlOffsetsPointAtTheirParts) {
  const std::string fragment(1000, 'x');
  const std::string text = BuildClipboardHtml(fragment);
  ASSERT_EQ(text.size(), 1205u);
  EXPECT_EQ(text.substr(97, 7), "<sHtml>");
  EXPECT_EQ(text.substr(152, 20), "<!--StartFragment-->");
  EXPECT_EQ(text.substr(172, 1000), fragment);
  EXPECT_EQ(text.substr(1172), "<!--EndFragment--></body></sHtml>");
}

// A grid of six rows: three listed positions, this invoice's line and the deduction.
std::string SmallGrid(const std::string& field, int row) {
  static const std::map<std::pair<std::string, int>, std::string> cells = {
      {{"Position", 1}, "1"},
      {{"Description1", 1},
       "Gr\xF6\xDF"
       "e"},
      {{"PRICE", 1}, "100,00"},
      {{"Position", 2}, "2"},
      {{"Description1", 2}, "A<b> & \xC4"},
      {{"PRICE", 2}, "200,00"},
      {{"Position", 3}, "2.1"},
      {{"Description1", 3}, "\xC4rger \xE4"},
      {{"PRICE", 3}, "1.000,00"},
      {{"Position", 4}, "3"},
      {{"Description1", 4}, "Diese Rechnung"},
      {{"PRICE", 4}, "500,00"},
      {{"Position", 5}, "4"},
      {{"Description1", 5}, "Abzug"},
      {{"PRICE", 5}, "-1.300,00"},
  };
  const auto it = cells.find({field, row});
  return it == cells.end() ? "?" + field : it->second;
}

TEST(Listing, SmallGridByteForByte) {
  const TListing listing = BuildListing(6, SmallGrid, "1.300,00 / 1.547,00");
  EXPECT_EQ(listing.html,
            "<table style=\"width:100%\">"
            "<tr><th>1</th><th>Gr&ouml;&szlig;e</th><th  align=right>100,00</th></tr>"
            "<tr><th>2</th><th>A<b> & &Auml;</th><th  align=right>200,00</th></tr>"
            "<tr><th>2.1</th><th>&Auml;rger &auml;</th><th  align=right>1.000,00</th></tr>"
            "</Table>" +
                kSumTable);
  EXPECT_EQ(listing.plain,
            "1\tGr\xF6\xDF"
            "e\t100,00\r\n"
            "2\tA<b> & \xC4\t200,00\r\n"
            "2.1\t\xC4rger \xE4\t1.000,00\r\n");
  EXPECT_EQ(ClipboardPlainText(listing), listing.plain);
}

TEST(Listing, RowsListed) {
  struct Row {
    int row_count;
    std::string rows_read;
  } rows[] = {
      {0, ""}, {1, ""}, {2, ""}, {3, ""}, {4, "1"}, {5, "1 2"}, {8, "1 2 3 4 5"},
  };
  for (const Row& row : rows) {
    std::string rows_read;
    const TListing listing = BuildListing(
        row.row_count,
        [&](const std::string& field, int r) {
          if (field == "Position") rows_read += (rows_read.empty() ? "" : " ") + std::to_string(r);
          return std::string();
        },
        "");
    EXPECT_EQ(rows_read, row.rows_read) << row.row_count;
  }
}

TEST(Listing, EmptyListing) {
  // Two data rows or fewer: no position, the sum line alone, and the fragment as plain text.
  const TListing listing = BuildListing(3, SmallGrid, "1.300,00 / 1.547,00");
  EXPECT_EQ(listing.html, "<table style=\"width:100%\"></Table>" + kSumTable);
  EXPECT_EQ(listing.plain, "");
  EXPECT_EQ(ClipboardPlainText(listing), listing.html);
}

TEST(Listing, SumIsEncoded) {
  const TListing listing = BuildListing(0, SmallGrid, "5 \x80");
  EXPECT_NE(listing.html.find("<th  align=right>5 &euro;</th>"), std::string::npos);
}

}  // namespace
}  // namespace rb::live

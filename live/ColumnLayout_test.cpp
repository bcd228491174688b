#include "live/ColumnLayout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>

#include "platform/TestFolder.h"
#include "util/Errors.h"
#include "util/TestSupport.h"

namespace rb::live {
namespace {

using platform::ReadBytes;

std::vector<int> Widths(const std::vector<TGridColumn>& columns) {
  std::vector<int> widths;
  for (const TGridColumn& c : columns)
    widths.push_back(c.width);
  return widths;
}

TEST(ColumnLayout, LoadingLines) {
  struct Row {
    const char* name;
    std::string file;
    std::vector<int> expected;  // after loading onto the designed widths
  } rows[] = {
      {"a narrow width is raised to 10", "KUMPRICE=3", {10, 74, 62, 93, 10}},
      {"not a number gives 20", "KUMPRICE=x", {10, 74, 62, 93, 20}},
      {"column 0 is not loaded", "TColumn-1=200", {10, 74, 62, 93, 64}},
      {"an unknown name is skipped", "Preis=200\r\nPRICE=120", {10, 74, 62, 120, 64}},
      {"names match without regard to case",
       "description1=150\r\nkumprice=70",
       {10, 74, 150, 93, 70}},
      {"-1 hides a column", "Position=-1", {10, -1, 62, 93, 64}},
      {"other negative widths are raised", "Position=-7", {10, 10, 62, 93, 64}},
      {"width 10 stays", "Position=10", {10, 10, 62, 93, 64}},
      {"blanks around name and value", "  PRICE = 99 ", {10, 74, 62, 99, 64}},
      {"a number with trailing text is no number", "PRICE=99px", {10, 74, 62, 20, 64}},
      {"beyond 32 bits is no number", "PRICE=99999999999", {10, 74, 62, 20, 64}},
      {"an empty value is no number", "PRICE=", {10, 74, 62, 20, 64}},
      {"lines without '=' are skipped", "PRICE\r\n\r\n=5\r\nKUMPRICE=70", {10, 74, 62, 93, 70}},
      {"LF and lone CR break lines", "PRICE=100\nKUMPRICE=70\rPosition=80", {10, 80, 62, 100, 70}},
      {"the last of repeated lines counts", "PRICE=100\r\nPRICE=110\r\n", {10, 74, 62, 110, 64}},
      {"a file with no break at its end", "Position=90", {10, 90, 62, 93, 64}},
  };
  for (const Row& row : rows) {
    std::vector<TGridColumn> columns = DesignedGridColumns();
    ApplyColumnLayoutText(row.file, columns);
    EXPECT_EQ(Widths(columns), row.expected) << row.name;
  }
}

TEST(ColumnLayout, HiddenColumnKeepsItsWidth) {
  std::vector<TGridColumn> columns = DesignedGridColumns();
  columns[3].width = -1;
  ApplyColumnLayoutText("PRICE=120\r\nKUMPRICE=80\r\n", columns);
  EXPECT_EQ(Widths(columns), (std::vector<int>{10, 74, 62, -1, 80}));
}

// A stream that hands out its bytes and then fails, as a file on a vanished share does.
class FailingStream : public TMemoryStream {
 public:
  FailingStream(std::string_view bytes, int64_t good, bool raise)
      : TMemoryStream(bytes), good_(good), raise_(raise) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t left = good_ - Position();
    if (left <= 0) {
      if (raise_) throw EReadError("Stream read error");
      return -1;
    }
    return TMemoryStream::Read(buffer, std::min(count, left));
  }

 private:
  int64_t good_;
  bool raise_;
};

TEST(ColumnLayout, ReadErrorKeepsWhatWasApplied) {
  const std::string file = "Position=80\r\nPRICE=120\r\nKUMPRICE=70\r\n";
  for (bool raise : {true, false}) {
    // Fails inside "PRICE=120": the complete first line counts, the cut one must not.
    FailingStream source(file, 19, raise);
    std::vector<TGridColumn> columns = DesignedGridColumns();
    EXPECT_NO_THROW(ApplyColumnLayout(source, columns));
    EXPECT_EQ(Widths(columns), (std::vector<int>{10, 80, 62, 93, 64})) << raise;
  }
}

TEST(ColumnLayout, LinesAcrossReadChunks) {
  // Lines cut by the reader's 4 KiB chunks, a CR LF split between two of them included.
  std::string file(4095, ' ');
  file[0] = '\n';
  file += "\r\nPRICE=";
  file.append(5000, '0');
  file += "77\r\nKUMPRICE=70";
  std::vector<TGridColumn> columns = DesignedGridColumns();
  ApplyColumnLayoutText(file, columns);
  EXPECT_EQ(Widths(columns), (std::vector<int>{10, 74, 62, 77, 70}));
}

class ColumnLayoutFileTest : public ::testing::Test {
 protected:
  platform::TTestFolder folder_{"rbcolumns"};
  const std::string dir_ = folder_.Path();
};

TEST_F(ColumnLayoutFileTest, AnUntouchedWindowWritesTheDesignedWidths) {
  const std::string path = dir_ + "/dgdview.COL";
  std::ofstream(path, std::ios::binary) << "old content that is longer than the new one......"
                                           "..................................................";
  WriteColumnLayout(path, DesignedGridColumns());
  EXPECT_EQ(ReadBytes(path),
            "TColumn-1=10\r\nPosition=74\r\nDescription1=62\r\nPRICE=93\r\nKUMPRICE=64\r\n");
}

TEST_F(ColumnLayoutFileTest, WrittenWidthsLoadBack) {
  const std::string path = dir_ + "/dgdview.COL";
  std::vector<TGridColumn> columns = DesignedGridColumns();
  columns[1].width = 120;
  columns[2].width = -1;
  columns[4].width = 15;
  WriteColumnLayout(path, columns);
  std::vector<TGridColumn> loaded = DesignedGridColumns();
  loaded[0].width = 33;
  LoadColumnLayout(path, loaded);
  EXPECT_EQ(Widths(loaded), (std::vector<int>{33, 120, -1, 93, 15}));
}

TEST_F(ColumnLayoutFileTest, MissingFileChangesNothing) {
  std::vector<TGridColumn> columns = DesignedGridColumns();
  LoadColumnLayout(dir_ + "/none.COL", columns);
  EXPECT_EQ(columns, DesignedGridColumns());
}

TEST_F(ColumnLayoutFileTest, LoadingSharesTheFileWithAWriter) {
  const std::string path = dir_ + "/dgdview.COL";
  WriteColumnLayout(path, {{"TColumn-1", 10}, {"Position", 50}});
  TFileStream writer(path, fmOpenReadWrite | fmShareDenyNone);
  std::vector<TGridColumn> columns = DesignedGridColumns();
  LoadColumnLayout(path, columns);
  EXPECT_EQ(columns[1].width, 50);
}

TEST_F(ColumnLayoutFileTest, FileThatCannotBeCreatedRaises) {
  const std::string path = dir_ + "/missing/dgdview.COL";
  const std::string error =
      ErrorText<EFCreateError>([&] { WriteColumnLayout(path, DesignedGridColumns()); });
  EXPECT_NE(error.find("Cannot create file \"" + path + "\""), std::string::npos) << error;
}

TEST_F(ColumnLayoutFileTest, FileNameIsInTheTempFolder) {
  std::string name;
  {
    const platform::TScopedEnv temp(platform::TempPathVariable(), dir_);
    name = ColumnLayoutFileName();
  }
  const char delim = platform::kPathDelim;
  EXPECT_EQ(name, dir_ + delim + "KXTempDir" + delim + "dgdview.COL");
}

TEST(ColumnLayout, FitColumnWidths) {
  struct Row {
    const char* name;
    std::vector<int> widths;
    int client_width;
    bool scroll_bar_shown;
    std::vector<int> expected;
  } rows[] = {
      {"in proportion, spare pixels by largest remainder",
       {10, 74, 62, 93, 64},
       500,
       true,
       {10, 74, 118, 177, 121}},
      {"room for a scroll bar that is not shown",
       {10, 74, 62, 93, 64},
       517,
       false,
       {10, 74, 118, 177, 121}},
      {"exact proportions", {10, 74, 100, 100, 200}, 484, true, {10, 74, 100, 100, 200}},
      {"hidden columns keep -1", {10, 74, -1, 100, 100}, 284, true, {10, 74, -1, 100, 100}},
      {"column 1 hidden counts as 0", {10, -1, 50, 50}, 110, true, {10, -1, 50, 50}},
      {"a small share is raised to 15 and the rest shared again",
       {10, 74, 10, 500, 490},
       1084,
       true,
       {10, 74, 15, 497, 488}},
      {"too narrow for the minimum: 15 each",
       {10, 74, 62, 93, 64},
       100,
       true,
       {10, 74, 15, 15, 15}},
      {"narrower than columns 0 and 1", {10, 74, 62, 93, 64}, 50, true, {10, 74, 15, 15, 15}},
      {"all widths 0: equal shares", {10, 74, 0, 0, 0}, 385, true, {10, 74, 101, 100, 100}},
      {"a width of 0 among others gets 15",
       {10, 74, 0, 100, 100},
       384,
       true,
       {10, 74, 15, 143, 142}},
      {"nothing to share", {10, 74}, 500, true, {10, 74}},
      {"no columns", {}, 500, true, {}},
      {"huge widths do not overflow",
       {10, 2000000000, 2000000000, 2000000000},
       2147483647,
       true,
       {10, 2000000000, 73741819, 73741818}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FitColumnWidths(row.widths, row.client_width, row.scroll_bar_shown, 17), row.expected)
        << row.name;
  }
}

TEST(ColumnLayout, FittedColumnsFillTheWidthWheneverTheyCan) {
  const std::vector<int> widths{10, 74, 62, 93, 64};
  for (int client = 84 + 45; client < 3000; client += 7) {
    const std::vector<int> fitted = FitColumnWidths(widths, client, true, 17);
    EXPECT_EQ(std::accumulate(fitted.begin(), fitted.end(), 0), client) << client;
    for (size_t i = 2; i < fitted.size(); ++i)
      EXPECT_GE(fitted[i], 15) << client;
  }
}

}  // namespace
}  // namespace rb::live

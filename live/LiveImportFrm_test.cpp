// The load sequence against the real ktx-exchange: each test serves its own document through a
// host process on the real socket and drives the view through a screen without widgets.
#include "live/LiveImportFrm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "exchange/TestPipeFolder.h"
#include "host/ExchangeHost.h"
#include "json/TKXJSONStreamer.h"
#include "live/FakeScreen.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "util/Numbers.h"

namespace rb::live {
namespace {

namespace fs = std::filesystem;

struct TPos {
  std::string kind;
  std::string price;  // JSON text of the price
  std::string row = "1";
};

// An invoice whose positions are numbered 01, 02, ... and described "P01", "P02", ...
std::string Document(const std::vector<TPos>& positions, const std::string& order_extra = "") {
  std::string parts;
  for (size_t i = 0; i < positions.size(); ++i) {
    const std::string n = (i < 9 ? "0" : "") + std::to_string(i + 1);
    if (!parts.empty()) parts += ",";
    parts += "{" + (positions[i].row.empty() ? "" : "\"Row\":\"" + positions[i].row + "\",") +
             "\"TypLine\":\"" + positions[i].kind + "\",\"Position\":\"" + n +
             "\",\"Description1\":\"P" + n + "\",\"Price\":" + positions[i].price + "}";
  }
  return "{\"Order\":[{\"LINKUID\":\"{4711}\",\"PrintName\":\"AR-7\"" + order_extra +
         ",\"Parts\":[" + parts + "]}]}";
}

class TTestHost {
 public:
  TTestHost(const std::string& document, std::vector<std::string> args) {
    static int counter = 0;
    folder_ = TTestPipeFolder::Folder() + "/case" + std::to_string(++counter);
    fs::create_directories(folder_ + "/daten");
    std::ofstream(folder_ + "/doc.json", std::ios::binary) << document;
    const std::string name = "ktx-live-" + std::to_string(counter);
    args.insert(args.end(), {"--pipe-name", name, "--document", folder_ + "/doc.json",
                             "--data-folder", folder_ + "/daten"});
    process_ = platform::ChildProcess::Start(KTX_EXCHANGE_PATH, args,
                                             {{"XDG_RUNTIME_DIR", TTestPipeFolder::Folder()}});
    WaitForLocalService(name);
  }
  ~TTestHost() {
    process_.RequestStop();
    process_.Wait(5000);
  }
  std::string DataFolder() const { return folder_ + "/daten/"; }

 private:
  std::string folder_;
  platform::ChildProcess process_;
};

// Files the host copied for GETJSON that are still there: their names are plain numbers.
int LeftoverDocumentCopies() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(TempFolder())) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.find_first_not_of("0123456789") == name.find(".json"))
      ++count;
  }
  return count;
}

TLiveSettings FastSettings() {
  TLiveSettings settings;
  settings.files.attempts = 2;
  settings.files.sleep = [](uint32_t) {};
  return settings;
}

class LiveView : public ::testing::Test {
 protected:
  LiveView() { screen_.view = &view_; }
  void SetUp() override {
    SetNumberSettings(TNumberSettings());
    view_.FormCreate();
  }

  void Serve(const std::string& document, std::vector<std::string> args = {"--tax-rate", "19"}) {
    host_ = std::make_unique<TTestHost>(document, std::move(args));
  }
  void Load() {
    view_.Dispatch([this] { view_.LoadDocument(); });
  }
  std::string Kum(int row) const { return screen_.Cell(kColKumPrice, row); }
  std::string NotesText() const {
    std::ifstream in(host_->DataFolder() + "Rechenmappe/{4711}.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TFakeScreen screen_;
  TLiveImportFrm view_{screen_, FastSettings()};
  std::unique_ptr<TTestHost> host_;
};

TEST_F(LiveView, RunningPricesAndSums) {
  Serve(Document({{"", "100"}, {"", "200"}, {"", "50"}, {"", "-300"}}));
  Load();
  ASSERT_EQ(screen_.RowCount(), 5);
  EXPECT_EQ(Kum(1), "100,00");
  EXPECT_EQ(Kum(2), "300,00");
  EXPECT_EQ(Kum(3), "350,00");
  EXPECT_EQ(Kum(4), "");
  EXPECT_EQ(screen_.Cell(kColPrice, 4), "-300,00");
  EXPECT_EQ(screen_.Cell("position", 2), "02");
  EXPECT_EQ(view_.OrderSum(), 350);
  EXPECT_EQ(view_.DeductionTarget(), 300);
  EXPECT_EQ(screen_.EditText(TEditId::EditAbzug), "300,00");
  EXPECT_EQ(screen_.EditText(TEditId::EditSumme), "350,00 / 416,50");
  EXPECT_EQ(screen_.EditText(TEditId::Pnetto), ",00");
  EXPECT_EQ(screen_.EditText(TEditId::EFullRest), "-350,00 / -416,50");
  EXPECT_EQ(screen_.fixed_mode_calls, 1);
  EXPECT_EQ(screen_.update_depth, 0);
  EXPECT_FALSE(screen_.busy);
  EXPECT_TRUE(screen_.infos.empty());
  EXPECT_EQ(LeftoverDocumentCopies(), 0);
}

TEST_F(LiveView, HiddenKindsChangeNeitherRowsNorSums) {
  Serve(Document({{"t", "1"},
                  {"", "100"},
                  {"d", "7"},
                  {"", "200"},
                  {"a", "1"},
                  {"-", "1"},
                  {"\\u0081", "9"},
                  {"", "50"},
                  {"", "-300"}}));
  Load();
  ASSERT_EQ(screen_.RowCount(), 5);
  EXPECT_EQ(screen_.Cell(kColPosition, 2), "04");
  EXPECT_EQ(Kum(3), "350,00");
  EXPECT_EQ(view_.OrderSum(), 350);
  EXPECT_EQ(view_.DeductionTarget(), 300);
}

TEST_F(LiveView, EdgeCountsOfShownPositions) {
  struct {
    const char* name;
    std::vector<TPos> positions;
    int rows;
    double order_sum, target;
    const char* abzug;  // nullptr: not set
  } cases[] = {
      {"none shown", {{"t", "5"}}, 1, 0, 0, nullptr},
      {"one shown", {{"", "80"}}, 2, 0, 0, "0,00"},
      {"two shown", {{"", "80"}, {"", "-20"}}, 3, 80, 0, "0,00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    screen_.edits.clear();
    Serve(Document(c.positions));
    Load();
    EXPECT_EQ(screen_.RowCount(), c.rows);
    EXPECT_EQ(view_.OrderSum(), c.order_sum);
    EXPECT_EQ(view_.DeductionTarget(), c.target);
    if (c.abzug) {
      EXPECT_EQ(screen_.EditText(TEditId::EditAbzug), c.abzug);
    } else {
      EXPECT_EQ(screen_.edits.count(TEditId::EditAbzug), 0u);
    }
    if (c.rows == 2) {
      EXPECT_EQ(Kum(1), "");
    }
  }
}

// Positions need not look alike: members in another order, missing, repeated, of other kinds,
// or with characters outside the code page. Each cell reads as MemberAsText reads the member,
// however the positions before it looked.
TEST_F(LiveView, PositionsOfMixedShapesReadLikeTheirMembers) {
  const std::string parts[] = {
      R"({"Row":"1","Position":"A1","Description1":"d1","Price":1.5})",
      R"({"Row":"2","Position":"A2","Description1":"d2","Price":2})",
      R"({"Price":3,"Description1":"d3","Position":"B3","Row":"3"})",
      R"({"Row":"4","Position":"A4","Description1":"d4","Price":4})",
      R"({"Row":"5","Position":5,"Description1":null,"Price":"5,25"})",
      // UTF-8 of the euro sign, a CJK character and the C1 control 0x81.
      "{\"Row\":\"6\",\"Position\":\"A6\",\"Position\":\"dup\","
      "\"Description1\":\"\xE2\x82\xAC \xE4\xB8\x80 \xC2\x81x\",\"Price\":6}",
      "{\"Row\":\"7\",\"TypLine\":\"\xC2\x81\",\"Position\":\"H\",\"Description1\":\"h\","
      "\"Price\":100}",
      R"({"Row":"8","Description1":"no position","Price":8})",
      R"({"Row":"9","Position":"L9","Description1":"last","Price":9})",
  };
  std::string list;
  for (const std::string& part : parts)
    list += (list.empty() ? "" : ",") + part;
  view_.SetDocument(
      TKXJSONStreamer::ReadText(R"({"Order":[{"LINKUID":"","Parts":[)" + list + "]}]}"));
  view_.FillPositions();

  struct Row {
    const char* position;
    const char* description;
    const char* price;
  } rows[] = {
      {"A1", "d1", "1,50"},        {"A2", "d2", "2,00"},   {"B3", "d3", "3,00"},
      {"A4", "d4", "4,00"},        {"5", "", "5,25"},      {"A6", "\x80 ? \x81x", "6,00"},
      {"", "no position", "8,00"}, {"L9", "last", "9,00"},
  };
  ASSERT_EQ(screen_.RowCount(), 9);
  for (int j = 1; j <= 8; ++j) {
    const Row& row = rows[j - 1];
    EXPECT_EQ(screen_.Cell(kColPosition, j), row.position) << j;
    EXPECT_EQ(screen_.Cell(kColDescription, j), row.description) << j;
    EXPECT_EQ(screen_.Cell(kColPrice, j), row.price) << j;
  }
  EXPECT_EQ(Kum(7), "29,75");
  EXPECT_EQ(view_.OrderSum(), 29.75);  // all shown positions but the last
}

TEST_F(LiveView, APositionWithoutRowRefusesTheTable) {
  // Also a hidden one: an older host sends no "Row" at all.
  Serve(Document({{"", "100"}, {"t", "0", ""}, {"", "-100"}}));
  Load();
  ASSERT_EQ(screen_.infos.size(), 1u);
  EXPECT_EQ(screen_.infos[0], kVersionTooOld);
  EXPECT_EQ(screen_.posted_closes, 1);
  EXPECT_EQ(screen_.update_depth, 0);
  EXPECT_EQ(screen_.Cell(kColPosition, 1), "01");  // the rows filled so far stay
  EXPECT_EQ(screen_.edits.count(TEditId::EditSumme), 0u);
  EXPECT_FALSE(screen_.busy);
}

TEST_F(LiveView, DocumentsWithoutOrderOrPositionsCloseTheWindow) {
  const std::string cases[] = {
      "{\"Order\":[]}", "{\"Order\":[{\"LINKUID\":\"x\"}]}", "{}", "not json", "",
  };
  for (const std::string& document : cases) {
    SCOPED_TRACE(document);
    screen_.infos.clear();
    screen_.posted_closes = 0;
    Serve(document);
    Load();
    ASSERT_EQ(screen_.infos.size(), 1u);
    EXPECT_EQ(screen_.infos[0], kTransferFailed);
    EXPECT_EQ(screen_.posted_closes, 1);
    EXPECT_FALSE(screen_.busy);
    EXPECT_EQ(LeftoverDocumentCopies(), 0);
  }
}

TEST_F(LiveView, NoHostMeansNoDocument) {
  fs::remove(TempFolder() + kLocalServiceFileName);
  Load();
  ASSERT_EQ(screen_.infos.size(), 1u);
  EXPECT_EQ(screen_.infos[0], kTransferFailed);
  EXPECT_EQ(screen_.window.rect.left, (1920 - 595) / 2);  // no metrics either: centred
  EXPECT_EQ(view_.TaxRate(), 0);
}

TEST_F(LiveView, CaptionFromASingleAddress) {
  struct {
    std::string extra, caption;
  } cases[] = {
      {",\"Adress\":[{\"AdressSmart\":\"M\\u00fcller GbR\"}]", "M\xFCller GbR  AR-7"},
      {",\"Adress\":[{}]", "  AR-7"},
      {",\"Adress\":[{\"AdressSmart\":\"A\"},{\"AdressSmart\":\"B\"}]", "Ansicht"},
      {"", "Ansicht"},
  };
  for (const auto& c : cases) {
    screen_.caption = "Ansicht";
    Serve(Document({{"", "1"}}, c.extra));
    Load();
    EXPECT_EQ(screen_.caption, c.caption) << c.extra;
  }
}

TEST_F(LiveView, PlacedBesideTheHostOnTheFirstLoadOnly) {
  struct {
    const char* metrics;
    int left, top;
  } cases[] = {
      {"100,200,800,600", 120, 220},
      {",300", 282, 320},
      {"abc", 20, 133},
      {"", (1920 - 595) / 2, (1040 - 326) / 2},  // centred in the work area
      {"1700,900", 1920 - 595, 1040 - 326},      // kept inside the work area
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.metrics);
    TFakeScreen screen;
    TLiveImportFrm view(screen, FastSettings());
    Serve(Document({{"", "1"}}), {"--office-metrics=" + std::string(c.metrics)});
    view.Dispatch([&] { view.LoadDocument(); });
    EXPECT_EQ(screen.window.rect, TRect::FromSize(c.left, c.top, 595, 326));
    // "Neu lesen" must never move the window again.
    screen.window.rect = TRect::FromSize(5, 6, 595, 326);
    view.Dispatch([&] { view.LoadDocument(); });
    EXPECT_EQ(screen.window.rect.left, 5);
  }
}

TEST_F(LiveView, ProjectSumsConvertAndAreKeptPerOrder) {
  Serve(Document({{"", "100"}, {"", "200"}, {"", "50"}, {"", "-300"}}));
  Load();
  screen_.Type(TEditId::Pnetto, "100");
  EXPECT_EQ(screen_.EditText(TEditId::PBrutto), "119,00");
  EXPECT_EQ(NotesText(), "PN=100\r\nPB=119,00\r\n");

  screen_.Type(TEditId::Pnetto, "1000");
  EXPECT_EQ(screen_.EditText(TEditId::EFullRest), "650,00 / 773,50");

  screen_.Type(TEditId::PBrutto, "119");
  EXPECT_EQ(screen_.EditText(TEditId::Pnetto), "100,00");

  screen_.Type(TEditId::Pnetto, "");
  EXPECT_EQ(screen_.EditText(TEditId::PBrutto), ",00");
  EXPECT_EQ(NotesText(), "PB=,00\r\n");

  // The next load of the same order shows what was kept; other lines of the file survive it.
  screen_.Type(TEditId::Pnetto, "250");
  {
    std::ofstream(host_->DataFolder() + "Rechenmappe/{4711}.txt", std::ios::app)
        << "Kommentar=bleibt\r\n";
  }
  screen_.edits.clear();
  Load();
  EXPECT_EQ(screen_.EditText(TEditId::Pnetto), "250,00");
  EXPECT_EQ(screen_.EditText(TEditId::PBrutto), "297,50");
  screen_.Type(TEditId::Pnetto, "1");
  EXPECT_NE(NotesText().find("Kommentar=bleibt\r\n"), std::string::npos);
  EXPECT_TRUE(screen_.errors.empty());
}

TEST_F(LiveView, UnusableLinkUidKeepsNoNotes) {
  for (const char* uid : {"", "..", ".", "../evil", "a\\\\b"}) {
    SCOPED_TRACE(uid);
    const std::string doc = Document({{"", "10"}, {"", "-10"}});
    Serve(std::string(doc).replace(doc.find("{4711}"), 6, uid));
    Load();
    screen_.Type(TEditId::Pnetto, "100");
    EXPECT_EQ(screen_.EditText(TEditId::PBrutto), ",00");  // no conversion either
    EXPECT_FALSE(fs::exists(host_->DataFolder() + "Rechenmappe"));
    EXPECT_TRUE(fs::is_empty(host_->DataFolder()));
  }
}

TEST_F(LiveView, NotesThatCannotBeReadCloseTheWindow) {
  Serve(Document({{"", "10"}, {"", "-10"}}));
  fs::create_directories(host_->DataFolder() + "Rechenmappe");
  const std::string notes = host_->DataFolder() + "Rechenmappe/{4711}.txt";
  std::ofstream(notes) << "PN=5\r\n";
  // Another program holds the notes open and lets nobody else in.
  platform::File holder =
      platform::File::Open(notes, platform::FileAccess::kReadWrite, platform::FileShare::kExclusive,
                           platform::FileCreate::kOpenExisting);
  ASSERT_TRUE(holder.IsOpen());
  Load();
  ASSERT_EQ(screen_.infos.size(), 1u);
  EXPECT_EQ(screen_.posted_closes, 1);
  EXPECT_EQ(screen_.EditText(TEditId::Pnetto), ",00");
}

TEST_F(LiveView, NotesThatCannotBeWrittenReachTheErrorDisplay) {
  Serve(Document({{"", "10"}, {"", "-10"}}));
  Load();
  std::ofstream(host_->DataFolder() + "Rechenmappe") << "a file in the folder's place";
  screen_.Type(TEditId::Pnetto, "100");
  EXPECT_FALSE(screen_.errors.empty());
  EXPECT_EQ(screen_.EditText(TEditId::Pnetto), "100");
  // A failed store must not switch conversions off for good.
  fs::remove(host_->DataFolder() + "Rechenmappe");
  screen_.Type(TEditId::Pnetto, "200");
  EXPECT_EQ(screen_.EditText(TEditId::PBrutto), "238,00");
}

}  // namespace
}  // namespace rb::live

namespace rb::live {
namespace {

TEST_F(LiveView, ColumnLayoutIsLoadedOnEveryLoadAndStoredOnReadAgainAndClosing) {
  const std::string layout = TempFolder() + "dgdview.COL";
  std::ofstream(layout, std::ios::binary) << "KUMPRICE=3\r\nPRICE=120\r\n";
  Serve(Document({{"", "1"}}));
  Load();
  EXPECT_EQ(screen_.columns[4].width, 10);
  EXPECT_EQ(screen_.columns[3].width, 120);
  EXPECT_GE(screen_.fit_columns_calls, 1);

  screen_.columns[2].width = 99;
  view_.Dispatch([this] { view_.FlatSpeedButton1Click(); });
  EXPECT_EQ(screen_.posted_loads, 1);
  {
    // Closed before the window writes the file again: Windows keeps an open file from being
    // replaced.
    std::ifstream in(layout, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "TColumn-1=10\r\nPosition=74\r\nDescription1=99\r\nPRICE=120\r\nKUMPRICE=10\r\n");
  }

  EXPECT_TRUE(view_.FormCloseQuery());
  EXPECT_TRUE(fs::exists(TempFolder() + "UserMode.INI"));
  fs::remove(layout);
  fs::create_directory(layout);  // the layout file cannot be created: the window stays
  EXPECT_FALSE(view_.FormCloseQuery());
  EXPECT_EQ(screen_.errors.size(), 1u);
  fs::remove(layout);
}

TEST_F(LiveView, ListingGoesToTheClipboardThenTheMessage) {
  Serve(Document({{"", "100"}, {"", "200"}, {"", "50"}, {"", "-300"}}));
  Load();
  view_.Dispatch([this] { view_.FlatButton2Click(); });
  ASSERT_EQ(screen_.clipboard.size(), 1u);
  EXPECT_NE(screen_.clipboard[0].fragment.find("<th>P02</th>"), std::string::npos);
  EXPECT_EQ(screen_.clipboard[0].fragment.find("P03"), std::string::npos);  // the last two
  EXPECT_EQ(screen_.clipboard[0].plain, "01\tP01\t100,00\r\n02\tP02\t200,00\r\n");
  EXPECT_EQ(screen_.clipboard[0].html.substr(0, 13), "Version:1.0\r\n");
  EXPECT_EQ(screen_.infos.size(), 1u);

  screen_.clipboard_fails = true;
  view_.Dispatch([this] { view_.FlatButton2Click(); });
  EXPECT_EQ(screen_.infos.size(), 1u);
  EXPECT_EQ(screen_.errors, std::vector<std::string>{"Zugriff verweigert."});
}

}  // namespace
}  // namespace rb::live

namespace rb::live {
namespace {

// Earlier invoices from the host's sample database: 17 and 42 count (POT 1), 39 and 58 do not.
TEST_F(LiveView, EarlierInvoicesReplaceTheDeductionTarget) {
  const std::string info_lines =
      ",\"InfoLines\":\"RE,42,,,,,,,,,0\\r\\nRE,39,,,,,,,,,0\\r\\nRE,17,,,,,,,,,0\\r\\nRE,58,,,,,,,"
      ",,"
      "0\\r\\n\"";
  Serve(Document({{"", "100"}, {"", "200"}, {"", "50"}, {"", "-58912.75"}}, info_lines),
        {"--tax-rate", "19", "--sample"});
  Load();
  EXPECT_DOUBLE_EQ(view_.PreviousInvoicesSum(), 24850.00 + 34062.75);
  EXPECT_DOUBLE_EQ(view_.DeductionTarget(), 58912.75);
  const std::string text = "58.912,75 aus vorhergehenden RE";
  EXPECT_EQ(screen_.EditText(TEditId::EditAbzug), text);
  // The sum first, then the counting invoices in record order, each with its date.
  EXPECT_EQ(screen_.abzug_items,
            (std::vector<std::string>{text, "AR-2024-0117 15.05.2024", "AR-2024-0142 12.07.2024"}));
  EXPECT_EQ(view_.OrderSum(), 350);  // the order sum is not touched
  // Only the document's own files were ever in the temporary folder: the query's file is gone.
  for (const auto& entry : fs::directory_iterator(TempFolder())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(entry.is_directory() || name == kLocalServiceFileName || name == "UserMode.INI" ||
                name == "dgdview.COL")
        << name;
  }
}

TEST_F(LiveView, UnansweredQueryKeepsTheComputedTarget) {
  // The host has no database: the query is not answered, and the walk ends quietly.
  Serve(Document({{"", "100"}, {"", "200"}, {"", "50"}, {"", "-300"}},
                 ",\"InfoLines\":\"RE,17,,,,,,,,,0\\r\\n\""));
  Load();
  EXPECT_EQ(view_.PreviousInvoicesSum(), 0);
  EXPECT_EQ(screen_.EditText(TEditId::EditAbzug), "300,00");
  EXPECT_TRUE(screen_.abzug_items.empty());
  EXPECT_TRUE(screen_.infos.empty());
}

}  // namespace
}  // namespace rb::live

namespace rb::live {
namespace {

// A document file that exists but stays locked: the open error leaves the load for the error
// display, the window stays open with what it showed, and the file still goes.
TEST_F(LiveView, DocumentFileThatCannotBeOpenedReachesTheErrorDisplay) {
  Serve(Document({{"", "100"}, {"", "-100"}}));
  Load();
  ASSERT_EQ(screen_.RowCount(), 3);

  const std::string locked = TempFolder() + "locked.json";
  std::ofstream(locked) << Document({{"", "1"}});
  platform::File holder =
      platform::File::Open(locked, platform::FileAccess::kReadWrite,
                           platform::FileShare::kExclusive, platform::FileCreate::kOpenExisting);
  ASSERT_TRUE(holder.IsOpen());
  THostOptions options;
  options.pipe_name = "ktx-live-locked";
  TExchangeHost host(options, [](const std::string&) {});
  host.Handler().SetKey("GETJSON", [&](const std::string&) { return locked; });
  std::string error;
  ASSERT_TRUE(host.Start(error)) << error;
  std::atomic<bool> stop{false};
  std::thread runner([&] { host.Run([&] { return stop.load(); }); });

  Load();
  stop = true;
  runner.join();
  host.Shutdown();
  ASSERT_EQ(screen_.errors.size(), 1u);
  EXPECT_NE(screen_.errors[0].find("locked.json"), std::string::npos);
  EXPECT_TRUE(screen_.infos.empty());
  EXPECT_EQ(screen_.posted_closes, 0);
  EXPECT_EQ(screen_.RowCount(), 3);  // what it showed before
  EXPECT_FALSE(screen_.busy);
  // The plain delete is tried whatever happened; Windows keeps a file that another program
  // holds open, and the failure is ignored there.
  if (platform::kPathDelim == '/') {
    EXPECT_FALSE(fs::exists(locked));
  }
}

}  // namespace
}  // namespace rb::live

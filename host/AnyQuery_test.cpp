#include "host/AnyQuery.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "json/Utf8.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "recordset/UVirtualDataset.h"
#include "util/Files.h"
#include "util/TestSupport.h"

namespace rb {
namespace {

namespace fs = std::filesystem;

// Paths in the tests are code-page text like the service's; the file system's names are UTF-8.
std::string Native(const std::string& path) {
  return platform::NativePath(path);
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Execute(const std::string& database, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(CodePageToUtf8(database).c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::string Piece(const std::string& folder, const std::string& sql, const std::string& file,
                  const std::string& format = "vds") {
  return folder + '\b' + sql + '\b' + format + '\b' + file;
}

// The result as the program reads it: fields from the reply text, records from the file.
struct TReadBack {
  TVirtualDataSet dataset;
  int loaded = 0;
};

void ReadBack(const std::string& reply, const std::string& file, TReadBack& out) {
  out.dataset.LoadFieldDefsFromText(reply, true);
  TBinaryStreamFormat format;
  out.loaded = out.dataset.LoadFromFile(file, format);
}

class AnyQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    // Capitals in the folder: the requester lower-cases it, and Linux would find no such
    // folder under the lower-case name.
    folder_ = TempFolder("AnyQuery-Daten-\xC4" + std::to_string(++runs_));
    database_ = folder_ + kDatabaseFileName;
    Execute(database_,
            "CREATE TABLE Auftraege (ID INTEGER PRIMARY KEY, ID_ORDER TEXT NOT NULL, DATE DATE, "
            "WW_NETTO REAL, POT INTEGER);"
            "INSERT INTO Auftraege VALUES (17, 'AR-2024-0117', '2024-05-15', 100, 1);"
            "INSERT INTO Auftraege VALUES (39, 'AR-39', '2024-07-01 18:00', 50.25, 0);"
            "INSERT INTO Auftraege VALUES (42, 'AR-2024-0142', '2024-07-12', 180.5, 1);"
            "INSERT INTO Auftraege VALUES (99, 'ANDERER-AUFTRAG', '2024-01-02', 7, 1);");
    target_ = UniqueTempFileName();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Native(folder_), ignored);
    fs::remove(target_, ignored);
  }
  // What the requester sends as piece 1: the folder in lower case.
  std::string LowerFolder() const {
    std::string lower = folder_;
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c == '\xC4') c = '\xE4';
    }
    return lower;
  }
  std::string Ask(const std::string& sql, const TAnyQueryLimits& limits = {}) {
    return AnswerAnyQuery(Piece(LowerFolder(), sql, target_), folder_, database_, limits);
  }
  int RowCount() {
    TAnyQueryLimits limits;
    const std::string file = UniqueTempFileName();
    AnswerAnyQuery(Piece(folder_, "Select count(*) AS N from Auftraege", file), folder_, database_,
                   limits);
    TReadBack back;
    ReadBack("N,3,0\r\n", file, back);
    std::remove(file.c_str());
    return back.dataset.FieldByName("N")->AsInteger();
  }

  static inline int runs_ = 0;
  std::string folder_, database_, target_;
};

TEST_F(AnyQuery, TheProgramsQueryReadsBackThroughTheHandler) {
  TExchangeHandler handler{THostOptions{}};
  handler.SetKey("ANYQUERY", AnyQueryHandler(folder_, database_));
  const std::string data = Piece(
      LowerFolder(),
      "Select ID,WW_NETTO,POT,ID_ORDER,DATE from Auftraege where ID=17 OR ID=39 OR ID=42", target_);
  std::string line;
  TMessageRef reply = handler.AnswerRequest(NewRequestMessage("ANYQUERY", data), line);
  const std::string text = platform::WideToAnsi(reply->Storage().GetText(u"DATA"));
  EXPECT_EQ(text, "ID,3,0\r\nWW_NETTO,6,0\r\nPOT,3,0\r\nID_ORDER,1,12\r\nDATE,11,0\r\n") << line;

  TReadBack back;
  ReadBack(text, target_, back);
  EXPECT_EQ(back.loaded, 3);
  struct Row {
    double net;
    int pot;
    std::string order;
    double date;
  };
  std::map<int, Row> rows;
  double counted = 0;
  TVirtualDataSet& ds = back.dataset;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    rows[ds.FieldByName("ID")->AsInteger()] = {
        ds.FieldByName("WW_NETTO")->AsFloat(), ds.FieldByName("POT")->AsInteger(),
        ds.FieldByName("ID_ORDER")->AsString(), ds.FieldByName("DATE")->AsDateTime()};
    if (ds.FieldByName("POT")->AsInteger() == 1) counted += ds.FieldByName("WW_NETTO")->AsFloat();
  }
  EXPECT_DOUBLE_EQ(counted, 280.5);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[17].order, "AR-2024-0117");
  EXPECT_DOUBLE_EQ(rows[17].date, 45427);
  EXPECT_DOUBLE_EQ(rows[39].net, 50.25);
  EXPECT_EQ(rows[39].pot, 0);
  EXPECT_DOUBLE_EQ(rows[39].date, 45474.75);
  EXPECT_DOUBLE_EQ(rows[42].net, 180.5);
}

// An order with more earlier invoices than SQLite's expression depth (1000) still gets them.
TEST_F(AnyQuery, AThousandAndMoreInvoicesInOneCondition) {
  std::string condition = "ID=17 OR ID=42";
  for (int id = 1000; id < 2500; ++id)
    condition += " OR ID=" + std::to_string(id);
  const std::string text =
      Ask("Select ID,WW_NETTO,POT,ID_ORDER,DATE from Auftraege where " + condition);
  ASSERT_FALSE(text.empty());
  TReadBack back;
  ReadBack(text, target_, back);
  EXPECT_EQ(back.loaded, 2);
}

TEST_F(AnyQuery, FieldTypesFollowTheColumnsAndTheirValues) {
  Execute(database_,
          "CREATE TABLE Werte (I INTEGER, R REAL, D DATETIME, T VARCHAR(40), N NUMERIC, B BLOB);"
          "INSERT INTO Werte VALUES (5, 2, '2024-02-29T06:00:00', 'M\xC3\xBCller', 3, X'00FF41');");
  // The first field of the first record: as text, or as a number for the number types.
  struct Case {
    const char* name;
    std::string sql;
    std::string definitions;
    std::string text;
    double number;
  } cases[] = {
      {"declared integer, real, date, text", "Select I, R, D, T from Werte",
       "I,3,0\r\nR,6,0\r\nD,11,0\r\nT,1,6\r\n", "5", 0},
      {"declared date", "Select D from Werte", "D,11,0\r\n", "", 45351.25},
      {"code-page text from UTF-8", "Select T from Werte", "T,1,6\r\n", "M\xFCller", 0},
      {"numeric decides by its value", "Select N from Werte", "N,3,0\r\n", "3", 0},
      {"blob bytes", "Select B from Werte", "B,15,0\r\n",
       std::string("\0\xFF"
                   "A",
                   3),
       0},
      {"expressions take the value's kind", "Select 1+1 AS A, 0.5 AS B, 'xy' AS C",
       "A,3,0\r\nB,6,0\r\nC,1,2\r\n", "2", 0},
      {"a float expression", "Select 0.5 AS B", "B,6,0\r\n", "", 0.5},
      {"beyond 32 bits", "Select 5000000000 AS L", "L,25,0\r\n", "", 5e9},
      {"null throughout", "Select NULL AS X", "X,1,1\r\n", "", 0},
      {"a fraction widens an integer column", "Select I from Werte UNION ALL Select 2.5",
       "I,6,0\r\n", "", 5},
      {"text widens a number column", "Select I from Werte UNION ALL Select 'abc'", "I,1,3\r\n",
       "5", 0},
      {"a date that is none makes text", "Select D from Werte UNION ALL Select 'bald'",
       "D,1,19\r\n", "2024-02-29T06:00:00", 0},
      {"long text becomes a memo", "Select replace(hex(zeroblob(4600)), '0', 'x') AS M",
       "M,16,0\r\n", std::string(9200, 'x'), 0},
      {"names needing quotes", "Select 1 AS \"a,b\", 2 AS \"say \"\"hi\"\"\"",
       "\"a,b\",3,0\r\n\"say \"\"hi\"\"\",3,0\r\n", "1", 0},
      {"an ID that is no integer keeps its type", "Select 1.5 AS ID", "ID,6,1\r\n", "", 1.5},
      {"no rows", "Select ID, ID_ORDER, DATE from Auftraege where ID < 0",
       "ID,3,0\r\nID_ORDER,1,1\r\nDATE,11,0\r\n", "", 0},
      {"code-page text in the query", "Select 'gr\xFC\xDF' AS G", "G,1,4\r\n", "gr\xFC\xDF", 0},
      {"blanks may follow the semicolon", "Select 7 AS S ; \r\n", "S,3,0\r\n", "7", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(target_.c_str());
    std::string reply;
    ASSERT_NO_THROW(reply = Ask(c.sql));
    EXPECT_EQ(reply, c.definitions);
    TReadBack back;
    ReadBack(reply, target_, back);
    back.dataset.First();
    if (back.dataset.Eof()) {
      EXPECT_EQ(c.text, "");
      continue;
    }
    TField& field = back.dataset.Fields(0);
    switch (field.DataType()) {
      case ftFloat:
      case ftLargeint:
        EXPECT_DOUBLE_EQ(field.AsFloat(), c.number);
        break;
      case ftDateTime:
        EXPECT_DOUBLE_EQ(field.AsDateTime(), c.number);
        break;
      default:
        EXPECT_EQ(field.AsString(), c.text);
    }
  }
}

TEST_F(AnyQuery, DatesTravelAsDayNumbers) {
  Execute(database_,
          "CREATE TABLE Termine (D DATE);"
          "INSERT INTO Termine VALUES ('2024-02-29 06:00'), ('1899-12-29 06:00'), (NULL);");
  const std::string reply = Ask("Select D from Termine");
  ASSERT_EQ(reply, "D,11,0\r\n");
  TReadBack back;
  ReadBack(reply, target_, back);
  ASSERT_EQ(back.loaded, 3);
  TVirtualDataSet& ds = back.dataset;
  ds.First();
  EXPECT_DOUBLE_EQ(ds.Fields(0).AsDateTime(), 45351.25);
  ds.Next();
  EXPECT_DOUBLE_EQ(ds.Fields(0).AsDateTime(), -1.25);
  ds.Next();
  EXPECT_TRUE(ds.Fields(0).IsNull());
}

// Every refused request must leave no file behind and the database as it was.
TEST_F(AnyQuery, RefusedRequestsWriteNothing) {
  const std::string other_database = folder_ + "other.sqlite";
  Execute(other_database, "CREATE TABLE Geheim (X)");
  const std::string program_sql = "Select ID from Auftraege";
  const std::string outside_file = TTestPipeFolder::Folder() + "/x.vds";
  const std::string forever = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) ";
  struct Case {
    const char* name;
    std::string data;
    const char* why;  // part of the reason logged
    TAnyQueryLimits limits = {};
  } cases[] = {
      {"another data folder", Piece("/srv/anderswo/", program_sql, target_), "not the data folder"},
      {"the data folder's parent",
       Piece(fs::path(folder_).parent_path().parent_path().string() + "/", program_sql, target_),
       "not the data folder"},
      {"another result format", Piece(folder_, program_sql, target_, "csv"), "result format"},
      {"three pieces", folder_ + '\b' + program_sql + '\b' + "vds", "not four pieces"},
      {"five pieces", Piece(folder_, program_sql, target_) + '\b', "not four pieces"},
      {"a delete", Piece(folder_, "DELETE FROM Auftraege", target_), "not authorized"},
      {"a delete after a select", Piece(folder_, "Select 1; DELETE FROM Auftraege", target_),
       "more than one statement"},
      {"a delete after an empty statement", Piece(folder_, "; DELETE FROM Auftraege", target_),
       "not authorized"},
      {"two semicolons", Piece(folder_, "Select 1;;", target_), "more than one statement"},
      {"a trailing comment", Piece(folder_, "Select 1; -- x", target_), "more than one statement"},
      {"an update", Piece(folder_, "UPDATE Auftraege SET POT = 0", target_), "not authorized"},
      {"a table made", Piece(folder_, "CREATE TABLE X (Y)", target_), "not authorized"},
      {"another file attached", Piece(folder_, "ATTACH '" + other_database + "' AS other", target_),
       "not authorized"},
      {"a pragma", Piece(folder_, "PRAGMA user_version", target_), "not authorized"},
      {"a transaction", Piece(folder_, "BEGIN", target_), "not authorized"},
      {"no statement", Piece(folder_, " -- nichts", target_), "no statement"},
      {"bad syntax", Piece(folder_, "Selec 1", target_), "syntax error"},
      {"a missing table", Piece(folder_, "Select * from Fehlt", target_), "no such table"},
      {"two columns of one name", Piece(folder_, "Select ID, ID from Auftraege", target_),
       "Doppelter Feldname 'ID'"},
      {"too many rows",
       Piece(folder_, forever + "SELECT x FROM c", target_),
       "more than 50 rows",
       {50, 10000}},
      {"too long",
       Piece(folder_, forever + "SELECT count(*) FROM c", target_),
       "longer than 100 ms",
       {100000, 100}},
      {"a file outside the temporary folder", Piece(folder_, program_sql, outside_file),
       "the file is not in"},
      {"a file stepping out with ..", Piece(folder_, program_sql, TempFolder() + "../x.vds"),
       "the file is not in"},
      {"a relative file", Piece(folder_, program_sql, "x.vds"), "the file is not in"},
      {"the temporary folder itself", Piece(folder_, program_sql, TempFolder()),
       "the file is not in"},
      {"a missing folder below it", Piece(folder_, program_sql, TempFolder() + "fehlt/x.vds"),
       "not a real folder"},
      {"a zero byte in the name", Piece(folder_, program_sql, target_ + std::string(1, '\0')),
       "no valid file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = ReadWhole(database_);
    const std::string why =
        ErrorText<EQueryRefused>([&] { AnswerAnyQuery(c.data, folder_, database_, c.limits); });
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_FALSE(fs::exists(fs::symlink_status(target_)));
    EXPECT_FALSE(fs::exists(outside_file));
    EXPECT_EQ(ReadWhole(database_), before);
  }
  EXPECT_EQ(RowCount(), 4);
}

TEST_F(AnyQuery, RefusedThroughTheHandlerMeansNoData) {
  TExchangeHandler handler{THostOptions{}};
  handler.SetKey("ANYQUERY", AnyQueryHandler(folder_, database_));
  std::string line;
  TMessageRef reply = handler.AnswerRequest(
      NewRequestMessage("ANYQUERY", Piece(folder_, "DELETE FROM Auftraege", target_)), line);
  int64_t size = 0;
  EXPECT_FALSE(reply->Storage().FindEntry(u"DATA", size));
  EXPECT_NE(line.find(" -> failed: "), std::string::npos) << line;
  EXPECT_FALSE(fs::exists(target_));
  EXPECT_EQ(RowCount(), 4);
}

TEST_F(AnyQuery, TheFileMustBeNewAndReachedWithoutLinks) {
  if (platform::kOnWindows) {
    GTEST_SKIP() << "symbolic links take a privilege on Windows, and mingw-w64's std::filesystem "
                    "cannot make them";
  }
  const std::string outside = TTestPipeFolder::Folder() + "/draussen-" + std::to_string(runs_);
  fs::create_directories(outside);
  const std::string linked_folder = TempFolder() + "verweis-" + std::to_string(runs_);
  fs::create_directory_symlink(outside, linked_folder);
  const std::string real_folder = TempFolder("unter-" + std::to_string(runs_));
  std::ofstream(target_ + "-da", std::ios::binary) << "alt";
  fs::create_symlink(outside + "/ziel", target_ + "-link");
  struct Case {
    const char* name;
    std::string file;
    bool accepted;
  } cases[] = {
      {"a file that exists", target_ + "-da", false},
      {"a dangling link in its place", target_ + "-link", false},
      {"a linked folder on the way", linked_folder + "/neu.vds", false},
      {"a real folder below", real_folder + "neu.vds", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = Piece(folder_, "Select ID from Auftraege", c.file);
    if (c.accepted) {
      EXPECT_EQ(AnswerAnyQuery(data, folder_, database_), "ID,3,0\r\n");
      TReadBack back;
      ReadBack("ID,3,0\r\n", c.file, back);
      EXPECT_EQ(back.loaded, 4);
    } else {
      EXPECT_THROW(AnswerAnyQuery(data, folder_, database_), EQueryRefused);
    }
  }
  EXPECT_EQ(ReadWhole(target_ + "-da"), "alt");
  EXPECT_TRUE(fs::is_empty(outside));
  std::error_code ignored;
  fs::remove(target_ + "-da", ignored);
  fs::remove(target_ + "-link", ignored);
  fs::remove(linked_folder, ignored);
  fs::remove_all(real_folder, ignored);
  fs::remove_all(outside, ignored);
}

// The database opened is the host's own: a missing one is not created by a query.
TEST_F(AnyQuery, AMissingDatabaseIsRefusedAndNotCreated) {
  const std::string missing = folder_ + "fehlt.sqlite";
  EXPECT_THROW(AnswerAnyQuery(Piece(folder_, "Select 1", target_), folder_, missing),
               EQueryRefused);
  EXPECT_FALSE(fs::exists(Native(missing)));
  EXPECT_FALSE(fs::exists(target_));
}

TEST(IsoDate, GivesDayNumbersOrRefuses) {
  struct Case {
    const char* text;
    bool ok;
    double days;
  } cases[] = {
      {"1899-12-30", true, 0},
      {"1900-01-01 18:00", true, 2.75},
      {"2024-05-15", true, 45427},
      {"2024-02-29T12:00:00", true, 45351.5},
      {"2024-02-29 00:00:30.5", true, 45351 + 30.5 / 86400},
      {"1899-12-29 06:00", true, -1.25},
      {"2023-02-29", false, 0},
      {"2024-13-01", false, 0},
      {"2024-05-15 24:00", false, 0},
      {"2024-05-15 12:60", false, 0},
      {"2024-05-15 12", false, 0},
      {"2024-05-15x", false, 0},
      {"2024-05-15 12:00:00.", false, 0},
      {"15.05.2024", false, 0},
      {"2024-5-15", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double days = -99;
    EXPECT_EQ(IsoDateToDayNumber(c.text, days), c.ok);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(days, c.days);
    }
  }
}

}  // namespace
}  // namespace rb

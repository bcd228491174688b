#include "host/SampleDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "exchange/TestPipeFolder.h"
#include "util/Errors.h"
#include "util/Files.h"

namespace rb {
namespace {

// The number of rows of the first column of sql, or -1 when it fails.
int Count(const std::string& database, const std::string& sql) {
  sqlite3* db = nullptr;
  int result = -1;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      result = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return result;
}

TEST(SampleDatabase, IsMadeOnceAndNeverOverFilled) {
  const std::string file = TempFolder("Probe") + "Kontorix.sqlite";
  std::remove(file.c_str());
  EXPECT_TRUE(EnsureSampleDatabase(file));
  EXPECT_EQ(Count(file, "Select count(*) from Auftraege"), 7);
  // The sample document's invoices: 17 and 42 count, 39 and 58 do not.
  EXPECT_EQ(Count(file, "Select count(*) from Auftraege where ID IN (17, 39, 42, 58)"), 4);
  EXPECT_EQ(Count(file,
                  "Select round(sum(WW_NETTO) * 100) from Auftraege where ID IN (17, 39, 42, 58) "
                  "and POT = 1"),
            5891275);
  EXPECT_EQ(Count(file, "Select count(*) from Auftraege where DATE NOT LIKE '____-__-__'"), 0);

  EXPECT_FALSE(EnsureSampleDatabase(file));
  EXPECT_EQ(Count(file, "Select count(*) from Auftraege"), 7);
}

TEST(SampleDatabase, KeepsOtherDatabasesWhole) {
  const std::string folder = TempFolder("Probe2");
  struct Case {
    const char* name;
    std::string content;  // the file's bytes before; "" for a database with another table
    bool raises;
  } cases[] = {
      {"not a database", std::string(4096, 'x'), true},
      {"a database without the table", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = folder + c.name + ".sqlite";
    if (c.content.empty()) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
      sqlite3_exec(db, "CREATE TABLE Kunden (Name TEXT); INSERT INTO Kunden VALUES ('A');", nullptr,
                   nullptr, nullptr);
      sqlite3_close(db);
    } else {
      std::ofstream(file, std::ios::binary) << c.content;
    }
    if (c.raises) {
      EXPECT_THROW(EnsureSampleDatabase(file), Exception);
      std::ifstream in(file, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.content);
    } else {
      EXPECT_TRUE(EnsureSampleDatabase(file));
      EXPECT_EQ(Count(file, "Select count(*) from Kunden"), 1);
      EXPECT_EQ(Count(file, "Select count(*) from Auftraege"), 7);
    }
  }
  const std::string nowhere = folder + "fehlt/Kontorix.sqlite";
  EXPECT_THROW(EnsureSampleDatabase(nowhere), Exception);
  EXPECT_FALSE(std::filesystem::exists(nowhere));
}

}  // namespace
}  // namespace rb

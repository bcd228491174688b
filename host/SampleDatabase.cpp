#include "host/SampleDatabase.h"

#include <sqlite3.h>

#include <memory>

#include "json/Utf8.h"
#include "platform/File.h"
#include "util/Errors.h"

namespace rb {

namespace {

struct TSampleInvoice {
  int id;
  const char* order;  // UTF-8, as SQLite keeps text
  const char* date;
  double net;
  int counts;
  const char* description;
};

// The sample document's info lines name 17, 39, 42 and 58; the others belong to other orders
// and must not be selected.
constexpr TSampleInvoice kInvoices[] = {
    {3, "AR-2024-0103", "2024-02-20", 12400.00, 1,
     "Abschlagsrechnung Dachsanierung Schillerstra\xC3\x9F"
     "e 4"},
    {17, "AR-2024-0117", "2024-05-15", 24850.00, 1,
     "1. Abschlagsrechnung Neubau Lindenstra\xC3\x9F"
     "e 12"},
    {29, "AR-2024-0129", "2024-06-03", 8730.40, 1,
     "Schlussrechnung Carport Am M\xC3\xBC"
     "hlbach 7"},
    {39, "AR-2024-0139", "2024-07-01", 34150.00, 0,
     "2. Abschlagsrechnung Neubau Lindenstra\xC3\x9F"
     "e 12 (storniert)"},
    {42, "AR-2024-0142", "2024-07-12", 34062.75, 1,
     "2. Abschlagsrechnung Neubau Lindenstra\xC3\x9F"
     "e 12"},
    {58, "RG-2024-0158", "2024-08-19", 1320.00, 0,
     "Regierechnung Neubau Lindenstra\xC3\x9F"
     "e 12, Mehraufwand Baugrube"},
    {61, "AR-2024-0161", "2024-09-02", 15600.00, 1, "Abschlagsrechnung Umbau Praxis Dr. Weber"},
};

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw Exception(what + ": " + sqlite3_errmsg(db));
}

void Execute(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, sql);
}

bool HasInvoiceTable(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT 1 FROM sqlite_master WHERE type='table' AND "
                         "name='Auftraege' COLLATE NOCASE",
                         -1, &raw, nullptr) != SQLITE_OK) {
    Fail(db, "cannot read the database's tables");
  }
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(raw);
  const int step = sqlite3_step(raw);
  if (step != SQLITE_ROW && step != SQLITE_DONE) Fail(db, "cannot read the database's tables");
  return step == SQLITE_ROW;
}

void InsertInvoices(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db,
                         "INSERT INTO Auftraege (ID, ID_ORDER, DATE, WW_NETTO, POT, Bezeichnung) "
                         "VALUES (?, ?, ?, ?, ?, ?)",
                         -1, &raw, nullptr) != SQLITE_OK) {
    Fail(db, "cannot insert the sample invoices");
  }
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(raw);
  for (const TSampleInvoice& invoice : kInvoices) {
    sqlite3_reset(raw);
    sqlite3_bind_int(raw, 1, invoice.id);
    sqlite3_bind_text(raw, 2, invoice.order, -1, SQLITE_STATIC);
    sqlite3_bind_text(raw, 3, invoice.date, -1, SQLITE_STATIC);
    sqlite3_bind_double(raw, 4, invoice.net);
    sqlite3_bind_int(raw, 5, invoice.counts);
    sqlite3_bind_text(raw, 6, invoice.description, -1, SQLITE_STATIC);
    if (sqlite3_step(raw) != SQLITE_DONE) Fail(db, "cannot insert the sample invoices");
  }
}

}  // namespace

bool EnsureSampleDatabase(const std::string& database_file) {
  sqlite3* raw = nullptr;
  // SQLite takes UTF-8 names on every system (on Windows too, where the file calls take the
  // code page).
  const int opened = sqlite3_open_v2(CodePageToUtf8(database_file).c_str(), &raw,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, DatabaseCloser> db(raw);
  if (opened != SQLITE_OK) {
    throw Exception("cannot open " + database_file + ": " +
                    (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(opened)));
  }
  sqlite3_busy_timeout(raw, 5000);
  // One immediate transaction: two services started at once do not both fill the table, and a
  // failure part-way leaves the database as it was.
  Execute(raw, "BEGIN IMMEDIATE");
  try {
    if (HasInvoiceTable(raw)) {
      Execute(raw, "ROLLBACK");
      return false;
    }
    Execute(raw,
            "CREATE TABLE Auftraege (ID INTEGER PRIMARY KEY, ID_ORDER TEXT NOT NULL, "
            "DATE DATE, WW_NETTO REAL, POT INTEGER, Bezeichnung TEXT)");
    InsertInvoices(raw);
    Execute(raw, "COMMIT");
  } catch (...) {
    sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return true;
}

}  // namespace rb

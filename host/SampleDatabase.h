// The demo's database: the table "Auftraege" of Kontorix's invoices, filled with the earlier
// invoices that the sample document (host/sample/Rechnung.json) names in its info lines, and a
// few of other orders.
//
//   CREATE TABLE Auftraege (ID INTEGER PRIMARY KEY, ID_ORDER TEXT NOT NULL, DATE DATE,
//                           WW_NETTO REAL, POT INTEGER, Bezeichnung TEXT)
//
// DATE holds ISO text "YYYY-MM-DD"; WW_NETTO is the net amount; POT is 1 for an invoice that
// counts towards the order's deduction and 0 for one that does not (cancelled, billed apart).
// Of the sample's invoices 17, 39, 42 and 58 only 17 and 42 count: 24 850,00 + 34 062,75 =
// 58 912,75, the sample's deduction line.
#pragma once

#include <string>

namespace rb {

// Creates the table with the sample rows in the database file (the file created when missing)
// unless the database has a table "Auftraege" already, which is then left as it is. True when
// the table was created. Raises Exception with SQLite's message when the file cannot be opened
// or written, or is no database; a failed creation leaves no half-filled table behind.
bool EnsureSampleDatabase(const std::string& database_file);

}  // namespace rb

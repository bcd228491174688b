// "ANYQUERY": runs one read-only SQL statement on the host's SQLite database and hands the
// result over the way the program reads it: the field definitions as the reply text, the rows
// as a binary record-set stream (TBinaryStreamFormat, recordset/UVirtualDataset.h) in a new file.
//
// The request data is four pieces joined by the byte 8:
//   <data folder> 8 <SQL> 8 "vds" 8 <new file>
//   "/home/u/daten/" 8 "Select ID,WW_NETTO from Auftraege where ID=17" 8 "vds" 8
//   "/run/user/1000/KXTempDir/3141592653"
// answered with "ID,3,0\r\nWW_NETTO,6,0\r\n" (name, type code, size; each line ended by CR LF,
// a name holding a comma, a quote or a line break in double quotes), the record in the file.
//
// Field types follow the column's declared type (SQLite's naming rules):
//   ...INT...           ftInteger (3), ftLargeint (25) when a value needs more than 32 bits
//   REAL, FLOA, DOUB    ftFloat (6)
//   DATE, DATETIME      ftDateTime (11): text "YYYY-MM-DD" with an optional time " HH:MM[:SS]"
//                       ('T' also separates), handed over as day numbers (0 = 30 Dec 1899)
//   CHAR, CLOB, TEXT    ftString (1) sized by the longest value in code-page characters (at
//                       least 1); longer than 8192: ftMemo (16), size 0
//   BLOB                ftBlob (15)
// A column without a declared type (an expression) or with another one (NUMERIC) takes the kind
// of its first non-null value; a column that is null throughout is a string of size 1. Values
// that do not fit widen the column instead of being lost: a fraction in an integer column makes
// it ftFloat, text in a number or date column (or a date that does not parse) makes it ftString.
// Text reaches the program in the code page; characters outside it become '?'. A column named
// exactly "ID" whose size would be 0 gets size 1 unless it is ftInteger, since the program's
// record set makes "ID" with size 0 an integer whatever its type code says.
//
// Refused requests raise EQueryRefused (with the reason, for the log) and write nothing, so the
// request is answered without "DATA":
//   - not four pieces, or piece 3 not "vds";
//   - piece 1 not the host's data folder, compared ignoring case (the requester lower-cases it;
//     the database opened is always the host's own, never one named by the piece);
//   - the new file not inside TempFolder(): its full name must lie in TempFolder() or in real
//     folders below it (no symbolic link on the way), and nothing may exist under that name,
//     not even a dangling link (the file is created exclusively);
//   - the SQL not exactly one statement (only blanks may follow the first statement and its
//     ";"), not read-only by sqlite3_stmt_readonly, or doing anything but reading tables and
//     calling functions (ATTACH, PRAGMA and transactions are refused too);
//   - the database missing or unreadable (it is opened read-only, never created), the statement
//     failing, more rows than limits.max_rows, or a run longer than limits.time_limit_ms;
//   - a result the record set cannot hold (two columns of one name, a column without a name).
//
// Threads: every call opens its own connection; safe on any number of threads at once.
#pragma once

#include <string>
#include <string_view>

#include "host/ExchangeHost.h"
#include "util/Errors.h"

namespace rb {

class EQueryRefused : public Exception {
  using Exception::Exception;
};

struct TAnyQueryLimits {
  int max_rows = 100000;
  int time_limit_ms = 10000;
};

// The reply text for the request data; the rows are in the file named by piece 4 afterwards.
// data_folder is the host's full data folder with its delimiter, database_file the SQLite file.
std::string AnswerAnyQuery(const std::string& data, const std::string& data_folder,
                           const std::string& database_file, const TAnyQueryLimits& limits = {});

// AnswerAnyQuery as a key handler for TExchangeHandler::SetKey.
TExchangeHandler::TKeyHandler AnyQueryHandler(std::string data_folder, std::string database_file,
                                              TAnyQueryLimits limits = {});

// The day number of "YYYY-MM-DD", optionally followed by ' ' or 'T' and "HH:MM", "HH:MM:SS" or
// "HH:MM:SS.fff"; false for anything else (also for 2024-02-30 or 24:00).
// "2024-05-15" gives 45427, "1900-01-01 18:00" gives 2.75.
bool IsoDateToDayNumber(std::string_view text, double& days);

}  // namespace rb

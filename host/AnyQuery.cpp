#include "host/AnyQuery.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "json/Utf8.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "recordset/UVirtualDataset.h"
#include "util/Files.h"
#include "util/Streams.h"

namespace rb {

namespace {

constexpr char kPieceSeparator = '\x08';
constexpr int kMaxStringSize = 8192;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TDatabase = std::unique_ptr<sqlite3, DatabaseCloser>;
using TStatement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

[[noreturn]] void Refuse(const std::string& why) {
  throw EQueryRefused(why);
}

std::vector<std::string> SplitPieces(const std::string& data) {
  std::vector<std::string> pieces(1);
  for (char c : data) {
    if (c == kPieceSeparator) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

// A declared column type in upper case, as the type rules compare it.
std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(platform::AnsiUpper(static_cast<unsigned char>(c)));
  return out;
}

// The full name of the file to write, or a refusal. The name is resolved by text, and the
// resolved name is the one opened, so ".." cannot step out; a symbolic link among the folders
// below TempFolder() could, so each of them must be a real folder.
std::string CheckTargetFile(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) Refuse("no valid file name");
  const std::string full = platform::GetFullPathName(name);
  const std::string temp = TempFolder();
  if (full.size() <= temp.size() || full.compare(0, temp.size(), temp) != 0 ||
      full.back() == platform::kPathDelim) {
    Refuse("the file is not in " + temp + ": " + name);
  }
  for (size_t slash = full.find(platform::kPathDelim, temp.size()); slash != std::string::npos;
       slash = full.find(platform::kPathDelim, slash + 1)) {
    std::error_code ignored;
    const auto status =
        std::filesystem::symlink_status(platform::NativePath(full.substr(0, slash)), ignored);
    if (status.type() != std::filesystem::file_type::directory) {
      Refuse("not a real folder on the way to the file: " + full.substr(0, slash));
    }
  }
  return full;
}

// Reading tables and calling functions is all a query needs; everything else a statement may do
// on a read-only connection (ATTACH another file, PRAGMA, transactions) is denied.
int AuthorizeReadingOnly(void*, int action, const char*, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

int PastDeadline(void* deadline) {
  return std::chrono::steady_clock::now() >
         *static_cast<std::chrono::steady_clock::time_point*>(deadline);
}

std::string Ansi(const void* utf16, int bytes) {
  if (utf16 == nullptr) return {};
  return platform::WideToAnsi(
      std::u16string_view(static_cast<const char16_t*>(utf16), static_cast<size_t>(bytes) / 2));
}

// A name as SQLite gives it: UTF-16 ended by a zero unit.
std::string AnsiName(const void* utf16) {
  if (utf16 == nullptr) return {};
  return platform::WideToAnsi(std::u16string_view(static_cast<const char16_t*>(utf16)));
}

struct TCell {
  int type = SQLITE_NULL;
  int64_t integer = 0;
  double number = 0;
  std::string text;  // text (code page) and blob bytes
};

TCell ReadCell(sqlite3_stmt* statement, int column) {
  TCell cell;
  cell.type = sqlite3_column_type(statement, column);
  switch (cell.type) {
    case SQLITE_INTEGER:
      cell.integer = sqlite3_column_int64(statement, column);
      break;
    case SQLITE_FLOAT:
      cell.number = sqlite3_column_double(statement, column);
      break;
    case SQLITE_TEXT: {
      const void* text = sqlite3_column_text16(statement, column);
      cell.text = Ansi(text, sqlite3_column_bytes16(statement, column));
      break;
    }
    case SQLITE_BLOB: {
      const void* bytes = sqlite3_column_blob(statement, column);
      if (bytes != nullptr) {
        cell.text.assign(static_cast<const char*>(bytes),
                         static_cast<size_t>(sqlite3_column_bytes(statement, column)));
      }
      break;
    }
  }
  return cell;
}

std::string CellText(const TCell& cell) {
  switch (cell.type) {
    case SQLITE_INTEGER:
      return std::to_string(cell.integer);
    case SQLITE_FLOAT: {
      char text[32];
      std::snprintf(text, sizeof text, "%.15g", cell.number);
      return text;
    }
    default:
      return cell.text;
  }
}

struct TResult {
  std::vector<std::string> names;
  std::vector<std::string> declared;  // upper case; empty without a declared type
  std::vector<TCell> cells;           // row by row
  int rows = 0;
};

// The program asks for earlier invoices as "... where ID=17 OR ID=42 OR ...", one term per
// invoice. SQLite parses that chain as a tree one level deeper per term and refuses it beyond
// 1000 levels, so an order with 1000 earlier invoices would get no answer. The same condition
// as "ID IN (17,42,...)" has no such depth; only a condition that is exactly such a chain at the
// very end of the text is rewritten.
std::string FlattenIdChain(const std::string& sql) {
  const std::string lower = platform::AnsiLowerCase(sql);
  const size_t where = lower.rfind(" where ");
  if (where == std::string::npos) return sql;
  size_t i = where + 7;
  const auto blanks = [&] {
    while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\r' || lower[i] == '\n'))
      ++i;
  };
  const auto word = [&](std::string_view w) {
    if (lower.compare(i, w.size(), w) != 0) return false;
    i += w.size();
    return true;
  };
  std::string ids;
  int terms = 0;
  for (;;) {
    blanks();
    if (terms > 0 && !word("or")) break;
    blanks();
    if (!word("id")) return sql;
    blanks();
    if (!word("=")) return sql;
    blanks();
    const size_t start = i;
    if (i < lower.size() && lower[i] == '-') ++i;
    while (i < lower.size() && lower[i] >= '0' && lower[i] <= '9')
      ++i;
    if (i == start || lower[i - 1] == '-') return sql;
    ids += (terms++ > 0 ? "," : "") + lower.substr(start, i - start);
  }
  if (i < lower.size() && lower[i] == ';') ++i;
  blanks();
  if (i != lower.size() || terms < 2) return sql;
  return sql.substr(0, where + 7) + "ID IN (" + ids + ")";
}

TResult RunQuery(const std::string& database_file, const std::string& sql_text,
                 const TAnyQueryLimits& limits) {
  const std::string sql = FlattenIdChain(sql_text);
  sqlite3* raw = nullptr;
  // SQLite takes UTF-8 names on every system (on Windows too, where the file calls take the
  // code page).
  const int opened =
      sqlite3_open_v2(CodePageToUtf8(database_file).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  TDatabase db(raw);
  if (opened != SQLITE_OK) {
    Refuse("cannot open the database " + database_file + ": " +
           (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(opened)));
  }
  sqlite3_busy_timeout(db.get(), 2000);
  sqlite3_set_authorizer(db.get(), AuthorizeReadingOnly, nullptr);
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.time_limit_ms);
  sqlite3_progress_handler(db.get(), 1000, PastDeadline, &deadline);

  const std::u16string text = platform::AnsiToWide(sql);
  sqlite3_stmt* prepared = nullptr;
  const void* tail = nullptr;
  const int rc = sqlite3_prepare16_v3(
      db.get(), text.data(), static_cast<int>(text.size() * sizeof(char16_t)), 0, &prepared, &tail);
  TStatement statement(prepared);
  if (rc != SQLITE_OK) Refuse(std::string("the query cannot run: ") + sqlite3_errmsg(db.get()));
  if (!statement) Refuse("no statement");
  // The first statement takes its own ";" along; whatever follows would be a second one.
  for (auto p = static_cast<const char16_t*>(tail); p < text.data() + text.size(); ++p) {
    if (*p != u' ' && *p != u'\t' && *p != u'\r' && *p != u'\n') Refuse("more than one statement");
  }
  if (!sqlite3_stmt_readonly(statement.get())) Refuse("not a read-only statement");

  TResult result;
  const int columns = sqlite3_column_count(statement.get());
  if (columns == 0) Refuse("the statement returns no columns");
  for (int i = 0; i < columns; ++i) {
    result.names.push_back(AnsiName(sqlite3_column_name16(statement.get(), i)));
    const char* declared = sqlite3_column_decltype(statement.get(), i);
    result.declared.push_back(FoldCase(declared ? declared : ""));
  }
  for (;;) {
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) {
      Refuse(step == SQLITE_INTERRUPT
                 ? "the query ran longer than " + std::to_string(limits.time_limit_ms) + " ms"
                 : std::string("the query failed: ") + sqlite3_errmsg(db.get()));
    }
    if (result.rows == limits.max_rows) {
      Refuse("more than " + std::to_string(limits.max_rows) + " rows");
    }
    for (int i = 0; i < columns; ++i)
      result.cells.push_back(ReadCell(statement.get(), i));
    ++result.rows;
  }
  return result;
}

enum class TKind { kInteger, kLargeint, kFloat, kDateTime, kText, kMemo, kBlob };

// SQLite's rules for a declared type's affinity, with DATE and DATETIME first; nullopt when the
// values decide (no declared type, NUMERIC and the like).
std::optional<TKind> DeclaredKind(const std::string& declared) {
  auto has = [&declared](const char* part) { return declared.find(part) != std::string::npos; };
  if (declared == "DATE" || declared == "DATETIME") return TKind::kDateTime;
  if (has("INT")) return TKind::kInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return TKind::kText;
  if (has("BLOB")) return TKind::kBlob;
  if (has("REAL") || has("FLOA") || has("DOUB")) return TKind::kFloat;
  return std::nullopt;
}

struct TColumn {
  TKind kind = TKind::kText;
  int size = 0;
};

TColumn DecideColumn(const TResult& result, int column) {
  const int columns = static_cast<int>(result.names.size());
  auto cell = [&](int row) -> const TCell& { return result.cells[row * columns + column]; };
  std::optional<TKind> kind = DeclaredKind(result.declared[column]);
  bool text = false, fraction = false, large = false, dates = true;
  for (int row = 0; row < result.rows; ++row) {
    const TCell& c = cell(row);
    if (c.type == SQLITE_NULL) continue;
    if (!kind) {
      kind = c.type == SQLITE_INTEGER ? TKind::kInteger
             : c.type == SQLITE_FLOAT ? TKind::kFloat
             : c.type == SQLITE_BLOB  ? TKind::kBlob
                                      : TKind::kText;
    }
    double ignored = 0;
    text = text || c.type == SQLITE_TEXT || c.type == SQLITE_BLOB;
    fraction = fraction || c.type == SQLITE_FLOAT;
    large = large || (c.type == SQLITE_INTEGER && (c.integer < INT32_MIN || c.integer > INT32_MAX));
    dates = dates && c.type == SQLITE_TEXT && IsoDateToDayNumber(c.text, ignored);
  }
  TColumn out;
  out.kind = kind.value_or(TKind::kText);
  switch (out.kind) {
    case TKind::kInteger:
    case TKind::kFloat:
      if (text) {
        out.kind = TKind::kText;
      } else if (fraction || out.kind == TKind::kFloat) {
        out.kind = TKind::kFloat;
      } else if (large) {
        out.kind = TKind::kLargeint;
      }
      break;
    case TKind::kDateTime:
      if (!dates) out.kind = TKind::kText;
      break;
    default:
      break;
  }
  if (out.kind == TKind::kText) {
    size_t longest = 1;
    for (int row = 0; row < result.rows; ++row) {
      if (cell(row).type != SQLITE_NULL) longest = std::max(longest, CellText(cell(row)).size());
    }
    if (longest > static_cast<size_t>(kMaxStringSize)) {
      out.kind = TKind::kMemo;
    } else {
      out.size = static_cast<int>(longest);
    }
  }
  return out;
}

TFieldType FieldTypeOf(TKind kind) {
  switch (kind) {
    case TKind::kInteger:
      return ftInteger;
    case TKind::kLargeint:
      return ftLargeint;
    case TKind::kFloat:
      return ftFloat;
    case TKind::kDateTime:
      return ftDateTime;
    case TKind::kText:
      return ftString;
    case TKind::kMemo:
      return ftMemo;
    case TKind::kBlob:
      return ftBlob;
  }
  return ftString;
}

// A definition column as the CSV reader takes it back: quoted when it holds the separator, a
// quote or a line break, or begins with a quote.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string DefinitionLine(const std::string& name, const TColumn& column) {
  const TFieldType type = FieldTypeOf(column.kind);
  int size = column.size;
  if (name == "ID" && size == 0 && type != ftInteger) size = 1;
  return CsvField(name) + "," + std::to_string(static_cast<int>(type)) + "," +
         std::to_string(size) + "\r\n";
}

void StoreCell(TField& field, TKind kind, const TCell& cell) {
  if (cell.type == SQLITE_NULL) return;
  switch (kind) {
    case TKind::kInteger:
      field.SetAsInteger(static_cast<int32_t>(cell.integer));
      break;
    case TKind::kLargeint:
      field.SetAsLargeInt(cell.integer);
      break;
    case TKind::kFloat:
      field.SetAsFloat(cell.type == SQLITE_INTEGER ? static_cast<double>(cell.integer)
                                                   : cell.number);
      break;
    case TKind::kDateTime: {
      double days = 0;
      IsoDateToDayNumber(cell.text, days);
      field.SetAsDateTime(days);
      break;
    }
    case TKind::kText:
    case TKind::kMemo:
    case TKind::kBlob:
      field.SetAsString(CellText(cell));
      break;
  }
}

// The stream bytes of the result, written by the same record set the program reads it with, so
// that the definitions and the values cannot disagree.
std::string RecordStream(const TResult& result, const std::vector<TColumn>& columns,
                         const std::string& definitions) {
  TVirtualDataSet dataset;
  dataset.LoadFieldDefsFromText(definitions, true);
  const int count = static_cast<int>(columns.size());
  for (int row = 0; row < result.rows; ++row) {
    dataset.Append();
    for (int i = 0; i < count; ++i)
      StoreCell(dataset.Fields(i), columns[i].kind, result.cells[row * count + i]);
    dataset.Post();
  }
  TMemoryStream stream;
  TBinaryStreamFormat format;
  dataset.SaveToStream(stream, format);
  return std::string(stream.View());
}

void WriteNewFile(const std::string& path, const std::string& bytes) {
  platform::File file =
      platform::File::Open(path, platform::FileAccess::kWrite, platform::FileShare::kExclusive,
                           platform::FileCreate::kCreateNew);
  if (!file.IsOpen()) {
    Refuse("cannot create " + path + ": " + platform::SysErrorMessage(platform::GetLastError()));
  }
  if (file.Write(bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) {
    const uint32_t code = platform::GetLastError();
    file.Close();
    platform::DeleteFile(path);
    Refuse("cannot write " + path + ": " + platform::SysErrorMessage(code));
  }
}

bool Digits(std::string_view text, size_t pos, size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool IsoDateToDayNumber(std::string_view text, double& days) {
  using namespace std::chrono;
  int y = 0, m = 0, d = 0;
  if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, m) ||
      text[7] != '-' || !Digits(text, 8, 2, d)) {
    return false;
  }
  const year_month_day date{year{y}, month{static_cast<unsigned>(m)},
                            day{static_cast<unsigned>(d)}};
  if (!date.ok()) return false;
  double seconds = 0;
  if (text.size() > 10) {
    int h = 0, min = 0, s = 0;
    if ((text[10] != ' ' && text[10] != 'T') || !Digits(text, 11, 2, h) || text.size() < 16 ||
        text[13] != ':' || !Digits(text, 14, 2, min) || h > 23 || min > 59) {
      return false;
    }
    size_t pos = 16;
    if (pos < text.size()) {
      if (text[pos] != ':' || !Digits(text, pos + 1, 2, s) || s > 59) return false;
      pos += 3;
    }
    double part = 0;
    if (pos < text.size()) {
      if (text[pos] != '.' || pos + 1 == text.size()) return false;
      double scale = 0.1;
      for (++pos; pos < text.size(); ++pos, scale /= 10) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        part += (text[pos] - '0') * scale;
      }
    }
    seconds = h * 3600.0 + min * 60.0 + s + part;
  }
  const double whole = (sys_days{date} - sys_days{year{1899} / December / 30}).count();
  // Before day 0 the fraction still counts forward from the day's start: -1.25 is
  // 29 December 1899, 06:00.
  days = whole < 0 ? whole - seconds / 86400 : whole + seconds / 86400;
  return true;
}

std::string AnswerAnyQuery(const std::string& data, const std::string& data_folder,
                           const std::string& database_file, const TAnyQueryLimits& limits) {
  const std::vector<std::string> pieces = SplitPieces(data);
  if (pieces.size() != 4) Refuse("not four pieces");
  if (pieces[2] != "vds") Refuse("unknown result format \"" + pieces[2] + "\"");
  if (!platform::SameTextIgnoringCase(IncludePathDelimiter(pieces[0]), data_folder)) {
    Refuse("not the data folder " + data_folder + ": " + pieces[0]);
  }
  const std::string target = CheckTargetFile(pieces[3]);
  const TResult result = RunQuery(database_file, pieces[1], limits);

  std::vector<TColumn> columns;
  std::string definitions;
  for (int i = 0; i < static_cast<int>(result.names.size()); ++i) {
    columns.push_back(DecideColumn(result, i));
    definitions += DefinitionLine(result.names[i], columns.back());
  }
  std::string bytes;
  try {
    bytes = RecordStream(result, columns, definitions);
  } catch (const Exception& e) {
    Refuse(std::string("the result cannot be handed over: ") + e.what());
  }
  WriteNewFile(target, bytes);
  return definitions;
}

TExchangeHandler::TKeyHandler AnyQueryHandler(std::string data_folder, std::string database_file,
                                              TAnyQueryLimits limits) {
  return [data_folder = std::move(data_folder), database_file = std::move(database_file),
          limits](const std::string& data) -> std::optional<std::string> {
    return AnswerAnyQuery(data, data_folder, database_file, limits);
  };
}

}  // namespace rb

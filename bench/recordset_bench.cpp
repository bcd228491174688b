// Loading and walking a query result of 100,000 records (the previous-invoices fields) from the
// binary record-set stream, against SQLite stepping through the same rows of an in-memory table.
// Run: scripts/bench recordset_bench. Counters: rows/s, and bytes of heap per loaded record.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "recordset/UVirtualDataset.h"

namespace {

constexpr int kRows = 100000;
const char kDefs[] = "ID,3,0\r\nWW_NETTO,6,0\r\nPOT,3,0\r\nID_ORDER,1,20\r\nDATE,11,0\r\n";

std::string OrderText(int i) {
  char text[24];
  std::snprintf(text, sizeof text, "AU-2026-%06d", i);
  return text;
}

const rb::TMemoryStream& RecordStream() {
  static rb::TMemoryStream* stream = [] {
    auto* s = new rb::TMemoryStream;
    rb::TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(kDefs, true);
    for (int i = 0; i < kRows; ++i) {
      ds.Append();
      ds.FieldByName("ID")->SetAsInteger(i + 1);
      ds.FieldByName("WW_NETTO")->SetAsFloat(100.0 + i * 0.25);
      ds.FieldByName("POT")->SetAsInteger(i % 3);
      ds.FieldByName("ID_ORDER")->SetAsString(OrderText(i));
      ds.FieldByName("DATE")->SetAsDateTime(45000.0 + i % 700);
      ds.Post();
    }
    rb::TBinaryStreamFormat format;
    ds.SaveToStream(*s, format);
    return s;
  }();
  return *stream;
}

// The walk of the earlier-invoices step: every record, all five fields looked up by name.
void WalkReadingFiveFields(rb::TVirtualDataSet& ds) {
  double sum = 0;
  size_t text = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    sum += ds.FieldByName("ID")->AsInteger();
    sum += ds.FieldByName("WW_NETTO")->AsFloat();
    sum += ds.FieldByName("POT")->AsInteger();
    text += ds.FieldByName("ID_ORDER")->AsString().size();
    sum += ds.FieldByName("DATE")->AsDateTime();
  }
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(text);
}

void BM_RecordSetLoadAndWalk(benchmark::State& state) {
  rb::TMemoryStream stream(RecordStream().View());
  double bytes_per_record = 0;
  for (auto _ : state) {
    size_t heap_before = mallinfo2().uordblks;
    rb::TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(kDefs, true);
    rb::TBinaryStreamFormat format;
    int n = ds.LoadFromStream(stream, format);
    bytes_per_record = static_cast<double>(mallinfo2().uordblks - heap_before) / n;
    WalkReadingFiveFields(ds);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes/record"] = bytes_per_record;
  state.counters["stream bytes"] = static_cast<double>(stream.Size());
}
BENCHMARK(BM_RecordSetLoadAndWalk)->Unit(benchmark::kMillisecond);

// The two halves of the above, apart.
void BM_RecordSetLoadOnly(benchmark::State& state) {
  rb::TMemoryStream stream(RecordStream().View());
  for (auto _ : state) {
    rb::TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(kDefs, true);
    rb::TBinaryStreamFormat format;
    benchmark::DoNotOptimize(ds.LoadFromStream(stream, format));
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RecordSetLoadOnly)->Unit(benchmark::kMillisecond);

void BM_RecordSetWalkOnly(benchmark::State& state) {
  rb::TMemoryStream stream(RecordStream().View());
  rb::TVirtualDataSet ds;
  ds.LoadFieldDefsFromText(kDefs, true);
  rb::TBinaryStreamFormat format;
  ds.LoadFromStream(stream, format);
  for (auto _ : state) {
    WalkReadingFiveFields(ds);
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RecordSetWalkOnly)->Unit(benchmark::kMillisecond);

void BM_SqliteStepAndRead(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db,
               "CREATE TABLE Auftraege (ID INTEGER, WW_NETTO REAL, POT INTEGER, ID_ORDER TEXT, "
               "DATE REAL); BEGIN",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Auftraege VALUES (?,?,?,?,?)", -1, &insert, nullptr);
  for (int i = 0; i < kRows; ++i) {
    std::string order = OrderText(i);
    sqlite3_bind_int(insert, 1, i + 1);
    sqlite3_bind_double(insert, 2, 100.0 + i * 0.25);
    sqlite3_bind_int(insert, 3, i % 3);
    sqlite3_bind_text(insert, 4, order.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 5, 45000.0 + i % 700);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  for (auto _ : state) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "Select ID,WW_NETTO,POT,ID_ORDER,DATE from Auftraege", -1, &select,
                       nullptr);
    double sum = 0;
    size_t text = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      sum += sqlite3_column_int(select, 0);
      sum += sqlite3_column_double(select, 1);
      sum += sqlite3_column_int(select, 2);
      text += std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, 3))).size();
      sum += sqlite3_column_double(select, 4);
    }
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(text);
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SqliteStepAndRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The table build against the document read: FillPositions into the real grid of the window
// (Qt's offscreen platform, nothing painted) beside TKXJSONStreamer::ReadText of the same
// document. The target is a table build no slower than the read. Also reports the grid's heap
// bytes per row (malloc's count before and after the first fill of an empty grid).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <cstdio>
#include <map>
#include <string>

#include "app/BenchSupport.h"
#include "app/LiveImportWindow.h"
#include "json/TKXJSONStreamer.h"

namespace {

using rb::app::BenchApp;
using rb::app::BenchPositions;

// An invoice as the host writes it: UTF-8, one order, N positions, every tenth a text line.
std::string MakeInvoice(int positions) {
  std::string s = "{\"Order\":[{\"LINKUID\":\"\",\"PrintName\":\"AR 4\",\"Parts\":[";
  s += BenchPositions(positions);
  return s + "]}]}";
}

const std::string& Invoice(int positions) {
  static std::map<int, std::string> cache;
  auto it = cache.find(positions);
  if (it == cache.end()) it = cache.emplace(positions, MakeInvoice(positions)).first;
  return it->second;
}

int64_t MallocInUse() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<int64_t>(m.uordblks + m.hblkhd);
}

void BM_ReadText(benchmark::State& state) {
  const std::string& text = Invoice(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(rb::TKXJSONStreamer::ReadText(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadText)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FillPositions(benchmark::State& state) {
  BenchApp();
  const int positions = static_cast<int>(state.range(0));
  rb::app::TLiveImportWindow window;
  window.SetMessageSink([](const char*, const std::string&) {});
  rb::live::TLiveImportFrm& view = window.View();
  view.SetDocument(rb::TKXJSONStreamer::ReadText(Invoice(positions)));
  const int64_t before = MallocInUse();
  view.FillPositions();
  const int64_t after = MallocInUse();
  for (auto _ : state)
    view.FillPositions();
  state.counters["rows"] = window.RowCount() - 1;
  state.counters["grid_bytes_per_row"] =
      static_cast<double>(after - before) / static_cast<double>(window.RowCount() - 1);
}
BENCHMARK(BM_FillPositions)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Reading invoice-like JSON documents of 1,000, 10,000 and 100,000 positions into a tree:
// TKXJSONStreamer::ReadText beside nlohmann::json and RapidJSON DOMs of the same bytes (each only
// when its headers were found). Each iteration parses and frees the tree.
//
// Counters: bytes processed (MB/s), and, measured once per document outside the timing, the peak
// heap in use while reading and holding the tree ("peak_bytes") relative to the file size
// ("peak_x_file"). Heap use is counted by the replacement operator new below (ours and
// nlohmann) and by mallinfo2 (RapidJSON, which calls malloc itself).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "json/TKXJSONStreamer.h"

#ifdef RB_HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef RB_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif

namespace {

std::atomic<int64_t> g_in_use{0};
std::atomic<int64_t> g_peak{0};

void* CountedAlloc(size_t size, size_t align) {
  void* p = align > alignof(std::max_align_t)
                ? std::aligned_alloc(align, (size + align - 1) / align * align)
                : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  const int64_t now =
      g_in_use.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed) +
      static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
  return p;
}

void CountedFree(void* p) {
  if (p == nullptr) return;
  g_in_use.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  std::free(p);
}

}  // namespace

void* operator new(size_t size) {
  return CountedAlloc(size, 0);
}
void* operator new[](size_t size) {
  return CountedAlloc(size, 0);
}
void* operator new(size_t size, std::align_val_t align) {
  return CountedAlloc(size, static_cast<size_t>(align));
}
void* operator new[](size_t size, std::align_val_t align) {
  return CountedAlloc(size, static_cast<size_t>(align));
}
void operator delete(void* p) noexcept {
  CountedFree(p);
}
void operator delete[](void* p) noexcept {
  CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
  CountedFree(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  CountedFree(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  CountedFree(p);
}

namespace {

// An order document as the host writes it: UTF-8, one order with N positions of mixed members.
std::string MakeInvoice(int positions) {
  std::string s;
  s.reserve(static_cast<size_t>(positions) * 520 + 1024);
  s += "{\"Order\":[{\"LINKUID\":\"{6F1C2A40-8B0E-4C55-9D7A-3E2B1F0A9C11}\",";
  s += "\"PrintName\":\"Abschlagsrechnung Nr. 4 \\u2013 Bauvorhaben M\xC3\xBCller\",";
  s += "\"InfoLines\":\"ORG_ID;TEXT\\r\\n1;Vorauszahlung\\r\\n2;Teilzahlung\",";
  s += "\"Adress\":[{\"AdressSmart\":\"M\xC3\xBCller & S\xC3\xB6hne GmbH, Hauptstra\xC3\x9F"
       "e 12, "
       "80331 M\xC3\xBCnchen\",\"Country\":\"DE\",\"CustomerNo\":10442}],";
  s += "\"Parts\":[";
  char buf[1024];
  for (int i = 0; i < positions; ++i) {
    if (i > 0) s += ',';
    const double price = (i % 97) * 13.37 + (i % 5) * 0.05;
    std::snprintf(
        buf, sizeof buf,
        "{\"Row\":%d,\"TypLine\":\"%s\",\"Position\":\"%d.%d\","
        "\"Description1\":\"Stahlbetonw\xC3\xA4nde C25/30, Dicke %d cm, einschl. Schalung "
        "und Bewehrung (Gr\xC3\xB6\xC3\x9F"
        "e %d)\",\"Description2\":\"Ausf\xC3\xBChrung nach "
        "DIN 1045 \\\"Tragwerke\\\"\",\"Price\":%.2f,\"Quantity\":%d.%d,\"Unit\":\"m\xC2\xB2\","
        "\"UnitPrice\":%.4f,\"VAT\":19,\"Discount\":0.0,\"Optional\":%s,\"Alternative\":false,"
        "\"ArticleNo\":\"ART-%06d\",\"CostCenter\":%d,\"Note\":null,\"Weight\":1.5e%d}",
        i + 1, i % 10 == 0 ? "T" : "N", i / 100 + 1, i % 100 + 1, 10 + i % 30, i % 7, price,
        i % 50 + 1, i % 10, price / (i % 50 + 1), i % 13 == 0 ? "true" : "false", i, 4000 + i % 9,
        i % 3);
    s += buf;
  }
  s += "]}]}";
  return s;
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

// Runs parse once outside the timing and reports the peak of counted heap use above the start.
template <class Parse>
void ReportPeak(benchmark::State& state, const std::string& text, Parse parse) {
  g_peak.store(g_in_use.load());
  const int64_t before = g_in_use.load();
  {
    auto tree = parse(text);
    benchmark::DoNotOptimize(tree);
  }
  const double peak = static_cast<double>(g_peak.load() - before);
  state.counters["peak_bytes"] = peak;
  state.counters["peak_x_file"] = peak / static_cast<double>(text.size());
}

void BM_ratenblick_ReadText(benchmark::State& state) {
  const std::string& text = Invoice(static_cast<int>(state.range(0)));
  auto parse = [](const std::string& t) { return rb::TKXJSONStreamer::ReadText(t); };
  if (!parse(text)) state.SkipWithError("document not read");
  for (auto _ : state) {
    auto root = parse(text);
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["file_bytes"] = static_cast<double>(text.size());
  // The arena keeps the pages of freed trees for the next read; the peak is taken from a cold
  // start, so that it counts every page the tree needs.
  state.counters["kept_bytes"] = static_cast<double>(rb::TKXArena::CachedBytes());
  rb::TKXArena::ReleaseCachedPages();
  ReportPeak(state, text, parse);
  rb::TKXArena::ReleaseCachedPages();
}
BENCHMARK(BM_ratenblick_ReadText)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

#ifdef RB_HAVE_NLOHMANN
void BM_nlohmann_Parse(benchmark::State& state) {
  const std::string& text = Invoice(static_cast<int>(state.range(0)));
  auto parse = [](const std::string& t) { return nlohmann::json::parse(t); };
  for (auto _ : state) {
    auto root = parse(text);
    benchmark::DoNotOptimize(root);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["file_bytes"] = static_cast<double>(text.size());
  ReportPeak(state, text, parse);
}
BENCHMARK(BM_nlohmann_Parse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
#endif

#ifdef RB_HAVE_RAPIDJSON
void BM_rapidjson_Parse(benchmark::State& state) {
  const std::string& text = Invoice(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    benchmark::DoNotOptimize(doc.HasParseError());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["file_bytes"] = static_cast<double>(text.size());
  // RapidJSON allocates with malloc: measure what the finished tree holds.
  const int64_t before = MallocInUse();
  {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    const double held = static_cast<double>(MallocInUse() - before);
    state.counters["peak_bytes"] = held;
    state.counters["peak_x_file"] = held / static_cast<double>(text.size());
  }
}
BENCHMARK(BM_rapidjson_Parse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();

// The real window against hosts that misbehave on the real socket: one that accepts and never
// answers, one that breaks its reply off mid-frame, one that announces more than any reply can
// be, and "ANYQUERY" replies that name no file, write garbage, a million records or definitions
// without the fields the view reads. Whatever the host does, the window must end in one of its
// two defined states (the table loaded, or "Datenübergabe fehlerhaft!" and closed), show the
// default cursor, leave no temporary file behind, and get there within a time computed from the
// read bounds it was given.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "app/LiveImportWindow.h"
#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "host/ExchangeHost.h"
#include "platform/CodePage.h"
#include "platform/Pipe.h"
#include "platform/SysError.h"
#include "recordset/UVirtualDataset.h"
#include "ui/TestApp.h"
#include "util/Files.h"
#include "util/Numbers.h"

namespace rb::app {
namespace {

namespace fs = std::filesystem;
using platform::PipeHandle;

// Room for the first paint, the host's own work and a busy 2-core machine.
constexpr qint64 kSlackMs = 2500;
// LoadFromFile's tries on a records file that never appears: 10 tries, 9 waits of 100 ms.
constexpr qint64 kMissingRecordsFileMs = 900;

// --- the host ----------------------------------------------------------------------------

// What the host does wrong on the requests of its faulty keys.
enum class THostFault {
  kNone,          // answers every request properly
  kSilent,        // reads the request and never answers; waits until the client gives up
  kCloseAfter,    // sends the first `keep` bytes of its proper reply frame, then closes
  kHugeIdLength,  // announces a message ID of 2^62 bytes, then streams bytes without end
  kHugeDataSize,  // announces 2^62 data bytes, then streams bytes without end
  kTrickle,       // announces 2^62 data bytes, then sends one byte every interval_ms
};

struct TFaultPlan {
  std::set<std::string> keys;  // the faulty keys; empty: every key
  THostFault fault = THostFault::kSilent;
  int64_t keep = 0;        // kCloseAfter: bytes sent; negative: all but that many
  int interval_ms = 0;     // kTrickle
  int trickle_for_ms = 0;  // kTrickle: the host gives up after this long
};

std::string Int64LE(int64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
  return out;
}

int64_t Int64Of(const std::string& bytes) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i)
    u |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return static_cast<int64_t>(u);
}

constexpr int64_t kHuge = int64_t{1} << 62;

// A host on the real socket: answers like ktx-exchange (TExchangeHandler, with a test's own
// "ANYQUERY"), except on its faulty keys. One connection at a time, as the program makes them.
class TFaultyHost {
 public:
  TFaultyHost(const std::string& document, TFaultPlan plan,
              TExchangeHandler::TKeyHandler any_query = {})
      : plan_(std::move(plan)) {
    static int counter = 0;
    const std::string n = std::to_string(++counter);
    name_ = "hostile-" + n;
    const std::string folder = TTestPipeFolder::Folder() + "/host" + n + "/";
    fs::create_directories(folder + "daten");
    std::ofstream(folder + "doc.json", std::ios::binary) << document;
    THostOptions options;
    options.pipe_name = name_;
    options.data_folder = folder + "daten/";
    options.document_file = folder + "doc.json";
    options.office_metrics = "100,200,800,600";
    handler_ = std::make_unique<TExchangeHandler>(ResolveHostOptions(options));
    if (any_query) handler_->SetKey("ANYQUERY", std::move(any_query));
    server_ = platform::PipeServer::Create(name_);
    EXPECT_TRUE(server_.IsOpen()) << platform::GetLastError();
    SaveListRetry({name_}, TempFolder() + kLocalServiceFileName);
    thread_ = std::thread([this] { Run(); });
  }
  TFaultyHost(const TFaultyHost&) = delete;
  TFaultyHost& operator=(const TFaultyHost&) = delete;
  ~TFaultyHost() {
    stop_ = true;
    thread_.join();
    server_.Close();
  }

  // How many connections asked for key.
  int Requests(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = requests_.find(key);
    return found == requests_.end() ? 0 : found->second;
  }
  // The most bytes one hostile stream got into the socket before the client left.
  int64_t MostBytesStreamed() const { return most_streamed_; }

 private:
  void Run() {
    while (!stop_) {
      const PipeHandle pipe = server_.Accept(50);
      if (pipe == platform::kInvalidPipe) continue;
      // Short waits, so that every blocking step looks at stop_ again.
      platform::SetPipeTimeout(pipe, 50);
      Serve(pipe);
      platform::CloseHandle(pipe);
    }
  }

  bool Receive(PipeHandle pipe, std::string& out, int64_t count) {
    out.clear();
    char buffer[65536];
    while (static_cast<int64_t>(out.size()) < count) {
      const int64_t left = count - static_cast<int64_t>(out.size());
      uint32_t got = 0;
      const uint32_t ask = static_cast<uint32_t>(std::min<int64_t>(left, sizeof buffer));
      if (platform::ReadFile(pipe, buffer, ask, &got)) {
        out.append(buffer, got);
      } else if (platform::GetLastError() != platform::kErrorSemTimeout || stop_) {
        return false;
      }
    }
    return true;
  }

  bool Send(PipeHandle pipe, std::string_view bytes) {
    while (!bytes.empty()) {
      uint32_t written = 0;
      const bool ok =
          platform::WriteFile(pipe, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
      bytes.remove_prefix(written);
      if (!ok && (platform::GetLastError() != platform::kErrorSemTimeout || stop_)) return false;
    }
    return true;
  }

  // Reads (the end marker, then nothing) until the client has closed its end.
  void WaitForClose(PipeHandle pipe) {
    std::string ignored;
    while (Receive(pipe, ignored, 1)) {
    }
  }

  void Stream(PipeHandle pipe, std::string_view head) {
    int64_t total = 0;
    if (Send(pipe, head)) {
      const std::string chunk(65536, 'x');
      while (Send(pipe, chunk))
        total += static_cast<int64_t>(chunk.size());
    }
    most_streamed_ = std::max<int64_t>(most_streamed_, total);
  }

  void Trickle(PipeHandle pipe) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(plan_.trickle_for_ms);
    if (!Send(pipe, Int64LE(0) + Int64LE(kHuge))) return;
    while (!stop_ && std::chrono::steady_clock::now() < until && Send(pipe, "x"))
      std::this_thread::sleep_for(std::chrono::milliseconds(plan_.interval_ms));
  }

  void Serve(PipeHandle pipe) {
    std::string field, id, data;
    if (!Receive(pipe, field, 8)) return;
    const int64_t id_length = Int64Of(field);
    if (id_length < 0 || id_length > 65536 || !Receive(pipe, id, id_length) ||
        !Receive(pipe, field, 8)) {
      return;
    }
    const int64_t data_size = Int64Of(field);
    if (data_size < 0 || data_size > (64 << 20) || !Receive(pipe, data, data_size)) return;

    TMessageRef request = NewMessageData();
    request->SetMessageId(id);
    request->Storage().Buffer().WriteBuffer(data.data(), data_size);
    request->Storage().Buffer().SetPosition(0);
    const std::string key = platform::WideToAnsi(request->Storage().GetText(u"COMMAND"));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_[key];
    }
    std::string log_line;
    const TMessageRef reply = handler_->AnswerRequest(request, log_line);
    const std::string body(reply->Storage().Buffer().View());
    const std::string frame = Int64LE(static_cast<int64_t>(reply->MessageId().size())) +
                              reply->MessageId() + Int64LE(static_cast<int64_t>(body.size())) +
                              body;

    if (plan_.fault == THostFault::kNone || (!plan_.keys.empty() && plan_.keys.count(key) == 0)) {
      if (Send(pipe, frame)) WaitForClose(pipe);
      return;
    }
    // Each fault here keeps the document's name from the client (a cut reply ends inside its
    // one entry), so the copy is the host's to remove; what the client learns of, it removes.
    if (key == "GETJSON") {
      const std::string copy = platform::WideToAnsi(reply->Storage().GetText(u"DATA"));
      if (!copy.empty()) fs::remove(copy);
    }
    switch (plan_.fault) {
      case THostFault::kNone:
      case THostFault::kSilent:
        WaitForClose(pipe);
        break;
      case THostFault::kCloseAfter: {
        const int64_t size = static_cast<int64_t>(frame.size());
        const int64_t keep = plan_.keep >= 0 ? std::min(plan_.keep, size) : size + plan_.keep;
        Send(pipe, std::string_view(frame).substr(0, static_cast<size_t>(keep)));
        break;
      }
      case THostFault::kHugeIdLength:
        Stream(pipe, Int64LE(kHuge));
        break;
      case THostFault::kHugeDataSize:
        Stream(pipe, Int64LE(0) + Int64LE(kHuge));
        break;
      case THostFault::kTrickle:
        Trickle(pipe);
        break;
    }
  }

  const TFaultPlan plan_;
  std::string name_;
  std::unique_ptr<TExchangeHandler> handler_;
  platform::PipeServer server_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> most_streamed_{0};
  mutable std::mutex mutex_;
  std::map<std::string, int> requests_;
  std::thread thread_;
};

// --- documents and query results ---------------------------------------------------------

// Prices 100, 200, 50, -300: running prices 100, 300, 350, order sum 350, deduction 300.
std::string Invoice(const std::string& info_lines = "") {
  return "{\"Order\":[{\"LINKUID\":\"\",\"PrintName\":\"AR 9\"" +
         (info_lines.empty() ? "" : ",\"InfoLines\":\"" + info_lines + "\"") +
         ",\"Parts\":["
         "{\"Row\":\"1\",\"Position\":\"01\",\"Description1\":\"Erdarbeiten\",\"Price\":100},"
         "{\"Row\":\"2\",\"Position\":\"02\",\"Description1\":\"Mauerwerk\",\"Price\":200},"
         "{\"Row\":\"3\",\"Position\":\"03\",\"Description1\":\"Dach\",\"Price\":50},"
         "{\"Row\":\"4\",\"Position\":\"04\",\"Description1\":\"Abzug\",\"Price\":-300}]}]}";
}
// The same invoice naming three earlier invoices (JSON-escaped CR LF).
const std::string kEarlier = "RE,17,,,,,,,,,0\\r\\nRE,39,,,,,,,,,0\\r\\nRE,42,,,,,,,,,0\\r\\n";

const char kDefinitions[] = "ID,3,0\r\nWW_NETTO,6,0\r\nPOT,3,0\r\nID_ORDER,1,20\r\nDATE,11,0\r\n";

struct TInvoiceRecord {
  int32_t id;
  double net;
  int32_t pot;
  std::string order;
  double date;
};

// 17 and 42 count (100 + 180 = 280), 39 does not.
const std::vector<TInvoiceRecord> kRecords = {
    {17, 100, 1, "AR-17", 45427},  // 15.05.2024
    {39, 999, 0, "AR-39", 45474},
    {42, 180, 1, "AR-42", 45485},  // 12.07.2024
};

// A records file as a host writes it for its own definitions: each record's values by name,
// where the definitions have that field.
std::string RecordFile(const std::string& definitions, const std::vector<TInvoiceRecord>& records) {
  TVirtualDataSet dataset;
  dataset.LoadFieldDefsFromText(definitions, true);
  const auto set = [&](const char* name, const std::function<void(TField&)>& assign) {
    if (TField* field = dataset.FindField(name)) assign(*field);
  };
  for (const TInvoiceRecord& r : records) {
    dataset.Append();
    set("ID", [&](TField& f) { f.SetAsInteger(r.id); });
    set("WW_NETTO", [&](TField& f) { f.SetAsFloat(r.net); });
    set("POT", [&](TField& f) { f.SetAsInteger(r.pot); });
    set("ID_ORDER", [&](TField& f) { f.SetAsString(r.order); });
    set("DATE", [&](TField& f) { f.SetAsDateTime(r.date); });
    dataset.Post();
  }
  TMemoryStream stream;
  TBinaryStreamFormat format;
  dataset.SaveToStream(stream, format);
  return std::string(stream.View());
}

// An "ANYQUERY" answer: writes file_bytes (unless none) into the file the request names and
// replies with the definitions (no "DATA" when none). The names it was given go to files.
TExchangeHandler::TKeyHandler AnyQuery(std::optional<std::string> definitions,
                                       std::optional<std::string> file_bytes,
                                       std::vector<std::string>* files) {
  return [=](const std::string& data) {
    const std::string file = data.substr(data.rfind('\b') + 1);
    files->push_back(file);
    if (file_bytes) std::ofstream(file, std::ios::binary) << *file_bytes;
    return definitions;
  };
}

// --- the window ----------------------------------------------------------------------------

// Files below TempFolder() that the window does not keep on purpose.
std::set<std::string> TemporaryFiles() {
  const std::set<std::string> kept = {kLocalServiceFileName, "UserMode.INI", "dgdview.COL"};
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(TempFolder())) {
    if (!entry.is_directory() && kept.count(entry.path().filename().string()) == 0)
      files.insert(entry.path().string());
  }
  return files;
}

live::TLiveSettings Bounds(uint32_t request_ms, uint32_t query_ms) {
  live::TLiveSettings settings;
  settings.requests.read_timeout_ms = request_ms;
  settings.query.read_timeout_ms = query_ms;
  return settings;
}

// What one request costs at most when every try goes unanswered for the whole read bound.
qint64 UnansweredRequestMs(const TIPCSettings& settings) {
  return kIPCTries * (static_cast<qint64>(settings.read_timeout_ms) + kIPCRetryPauseMs);
}

// The worst a load can cost against a host that accepts every connection: it answers only
// "GETJSON" (with a document naming earlier invoices), so that every other request waits out
// every try ("OFFICEMETRICS", "TAXH", "DBPATH", then "DBPATH" and "ANYQUERY" for the earlier
// invoices), and the records file it never wrote is looked for through all its tries.
qint64 WorstLoadMs(const live::TLiveSettings& settings) {
  return 4 * UnansweredRequestMs(settings.requests) + UnansweredRequestMs(settings.query) +
         kMissingRecordsFileMs;
}

// One load of a fresh window, from show() until the load has run, and what it showed.
struct TLoad {
  qint64 ms = 0;
  std::vector<std::string> infos, errors;
  bool closed = false;
  bool default_cursor = false;
  std::set<std::string> left_over;
  int rows = 0;
  std::string summe, abzug;
  std::vector<std::string> abzug_items;
  double previous_sum = 0;
};

// what names the case in the line the load prints (the figures for the README).
TLoad RunLoad(const std::string& what, const live::TLiveSettings& settings) {
  ui::TestApp();
  const std::set<std::string> before = TemporaryFiles();
  TLoad load;
  {
    TLiveImportWindow window(settings);
    window.SetMessageSink([&](const char* kind, const std::string& text) {
      (std::string(kind) == "info" ? load.infos : load.errors).push_back(text);
    });
    QElapsedTimer timer;
    timer.start();
    window.show();
    EXPECT_TRUE(ui::WaitFor([&] { return window.Loads() == 1; }, 600000));
    load.ms = timer.elapsed();
    load.default_cursor = QApplication::overrideCursor() == nullptr;
    load.rows = window.RowCount();
    load.summe = window.EditText(live::TEditId::EditSumme);
    load.abzug = window.EditText(live::TEditId::EditAbzug);
    load.abzug_items = window.AbzugItems();
    load.previous_sum = window.View().PreviousInvoicesSum();
    // A posted close arrives at once; a window that stays has nothing posted.
    load.closed = ui::WaitFor([&] { return !window.isVisible(); }, load.infos.empty() ? 200 : 5000);
  }
  for (const std::string& file : TemporaryFiles())
    if (before.count(file) == 0) load.left_over.insert(file);
  std::printf("[ hostile ] %s: %s in %lld ms\n", what.c_str(), load.closed ? "closed" : "loaded",
              static_cast<long long>(load.ms));
  return load;
}

// The two defined ends of a load.
void ExpectRefused(const TLoad& load) {
  EXPECT_EQ(load.infos, std::vector<std::string>{live::kTransferFailed});
  EXPECT_TRUE(load.errors.empty()) << load.errors.front();
  EXPECT_TRUE(load.closed);
  EXPECT_TRUE(load.default_cursor);
  EXPECT_TRUE(load.left_over.empty()) << *load.left_over.begin();
}

void ExpectLoaded(const TLoad& load, const std::string& summe = "350,00 / 416,50") {
  EXPECT_TRUE(load.infos.empty()) << load.infos.front();
  EXPECT_TRUE(load.errors.empty()) << load.errors.front();
  EXPECT_FALSE(load.closed);
  EXPECT_TRUE(load.default_cursor);
  EXPECT_TRUE(load.left_over.empty()) << *load.left_over.begin();
  EXPECT_EQ(load.rows, 5);
  EXPECT_EQ(load.summe, summe);
}

// --- hosts that do not answer ----------------------------------------------------------------

TEST(HostileHost, ASilentHostEndsTheLoadWithinItsReadBound) {
  // Each try must wait out its bound (nothing else ends it) and no longer: the whole load
  // scales with the bound.
  for (const uint32_t bound : {100u, 200u}) {
    SCOPED_TRACE(bound);
    TFaultyHost host(Invoice(), {{}, THostFault::kSilent});
    const live::TLiveSettings settings = Bounds(bound, 3 * bound);
    const TLoad load = RunLoad("silent, bound " + std::to_string(bound) + " ms", settings);
    ExpectRefused(load);
    for (const char* key : {"OFFICEMETRICS", "TAXH", "GETJSON", "DBPATH"}) {
      EXPECT_EQ(host.Requests(key), kIPCTries) << key;
    }
    EXPECT_GE(load.ms, qint64{4} * kIPCTries * bound * 9 / 10);
    EXPECT_LE(load.ms, 4 * UnansweredRequestMs(settings.requests) + kSlackMs);
  }
}

TEST(HostileHost, SilentOnEverythingButTheDocumentIsTheWorstCase) {
  TFaultyHost host(Invoice(kEarlier), {{"OFFICEMETRICS", "TAXH", "DBPATH", "ANYQUERY"}});
  const live::TLiveSettings settings = Bounds(100, 300);
  const TLoad load = RunLoad("silent but on GETJSON, bounds 100/300 ms", settings);
  // No tax rate and no earlier invoices, but the table.
  ExpectLoaded(load, "350,00 / 350,00");
  EXPECT_EQ(load.abzug, "300,00");
  EXPECT_EQ(host.Requests("DBPATH"), 2 * kIPCTries);
  EXPECT_EQ(host.Requests("ANYQUERY"), kIPCTries);
  EXPECT_GE(load.ms, qint64{4 * 100 + 300} * kIPCTries * 9 / 10);
  EXPECT_LE(load.ms, WorstLoadMs(settings) + kSlackMs);
}

// --- replies broken off --------------------------------------------------------------------

TEST(HostileHost, RepliesBrokenOffMidFrame) {
  // A "GETJSON" reply is 16 bytes of header and one "DATA" entry: name length 4, "DATA" in 8,
  // value size 8, then the path.
  struct {
    const char* name;
    std::set<std::string> keys;
    int64_t keep;
    bool loads;
    const char* summe;
  } cases[] = {
      {"inside the ID length", {}, 3, false, nullptr},
      {"after the ID length", {}, 8, false, nullptr},
      {"inside the data size", {}, 12, false, nullptr},
      {"inside the entry header", {}, 16 + 10, false, nullptr},
      {"inside the document's name", {"GETJSON"}, 16 + 20 + 6, false, nullptr},
      {"one byte short", {"GETJSON"}, -1, false, nullptr},
      {"the tax rate one byte short", {"TAXH"}, -1, true, "350,00 / 350,00"},
      {"the window metrics cut", {"OFFICEMETRICS"}, 20, true, "350,00 / 416,50"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFaultyHost host(Invoice(), {c.keys, THostFault::kCloseAfter, c.keep});
    const TLoad load = RunLoad(std::string("broken off ") + c.name, Bounds(5000, 5000));
    if (c.loads) {
      ExpectLoaded(load, c.summe);
    } else {
      ExpectRefused(load);
    }
    // A broken pipe is no wait: only the pauses between the tries.
    EXPECT_LE(load.ms, qint64{4} * kIPCTries * kIPCRetryPauseMs + kSlackMs);
  }
}

// --- replies larger than memory ------------------------------------------------------------

// Without a cap on what a reply may announce the client appended every streamed byte to the
// reply (data) or to the message ID until std::bad_alloc, and the window showed an error box.
TEST(HostileHost, AReplyAnnouncing2To62BytesIsRefused) {
  for (const THostFault fault : {THostFault::kHugeDataSize, THostFault::kHugeIdLength}) {
    SCOPED_TRACE(fault == THostFault::kHugeDataSize ? "data size" : "ID length");
    TFaultyHost host(Invoice(), {{"GETJSON"}, fault});
    const live::TLiveSettings settings = Bounds(200, 600);
    const TLoad load = RunLoad("2^62 announced", settings);
    ExpectRefused(load);
    EXPECT_EQ(host.Requests("GETJSON"), kIPCTries);
    EXPECT_LE(load.ms, UnansweredRequestMs(settings.requests) + kSlackMs);
    std::printf("[ hostile ] streamed at most %lld bytes into one reply\n",
                static_cast<long long>(host.MostBytesStreamed()));
  }
}

// The read bound covers a whole try, not each read: a host that sends one byte just inside the
// bound must not keep a try going (here it would give up only after 4 s per try).
TEST(HostileHost, AReplyTrickledByteByByteIsStillBounded) {
  TFaultyHost host(Invoice(), {{"GETJSON"}, THostFault::kTrickle, 0, 150, 4000});
  const live::TLiveSettings settings = Bounds(200, 600);
  const TLoad load = RunLoad("trickled", settings);
  ExpectRefused(load);
  EXPECT_LE(load.ms, UnansweredRequestMs(settings.requests) + kSlackMs);
}

// --- "ANYQUERY" ----------------------------------------------------------------------------

TEST(HostileHost, EarlierInvoicesFromAFaultyQueryAreLeftOut) {
  const std::string healthy = RecordFile(kDefinitions, kRecords);
  std::string garbage(4096, '\0');
  uint32_t seed = 12345;
  for (char& c : garbage) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 24);
  }
  const auto without = [](const std::string& line) {
    std::string text = kDefinitions;
    return text.erase(text.find(line), line.size());
  };
  const std::string out_of_range_date =
      RecordFile(kDefinitions, {{17, 100, 1, "AR-17", 1e7}, {42, 180, 1, "AR-42", 45485}});

  struct {
    const char* name;
    std::optional<std::string> definitions;  // none: a reply without "DATA"
    std::optional<std::string> file;         // none: no file written
    double sum;
    std::vector<std::string> items;
  } cases[] = {
      {"a sound result",
       kDefinitions,
       healthy,
       280,
       {"280,00 aus vorhergehenden RE", "AR-17 15.05.2024", "AR-42 12.07.2024"}},
      {"no file written", kDefinitions, std::nullopt, 0, {}},
      {"a file of garbage", kDefinitions, garbage, 0, {}},
      {"a file cut in the middle", kDefinitions, healthy.substr(0, healthy.size() / 2), 0, {}},
      {"an empty file", kDefinitions, "", 0, {}},
      {"no definitions, a file all the same", std::nullopt, healthy, 0, {}},
      {"definitions of garbage", std::string(garbage, 0, 200) + "\r\n", healthy, 0, {}},
      {"no POT", without("POT,3,0\r\n"), RecordFile(without("POT,3,0\r\n"), kRecords), 0, {}},
      {"no WW_NETTO",
       without("WW_NETTO,6,0\r\n"),
       RecordFile(without("WW_NETTO,6,0\r\n"), kRecords),
       0,
       {}},
      // The first counting record's amount is in the sum before its listing fails.
      {"no DATE",
       without("DATE,11,0\r\n"),
       RecordFile(without("DATE,11,0\r\n"), kRecords),
       100,
       {"100,00 aus vorhergehenden RE"}},
      {"the last line without CR LF", without("\r\n"), healthy, 0, {}},
      {"a field type without a field", "ID,3,0\r\nWW_NETTO,6,0\r\nPOT,24,0\r\n", healthy, 0, {}},
      {"an absurd text size", "ID,3,0\r\nID_ORDER,1,2000000000\r\n", healthy, 0, {}},
      {"a date out of range",
       kDefinitions,
       out_of_range_date,
       100,
       {"100,00 aus vorhergehenden RE"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> files;
    TFaultyHost host(Invoice(kEarlier), {{}, THostFault::kNone},
                     AnyQuery(c.definitions, c.file, &files));
    const TLoad load = RunLoad(std::string("ANYQUERY ") + c.name, Bounds(5000, 5000));
    ExpectLoaded(load);
    EXPECT_EQ(load.previous_sum, c.sum);
    EXPECT_EQ(load.abzug, c.items.empty() ? "300,00" : c.items.front());
    EXPECT_EQ(load.abzug_items, c.items);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_FALSE(fs::exists(files[0]));
    EXPECT_LE(load.ms, kMissingRecordsFileMs + kSlackMs);
  }
}

TEST(HostileHost, AMillionEarlierInvoicesStillLoad) {
  // Every third record counts; the amounts are quarters, so the sum is exact in any order.
  constexpr int kCount = 1000000;
  std::vector<TInvoiceRecord> records;
  records.reserve(kCount);
  double sum = 0;
  int counting = 0;
  char order[16];
  for (int i = 0; i < kCount; ++i) {
    std::snprintf(order, sizeof order, "AU-%07d", i);
    records.push_back({i + 1, (i % 1000) * 0.25, i % 3 == 0 ? 1 : 2, order, 45000.0 + i % 700});
    if (i % 3 == 0) {
      sum += (i % 1000) * 0.25;
      ++counting;
    }
  }
  const std::string file = RecordFile(kDefinitions, records);
  records.clear();
  records.shrink_to_fit();

  std::vector<std::string> files;
  TFaultyHost host(Invoice(kEarlier), {{}, THostFault::kNone},
                   AnyQuery(kDefinitions, file, &files));
  const TLoad load = RunLoad("ANYQUERY a million records", live::TLiveSettings());
  ExpectLoaded(load);
  EXPECT_EQ(load.previous_sum, sum);
  ASSERT_EQ(load.abzug_items.size(), static_cast<size_t>(counting) + 1);
  EXPECT_EQ(load.abzug_items.front(), FormatAmount(sum) + " aus vorhergehenden RE");
  EXPECT_EQ(load.abzug_items[1], "AU-0000000 15.03.2023");
  EXPECT_EQ(load.abzug, load.abzug_items.front());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_FALSE(fs::exists(files[0]));
  std::printf("[ hostile ] %d records (%zu bytes) loaded in %lld ms\n", kCount, file.size(),
              static_cast<long long>(load.ms));
  EXPECT_LE(load.ms, 30000);
}

}  // namespace
}  // namespace rb::app

#include "host/ExchangeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "exchange/FakePipeApi.h"
#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "platform/CodePage.h"
#include "platform/Pipe.h"
#include "platform/TestFolder.h"
#include "util/Files.h"

namespace rb {
namespace {

// An absolute folder of this system, "/srv/" or "C:\\srv\\".
const std::string kSrv = platform::kOnWindows ? "C:\\srv\\" : "/srv/";

std::string AnsiToUtf16LE(const std::string& text) {
  std::string out;
  for (char16_t u : platform::AnsiToWide(text)) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

TEST(HostOptions, ParsesBothFormsAndRejectsTheRest) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool ok;
    std::string pipe, tax, error;
    std::string database = {};
    bool sample = false;
  } cases[] = {
      {"defaults", {}, true, "KontorixExchange", "19", ""},
      {"separate values", {"--pipe-name", "P1", "--tax-rate", "7"}, true, "P1", "7", ""},
      {"joined values", {"--pipe-name=P2", "--tax-rate=16,5"}, true, "P2", "16,5", ""},
      {"empty joined value", {"--tax-rate="}, true, "KontorixExchange", "", ""},
      {"unknown option", {"--port", "1"}, false, "", "", "unknown option: --port"},
      {"missing value", {"--document"}, false, "", "", "missing value for --document"},
      {"database and sample",
       {"--database", "k.sqlite", "--sample"},
       true,
       "KontorixExchange",
       "19",
       "",
       "k.sqlite",
       true},
      {"sample takes no value", {"--sample=1"}, false, "", "", "unknown option: --sample=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    THostOptions o;
    bool help = true;
    std::string error;
    EXPECT_EQ(ParseHostOptions(c.args, o, help, error), c.ok);
    EXPECT_FALSE(help);
    if (c.ok) {
      EXPECT_EQ(o.pipe_name, c.pipe);
      EXPECT_EQ(o.tax_rate, c.tax);
      EXPECT_EQ(o.database, c.database);
      EXPECT_EQ(o.sample, c.sample);
    } else {
      EXPECT_EQ(error, c.error);
    }
  }
  THostOptions o;
  bool help = false;
  std::string error;
  EXPECT_TRUE(ParseHostOptions({"-h"}, o, help, error));
  EXPECT_TRUE(help);
}

TEST(HostOptions, DefaultsPointAtTheSampleAndAFolderWithDelimiter) {
  THostOptions o = ResolveHostOptions({});
  EXPECT_EQ(o.data_folder, TempFolder("KontorixDaten"));
  EXPECT_EQ(o.data_folder.back(), platform::kPathDelim);
  EXPECT_TRUE(FileExists(o.document_file)) << o.document_file;
  EXPECT_EQ(o.database, o.data_folder + "Kontorix.sqlite");
  THostOptions given;
  given.data_folder = kSrv + "daten";
  EXPECT_EQ(ResolveHostOptions(given).data_folder, kSrv + "daten" + platform::kPathDelim);
  EXPECT_EQ(ResolveHostOptions(given).database,
            kSrv + "daten" + platform::kPathDelim + "Kontorix.sqlite");
  given.database = "db/../k.sqlite";
  EXPECT_EQ(ResolveHostOptions(given).database,
            std::filesystem::current_path().string() + platform::kPathDelim + "k.sqlite");
  // The program runs in another folder: a relative DBPATH would name another place there.
  given.data_folder = "rel/../daten";
  EXPECT_EQ(ResolveHostOptions(given).data_folder, std::filesystem::current_path().string() +
                                                       platform::kPathDelim + "daten" +
                                                       platform::kPathDelim);
}

class Handler : public ::testing::Test {
 protected:
  void SetUp() override {
    document_ = TempFolder() + "doc-under-test.json";
    std::ofstream(document_, std::ios::binary) << "{\"Order\":[]}";
  }
  void TearDown() override { std::remove(document_.c_str()); }
  THostOptions Options() {
    THostOptions o;
    o.data_folder = kSrv + "kontorix";
    o.document_file = document_;
    o.tax_rate = "19";
    o.office_metrics = "10,20,800,600";
    return o;
  }
  std::string document_;
};

TEST_F(Handler, AnswersTheFourKeys) {
  TExchangeHandler h(Options());
  EXPECT_EQ(h.Answer("TAXH", ""), "19");
  EXPECT_EQ(h.Answer("OFFICEMETRICS", ""), "10,20,800,600");
  EXPECT_EQ(h.Answer("DBPATH", ""), kSrv + "kontorix" + platform::kPathDelim);
  EXPECT_EQ(h.Answer("taxh", ""), std::nullopt);
  EXPECT_EQ(h.Answer("ANYQUERY", "x"), std::nullopt);
}

TEST_F(Handler, EachGetJsonIsAFreshCopy) {
  TExchangeHandler h(Options());
  const std::string first = h.Answer("GETJSON", "").value();
  const std::string second = h.Answer("GETJSON", "").value();
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    EXPECT_EQ(path.rfind(TempFolder(), 0), 0u) << path;
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{\"Order\":[]}");
    std::remove(path.c_str());
  }
}

TEST_F(Handler, RequestMessagesGetRepliesWithOrWithoutData) {
  TExchangeHandler h(Options());
  h.SetKey("ECHO", [](const std::string& data) { return "<" + data + ">"; });
  std::string line;

  TMessageRef reply = h.AnswerRequest(NewRequestMessage("ECHO", "M\xFCller"), line);
  EXPECT_EQ(reply->Storage().GetText(u"DATA"), u"<M\u00FCller>");
  EXPECT_EQ(line, "ECHO [M\xC3\xBCller] -> <M\xC3\xBCller>");  // the log is UTF-8

  TMessageRef request = NewRequestMessage("NOPE", "");
  request->SetMessageId("r7");
  reply = h.AnswerRequest(request, line);
  EXPECT_EQ(reply->Storage().Buffer().Size(), 0);
  EXPECT_EQ(reply->MessageId(), "r7");
  EXPECT_EQ(line, "NOPE -> unknown key, no DATA");

  THostOptions gone = Options();
  gone.document_file = TempFolder() + "no-such-document.json";
  reply = TExchangeHandler(gone).AnswerRequest(NewRequestMessage("GETJSON", ""), line);
  EXPECT_EQ(reply->Storage().Buffer().Size(), 0);
  EXPECT_NE(line.find("GETJSON -> failed: "), std::string::npos) << line;
}

// One connection served on a thread; the test writes raw frames on the client end.
struct Served {
  explicit Served(const TExchangeHandler& handler)
      : server(platform::PipeServer::Create("served-" + std::to_string(++counter))),
        thread([this, &handler] {
          platform::PipeHandle h = server.Accept(5000);
          requests =
              ServeConnection(h, handler, [this](const std::string& l) { log.push_back(l); });
          platform::CloseHandle(h);
        }) {
    client = platform::CreateFileA("\\\\.\\pipe\\served-" + std::to_string(counter.load()),
                                   0xC0000000, 0, 3);
  }
  ~Served() { platform::CloseHandle(client); }
  void Send(const std::string& bytes) {
    uint32_t n = 0;
    platform::WriteFile(client, bytes.data(), static_cast<uint32_t>(bytes.size()), &n);
  }
  std::string ReceiveAll() {
    std::string all;
    char buf[4096];
    uint32_t got = 0;
    while (platform::ReadFile(client, buf, sizeof(buf), &got))
      all.append(buf, got);
    return all;
  }
  static inline std::atomic<int> counter{0};
  platform::PipeServer server;
  int requests = -1;
  std::vector<std::string> log;
  std::thread thread;
  platform::PipeHandle client;
};

std::string RequestFrame(const std::string& key) {
  TMessageRef request = NewRequestMessage(key, "");
  return ReplyFrame(std::string(request->Storage().Buffer().View()));
}

TEST_F(Handler, OneConnectionCarriesRequestsUntilTheEndMarker) {
  TExchangeHandler h(Options());
  Served s(h);
  s.Send(RequestFrame("TAXH") + RequestFrame("DBPATH") + Int64LE(-1));
  const std::string replies = s.ReceiveAll();
  s.thread.join();
  EXPECT_EQ(s.requests, 2);
  EXPECT_EQ(replies, ReplyFrame(RawEntry(u"DATA", Utf16LE(u"19"))) +
                         ReplyFrame(RawEntry(
                             u"DATA", AnsiToUtf16LE(kSrv + "kontorix" + platform::kPathDelim))));
  // The log escapes a backslash as two.
  std::string logged = kSrv + "kontorix" + platform::kPathDelim;
  for (size_t at = logged.find('\\'); at != std::string::npos; at = logged.find('\\', at + 2))
    logged.insert(at, 1, '\\');
  EXPECT_EQ(s.log, (std::vector<std::string>{"TAXH -> 19", "DBPATH -> " + logged}));
}

TEST_F(Handler, BadFramesDropTheConnectionWithoutAReply) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"ID length beyond 64 KiB", Int64LE(int64_t{1} << 40)},
      {"negative ID length other than the marker", Int64LE(-2)},
      {"negative data size", Int64LE(0) + Int64LE(-3)},
      {"data size beyond 64 MiB", Int64LE(0) + Int64LE(int64_t{1} << 40)},
      {"peer closes mid-frame", Int64LE(0) + Int64LE(100) + "abc"},
  };
  TExchangeHandler h(Options());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Served s(h);
    s.Send(c.bytes);
    platform::DisconnectPipe(s.client);  // the service sees the end of the stream
    s.thread.join();
    EXPECT_EQ(s.requests, 0);
  }
}

// An exception escaping a connection's thread would end the whole service.
TEST(ExchangeHost, FailingConnectionLeavesTheServiceRunning) {
  THostOptions options;
  options.pipe_name = "failing-connection";
  options.data_folder = TempFolder("failing-connection-data");
  std::mutex log_mutex;
  std::vector<std::string> log;
  TExchangeHost host(options, [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(log_mutex);
    log.push_back(line);
  });
  host.Handler().SetKey("THROWS", [](const std::string&) -> std::optional<std::string> {
    throw 42;  // not a std::exception: AnswerRequest lets it pass
  });
  std::string error;
  ASSERT_TRUE(host.Start(error)) << error;
  std::atomic<bool> stop{false};
  std::thread runner([&] { host.Run([&] { return stop.load(); }); });

  TIPCSettings quick;
  quick.read_timeout_ms = 2000;
  bool answered = true;
  QueryIPCValueOnce("THROWS", options.pipe_name, answered, "", quick);
  EXPECT_FALSE(answered);
  EXPECT_EQ(QueryIPCValueOnce("TAXH", options.pipe_name, answered, "", quick), "19");
  EXPECT_TRUE(answered);

  stop = true;
  runner.join();
  host.Shutdown();
  std::lock_guard<std::mutex> lock(log_mutex);
  EXPECT_NE(std::find(log.begin(), log.end(), "connection dropped: unknown exception"), log.end());
}

TEST(ExchangeHost, ServiceFileThatCannotBeWrittenStopsTheStart) {
  // A folder in the file's place makes every write fail.
  const std::string service_file = TempFolder() + kLocalServiceFileName;
  ASSERT_TRUE(ForceDirectories(service_file));
  THostOptions options;
  options.pipe_name = "unannounced";
  options.data_folder = TempFolder("unannounced-data");
  std::vector<std::string> log;
  TExchangeHost host(options, [&](const std::string& line) { log.push_back(line); });
  RetryPolicy once;
  once.attempts = 1;
  once.sleep = [](uint32_t) {};
  std::string error;
  EXPECT_FALSE(host.Start(error, once));
  EXPECT_EQ(error.rfind("cannot announce the pipe: ", 0), 0u) << error;
  // No pipe is left that nobody could find.
  EXPECT_EQ(platform::CreateFileA("\\\\.\\pipe\\unannounced", 0xC0000000, 0, 3),
            platform::kInvalidPipe);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
  std::filesystem::remove(service_file);
}

// A key is written to the log whole and raw no more: a 300,000-character key made one line of
// that length, a line break in it forged a log line of its own.
TEST(HostLog, TextsFromOutsideAreCutEscapedAndUtf8) {
  struct Case {
    const char* name;
    std::string text;
    std::string logged;
  } cases[] = {
      {"plain", "TAXH", "TAXH"},
      {"line break", "TAXH\r\nGETJSON -> /etc/passwd", "TAXH\\x0D\\x0AGETJSON -> /etc/passwd"},
      {"backslash stays readable", "C:\\Daten", "C:\\\\Daten"},
      {"tab and delete", std::string("a\tb\x7F", 4), "a\\x09b\\x7F"},
      {"umlaut as UTF-8", "M\xFCller", "M\xC3\xBCller"},
      {"euro sign as UTF-8", "\x80", "\xE2\x82\xAC"},
      {"300,000 characters", std::string(300000, 'k'),
       std::string(120, 'k') + "... (300000 bytes)"},
      {"cut before escaping", std::string(119, 'k') + "\n\n",
       std::string(119, 'k') + "\\x0A... (121 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LogText(c.text), c.logged);
  }
}

TEST_F(Handler, LogLineOfAForgedKeyIsOneLine) {
  TExchangeHandler h(Options());
  std::string line;
  h.AnswerRequest(NewRequestMessage(std::string(300000, 'K') + "\nstopped", "x\ny"), line);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_LT(line.size(), 400u);
}

// An in-process service on its own pipe name, run on a thread until the test ends.
class RunningHost {
 public:
  RunningHost(const std::string& name, THostLimits limits = {}, std::string document = {})
      : host_(
            MakeOptions(name, std::move(document)), [this](const std::string& l) { Log(l); },
            limits) {
    std::string error;
    started_ = host_.Start(error);
    EXPECT_TRUE(started_) << error;
    if (started_) runner_ = std::thread([this] { host_.Run([this] { return stop_.load(); }); });
  }
  ~RunningHost() { Stop(); }
  void Stop() {
    stop_ = true;
    if (runner_.joinable()) runner_.join();
    host_.Shutdown();
  }
  std::vector<std::string> LogLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  const std::string& Name() const { return host_.Options().pipe_name; }

 private:
  static THostOptions MakeOptions(const std::string& name, std::string document) {
    THostOptions o;
    o.pipe_name = name;
    o.data_folder = TempFolder(name + "-data");
    o.document_file = std::move(document);
    return o;
  }
  void Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(line);
  }
  std::mutex mutex_;
  std::vector<std::string> log_;
  TExchangeHost host_;
  bool started_ = false;
  std::atomic<bool> stop_{false};
  std::thread runner_;
};

platform::PipeHandle Connect(const std::string& name) {
  return platform::CreateFileA("\\\\.\\pipe\\" + name, 0xC0000000, 0, 3);
}

TIPCSettings QuickSettings(uint32_t read_timeout_ms) {
  TIPCSettings quick;
  quick.read_timeout_ms = read_timeout_ms;
  quick.open_timeout_ms = 500;
  return quick;
}

// About a thousand connections that sent nothing once held a thread each for ever, until the
// open-file limit stopped the service answering anyone.
TEST(ExchangeHost, IdleConnectionIsClosedAfterTheBound) {
  THostLimits limits;
  limits.idle_timeout_ms = 200;
  RunningHost host("idle-connection", limits);
  platform::PipeHandle idle = Connect(host.Name());
  ASSERT_NE(idle, platform::kInvalidPipe);
  platform::SetPipeTimeout(idle, 20000);  // the test's own bound, far above the host's
  char byte;
  uint32_t got = 0;
  EXPECT_FALSE(platform::ReadFile(idle, &byte, 1, &got));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorBrokenPipe) << "closed by the host";
  platform::CloseHandle(idle);
}

TEST(ExchangeHost, ConnectionsBeyondTheLimitWaitForAFreeThread) {
  THostLimits limits;
  limits.idle_timeout_ms = 0;
  limits.max_connections = 2;
  RunningHost host("thread-limit", limits);
  platform::PipeHandle silent[2];
  for (auto& h : silent) {
    h = Connect(host.Name());
    ASSERT_NE(h, platform::kInvalidPipe);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // both are being served
  bool answered = true;
  QueryIPCValueOnce("TAXH", host.Name(), answered, "", QuickSettings(300));
  EXPECT_FALSE(answered) << "a third connection got a thread";
  platform::CloseHandle(silent[0]);
  EXPECT_EQ(QueryIPCValueOnce("TAXH", host.Name(), answered, "", QuickSettings(10000)), "19");
  EXPECT_TRUE(answered);
  platform::CloseHandle(silent[1]);
}

// Nine 64 MiB requests at once once took 1.5 GB: what unfinished requests hold is bounded.
TEST(ExchangeHost, UnfinishedRequestsHoldNoMoreThanTheBudget) {
  THostLimits limits;
  limits.max_pending_bytes = 1 << 20;
  RunningHost host("request-budget", limits);
  platform::PipeHandle big = Connect(host.Name());
  ASSERT_NE(big, platform::kInvalidPipe);
  const std::string announce = Int64LE(0) + Int64LE(900 << 10);  // and then nothing
  uint32_t n = 0;
  ASSERT_TRUE(platform::WriteFile(big, announce.data(), 16, &n));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  platform::PipeHandle second = Connect(host.Name());
  ASSERT_NE(second, platform::kInvalidPipe);
  const std::string over = Int64LE(0) + Int64LE(200 << 10);
  ASSERT_TRUE(platform::WriteFile(second, over.data(), 16, &n));
  platform::SetPipeTimeout(second, 20000);
  char byte;
  EXPECT_FALSE(platform::ReadFile(second, &byte, 1, &n));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorBrokenPipe) << "refused at once";

  bool answered = false;
  EXPECT_EQ(QueryIPCValueOnce("TAXH", host.Name(), answered, "", QuickSettings(10000)), "19");
  platform::CloseHandle(big);
  platform::CloseHandle(second);
  host.Stop();
  const auto log = host.LogLines();
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& l) {
                           return l.rfind("request of 204800 bytes refused", 0) == 0;
                         }),
            log.end());
}

TEST(ExchangeHost, PipeNameWithAControlCharacterIsRefused) {
  const std::string service_file = TempFolder() + kLocalServiceFileName;
  std::remove(service_file.c_str());
  for (const std::string& name : {std::string("evil\r\nKontorixExchange"), std::string("a\nb"),
                                  std::string("tab\there"), std::string()}) {
    SCOPED_TRACE(name);
    THostOptions o;
    o.pipe_name = name;
    o.data_folder = TempFolder("control-name-data");
    TExchangeHost host(o, [](const std::string&) {});
    std::string error;
    EXPECT_FALSE(host.Start(error));
    EXPECT_NE(error.find("control character"), std::string::npos) << error;
    EXPECT_FALSE(FileExists(service_file));
  }
  EXPECT_TRUE(IsValidPipeName("KontorixExchange"));
  EXPECT_TRUE(IsValidPipeName("Kontorix \xE4 1"));
}

TEST(ExchangeHost, DocumentCopiesNobodyDeletedGoAtShutdown) {
  const std::string document = TempFolder() + "copies-doc.json";
  std::ofstream(document, std::ios::binary) << "{}";
  std::string kept, taken;
  {
    RunningHost host("document-copies", {}, document);
    bool answered = false;
    kept = QueryIPCValueOnce("GETJSON", host.Name(), answered, "", QuickSettings(10000));
    taken = QueryIPCValueOnce("GETJSON", host.Name(), answered, "", QuickSettings(10000));
    ASSERT_TRUE(FileExists(kept));
    ASSERT_TRUE(FileExists(taken));
    std::remove(taken.c_str());  // the requester's own deletion
    host.Stop();
    EXPECT_FALSE(FileExists(kept));
    const auto log = host.LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "deleted 1 document copies nobody took"),
              log.end());
  }
  EXPECT_TRUE(FileExists(document)) << "only copies are deleted";
  std::remove(document.c_str());
}

// A second service with another name took the file over; stopping it must not leave the first,
// still running, unannounced, and the first must not remove the second's announcement.
TEST(ExchangeHost, ServiceFileNamesARunningServiceAfterEitherStops) {
  const std::string service_file = TempFolder() + kLocalServiceFileName;
  std::remove(service_file.c_str());
  struct Case {
    const char* name;
    bool first_stops_first;
    std::string named_after_one, named_after_both;
  } cases[] = {
      {"second stops first", false, "svc-first", ""},
      {"first stops first", true, "svc-second", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto first = std::make_unique<RunningHost>("svc-first");
    auto second = std::make_unique<RunningHost>("svc-second");
    EXPECT_EQ(ReadLocalServiceName(), "svc-second");
    (c.first_stops_first ? first : second).reset();
    EXPECT_EQ(ReadLocalServiceName(), c.named_after_one);
    (c.first_stops_first ? second : first).reset();
    EXPECT_EQ(ReadLocalServiceName(), c.named_after_both);
    EXPECT_FALSE(FileExists(service_file));
  }
}

}  // namespace
}  // namespace rb

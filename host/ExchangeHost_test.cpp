#include "host/ExchangeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "exchange/FakePipeApi.h"
#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "platform/Pipe.h"
#include "util/Files.h"

namespace rb {
namespace {

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
  EXPECT_EQ(o.data_folder.back(), '/');
  EXPECT_TRUE(FileExists(o.document_file)) << o.document_file;
  EXPECT_EQ(o.database, o.data_folder + "Kontorix.sqlite");
  THostOptions given;
  given.data_folder = "/srv/daten";
  EXPECT_EQ(ResolveHostOptions(given).data_folder, "/srv/daten/");
  EXPECT_EQ(ResolveHostOptions(given).database, "/srv/daten/Kontorix.sqlite");
  given.database = "db/../k.sqlite";
  EXPECT_EQ(ResolveHostOptions(given).database,
            std::filesystem::current_path().string() + "/k.sqlite");
  // The program runs in another folder: a relative DBPATH would name another place there.
  given.data_folder = "rel/../daten";
  EXPECT_EQ(ResolveHostOptions(given).data_folder,
            std::filesystem::current_path().string() + "/daten/");
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
    o.data_folder = "/srv/kontorix";
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
  EXPECT_EQ(h.Answer("DBPATH", ""), "/srv/kontorix/");
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
  EXPECT_EQ(line, "ECHO [M\xFCller] -> <M\xFCller>");

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
                         ReplyFrame(RawEntry(u"DATA", Utf16LE(u"/srv/kontorix/"))));
  EXPECT_EQ(s.log, (std::vector<std::string>{"TAXH -> 19", "DBPATH -> /srv/kontorix/"}));
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

}  // namespace
}  // namespace rb

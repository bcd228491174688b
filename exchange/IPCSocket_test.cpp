// The client against real pipes (Unix domain sockets on POSIX, named pipes on Windows), with a test
// thread playing a service that misbehaves in the ways a real host (or something else listening on
// the name) could.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include "exchange/FakePipeApi.h"
#include "exchange/IPCClient.h"
#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "platform/Pipe.h"
#include "platform/SysError.h"
#include "platform/System.h"

namespace rb {
namespace {

using Clock = std::chrono::steady_clock;

// Time limits of these tests hold on a loaded 2-core machine (a sanitizer run beside other
// builds): they separate "bounded" from "waited for the next bound or for ever", never "fast"
// from "slow". Ending "at once" means well before the 5 s open time-out that a retried open
// would spend; ending "within the bound" means well before the 30 s default read bound.
constexpr auto kAtOnce = std::chrono::seconds(3);
constexpr auto kWithinTheBound = std::chrono::seconds(15);

bool ReadExactly(platform::PipeHandle h, std::string& out, size_t count) {
  while (count > 0) {
    char buf[4096];
    uint32_t got = 0;
    if (!platform::ReadFile(h, buf, static_cast<uint32_t>(std::min(count, sizeof(buf))), &got)) {
      return false;
    }
    out.append(buf, got);
    count -= got;
  }
  return true;
}

int64_t Int64At(const std::string& s, size_t at) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i)
    u |= static_cast<uint64_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  return static_cast<int64_t>(u);
}

// Reads one request frame; false when the client went away first.
bool ReadRequest(platform::PipeHandle h, std::string& frame) {
  if (!ReadExactly(h, frame, 8)) return false;
  const size_t id_length = static_cast<size_t>(Int64At(frame, frame.size() - 8));
  if (!ReadExactly(h, frame, id_length + 8)) return false;
  return ReadExactly(h, frame, static_cast<size_t>(Int64At(frame, frame.size() - 8)));
}

std::string ReadToEnd(platform::PipeHandle h) {
  std::string rest;
  char buf[256];
  uint32_t got = 0;
  while (platform::ReadFile(h, buf, sizeof(buf), &got))
    rest.append(buf, got);
  return rest;
}

void Send(platform::PipeHandle h, const std::string& bytes) {
  uint32_t written = 0;
  platform::WriteFile(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
}

// One service connection on a fresh pipe name, served by script on a thread of its own.
class TestPeer {
 public:
  using Script = std::function<void(platform::PipeHandle)>;
  explicit TestPeer(Script script, int backlog = 8)
      : name_("peer-" + std::to_string(++counter_)),
        server_(platform::PipeServer::Create(name_, backlog)) {
    EXPECT_TRUE(server_.IsOpen()) << platform::GetLastError();
    thread_ = std::thread([this, script] {
      platform::PipeHandle h = server_.Accept(5000);
      if (h == platform::kInvalidPipe) return;
      script(h);
      platform::CloseHandle(h);
    });
  }
  ~TestPeer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  const std::string& Name() const { return name_; }
  platform::PipeServer& Server() { return server_; }

 private:
  static inline std::atomic<int> counter_{0};
  std::string name_;
  platform::PipeServer server_;
  std::thread thread_;
};

TIPCSettings Quick() {
  TIPCSettings s;
  s.read_timeout_ms = 200;
  s.open_timeout_ms = 1000;
  s.retry.sleep = [](uint32_t) {};
  return s;
}

TEST(IPCSocket, TaxRequestCrossesTheSocketByteForByte) {
  std::string request, trailer;
  TestPeer peer([&](platform::PipeHandle h) {
    ASSERT_TRUE(ReadRequest(h, request));
    Send(h, ReplyFrame(RawEntry(u"DATA", Utf16LE(u"19"))));
    trailer = ReadToEnd(h);
  });
  bool answered = false;
  EXPECT_EQ(QueryIPCValueOnce("TAXH", peer.Name(), answered, "", Quick()), "19");
  EXPECT_TRUE(answered);
  peer.Join();
  EXPECT_EQ(request.size(), 97u);
  EXPECT_EQ(request.substr(0, 16), std::string(8, '\0') + Int64LE(81));
  EXPECT_EQ(trailer, std::string(8, '\xFF'));
}

TEST(IPCSocket, MisbehavingServicesNeverYieldGarbage) {
  const std::string good = RawEntry(u"DATA", Utf16LE(u"19"));
  std::string long_name = good;
  long_name.replace(0, 4, "\xFF\xFF\xFF\x7F", 4);
  struct Case {
    const char* name;
    std::string reply;  // sent after the request; then the service closes
    bool answered;
    std::string text;
  } cases[] = {
      {"well-formed", ReplyFrame(good), true, "19"},
      {"negative data size", Int64LE(0) + Int64LE(-5), true, ""},
      {"absurd data size", Int64LE(0) + Int64LE(INT64_MAX) + "junk", false, ""},
      {"absurd ID length", Int64LE(int64_t{1} << 60) + "ab", false, ""},
      {"truncated entry",
       Int64LE(0) + Int64LE(static_cast<int64_t>(good.size())) + good.substr(0, good.size() - 1),
       false, ""},
      {"name length beyond the buffer", ReplyFrame(long_name), true, ""},
      {"odd text length", ReplyFrame(RawEntry(u"DATA", "1")), true, ""},
      {"more data than announced", Int64LE(0) + Int64LE(4) + "abcd" + good, false, ""},
      {"no answer at all", "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPeer peer([&](platform::PipeHandle h) {
      std::string request;
      if (ReadRequest(h, request)) Send(h, c.reply);
      // Close at once, without waiting for the end marker.
    });
    bool answered = !c.answered;
    const auto start = Clock::now();
    EXPECT_EQ(QueryIPCValueOnce("TAXH", peer.Name(), answered, "", Quick()), c.text);
    EXPECT_EQ(answered, c.answered);
    EXPECT_LT(Clock::now() - start, kWithinTheBound);
  }
}

TEST(IPCSocket, ReplyArrivingByteByByteIsReadWhole) {
  TestPeer peer([&](platform::PipeHandle h) {
    std::string request;
    ASSERT_TRUE(ReadRequest(h, request));
    for (char c : ReplyFrame(RawEntry(u"DATA", Utf16LE(u"7,5")), "id")) {
      Send(h, std::string(1, c));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ReadToEnd(h);
  });
  bool answered = false;
  EXPECT_EQ(QueryIPCValueOnce("TAXH", peer.Name(), answered, "", Quick()), "7,5");
  EXPECT_TRUE(answered);
}

TEST(IPCSocket, SilentServiceFailsAfterTheReadTimeOut) {
  std::atomic<bool> done{false};
  TestPeer peer([&](platform::PipeHandle h) {
    std::string request;
    ReadRequest(h, request);
    while (!done)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  TIPCClient client;
  client.SetServiceName(peer.Name());
  client.SetReadTimeout(200);
  TMessageRef reply;
  const auto start = Clock::now();
  client.Transact(NewRequestMessage("TAXH", ""), 1000, reply);
  const auto spent = Clock::now() - start;
  done = true;
  EXPECT_FALSE(client.ReplyReceived());
  EXPECT_EQ(client.LastErrorText(), "ReadFile failed while reading message ID length");
  EXPECT_EQ(client.LastErrorCode(), platform::kErrorSemTimeout);
  EXPECT_GE(spent, std::chrono::milliseconds(150));
  EXPECT_LT(spent, kWithinTheBound);
}

TEST(IPCSocket, ServiceThatStopsReadingFailsTheWriteAfterTheTimeOut) {
  std::atomic<bool> done{false};
  TestPeer peer([&](platform::PipeHandle) {
    while (!done)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  TIPCClient client;
  client.SetServiceName(peer.Name());
  client.SetReadTimeout(200);
  TMessageRef request = NewMessageData();
  const std::string payload(8 << 20, 'p');  // far more than the socket buffers hold
  request->Storage().Buffer().WriteBuffer(payload.data(), static_cast<int64_t>(payload.size()));
  TMessageRef reply;
  const auto start = Clock::now();
  client.Transact(request, 1000, reply);
  const auto spent = Clock::now() - start;
  done = true;
  EXPECT_EQ(client.LastErrorText(), "WriteFile failed while writing message chunk");
  EXPECT_EQ(client.LastErrorCode(), platform::kErrorSemTimeout);
  EXPECT_FALSE(reply);
  // One bound for the whole try: the chunk write gets what is left, the end marker a moment.
  EXPECT_LT(spent, kWithinTheBound);
}

TEST(IPCSocket, PeerClosingEarlyIsABrokenPipe) {
  TestPeer peer([](platform::PipeHandle) {});
  TIPCClient client;
  client.SetServiceName(peer.Name());
  TMessageRef reply;
  client.Transact(NewRequestMessage("TAXH", ""), 1000, reply);
  EXPECT_FALSE(client.ReplyReceived());
  // Writing to a pipe whose other end is gone: "the pipe is being closed" (232); reading: 109.
  EXPECT_TRUE(client.LastErrorCode() == platform::kErrorNoData ||
              client.LastErrorCode() == platform::kErrorBrokenPipe)
      << client.LastErrorCode();
}

TEST(IPCSocket, OpenFailuresEndAtOnce) {
  struct Case {
    const char* name;
    std::string service;
    const char* text;
    uint32_t code;
  };
  const char* const kNoSuchPipe = "WaitNamedPipe failed while wating for the pipe";
  const char* const kCannotBe = "CreateFile failed while creating new pipe handle";
  // A socket address has room for about 100 bytes and no '/' in a name; a Windows pipe name
  // has both, so these are merely pipes that do not exist there.
  const bool sockets = !platform::kOnWindows;
  const Case cases[] = {
      {"no such pipe", "nobody-listens-here", kNoSuchPipe, 2},
      {"empty name", "", kCannotBe, 123},
      {"slash in the name", "a/b", sockets ? kCannotBe : kNoSuchPipe, sockets ? 123u : 2u},
      {"too long for a socket", std::string(200, 'n'), sockets ? kCannotBe : kNoSuchPipe,
       sockets ? 123u : 2u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIPCClient client;
    client.SetServiceName(c.service);
    const auto start = Clock::now();
    client.OpenPipe(5000);
    EXPECT_LT(Clock::now() - start, kAtOnce);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.LastErrorText(), c.text);
    EXPECT_EQ(client.LastErrorCode(), c.code);
  }
}

TEST(IPCSocket, FullQueueIsBusyAndWaitingHelps) {
  platform::PipeServer server = platform::PipeServer::Create("busy", 0);
  ASSERT_TRUE(server.IsOpen());
  std::vector<platform::PipeHandle> queued;
  uint32_t error = 0;
  for (int i = 0; i < 8 && error != platform::kErrorPipeBusy; ++i) {
    platform::PipeHandle h = platform::CreateFileA("\\\\.\\pipe\\busy", 0xC0000000, 0, 3);
    if (h == platform::kInvalidPipe) {
      error = platform::GetLastError();
    } else {
      queued.push_back(h);
    }
  }
  ASSERT_EQ(error, platform::kErrorPipeBusy);

  TIPCClient client;
  client.SetServiceName("busy");
  // The open loop ends either in the wait (its time ran out while busy: 121) or, when a
  // loaded machine spent the time between the tries, by the loop's own clock (258); both are
  // a busy pipe's time-out.
  client.OpenPipe(100);
  EXPECT_FALSE(client.Connected());
  const std::pair<std::string, uint32_t> outcome{client.LastErrorText(), client.LastErrorCode()};
  const std::pair<std::string, uint32_t> wait_ran_out{
      "WaitNamedPipe failed while wating for the pipe", platform::kErrorSemTimeout};
  const std::pair<std::string, uint32_t> loop_ran_out{"IPC client failed with WAIT timeout", 258};
  EXPECT_TRUE(outcome == wait_ran_out || outcome == loop_ran_out)
      << outcome.first << " / " << outcome.second;

  std::thread acceptor([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    platform::CloseHandle(server.Accept(1000));
  });
  client.OpenPipe(2000);
  acceptor.join();
  EXPECT_TRUE(client.Connected()) << client.LastErrorText();
  client.ClosePipe();
  for (platform::PipeHandle h : queued)
    platform::CloseHandle(h);
}

TEST(IPCSocket, MissingServiceFileTakesThreeQuickTries) {
  std::vector<uint32_t> pauses;
  TIPCSettings settings = Quick();
  settings.retry.sleep = [&](uint32_t ms) { pauses.push_back(ms); };
  EXPECT_EQ(ReadIPCValueSync("TAXH", false, "", settings), "");
  EXPECT_EQ(pauses, (std::vector<uint32_t>{50, 50, 50}));
}

}  // namespace
}  // namespace rb

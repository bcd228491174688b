#include "exchange/IPCClient.h"

#include <gtest/gtest.h>

#include "exchange/FakePipeApi.h"
#include "exchange/Frame.h"
#include "exchange/IPCValue.h"
#include "platform/SysError.h"

namespace rb {
namespace {

using platform::kErrorBrokenPipe;
using platform::kErrorFileNotFound;
using platform::kErrorMoreData;
using platform::kErrorPipeBusy;
using Fake = TFakePipeApi;

const std::string kEndMarker(8, '\xFF');

struct Session {
  Fake api;
  TIPCClient client{api};
  TMessageRef reply;

  Session() {
    api.open_errors = {0};
    client.SetServiceName("KtxTest");
  }
  void Transact(const TMessageRef& request, uint32_t timeout = 5000) {
    client.Transact(request, timeout, reply);
  }
  std::u16string Data() { return reply ? reply->Storage().GetText(u"DATA") : u"<no reply>"; }
};

TEST(IPCClient, PipePathNamesTheLocalHostsPipe) {
  Fake api;
  TIPCClient client(api);
  EXPECT_EQ(client.HostName(), ".");
  client.SetServiceName("Kontorix-1");
  EXPECT_EQ(client.PipePath(), "\\\\.\\pipe\\Kontorix-1");
  client.SetServiceName("");
  EXPECT_EQ(client.PipePath(), "\\\\.\\pipe\\");
}

TEST(IPCClient, EmptyRequestIsSixteenZeroBytesThenTheEndMarker) {
  Session r;
  r.api.reads = {Fake::Data(ReplyFrame(""))};
  r.Transact(NewMessageData());
  ASSERT_EQ(r.api.writes.size(), 3u);
  EXPECT_EQ(r.api.writes[0], std::string(8, '\0'));
  EXPECT_EQ(r.api.writes[1], std::string(8, '\0'));
  EXPECT_EQ(r.api.writes[2], kEndMarker);
  EXPECT_EQ(r.api.closes, 1);
  EXPECT_TRUE(r.client.ReplyReceived());
  EXPECT_FALSE(r.client.Connected());
  ASSERT_TRUE(r.reply);
  EXPECT_EQ(r.reply->Storage().Buffer().Size(), 0);
}

TEST(IPCClient, TaxRequestIsNinetySevenBytes) {
  Session r;
  r.api.reads = {Fake::Data(ReplyFrame(RawEntry(u"DATA", Utf16LE(u"19"))))};
  r.Transact(NewRequestMessage("TAXH", ""));
  std::string sent;
  for (size_t i = 0; i + 1 < r.api.writes.size(); ++i)
    sent += r.api.writes[i];
  const std::string entries = RawEntry(u"COMMAND", Utf16LE(u"TAXH")) +
                              RawEntry(u"INDEX", std::string("\xFF\xFF\xFF\xFF", 4)) +
                              RawEntry(u"SYNC", std::string("\x01", 1));
  ASSERT_EQ(entries.size(), 81u);
  EXPECT_EQ(sent, std::string(8, '\0') + Int64LE(81) + entries);
  EXPECT_EQ(sent.size(), 97u);
  EXPECT_EQ(r.Data(), u"19");
}

TEST(IPCClient, MessageIdGoesOutWithItsLengthInOneWrite) {
  Session r;
  r.api.reads = {Fake::Data(ReplyFrame("", "back"))};
  TMessageRef request = NewMessageData();
  request->SetMessageId("Req\xE4");
  r.Transact(request);
  EXPECT_EQ(r.api.writes[0], Int64LE(4) + "Req\xE4");
  EXPECT_EQ(r.reply->MessageId(), "back");
}

TEST(IPCClient, LargeRequestGoesOutInChunksOfAtMost65536Bytes) {
  Session r;
  r.api.reads = {Fake::Data(ReplyFrame(""))};
  TMessageRef request = NewMessageData();
  const std::string payload(65537, 'x');
  request->Storage().Buffer().WriteBuffer(payload.data(), 65537);
  r.Transact(request);
  ASSERT_EQ(r.api.writes.size(), 5u);
  EXPECT_EQ(r.api.writes[1], Int64LE(65537));
  EXPECT_EQ(r.api.writes[2].size(), 65536u);
  EXPECT_EQ(r.api.writes[3].size(), 1u);
  EXPECT_EQ(r.api.writes[4], kEndMarker);
}

TEST(IPCClient, TimeOutOfZeroMakesNoAttempt) {
  Session r;
  r.Transact(NewMessageData(), 0);
  EXPECT_TRUE(r.api.open_paths.empty());
  EXPECT_EQ(r.client.LastErrorText(), "IPC client failed with WAIT timeout");
  EXPECT_EQ(r.client.LastErrorCode(), 258u);
  EXPECT_TRUE(r.api.writes.empty());
  EXPECT_FALSE(r.reply);
}

TEST(IPCClient, OpenFailuresKeepTheirTextAndWriteNothing) {
  struct Case {
    const char* name;
    std::deque<uint32_t> open_errors;
    std::deque<bool> waits;
    uint32_t wait_error;
    uint64_t ms_per_wait;
    const char* text;
    uint32_t code;
  } cases[] = {
      {"hard open failure", {5}, {}, 0, 0, "CreateFile failed while creating new pipe handle", 5},
      {"impossible name", {123}, {}, 0, 0, "CreateFile failed while creating new pipe handle", 123},
      {"no such pipe",
       {kErrorFileNotFound},
       {false},
       kErrorFileNotFound,
       0,
       "WaitNamedPipe failed while wating for the pipe",
       kErrorFileNotFound},
      {"busy until the wait times out",
       {kErrorPipeBusy, kErrorPipeBusy},
       {true, false},
       121,
       10,
       "WaitNamedPipe failed while wating for the pipe",
       121},
      {"busy until the loop runs out of time",
       {kErrorPipeBusy, kErrorPipeBusy, kErrorPipeBusy},
       {true, true, true},
       0,
       2000,
       "IPC client failed with WAIT timeout",
       258},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session r;
    r.api.open_errors = c.open_errors;
    r.api.wait_results = c.waits;
    r.api.wait_error = c.wait_error;
    r.api.ms_per_wait = c.ms_per_wait;
    r.Transact(NewRequestMessage("TAXH", ""));
    EXPECT_EQ(r.client.LastErrorText(), c.text);
    EXPECT_EQ(r.client.LastErrorCode(), c.code);
    EXPECT_FALSE(r.client.ReplyReceived());
    EXPECT_FALSE(r.reply);
    EXPECT_TRUE(r.api.writes.empty());
    EXPECT_EQ(r.api.closes, 0);
  }
}

// The reply is an out-parameter: a caller that keeps one variable for several requests must
// not see the reply of an earlier request after an open that failed.
TEST(IPCClient, FailedOpenLeavesNoEarlierReplyBehind) {
  for (uint32_t timeout : {0u, 5000u}) {
    SCOPED_TRACE(timeout);
    Session r;
    r.api.reads = {Fake::Data(ReplyFrame(RawEntry(u"DATA", Utf16LE(u"19"))))};
    r.Transact(NewRequestMessage("TAXH", ""));
    ASSERT_EQ(r.Data(), u"19");
    r.api.open_errors = {5};
    r.Transact(NewRequestMessage("TAXH", ""), timeout);
    EXPECT_FALSE(r.client.ReplyReceived());
    EXPECT_FALSE(r.reply);
  }
}

TEST(IPCClient, WaitingForABusyPipeGetsTheRemainingTime) {
  Session r;
  r.api.open_errors = {kErrorPipeBusy, kErrorPipeBusy, 0};
  r.api.wait_results = {true, true};
  r.api.ms_per_wait = 1500;
  r.api.reads = {Fake::Data(ReplyFrame(""))};
  r.Transact(NewMessageData(), 5000);
  EXPECT_TRUE(r.client.ReplyReceived());
  EXPECT_EQ(r.api.wait_timeouts, (std::vector<uint32_t>{5000, 3500}));
  EXPECT_EQ(r.client.LastErrorText(), "");
}

TEST(IPCClient, WriteFailuresStopBeforeAnyReply) {
  struct Case {
    const char* name;
    size_t failing_write;  // 0-based
    const char* text;
  } cases[] = {
      {"ID", 0, "WriteFile failed while writing message ID"},
      {"size", 1, "WriteFile failed while writing message data size"},
      {"first chunk", 2, "WriteFile failed while writing message chunk"},
      {"second chunk, half-way", 3, "WriteFile failed while writing message chunk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session r;
    for (size_t i = 0; i < c.failing_write; ++i)
      r.api.write_results.push_back({});
    r.api.write_results.push_back(Fake::Failure(kErrorBrokenPipe, "half"));
    r.api.reads = {Fake::Data(ReplyFrame(""))};
    TMessageRef request = NewMessageData();
    const std::string payload(70000, 'p');
    request->Storage().Buffer().WriteBuffer(payload.data(), 70000);
    r.Transact(request);
    EXPECT_EQ(r.client.LastErrorText(), c.text);
    EXPECT_EQ(r.client.LastErrorCode(), kErrorBrokenPipe);
    EXPECT_FALSE(r.reply);
    EXPECT_EQ(r.api.writes.size(), c.failing_write + 2);  // up to the failure, then the marker
    EXPECT_EQ(r.api.writes.back(), kEndMarker);
    EXPECT_EQ(r.api.reads.size(), 1u);  // nothing was read
  }
}

TEST(IPCClient, ReadFailuresNameTheirStep) {
  const std::string data = RawEntry(u"DATA", Utf16LE(u"abc"));
  struct Case {
    const char* name;
    std::deque<Fake::Step> reads;
    const char* text;
    uint32_t code;
  } cases[] = {
      {"nothing comes", {}, "ReadFile failed while reading message ID length", kErrorBrokenPipe},
      {"ID length cut short",
       {Fake::Data(std::string(3, '\0'))},
       "ReadFile failed while reading message ID length",
       kErrorBrokenPipe},
      {"ID cut short",
       {Fake::Data(Int64LE(5) + "ab")},
       "ReadFile failed while reading message ID",
       kErrorBrokenPipe},
      {"size missing",
       {Fake::Data(Int64LE(0))},
       "ReadFile failed while reading message data size",
       kErrorBrokenPipe},
      {"data read fails",
       {Fake::Data(Int64LE(0) + Int64LE(100)), Fake::Failure(5)},
       "ReadFile failed while reading message data",
       5},
      {"success without bytes",
       {Fake::Data(Int64LE(0) + Int64LE(100)), Fake::Data("")},
       "ReadFile failed while reading message data",
       platform::kErrorNoData},
      {"more data than announced",
       {Fake::Data(Int64LE(0) + Int64LE(4) + "abcdEXTRA")},
       "ReadFile failed while reading message data",
       platform::kErrorInvalidData},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session r;
    r.api.reads = c.reads;
    r.Transact(NewMessageData());
    EXPECT_EQ(r.client.LastErrorText(), c.text);
    EXPECT_EQ(r.client.LastErrorCode(), c.code);
    EXPECT_FALSE(r.client.ReplyReceived());
    EXPECT_TRUE(r.reply);  // the request went out whole
    EXPECT_EQ(r.api.writes.back(), kEndMarker);
  }
}

TEST(IPCClient, MoreDataThanAnnouncedKeepsOnlyTheAnnouncedBytes) {
  Session r;
  r.api.reads = {Fake::Data(Int64LE(0) + Int64LE(4) + "abcdEXTRA")};
  r.Transact(NewMessageData());
  EXPECT_EQ(r.reply->Storage().Buffer().View(), "abcd");
}

TEST(IPCClient, BrokenDataReadKeepsWhatArrivedWhole) {
  Session r;
  const std::string data = RawEntry(u"DATA", Utf16LE(u"C:\\x.json")) + RawEntry(u"MORE", "1234");
  r.api.reads = {Fake::Data(Int64LE(0) + Int64LE(static_cast<int64_t>(data.size()))),
                 Fake::Failure(kErrorBrokenPipe, data.substr(0, data.size() - 2))};
  r.Transact(NewMessageData());
  EXPECT_FALSE(r.client.ReplyReceived());
  EXPECT_EQ(r.reply->Storage().Buffer().Size(), static_cast<int64_t>(data.size() - 2));
  EXPECT_EQ(r.Data(), u"C:\\x.json");
  EXPECT_EQ(r.reply->Storage().GetText(u"MORE"), u"");
}

TEST(IPCClient, MoreDataErrorCountsAsSuccess) {
  Session r;
  const std::string data = RawEntry(u"DATA", Utf16LE(u"ok"));
  r.api.reads = {Fake::Failure(kErrorMoreData, Int64LE(0)),
                 Fake::Failure(kErrorMoreData, Int64LE(static_cast<int64_t>(data.size()))),
                 Fake::Failure(kErrorMoreData, data)};
  r.Transact(NewMessageData());
  EXPECT_TRUE(r.client.ReplyReceived());
  EXPECT_EQ(r.Data(), u"ok");
}

TEST(IPCClient, FixedFieldsArrivingInPiecesAreReadWhole) {
  Session r;
  const std::string frame = ReplyFrame(RawEntry(u"DATA", Utf16LE(u"19")), "ID");
  std::deque<Fake::Step> pieces;
  for (char c : frame)
    pieces.push_back(Fake::Data(std::string(1, c)));  // one byte per read
  r.api.reads = pieces;
  r.Transact(NewMessageData());
  EXPECT_TRUE(r.client.ReplyReceived());
  EXPECT_EQ(r.reply->MessageId(), "ID");
  EXPECT_EQ(r.Data(), u"19");
}

TEST(IPCClient, ZeroAndNegativeLengthsAreAnEmptyReply) {
  for (int64_t id_length : {0, -1}) {
    for (int64_t size : {int64_t{0}, int64_t{-1}, INT64_MIN}) {
      SCOPED_TRACE(std::to_string(id_length) + "/" + std::to_string(size));
      Session r;
      r.api.reads = {Fake::Data(Int64LE(id_length) + Int64LE(size))};
      r.Transact(NewMessageData());
      EXPECT_TRUE(r.client.ReplyReceived());
      EXPECT_EQ(r.reply->MessageId(), "");
      EXPECT_EQ(r.reply->Storage().Buffer().Size(), 0);
      EXPECT_EQ(r.Data(), u"");
    }
  }
}

TEST(IPCClient, AbsurdLengthsCostOnlyWhatArrives) {
  {
    Session r;
    r.api.reads = {Fake::Data(Int64LE(INT64_MAX) + "abc")};
    r.Transact(NewMessageData());
    EXPECT_EQ(r.client.LastErrorText(), "ReadFile failed while reading message ID");
  }
  {
    Session r;
    r.api.reads = {Fake::Data(Int64LE(0) + Int64LE(INT64_MAX) + "abc")};
    r.Transact(NewMessageData());
    // Refused on the announcement, before a byte of the data is taken.
    EXPECT_EQ(r.client.LastErrorText(), "ReadFile failed while reading message data size");
    EXPECT_EQ(r.reply->Storage().Buffer().Size(), 0);
    EXPECT_EQ(r.Data(), u"");
  }
}

// A reply may announce no more than the frame's limits: a host that announced 2^62 bytes and
// then streamed them made the client grow until memory ran out.
TEST(IPCClient, ReplyAnnouncingMoreThanTheLimitsFailsBeforeReadingIt) {
  const std::string stream(100000, 's');  // what a hostile host sends after the announcement
  struct Case {
    const char* name;
    std::string head;
    const char* text;  // empty: the reply is received
    uint32_t code;
  } cases[] = {
      {"ID one byte over 64 KiB", Int64LE(kMaxFrameIdLength + 1),
       "ReadFile failed while reading message ID", platform::kErrorInvalidData},
      {"ID of 2^62 bytes", Int64LE(int64_t{1} << 62), "ReadFile failed while reading message ID",
       platform::kErrorInvalidData},
      {"data one byte over 64 MiB", Int64LE(0) + Int64LE(kMaxFrameDataSize + 1),
       "ReadFile failed while reading message data size", platform::kErrorInvalidData},
      {"data of 2^62 bytes", Int64LE(0) + Int64LE(int64_t{1} << 62),
       "ReadFile failed while reading message data size", platform::kErrorInvalidData},
      {"ID of exactly 64 KiB",
       Int64LE(kMaxFrameIdLength) + std::string(kMaxFrameIdLength, 'i') + Int64LE(0), "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session r;
    r.api.reads = {Fake::Data(c.head), Fake::Data(stream)};
    r.Transact(NewMessageData());
    EXPECT_EQ(r.client.ReplyReceived(), std::string(c.text).empty());
    EXPECT_EQ(r.client.LastErrorText(), c.text);
    EXPECT_EQ(r.client.LastErrorCode(), c.code);
    ASSERT_TRUE(r.reply);
    EXPECT_EQ(r.reply->Storage().Buffer().Size(), 0);
  }
}

// The read bound covers the whole exchange, not each call: a request larger than the socket
// buffer to a host that never read took three full bounds for one try.
TEST(IPCClient, TheBoundCoversTheWholeExchange) {
  const std::string data(65537, 'd');  // two chunks
  struct Case {
    const char* name;
    uint64_t ms_per_write, ms_per_read;
    const char* text;  // empty: received
    std::vector<uint32_t> timeouts;
  } cases[] = {
      {"slow writes run out at the chunk",
       400,
       0,
       "WriteFile failed while writing message chunk",
       {1000, 600, 200, 1}},
      {"slow reads run out in the data",
       0,
       300,
       "ReadFile failed while reading message data",
       {1000, 1000, 1000, 1000, 1000, 700, 400, 100, 1}},
      {"writes and reads share one bound",
       200,
       200,
       "ReadFile failed while reading message data size",
       {1000, 800, 600, 400, 200, 1}},
      {"a quick exchange", 10, 10, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session r;
    r.client.SetReadTimeout(1000);
    r.api.ms_per_write = c.ms_per_write;
    r.api.ms_per_read = c.ms_per_read;
    r.api.reads = {Fake::Data(Int64LE(0)), Fake::Data(Int64LE(6)), Fake::Data("ab"),
                   Fake::Data("cd"), Fake::Data("ef")};
    TMessageRef request = NewMessageData();
    request->Storage().Buffer().WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    const uint64_t start = r.api.now;
    r.Transact(request);
    EXPECT_EQ(r.client.LastErrorText(), c.text);
    if (std::string(c.text).empty()) {
      EXPECT_TRUE(r.client.ReplyReceived());
      continue;
    }
    EXPECT_EQ(r.client.LastErrorCode(), platform::kErrorSemTimeout);
    EXPECT_EQ(r.api.pipe_timeouts, c.timeouts);
    EXPECT_LE(r.api.now - start, 1001u) << "one bound and the end marker's moment";
  }
}

TEST(IPCClient, ReadTimeoutIsAppliedToTheOpenPipe) {
  Session r;
  r.client.SetReadTimeout(200);
  r.api.reads = {Fake::Data(ReplyFrame(""))};
  r.Transact(NewMessageData());
  EXPECT_EQ(r.api.pipe_timeout, 200u);
  Session d;
  d.api.reads = {Fake::Data(ReplyFrame(""))};
  d.Transact(NewMessageData());
  EXPECT_EQ(d.api.pipe_timeout, kDefaultReadTimeoutMs);
}

TEST(IPCClient, SecondOpenClosesTheFirstPipe) {
  Fake api;
  api.open_errors = {0, 0};
  TIPCClient client(api);
  client.SetServiceName("x");
  client.OpenPipe(100);
  client.OpenPipe(100);
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(api.closes, 1);
  EXPECT_EQ(api.writes, std::vector<std::string>{kEndMarker});
}

TEST(IPCClient, ExceptionInsideTheExchangeStillClosesThePipe) {
  struct ThrowingReads : Fake {
    bool ReadFile(platform::PipeHandle, void*, uint32_t, uint32_t*) override {
      throw std::bad_alloc();
    }
  } api;
  api.open_errors = {0};
  TIPCClient client(api);
  client.SetServiceName("x");
  TMessageRef reply;
  EXPECT_THROW(client.Transact(NewMessageData(), 100, reply), std::bad_alloc);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(api.closes, 1);
  EXPECT_EQ(api.writes.back(), kEndMarker);
}

TEST(IPCClient, ClosePipeWithoutAPipeDoesNothing) {
  Fake api;
  TIPCClient client(api);
  client.ClosePipe();
  EXPECT_TRUE(api.writes.empty());
  EXPECT_EQ(api.closes, 0);
}

}  // namespace
}  // namespace rb

#include "exchange/IPCValue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "exchange/FakePipeApi.h"
#include "exchange/TestPipeFolder.h"
#include "util/Files.h"

namespace rb {
namespace {

using Fake = TFakePipeApi;

class IPCValue : public ::testing::Test {
 protected:
  void SetUp() override { std::remove(ServiceFile().c_str()); }
  void TearDown() override { std::remove(ServiceFile().c_str()); }

  static std::string ServiceFile() { return TempFolder() + "KTX-EXCHANGELOCALSERVICE.TXT"; }
  static void WriteServiceFile(const std::string& content) {
    std::ofstream(ServiceFile(), std::ios::binary) << content;
  }

  TIPCSettings Settings() {
    TIPCSettings s;
    s.pipes = &api;
    s.retry.sleep = [this](uint32_t ms) { pauses.push_back(ms); };
    return s;
  }
  // The bytes the client sent on its first connection, up to the end marker.
  std::string FirstRequest() const {
    std::string sent;
    for (const std::string& w : api.writes) {
      if (w == std::string(8, '\xFF')) break;
      sent += w;
    }
    return sent;
  }

  Fake api;
  std::vector<uint32_t> pauses;
};

TEST_F(IPCValue, MissingServiceFileGivesThreeFailedTriesOnANamelessPipe) {
  EXPECT_EQ(ReadLocalServiceName(), "");
  EXPECT_EQ(ReadIPCValueSync("GETJSON", false, "", Settings()), "");
  EXPECT_EQ(api.open_paths, std::vector<std::string>(3, "\\\\.\\pipe\\"));
  EXPECT_EQ(pauses, (std::vector<uint32_t>{50, 50, 50}));
}

TEST_F(IPCValue, OnlyTheFirstLineNamesTheServiceExactlyAsWritten) {
  struct Case {
    const char* name;
    std::string content;
    std::string service;
  } cases[] = {
      {"one line", "KtxExchange\r\n", "KtxExchange"},
      {"further lines ignored", "First\r\nSecond\r\n", "First"},
      {"blanks kept", " Spaced \r\n", " Spaced "},
      {"empty first line", "\r\nSecond\r\n", ""},
      {"empty file", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteServiceFile(c.content);
    EXPECT_EQ(ReadLocalServiceName(), c.service);
  }
}

TEST_F(IPCValue, ServiceFileIsReadAnewForEveryRequest) {
  WriteServiceFile("Old\r\n");
  ReadIPCValue("TAXH", Settings());
  WriteServiceFile("New\r\n");
  ReadIPCValue("TAXH", Settings());
  ASSERT_EQ(api.open_paths.size(), 6u);
  EXPECT_EQ(api.open_paths[2], "\\\\.\\pipe\\Old");
  EXPECT_EQ(api.open_paths[3], "\\\\.\\pipe\\New");
}

TEST_F(IPCValue, RaisingRequestStopsAtTheFirstUnansweredTryWithoutPause) {
  WriteServiceFile("Kontorix\r\n");
  try {
    ReadIPCValueSync("DBPATH", true, "", Settings());
    FAIL() << "no exception";
  } catch (const TIPCClientException& e) {
    EXPECT_STREQ(e.what(), "ReadIPCValueSync: Der Server Kontorix antwortet nicht");
  }
  EXPECT_EQ(api.open_paths.size(), 1u);
  EXPECT_TRUE(pauses.empty());
}

TEST_F(IPCValue, ReplyWithoutDataCountsAsAnswered) {
  WriteServiceFile("Kontorix\r\n");
  api.open_errors = {0};
  api.reads = {Fake::Data(ReplyFrame(RawEntry(u"OTHER", Utf16LE(u"x"))))};
  EXPECT_EQ(ReadIPCValueSync("TAXH", true, "", Settings()), "");
  EXPECT_EQ(api.open_paths.size(), 1u);
  EXPECT_TRUE(pauses.empty());
}

TEST_F(IPCValue, SecondTryAnswersAfterOnePause) {
  WriteServiceFile("Kontorix\r\n");
  api.open_errors = {5, 0};
  api.reads = {Fake::Data(ReplyFrame(RawEntry(u"DATA", Utf16LE(u"C:\\Daten\\"))))};
  EXPECT_EQ(ReadIPCValueSync("DBPATH", false, "", Settings()), "C:\\Daten\\");
  EXPECT_EQ(pauses, std::vector<uint32_t>{50});
}

// Running out of memory inside a try is an unanswered try: the request promises no error.
TEST_F(IPCValue, AllocationFailureInATryIsAnUnansweredTry) {
  struct OutOfMemory : Fake {
    int reads_left = 0;  // reads that succeed before memory runs out
    bool ReadFile(platform::PipeHandle pipe, void* buffer, uint32_t count, uint32_t* got) override {
      if (reads_left-- <= 0) throw std::bad_alloc();
      return Fake::ReadFile(pipe, buffer, count, got);
    }
  };
  struct Case {
    const char* name;
    bool raise_on_failure;
  } cases[] = {{"quiet request", false}, {"raising request", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteServiceFile("Kontorix\r\n");
    OutOfMemory memory;
    memory.open_errors = {0, 0, 0};
    TIPCSettings settings = Settings();
    settings.pipes = &memory;
    if (c.raise_on_failure) {
      EXPECT_THROW(ReadIPCValueSync("TAXH", true, "", settings), TIPCClientException);
    } else {
      EXPECT_EQ(ReadIPCValueSync("TAXH", false, "", settings), "");
      EXPECT_EQ(memory.closes, 3) << "every try closed its pipe";
    }
    bool answered = true;
    EXPECT_NO_THROW(QueryIPCValueOnce("TAXH", "Kontorix", answered, "", settings));
    EXPECT_FALSE(answered);
  }
}

TEST_F(IPCValue, DataTravelsBetweenIndexAndSyncInUtf16) {
  WriteServiceFile("Kontorix\r\n");
  api.open_errors = {0};
  api.reads = {Fake::Data(ReplyFrame(RawEntry(u"DATA", Utf16LE(u"M\u00FCller \u20AC"))))};
  EXPECT_EQ(ReadIPCValueSync("ANYQUERY", false, "a\x08M\xFCller", Settings()), "M\xFCller \x80");
  const std::string entries = RawEntry(u"COMMAND", Utf16LE(u"ANYQUERY")) +
                              RawEntry(u"INDEX", std::string("\xFF\xFF\xFF\xFF", 4)) +
                              RawEntry(u"DATA", Utf16LE(u"a\bM\u00FCller")) +
                              RawEntry(u"SYNC", std::string(1, '\x01'));
  EXPECT_EQ(FirstRequest(),
            std::string(8, '\0') + Int64LE(static_cast<int64_t>(entries.size())) + entries);
}

TEST_F(IPCValue, UnansweredRequestReturnsTheLastTrysText) {
  WriteServiceFile("Kontorix\r\n");
  // Each try: the reply announces more than it sends, so the try is not answered.
  for (const char* text : {"one", "two", "three"}) {
    const std::string entry = RawEntry(u"DATA", Utf16LE(std::u16string(text, text + strlen(text))));
    api.open_errors.push_back(0);
    api.reads.push_back(Fake::Data(Int64LE(0) + Int64LE(1000)));
    api.reads.push_back(Fake::Failure(platform::kErrorBrokenPipe, entry));
  }
  EXPECT_EQ(ReadIPCValueSync("TAXH", false, "", Settings()), "three");
  EXPECT_EQ(pauses.size(), 3u);
}

// Not a missing answer: the request must not go on as if the service were merely absent.
TEST_F(IPCValue, UntrustedTemporaryFolderRaisesEvenWithoutRaiseOnFailure) {
  if (platform::kOnWindows) {
    GTEST_SKIP() << "folder modes decide trust on POSIX only; Windows gives each account its own "
                    "temporary folder";
  }
  namespace fs = std::filesystem;
  const std::string open_folder = TTestPipeFolder::Folder() + "/open-to-all";
  ASSERT_TRUE(fs::create_directory(open_folder));
  fs::permissions(open_folder, fs::perms::all);
  {
    const platform::TScopedEnv temp(platform::TempPathVariable(), open_folder);
    try {
      ReadIPCValue("TAXH", Settings());
      ADD_FAILURE() << "no exception";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), 5u);
    }
  }
  EXPECT_TRUE(api.open_paths.empty());
}

}  // namespace
}  // namespace rb

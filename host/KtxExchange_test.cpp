// The client against the real ktx-exchange program, started as a child process that shares
// this test's private temporary folder.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <thread>

#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "platform/Pipe.h"
#include "platform/Process.h"
#include "platform/System.h"
#include "recordset/UVirtualDataset.h"
#include "util/Files.h"

namespace rb {
namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class KtxExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    service_file_ = TempFolder() + kLocalServiceFileName;
    std::remove(service_file_.c_str());
    data_folder_ = TempFolder("Daten-" + std::to_string(++runs_));
    child_ = platform::ChildProcess::Start(
        KTX_EXCHANGE_PATH,
        {"--pipe-name", "ktx-test-" + std::to_string(runs_), "--data-folder", data_folder_,
         "--tax-rate", "19", "--office-metrics", "120,80,1024,768"},
        {{std::string(platform::TempPathVariable()), TTestPipeFolder::Folder()}});
    ASSERT_TRUE(child_.Running());
    // Ready once the service file names the pipe.
    WaitForLocalService("ktx-test-" + std::to_string(runs_));
    ASSERT_EQ(ReadLocalServiceName(), "ktx-test-" + std::to_string(runs_));
  }
  void TearDown() override { child_.Kill(); }

  static inline int runs_ = 0;
  platform::ChildProcess child_;
  std::string service_file_;
  std::string data_folder_;
};

TEST_F(KtxExchange, AnswersTheLoadSequencesKeys) {
  EXPECT_EQ(ReadIPCValue("OFFICEMETRICS"), "120,80,1024,768");
  EXPECT_EQ(ReadIPCValue("TAXH"), "19");
  EXPECT_EQ(ReadIPCValueSync("DBPATH", true, ""), data_folder_);
  const std::string document = ReadIPCValueSync("GETJSON", true, "");
  ASSERT_FALSE(document.empty());
  EXPECT_EQ(ReadWhole(document), ReadWhole(RB_SAMPLE_DOCUMENT));
  EXPECT_TRUE(DeleteFileRetry(document));
}

TEST_F(KtxExchange, UnknownKeyIsAnsweredWithoutData) {
  bool answered = false;
  EXPECT_EQ(QueryIPCValueOnce("NOSUCHKEY", ReadLocalServiceName(), answered, "x"), "");
  EXPECT_TRUE(answered);
}

TEST_F(KtxExchange, ServesManyConnectionsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> right{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i)
        right += ReadIPCValue("TAXH") == "19";
    });
  }
  // A connection that stays open without a request must not hold the others up.
  platform::PipeHandle idle =
      platform::CreateFileA("\\\\.\\pipe\\" + ReadLocalServiceName(), 0xC0000000, 0, 3);
  EXPECT_NE(idle, platform::kInvalidPipe);
  for (auto& t : threads)
    t.join();
  platform::CloseHandle(idle);
  EXPECT_EQ(right, 150);
}

TEST_F(KtxExchange, StopsCleanlyOnTermination) {
  const std::string pipe = "\\\\.\\pipe\\" + ReadLocalServiceName();
  std::string socket_path;
  ASSERT_TRUE(platform::PipeSocketPath(pipe, socket_path));
  // Even with a client connected and silent.
  platform::PipeHandle idle = platform::CreateFileA(pipe, 0xC0000000, 0, 3);
  ASSERT_NE(idle, platform::kInvalidPipe);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(child_.RequestStop());
  EXPECT_EQ(child_.Wait(5000), 0);
  platform::CloseHandle(idle);
  EXPECT_FALSE(FileExists(service_file_));
  EXPECT_FALSE(std::ifstream(socket_path).good());
  EXPECT_EQ(ReadIPCValue("TAXH"), "");
}

// A closing terminal (SIGHUP) once ended the service without removing its socket and file.
TEST_F(KtxExchange, HangUpStopsCleanlyLikeTermination) {
  const std::string pipe = "\\\\.\\pipe\\" + ReadLocalServiceName();
  std::string socket_path;
  ASSERT_TRUE(platform::PipeSocketPath(pipe, socket_path));
  ASSERT_TRUE(child_.RequestStop(platform::ChildProcess::StopRequest::kHangUp));
  EXPECT_EQ(child_.Wait(10000), 0);
  EXPECT_FALSE(FileExists(service_file_));
  EXPECT_FALSE(std::ifstream(socket_path).good());
}

TEST_F(KtxExchange, SecondHostOnTheSameNameRefusesToStart) {
  platform::ChildProcess second = platform::ChildProcess::Start(
      KTX_EXCHANGE_PATH, {"--pipe-name", ReadLocalServiceName()},
      {{std::string(platform::TempPathVariable()), TTestPipeFolder::Folder()}});
  EXPECT_EQ(second.Wait(60000), 1);       // returns as soon as it ends; Wine may start slowly
  EXPECT_EQ(ReadIPCValue("TAXH"), "19");  // the first one still serves
}

// "ANYQUERY" end to end: --sample fills the database named by --database, the reply and the
// file read back as the program reads them, and a request that would write gets no data.
TEST(KtxExchangeQuery, AnswersFromItsDatabaseAndRefusesWrites) {
  const std::string folder = TempFolder("Abfragedaten");
  const std::string database = TempFolder("Anderswo") + "Buchhaltung.sqlite";
  platform::ChildProcess child = platform::ChildProcess::Start(
      KTX_EXCHANGE_PATH,
      {"--pipe-name", "ktx-query", "--data-folder", folder, "--database", database, "--sample"},
      {{std::string(platform::TempPathVariable()), TTestPipeFolder::Folder()}});
  ASSERT_TRUE(child.Running());
  WaitForLocalService("ktx-query");
  ASSERT_EQ(ReadLocalServiceName(), "ktx-query");
  EXPECT_TRUE(FileExists(database));
  EXPECT_FALSE(FileExists(folder + "Kontorix.sqlite"));

  auto ask = [&](const std::string& sql, const std::string& file) {
    std::string lower = folder;
    for (char& c : lower)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ReadIPCValueSync("ANYQUERY", false, lower + '\b' + sql + '\b' + "vds" + '\b' + file);
  };
  auto count = [&](const std::string& reply, const std::string& file) {
    TVirtualDataSet ds;
    ds.LoadFieldDefsFromText(reply, true);
    TBinaryStreamFormat format;
    const int loaded = ds.LoadFromFile(file, format);
    std::remove(file.c_str());
    return loaded;
  };

  std::string file = UniqueTempFileName();
  std::string reply =
      ask("Select ID,WW_NETTO,POT,ID_ORDER,DATE from Auftraege where ID=17 OR ID=42", file);
  EXPECT_EQ(reply, "ID,3,0\r\nWW_NETTO,6,0\r\nPOT,3,0\r\nID_ORDER,1,12\r\nDATE,11,0\r\n");
  EXPECT_EQ(count(reply, file), 2);

  for (const std::string sql : {"DELETE FROM Auftraege", "Select 1; DELETE FROM Auftraege"}) {
    SCOPED_TRACE(sql);
    file = UniqueTempFileName();
    EXPECT_EQ(ask(sql, file), "");
    EXPECT_FALSE(FileExists(file));
  }
  file = UniqueTempFileName();
  reply = ask("Select ID from Auftraege", file);
  EXPECT_EQ(count(reply, file), 7);
}

}  // namespace
}  // namespace rb

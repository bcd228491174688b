#include "platform/Pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/TestFolder.h"

namespace platform {
namespace {

TEST(PipeSocketPath, OnlyLocalPipePathsNameASocket) {
  std::string temp;
  ASSERT_TRUE(GetTempPath(temp));
  // The socket's own limits (no '/', no "..", the length of a socket address) are POSIX's; a
  // Windows pipe name may hold them.
  const uint32_t socket_limit = kOnWindows ? 0u : uint32_t{kErrorInvalidName};
  struct Case {
    const char* name;
    std::string path;
    uint32_t error;  // 0: names the pipe: the socket <temp>pipe/<suffix>, or the path itself
    std::string suffix;
  };
  const Case cases[] = {
      {"local pipe", "\\\\.\\pipe\\Kontorix", 0, "Kontorix"},
      {"'pipe' in any case", "\\\\.\\PIPE\\K", 0, "K"},
      {"backslash inside the name", "\\\\.\\pipe\\a\\b", 0, "a\\b"},
      {"another computer", "\\\\server\\pipe\\Kontorix", kErrorFileNotFound, ""},
      {"no pipe folder", "\\\\.\\mailslot\\Kontorix", kErrorInvalidName, ""},
      {"empty name", "\\\\.\\pipe\\", kErrorInvalidName, ""},
      {"slash in the name", "\\\\.\\pipe\\a/b", socket_limit, "a/b"},
      {"dot dot", "\\\\.\\pipe\\..", socket_limit, ".."},
      {"not a UNC path", "C:\\pipe\\x", kErrorInvalidName, ""},
      {"too long for a socket", "\\\\.\\pipe\\" + std::string(120, 'n'), socket_limit,
       std::string(120, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string socket_path = "unchanged";
    EXPECT_EQ(PipeSocketPath(c.path, socket_path), c.error == 0);
    if (c.error == 0) {
      EXPECT_EQ(socket_path, kOnWindows ? c.path : temp + "pipe/" + c.suffix);
    } else {
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(socket_path, "unchanged");
    }
  }
}

std::string UniqueName(const char* what) {
  return std::string("pipe-test-") + what + "-" + NewGuid().ToText36();
}

TEST(PipeServer, AcceptTimesOutAndCloseRemovesThePipe) {
  const std::string name = UniqueName("accept");
  PipeServer server = PipeServer::Create(name);
  ASSERT_TRUE(server.IsOpen()) << GetLastError();
  EXPECT_EQ(server.Accept(20), kInvalidPipe);
  EXPECT_EQ(GetLastError(), kErrorSemTimeout);

  PipeServer moved = std::move(server);
  EXPECT_FALSE(server.IsOpen());  // NOLINT: checking the moved-from state
  ASSERT_TRUE(moved.IsOpen());
  const std::string path = "\\\\.\\pipe\\" + name;
  PipeHandle client = CreateFileA(path, kGenericRead | kGenericWrite, 0, kOpenExisting);
  ASSERT_NE(client, kInvalidPipe);
  PipeHandle served = moved.Accept(1000);
  ASSERT_NE(served, kInvalidPipe);
  CloseHandle(served);
  CloseHandle(client);

  moved.Close();
  moved.Close();
  EXPECT_EQ(moved.Accept(0), kInvalidPipe);
  EXPECT_EQ(CreateFileA(path, kGenericRead | kGenericWrite, 0, kOpenExisting), kInvalidPipe);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(WaitNamedPipeA(path, 1000));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST(PipeHandles, DisconnectWakesABlockedReaderAndTheEndIsABrokenPipe) {
  const std::string name = UniqueName("disconnect");
  PipeServer server = PipeServer::Create(name);
  ASSERT_TRUE(server.IsOpen());
  PipeHandle client =
      CreateFileA("\\\\.\\pipe\\" + name, kGenericRead | kGenericWrite, 0, kOpenExisting);
  ASSERT_NE(client, kInvalidPipe);
  PipeHandle served = server.Accept(1000);
  ASSERT_NE(served, kInvalidPipe);

  uint32_t code = 0;
  std::thread reader([&] {
    char byte;
    uint32_t got = 0;
    if (!ReadFile(served, &byte, 1, &got)) code = GetLastError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(DisconnectPipe(served));
  reader.join();
  EXPECT_EQ(code, kErrorBrokenPipe);

  // The client sees the end as a broken pipe on reading and, without a signal, as a pipe being
  // closed on writing (Windows' codes for the two).
  char byte = 0;
  uint32_t n = 7;
  EXPECT_FALSE(ReadFile(client, &byte, 1, &n));
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(WriteFile(client, "x", 1, &n));
  EXPECT_EQ(GetLastError(), kErrorNoData);
  CloseHandle(served);
  CloseHandle(client);
  EXPECT_FALSE(ReadFile(kInvalidPipe, &byte, 1, &n));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

// The handle's time-out bounds a whole WriteFile: a peer that takes a trickle of bytes kept a
// large write going send after send, each within the bound.
TEST(PipeHandles, TimeOutBoundsTheWholeWriteAgainstATricklingReader) {
  const std::string name = UniqueName("trickle");
  PipeServer server = PipeServer::Create(name);
  ASSERT_TRUE(server.IsOpen());
  PipeHandle client =
      CreateFileA("\\\\.\\pipe\\" + name, kGenericRead | kGenericWrite, 0, kOpenExisting);
  ASSERT_NE(client, kInvalidPipe);
  PipeHandle served = server.Accept(1000);
  ASSERT_NE(served, kInvalidPipe);
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char bytes[4096];
    uint32_t got = 0;
    while (!done && std::chrono::steady_clock::now() < give_up) {
      ReadFile(served, bytes, sizeof(bytes), &got);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  ASSERT_TRUE(SetPipeTimeout(client, 300));
  const std::string payload(8 << 20, 'w');
  uint32_t written = 0;
  const auto start = std::chrono::steady_clock::now();
  const bool ok =
      WriteFile(client, payload.data(), static_cast<uint32_t>(payload.size()), &written);
  const auto spent = std::chrono::steady_clock::now() - start;
  const uint32_t code = GetLastError();
  done = true;
  trickle.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(code, kErrorSemTimeout);
  EXPECT_LT(written, payload.size());
  // 0.3 s of bound; the rest is room for a loaded machine, far below the trickle's 20 s.
  EXPECT_LT(spent, std::chrono::seconds(10));
  CloseHandle(served);
  CloseHandle(client);
}

}  // namespace
}  // namespace platform

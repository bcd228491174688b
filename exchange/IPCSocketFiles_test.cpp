// Pipe names on POSIX are socket files, which can outlive their server or be something else
// altogether. POSIX only: a Windows named pipe has no file of its own; it ends with its last
// handle.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "exchange/IPCClient.h"
#include "exchange/TestPipeFolder.h"
#include "platform/Pipe.h"
#include "platform/SysError.h"

namespace rb {
namespace {

using Clock = std::chrono::steady_clock;

// Well before the 5 s open time-out that a retried open would take.
constexpr auto kAtOnce = std::chrono::seconds(3);

TEST(IPCSocketFiles, SocketLeftByADeadServiceIsNoPipe) {
  std::string socket_path;
  ASSERT_TRUE(platform::PipeSocketPath("\\\\.\\pipe\\stale", socket_path));
  { platform::PipeServer first = platform::PipeServer::Create("stale"); }
  // Bind the name again and close without removing the file, as a crashed service leaves it.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  socket_path.copy(addr.sun_path, socket_path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ::close(fd);

  TIPCClient client;
  client.SetServiceName("stale");
  const auto start = Clock::now();
  client.OpenPipe(5000);
  EXPECT_LT(Clock::now() - start, kAtOnce);
  EXPECT_EQ(client.LastErrorCode(), 2u);

  // A new service takes the name over.
  platform::PipeServer second = platform::PipeServer::Create("stale");
  EXPECT_TRUE(second.IsOpen());
  platform::PipeServer third = platform::PipeServer::Create("stale");
  EXPECT_FALSE(third.IsOpen());
  EXPECT_EQ(platform::GetLastError(), platform::kErrorAlreadyExists);
}

TEST(IPCSocketFiles, FileThatIsNoSocketIsNeitherUsedNorRemoved) {
  std::string socket_path;
  ASSERT_TRUE(platform::PipeSocketPath("\\\\.\\pipe\\plain", socket_path));
  { platform::PipeServer make_folder = platform::PipeServer::Create("plain"); }
  std::ofstream(socket_path) << "not a socket";
  platform::PipeServer server = platform::PipeServer::Create("plain");
  EXPECT_FALSE(server.IsOpen());
  EXPECT_EQ(platform::GetLastError(), platform::kErrorAlreadyExists);
  EXPECT_TRUE(std::ifstream(socket_path).good());
  TIPCClient client;
  client.SetServiceName("plain");
  client.OpenPipe(5000);
  EXPECT_EQ(client.LastErrorCode(), 2u);
}

}  // namespace
}  // namespace rb

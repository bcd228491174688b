// One complete "TAXH" request through ReadIPCValueSync against a running ktx-exchange, beside a
// raw baseline that does only the socket work of the same exchange (connect, the same 97
// request bytes, read the reply, end marker, close). The client's own cost is the difference;
// the target is a median at most 1.5 times the baseline.
//
// The benchmark starts ktx-exchange itself, with a private temporary folder of its own
// (XDG_RUNTIME_DIR), and stops it at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "exchange/Frame.h"
#include "exchange/IPCValue.h"
#include "platform/Pipe.h"
#include "platform/Process.h"

namespace {

struct Service {
  Service() {
    char pattern[] = "/tmp/rb-ipc-bench-XXXXXX";
    folder = ::mkdtemp(pattern);
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    child = platform::ChildProcess::Start(KTX_EXCHANGE_PATH, {"--pipe-name", "ipc-bench"},
                                          {{"XDG_RUNTIME_DIR", folder}});
    for (int i = 0; i < 500 && rb::ReadLocalServiceName().empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    platform::PipeSocketPath("\\\\.\\pipe\\ipc-bench", socket_path);
    request = rb::NewRequestMessage("TAXH", "")->Storage().Buffer().View();
    request = rb::EncodeFrame("", request);
  }
  ~Service() {
    child.RequestStop();
    child.Wait(5000);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::string folder;
  std::string socket_path;
  std::string request;  // the 97 bytes of a TAXH request
  platform::ChildProcess child;
};

Service& TheService() {
  static Service service;
  return service;
}

void BM_ReadIPCValueSync_TAXH(benchmark::State& state) {
  TheService();
  for (auto _ : state) {
    std::string reply = rb::ReadIPCValueSync("TAXH", false, "");
    if (reply != "19") state.SkipWithError("no answer from ktx-exchange");
    benchmark::DoNotOptimize(reply);
  }
}

// The parts of a request, to see where the client's time goes.
void BM_ReadLocalServiceName(benchmark::State& state) {
  TheService();
  for (auto _ : state)
    benchmark::DoNotOptimize(rb::ReadLocalServiceName());
}

void BM_QueryIPCValueOnce_TAXH(benchmark::State& state) {
  TheService();
  bool answered = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rb::QueryIPCValueOnce("TAXH", "ipc-bench", answered, ""));
  }
}

bool ReadFully(int fd, char* out, size_t count) {
  while (count > 0) {
    ssize_t n = ::read(fd, out, count);
    if (n <= 0) return false;
    out += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

void BM_RawSocketBaseline_TAXH(benchmark::State& state) {
  Service& service = TheService();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, service.socket_path.c_str(), service.socket_path.size() + 1);
  const std::string marker(8, '\xFF');
  for (auto _ : state) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
              ::write(fd, service.request.data(), service.request.size()) ==
                  static_cast<ssize_t>(service.request.size());
    char header[16];
    char data[256];
    ok = ok && ReadFully(fd, header, 16);
    int64_t size = 0;
    if (ok) std::memcpy(&size, header + 8, 8);
    ok = ok && size > 0 && size <= static_cast<int64_t>(sizeof(data)) &&
         ReadFully(fd, data, static_cast<size_t>(size));
    ok = ok && ::write(fd, marker.data(), 8) == 8;
    ::close(fd);
    if (!ok) state.SkipWithError("raw exchange failed");
    benchmark::DoNotOptimize(data);
  }
}

BENCHMARK(BM_RawSocketBaseline_TAXH)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadIPCValueSync_TAXH)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadLocalServiceName)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryIPCValueOnce_TAXH)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

// ktx-exchange: the stand-in for Kontorix's exchange service. See host/ExchangeHost.h.
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "host/ExchangeHost.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
  rb::THostOptions options;
  bool help = false;
  std::string error;
  if (!rb::ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), options, help,
                            error)) {
    std::fprintf(stderr, "ktx-exchange: %s\n%s", error.c_str(), rb::HostUsage().c_str());
    return 2;
  }
  if (help) {
    std::fputs(rb::HostUsage().c_str(), stdout);
    return 0;
  }
  platform::InstallStopHandler();

  std::mutex log_mutex;
  auto log = [&log_mutex](const std::string& line) {
    std::lock_guard<std::mutex> lock(log_mutex);
    std::fprintf(stderr, "ktx-exchange: %s\n", line.c_str());
  };
  // The defaults need the private temporary folder, which raises when it cannot be trusted.
  try {
    rb::TExchangeHost host(options, log);
    if (!host.Start(error)) {
      log(error);
      return 1;
    }
    host.Run([] { return platform::StopRequested(); });
    host.Shutdown();
  } catch (const std::exception& e) {
    log(e.what());
    return 1;
  }
  return 0;
}

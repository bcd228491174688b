// Test support: gives the test program a fresh private temporary folder of its own (through
// the variable GetTempPath reads first), so that pipes, TempFolder() and the local-service file
// never meet those of a real host or of another test running at the same time. Removed when the
// program ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "exchange/IPCValue.h"
#include "platform/System.h"
#include "platform/TestFolder.h"

namespace rb {

class TTestPipeFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<platform::TTestFolder>("rb-exchange-test");
    platform::SetEnv(platform::TempPathVariable(), folder_->Path());
  }
  void TearDown() override { folder_.reset(); }
  static const std::string& Folder() { return folder_->Path(); }

 private:
  static inline std::unique_ptr<platform::TTestFolder> folder_;
};

// Waits until the local-service file names the pipe, that is until a host started by the test
// is ready; false when it never is. The bound only ends a test whose host does not come up: under
// Wine on a busy machine a start takes seconds.
inline bool WaitForLocalService(const std::string& name) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadLocalServiceName() != name) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Including this header registers the environment, once per test program.
inline ::testing::Environment* const kTestPipeFolder =
    ::testing::AddGlobalTestEnvironment(new TTestPipeFolder);

}  // namespace rb

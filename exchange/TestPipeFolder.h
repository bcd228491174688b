// Test support: gives the test program a fresh private temporary folder of its own (through
// the variable GetTempPath reads first), so that pipes, TempFolder() and the local-service file
// never meet those of a real host or of another test running at the same time. Removed when the
// program ends.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// Including this header registers the environment, once per test program.
inline ::testing::Environment* const kTestPipeFolder =
    ::testing::AddGlobalTestEnvironment(new TTestPipeFolder);

}  // namespace rb

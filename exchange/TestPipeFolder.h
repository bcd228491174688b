// Test support: gives the test program a fresh private temporary folder of its own (through
// XDG_RUNTIME_DIR), so that pipes, TempFolder() and the local-service file never meet those of
// a real host or of another test running at the same time. Removed when the program ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace rb {

class TTestPipeFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/rb-exchange-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  static const std::string& Folder() { return folder_; }

 private:
  static inline std::string folder_;
};

// Including this header registers the environment, once per test program.
inline ::testing::Environment* const kTestPipeFolder =
    ::testing::AddGlobalTestEnvironment(new TTestPipeFolder);

}  // namespace rb

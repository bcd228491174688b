// Test support (never linked into the product): a fresh folder of its own for one test, removed
// with everything in it when the test ends, also when the test took the rights away from a
// folder inside it.
//
//   TTestFolder folder("rbfiles");          // <system temp>/rbfiles-<GUID>, owner only
//   std::ofstream(folder.Path() + "/a.txt") << "x";
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "platform/File.h"
#include "platform/System.h"

namespace platform {

// Whole files, byte for byte: what a test sets up, or what the code under test wrote.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class TTestFolder {
 public:
  explicit TTestFolder(const std::string& prefix = "rbtest") {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    // A random name that nobody else can have taken: the folder is made new, never reused.
    const fs::path path = base / (prefix + "-" + NewGuid().ToText36());
    if (error || !fs::create_directory(path, error)) {
      ADD_FAILURE() << "cannot make a test folder in " << base.string() << ": " << error.message();
      return;
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, error);
    path_ = path.string();
  }
  ~TTestFolder() {
    if (path_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ignored;
    // A test may have closed a folder to its owner: open them all again before removing.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(
             path_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(path_, ignored);
  }
  TTestFolder(const TTestFolder&) = delete;
  TTestFolder& operator=(const TTestFolder&) = delete;

  // Without a trailing delimiter.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Sets an environment variable for one test and puts the old value (or its absence) back at the
// end. TScopedEnv(TempPathVariable(), folder.Path()) makes GetTempPath answer folder.Path().
class TScopedEnv {
 public:
  TScopedEnv(std::string_view name, std::string_view value) : name_(name) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    SetEnv(name_, value);
  }
  ~TScopedEnv() {
    if (old_) {
      SetEnv(name_, *old_);
    } else {
      UnsetEnv(name_);
    }
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Whether the tests run on Windows, for the few cases whose subject exists only elsewhere
// (folder modes, signals, FIFOs): those skip there and say why.
inline constexpr bool kOnWindows = kPathDelim == '\\';

}  // namespace platform

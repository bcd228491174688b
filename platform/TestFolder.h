// Test support (never linked into the product): a fresh folder of its own for one test, removed
// with everything in it when the test ends, also when the test took the rights away from a
// folder inside it.
//
//   TTestFolder folder("rbfiles");          // /tmp/rbfiles-XXXXXX, mode 0700
//   std::ofstream(folder.Path() + "/a.txt") << "x";
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace platform {

class TTestFolder {
 public:
  explicit TTestFolder(const std::string& prefix = "rbtest") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a test folder from " << pattern;
      return;
    }
    path_ = pattern;
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

}  // namespace platform

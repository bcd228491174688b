#include "util/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "platform/System.h"
#include "platform/TestFolder.h"
#include "util/Errors.h"

namespace rb {
namespace {

using platform::ReadBytes;
using platform::WriteBytes;

// A path written with '/' in the platform's own delimiter.
std::string Native(std::string path) {
  for (char& c : path)
    if (c == '/') c = platform::kPathDelim;
  return path;
}

// A policy that never waits but counts the pauses, and may act on the n-th pause.
struct CountingPolicy {
  int pauses = 0;
  std::function<void(int)> on_pause;
  RetryPolicy Make(int attempts = 100) {
    RetryPolicy p;
    p.attempts = attempts;
    p.sleep = [this](uint32_t ms) {
      EXPECT_EQ(ms, 100u);
      ++pauses;
      if (on_pause) on_pause(pauses);
    };
    return p;
  }
};

class FilesTest : public ::testing::Test {
 protected:
  // Every test gets its own private temporary folder.
  platform::TTestFolder folder_{"rbfiles"};
  const std::string dir_ = folder_.Path();
  platform::TScopedEnv temp_{platform::TempPathVariable(), dir_};
};

TEST(ElfHash, MatchesTheSymbolTableHash) {
  struct Row {
    const char* text;
    uint32_t hash;
  } rows[] = {
      {"", 0},
      {"a", 97},
      {"ab", 97 * 16 + 98},
      {"printf", 0x077905A6},  // the classic ELF example value
      {"exit", 0x0006CF04},
      {"ABCDEFGHIJ", 0x089EEAAA},  // long enough for the top bits to fold back
      {"12345678-9ABC-4DEF-8123-456789ABCDEF", 0x08954506},
      // Bytes above 0x7F count unsigned.
      {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 0x00010FEF},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ElfHash(row.text), row.hash) << row.text;
}

TEST(IncludePathDelimiter, AppendsTheDelimiterOnce) {
  struct Row {
    const char* in;
    const char* out;
  };
  const Row posix[] = {
      {"", ""},        {"/", "/"}, {"/data", "/data/"}, {"/data/", "/data/"},
      {"C", "C/"},  // no drive letters here
      {"rel", "rel/"},
  };
  const Row windows[] = {
      {"", ""},
      {"\\", "\\"},
      {"C", "C:\\"},
      {"c", "c:\\"},
      {"C:", "C:"},
      {"D:\\Daten", "D:\\Daten\\"},
      {"D:\\Daten\\", "D:\\Daten\\"},
      {"CD", "CD\\"},
      {"1", "1\\"},
      {"\\\\srv\\share", "\\\\srv\\share\\"},
  };
  for (const Row& row :
       platform::kOnWindows ? std::span<const Row>(windows) : std::span<const Row>(posix))
    EXPECT_EQ(IncludePathDelimiter(row.in), row.out) << row.in;
}

TEST(FileExistsFromAttributes, FollowsTheErrorRules) {
  using namespace platform;
  struct Row {
    const char* name;
    uint32_t attributes;
    uint32_t error;
    bool search_result;
    bool expected;
    bool searched;
  } rows[] = {
      {"plain file", kAttrNormal, 0, false, true, false},
      {"read-only file", kAttrReadOnly, 0, false, true, false},
      {"folder", kAttrDirectory, 0, true, false, false},
      {"file not found", kInvalidFileAttributes, kErrorFileNotFound, true, false, false},
      {"path not found", kInvalidFileAttributes, kErrorPathNotFound, true, false, false},
      {"invalid name", kInvalidFileAttributes, kErrorInvalidName, true, false, false},
      {"sharing violation", kInvalidFileAttributes, kErrorSharingViolation, false, true, false},
      {"access denied, found", kInvalidFileAttributes, kErrorAccessDenied, true, true, true},
      {"access denied, not found", kInvalidFileAttributes, kErrorAccessDenied, false, false, true},
  };
  for (const Row& row : rows) {
    bool searched = false;
    const bool result = FileExistsFromAttributes(row.attributes, row.error, [&] {
      searched = true;
      return row.search_result;
    });
    EXPECT_EQ(result, row.expected) << row.name;
    EXPECT_EQ(searched, row.searched) << row.name;
  }
}

TEST_F(FilesTest, FileAndFolderExistence) {
  WriteBytes(dir_ + Native("/f"), "x");
  EXPECT_TRUE(FileExists(dir_ + Native("/f")));
  EXPECT_FALSE(FileExists(dir_));
  EXPECT_FALSE(FileExists(dir_ + Native("/none")));
  EXPECT_FALSE(FileExists(dir_ + Native("/none/f")));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DirectoryExists(dir_));
  EXPECT_TRUE(DirectoryExists(dir_ + Native("/")));
  EXPECT_FALSE(DirectoryExists(dir_ + Native("/f")));
  EXPECT_FALSE(DirectoryExists(dir_ + Native("/none")));
}

TEST_F(FilesTest, ForceDirectoriesMakesAllParents) {
  EXPECT_TRUE(ForceDirectories(dir_ + Native("/a/b/c/")));
  EXPECT_TRUE(DirectoryExists(dir_ + Native("/a/b/c")));
  EXPECT_TRUE(ForceDirectories(dir_ + Native("/a/b//")));
  EXPECT_TRUE(ForceDirectories("/"));
  WriteBytes(dir_ + Native("/file"), "x");
  EXPECT_FALSE(ForceDirectories(dir_ + Native("/file/sub")));
  EXPECT_FALSE(DirectoryExists(dir_ + Native("/file/sub")));
}

TEST_F(FilesTest, ForceDirectoriesOfNothingRaisesCode3) {
  try {
    ForceDirectories("");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
    EXPECT_STREQ(e.what(), "Verzeichnis kann nicht erstellt werden");
  }
}

TEST_F(FilesTest, UniqueTempFileNamesAreHashedGuids) {
  const std::string folder = TempFolder();
  const std::string a = UniqueTempFileName();
  const std::string b = UniqueTempFileName();
  EXPECT_NE(a, b);
  for (const std::string& name : {a, b}) {
    ASSERT_EQ(name.compare(0, folder.size(), folder), 0) << name;
    const std::string tail = name.substr(folder.size());
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.find_first_not_of("0123456789"), std::string::npos) << tail;
    // The ELF hash clears its top four bits, so the number stays below 2^28.
    EXPECT_LT(std::stoull(tail), 1ull << 28) << tail;
    EXPECT_FALSE(FileExists(name)) << "the file must not be created";
  }
}

TEST_F(FilesTest, DeleteFileRetry) {
  CountingPolicy counting;
  EXPECT_TRUE(DeleteFileRetry(dir_ + Native("/none"), counting.Make()));
  EXPECT_EQ(counting.pauses, 0) << "a missing file is gone at once";

  WriteBytes(dir_ + Native("/f"), "x");
  EXPECT_TRUE(DeleteFileRetry(dir_ + Native("/f"), counting.Make()));
  EXPECT_FALSE(FileExists(dir_ + Native("/f")));
  EXPECT_EQ(counting.pauses, 0);
}

TEST_F(FilesTest, DeleteFileRetryWaitsForALockedFileThenGivesUp) {
  // A lock that never ends: on Windows a file open without delete sharing; elsewhere a file of
  // /proc, which no user, not even root, may delete.
  const std::string locked = platform::kOnWindows ? dir_ + Native("/held") : "/proc/self/status";
  platform::File holder;
  if (platform::kOnWindows) {
    holder =
        platform::File::Open(locked, platform::FileAccess::kReadWrite,
                             platform::FileShare::kExclusive, platform::FileCreate::kCreateNew);
    ASSERT_TRUE(holder.IsOpen());
  }
  ASSERT_TRUE(FileExists(locked));
  CountingPolicy counting;
  EXPECT_FALSE(DeleteFileRetry(locked, counting.Make()));
  EXPECT_EQ(counting.pauses, 99) << "the attempts must span the whole waiting time";
}

TEST_F(FilesTest, SaveAndLoadListRoundTrip) {
  const std::vector<std::string> lines = {"PN=1234,5", "", "PB=\xFC\x80", "last"};
  const std::string path = dir_ + Native("/new/folder/notes.txt");
  SaveListRetry(lines, path);
  EXPECT_EQ(ReadBytes(path), "PN=1234,5\r\n\r\nPB=\xFC\x80\r\nlast\r\n");
  std::vector<std::string> loaded = {"old"};
  LoadListRetry(loaded, path);
  EXPECT_EQ(loaded, lines);

  SaveListRetry({}, path);
  EXPECT_EQ(ReadBytes(path), "");
  LoadListRetry(loaded, path);
  EXPECT_TRUE(loaded.empty());
}

TEST_F(FilesTest, LoadListReadsAnyLineBreak) {
  struct Row {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  } rows[] = {
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"LF", "a\nb", {"a", "b"}},
      {"CR", "a\rb\r", {"a", "b"}},
      {"empty lines kept", "a\n\n\nb\n", {"a", "", "", "b"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"UTF-8 byte order mark",
       "\xEF\xBB\xBFgr\xC3\xBC\xC3\x9F\r\n\xE2\x82\xAC",
       {"gr\xFC\xDF", "\x80"}},
      {"UTF-8 outside the code page", "\xEF\xBB\xBF\xC5\x81\xF0\x9F\x98\x80.", {"??."}},
      // Not UTF-8 (a lone byte, an overlong NUL, a surrogate half): the bytes as they are.
      {"UTF-8 with bytes that are not",
       "\xEF\xBB\xBF\xFC\xE0\x80\x80\xED\xA0\x80",
       {"\xFC\xE0\x80\x80\xED\xA0\x80"}},
      {"no byte order mark: the code page", "gr\xC3\xBC", {"gr\xC3\xBC"}},
      {"UTF-16 as Notepad saves it",
       std::string("\xFF\xFE"
                   "P\0N\0\r\0\n\0\xFC\0",
                   12),
       {"PN", "\xFC"}},
  };
  for (const Row& row : rows) {
    WriteBytes(dir_ + Native("/l.txt"), row.bytes);
    std::vector<std::string> lines;
    LoadListRetry(lines, dir_ + Native("/l.txt"));
    EXPECT_EQ(lines, row.lines) << row.name;
  }
}

TEST(FileTextToAnsi, DecodesWhatTheByteOrderMarkNames) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string text;
  } rows[] = {
      {"no mark: code page already", "Gr\xFC\xDF \x80", "Gr\xFC\xDF \x80"},
      {"no mark: UTF-8 stays bytes", "\xC3\xBC", "\xC3\xBC"},
      {"UTF-8", "\xEF\xBB\xBF\xC3\xBC\xE2\x82\xAC", "\xFC\x80"},
      {"UTF-8 mark only", "\xEF\xBB\xBF", ""},
      {"UTF-16 LE",
       std::string("\xFF\xFE"
                   "a\0\xFC\0\xAC\x20\x41\x01",
                   10),
       "a\xFC\x80?"},
      {"UTF-16 BE",
       std::string("\xFE\xFF"
                   "\0a\0\xFC\x20\xAC",
                   8),
       "a\xFC\x80"},
      {"UTF-16 pair is one character",
       std::string("\xFF\xFE"
                   "\x3D\xD8\x00\xDE!\0",
                   8),
       "?!"},
      {"UTF-16 lone surrogate",
       std::string("\xFF\xFE"
                   "\x3D\xD8!\0",
                   6),
       "?!"},
      {"UTF-16 odd last byte dropped",
       std::string("\xFF\xFE"
                   "a\0b",
                   5),
       "a"},
      {"UTF-16 line breaks",
       std::string("\xFF\xFE"
                   "a\0\r\0\n\0",
                   8),
       "a\r\n"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(FileTextToAnsi(row.bytes), row.text) << row.name;
}

TEST_F(FilesTest, LoadListOfAMissingFileKeepsTheLines) {
  std::vector<std::string> lines = {"keep", "me"};
  CountingPolicy counting;
  LoadListRetry(lines, dir_ + Native("/none.txt"), counting.Make());
  EXPECT_EQ(lines, (std::vector<std::string>{"keep", "me"}));
  EXPECT_EQ(counting.pauses, 0);
}

TEST_F(FilesTest, LoadListRetriesWhileTheFileIsLocked) {
  const std::string path = dir_ + Native("/locked.txt");
  WriteBytes(path, "fresh\r\n");
  auto holder =
      platform::File::Open(path, platform::FileAccess::kReadWrite, platform::FileShare::kExclusive,
                           platform::FileCreate::kOpenExisting);
  ASSERT_TRUE(holder.IsOpen());
  CountingPolicy counting;
  counting.on_pause = [&](int n) {
    if (n == 4) holder.Close();
  };
  std::vector<std::string> lines;
  LoadListRetry(lines, path, counting.Make());
  EXPECT_EQ(lines, std::vector<std::string>{"fresh"});
  EXPECT_EQ(counting.pauses, 4);
}

TEST_F(FilesTest, SaveListRaisesTheLastErrorAfterAllAttempts) {
  WriteBytes(dir_ + Native("/blocker"), "x");  // a file where the folder should be
  CountingPolicy counting;
  EXPECT_THROW(SaveListRetry({"a"}, dir_ + Native("/blocker/notes.txt"), counting.Make()),
               EFCreateError);
  EXPECT_EQ(counting.pauses, 99);
  EXPECT_EQ(ReadBytes(dir_ + Native("/blocker")), "x");
}

TEST_F(FilesTest, SaveListRetriesUntilTheFileCanBeWritten) {
  const std::string path = dir_ + Native("/busy.txt");
  WriteBytes(path, "old");
  auto holder =
      platform::File::Open(path, platform::FileAccess::kRead, platform::FileShare::kDenyWrite,
                           platform::FileCreate::kOpenExisting);
  ASSERT_TRUE(holder.IsOpen());
  CountingPolicy counting;
  counting.on_pause = [&](int n) {
    if (n == 2) holder.Close();
  };
  SaveListRetry({"new"}, path, counting.Make());
  EXPECT_EQ(ReadBytes(path), "new\r\n");
  EXPECT_EQ(counting.pauses, 2);
}

TEST_F(FilesTest, SaveListOfABareNameWritesToTheCurrentFolder) {
  // Regression: the empty folder part of a bare name must not count as a folder to create.
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  CountingPolicy counting;
  EXPECT_NO_THROW(SaveListRetry({"x"}, "bare.txt", counting.Make()));
  EXPECT_EQ(counting.pauses, 0);
  EXPECT_EQ(ReadBytes(dir_ + Native("/bare.txt")), "x\r\n");
  std::filesystem::current_path(cwd);
}

TEST_F(FilesTest, ExpandUNCFileNameGivesTheFullName) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const std::string here = std::filesystem::current_path().string();
  // On Windows a rooted name without a drive is on the current folder's drive.
  const std::string drive = std::filesystem::current_path().root_name().string();
  EXPECT_EQ(ExpandUNCFileName(Native("daten/../Daten/")), here + Native("/Daten/"));
  EXPECT_EQ(ExpandUNCFileName(Native("/srv/kontorix/./db")), drive + Native("/srv/kontorix/db"));
  EXPECT_EQ(ExpandUNCFileName(""), "") << "nothing to expand stays nothing";
  std::filesystem::current_path(cwd);
}

TEST(RetryCall, PassesOnTheLastErrorOnly) {
  CountingPolicy counting;
  int calls = 0;
  try {
    RetryCall(counting.Make(5), [&] {
      ++calls;
      throw EFOpenError("attempt " + std::to_string(calls));
    });
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "attempt 5");
  }
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(counting.pauses, 4);

  calls = 0;
  RetryCall(counting.Make(5), [&] {
    if (++calls < 3) throw EFOpenError("busy");
  });
  EXPECT_EQ(calls, 3);
}

TEST(RetryPolicy, DefaultIsAHundredTimesAHundredMilliseconds) {
  const RetryPolicy policy;
  EXPECT_EQ(policy.attempts, 100);
  EXPECT_EQ(policy.pause_ms, 100u);
  const auto start = std::chrono::steady_clock::now();
  policy.Pause();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

class UserModeTest : public FilesTest {
 protected:
  void TearDown() override {
    std::remove(program_ini_.c_str());
    FilesTest::TearDown();
  }
  const std::string program_ini_ = platform::ProgramFolder() + "UserMode.INI";
};

TEST_F(UserModeTest, ChoosingAFolderCopiesThePlacementFileOnce) {
  EXPECT_EQ(UserModeFile(), program_ini_) << "before any choice: beside the program";
  WriteBytes(program_ini_, "[Pos]\r\nLeft=10\r\n");

  SetUserModeFolder(dir_);
  EXPECT_EQ(UserModeFile(), dir_ + Native("/UserMode.INI"));
  EXPECT_EQ(ReadBytes(dir_ + Native("/UserMode.INI")), "[Pos]\r\nLeft=10\r\n");

  // A folder that has its own file keeps it.
  ASSERT_TRUE(ForceDirectories(dir_ + Native("/other")));
  WriteBytes(dir_ + Native("/other/UserMode.INI"), "mine");
  SetUserModeFolder(dir_ + Native("/other/"));
  EXPECT_EQ(UserModeFile(), dir_ + Native("/other/UserMode.INI"));
  EXPECT_EQ(ReadBytes(dir_ + Native("/other/UserMode.INI")), "mine");

  // A copy that fails (no such folder) is ignored; the choice is still made.
  EXPECT_NO_THROW(SetUserModeFolder(dir_ + Native("/missing")));
  EXPECT_EQ(UserModeFile(), dir_ + Native("/missing/UserMode.INI"));

  SetUserModeFolder(platform::ProgramFolder());
  EXPECT_EQ(UserModeFile(), program_ini_);
}

// The empty folder once copied the file into the current folder but went on naming the
// program folder's file, so the copy was never read.
TEST_F(UserModeTest, EmptyFolderIsTheCurrentFolderForTheCopyAndTheFile) {
  WriteBytes(program_ini_, "[Pos]\r\nLeft=20\r\n");
  const std::string here = dir_ + Native("/cwd");
  ASSERT_TRUE(ForceDirectories(here));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(here);
  SetUserModeFolder("");
  const std::string file = UserModeFile();
  const std::string copied = ReadBytes(here + "/UserMode.INI");
  const std::string named = ReadBytes(file);
  std::filesystem::current_path(previous);
  EXPECT_EQ(copied, "[Pos]\r\nLeft=20\r\n");
  EXPECT_EQ(named, copied) << file << " is not the copy";
  EXPECT_NE(file, program_ini_);
  SetUserModeFolder(platform::ProgramFolder());
  EXPECT_EQ(UserModeFile(), program_ini_);
}

}  // namespace
}  // namespace rb

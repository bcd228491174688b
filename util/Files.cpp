#include "util/Files.h"

#include <mutex>
#include <optional>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "platform/System.h"
#include "util/Errors.h"
#include "util/Streams.h"

namespace rb {

namespace {

constexpr char kDelim = platform::kPathDelim;
constexpr bool kDriveLetters = platform::kPathDelim == '\\';
const char kUserModeFileName[] = "UserMode.INI";

std::string WithTrailingDelim(std::string folder) {
  if (folder.empty() || folder.back() != kDelim) folder += kDelim;
  return folder;
}

std::string WithoutTrailingDelims(std::string folder) {
  while (folder.size() > 1 && folder.back() == kDelim)
    folder.pop_back();
  return folder;
}

// The folder part of a path including its final delimiter ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t pos = path.find_last_of(kDriveLetters ? ":\\" : "/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

// A folder that always counts as present: a drive ("C:", "C:\") where there are drive
// letters, the root "/" where there are not.
bool IsRoot(const std::string& dir) {
  if constexpr (kDriveLetters) {
    return dir.size() < 3 || FolderOf(dir) == dir;
  } else {
    return dir == "/";
  }
}

// Decodes a UTF-8 text (after its byte order mark) into the code page. A character beyond
// UTF-16's first plane has no byte and becomes '?', like any other character outside the code
// page; bytes that are not UTF-8 (overlong forms and surrogates included) are taken byte for
// byte, as the code page would read them.
std::string Utf8ToAnsi(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    auto at = [&](size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    auto cont = [&](size_t k) { return (at(k) & 0xC0) == 0x80; };
    if (c >= 0xC2 && c < 0xE0 && cont(1)) {
      wide += static_cast<char16_t>(((c & 0x1F) << 6) | (at(1) & 0x3F));
      i += 2;
    } else if (c >= 0xE0 && c < 0xF0 && cont(1) && cont(2) && (c != 0xE0 || at(1) >= 0xA0) &&
               (c != 0xED || at(1) < 0xA0)) {
      wide += static_cast<char16_t>(((c & 0x0F) << 12) | ((at(1) & 0x3F) << 6) | (at(2) & 0x3F));
      i += 3;
    } else if (c >= 0xF0 && c < 0xF5 && cont(1) && cont(2) && cont(3) &&
               (c != 0xF0 || at(1) >= 0x90) && (c != 0xF4 || at(1) < 0x90)) {
      wide += u'?';
      i += 4;
    } else {
      wide += platform::AnsiCharToWide(c);
      i += 1;
    }
  }
  return platform::WideToAnsi(wide);
}

// Decodes UTF-16 units of the given byte order into the code page; a character beyond the first
// plane (a surrogate pair) becomes one '?'. An odd last byte is dropped.
std::string Utf16ToAnsi(std::string_view bytes, bool little_endian) {
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned char lo = static_cast<unsigned char>(bytes[little_endian ? i : i + 1]);
    const unsigned char hi = static_cast<unsigned char>(bytes[little_endian ? i + 1 : i]);
    const char16_t unit = static_cast<char16_t>(hi << 8 | lo);
    const bool pair_follows =
        unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size() &&
        (static_cast<unsigned char>(bytes[little_endian ? i + 3 : i + 2]) & 0xFC) == 0xDC;
    if (pair_follows) i += 2;
    wide += pair_follows ? u'?' : unit;
  }
  return platform::WideToAnsi(wide);
}

// Lines broken at CR LF, LF or CR; a break at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::mutex user_mode_mutex;
// None until chosen: the program's folder. An empty choice is the current folder, as for any
// relative name; it must not fall back to the program's folder.
std::optional<std::string> user_mode_folder;

std::string CurrentUserModeFolder() {
  return user_mode_folder ? *user_mode_folder : platform::ProgramFolder();
}

}  // namespace

void RetryPolicy::Pause() const {
  if (sleep) {
    sleep(pause_ms);
  } else {
    platform::Sleep(pause_ms);
  }
}

void RetryCall(const RetryPolicy& policy, const std::function<void()>& attempt) {
  for (int i = 1;; ++i) {
    try {
      attempt();
      return;
    } catch (const Exception&) {
      if (i >= policy.attempts) throw;
    }
    policy.Pause();
  }
}

std::string TempFolder(const std::string& sub_folder) {
  std::string temp;
  const bool trusted = platform::GetTempPath(temp);
  if (!trusted) {
    const uint32_t code = platform::GetLastError();
    // A folder that somebody else controls or that is not a folder must not receive our files.
    if (code == platform::kErrorAccessDenied || code == platform::kErrorDirectory) {
      throw EOSError(
          "Der tempor\xE4re Ordner \"" + temp +
              "\" kann nicht sicher verwendet werden: " + platform::SysErrorMessage(code),
          code);
    }
  }
  std::string folder = WithTrailingDelim(temp) + "KXTempDir" + kDelim;
  if (!sub_folder.empty()) folder = WithTrailingDelim(folder + sub_folder);
  // Making the folders below a private folder that could not be made would create it without
  // its protection; the caller's file operation reports the missing folder instead.
  if (trusted) ForceDirectories(folder);
  return folder;
}

std::string UniqueTempFileName() {
  return TempFolder() + std::to_string(ElfHash(platform::NewGuid().ToText36()));
}

bool FileExistsFromAttributes(uint32_t attributes, uint32_t error,
                              const std::function<bool()>& search) {
  if (attributes != platform::kInvalidFileAttributes) {
    return (attributes & platform::kAttrDirectory) == 0;
  }
  switch (error) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
    case platform::kErrorInvalidName:
      return false;
    case platform::kErrorSharingViolation:
      return true;
    default:
      return search();
  }
}

bool FileExists(const std::string& path) {
  const uint32_t attributes = platform::GetFileAttributes(path);
  const uint32_t error = platform::GetLastError();
  return FileExistsFromAttributes(attributes, error, [&path] {
    platform::FoundFile found;
    return platform::FindFirstFile(path, found) &&
           (found.attributes & platform::kAttrDirectory) == 0;
  });
}

bool DirectoryExists(const std::string& path) {
  const uint32_t attributes = platform::GetFileAttributes(path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kAttrDirectory) != 0;
}

bool ForceDirectories(const std::string& folder) {
  if (folder.empty()) throw EInOutError("Verzeichnis kann nicht erstellt werden", 3);
  const std::string dir = WithoutTrailingDelims(folder);
  if (IsRoot(dir) || DirectoryExists(dir)) return true;
  // A bare relative name has no parent to make: the current folder is there.
  const std::string parent = FolderOf(dir);
  if (!parent.empty()) ForceDirectories(parent);
  if (platform::CreateDirectory(dir)) return true;
  // Another process (a second copy of the program) may have made it in the meantime.
  return DirectoryExists(dir);
}

bool DeleteFileRetry(const std::string& path, const RetryPolicy& policy) {
  // Neither the test nor the delete raises: every failure is a quiet one.
  for (int i = 1;; ++i) {
    if (!FileExists(path) || platform::DeleteFile(path) || !FileExists(path)) return true;
    if (i >= policy.attempts) return false;
    // A file that the host holds open cannot be deleted for a moment: wait for it like for an
    // error, so the attempts cover the whole ten seconds instead of a few microseconds.
    policy.Pause();
  }
}

void SaveListRetry(const std::vector<std::string>& lines, const std::string& path,
                   const RetryPolicy& policy) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  RetryCall(policy, [&] {
    const std::string folder = FolderOf(path);
    if (!folder.empty()) ForceDirectories(folder);
    TFileStream file(path, fmCreate);
    file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  });
}

void LoadListRetry(std::vector<std::string>& lines, const std::string& path,
                   const RetryPolicy& policy) {
  RetryCall(policy, [&] {
    if (!FileExists(path)) return;
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    lines = SplitLines(FileTextToAnsi(file.ReadRest()));
  });
}

std::string FileTextToAnsi(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return Utf8ToAnsi(bytes.substr(3));
  if (bytes.substr(0, 2) == "\xFF\xFE") return Utf16ToAnsi(bytes.substr(2), true);
  if (bytes.substr(0, 2) == "\xFE\xFF") return Utf16ToAnsi(bytes.substr(2), false);
  return std::string(bytes);
}

std::string IncludePathDelimiter(const std::string& folder) {
  if (folder.empty()) return folder;
  const char last = folder.back();
  if (last == kDelim) return folder;
  if constexpr (kDriveLetters) {
    if (last == ':') return folder;
    if (folder.size() == 1 && ((last >= 'A' && last <= 'Z') || (last >= 'a' && last <= 'z'))) {
      return folder + ':' + kDelim;
    }
  }
  return folder + kDelim;
}

std::string ExpandUNCFileName(const std::string& path) {
  std::string full = platform::GetFullPathName(path);
  if (full.empty()) return path;
  std::string universal;
  return platform::GetUniversalName(full, universal) ? universal : full;
}

void SetUserModeFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(user_mode_mutex);
  if (folder == CurrentUserModeFolder()) return;
  const std::string target = IncludePathDelimiter(folder) + kUserModeFileName;
  const std::string source = IncludePathDelimiter(platform::ProgramFolder()) + kUserModeFileName;
  if (!FileExists(target) && FileExists(source)) {
    // Without the copy the placement starts from its defaults, which is acceptable.
    platform::CopyFile(source, target, true);
  }
  user_mode_folder = folder;
}

std::string UserModeFile() {
  std::lock_guard<std::mutex> lock(user_mode_mutex);
  return IncludePathDelimiter(CurrentUserModeFolder()) + kUserModeFileName;
}

}  // namespace rb

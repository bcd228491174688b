#include "live/Notes.h"

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "platform/System.h"
#include "util/Errors.h"
#include "util/Streams.h"

namespace rb::live {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t cut = path.rfind(platform::kPathDelim);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace

int TNotes::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const size_t eq = lines_[i].find('=');
    if (eq != std::string::npos &&
        platform::SameTextIgnoringCase(std::string_view(lines_[i]).substr(0, eq), name))
      return static_cast<int>(i);
  }
  return -1;
}

std::string TNotes::Value(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : lines_[i].substr(lines_[i].find('=') + 1);
}

void TNotes::SetValue(std::string_view name, const std::string& value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) lines_.erase(lines_.begin() + i);
    return;
  }
  std::string line = std::string(name) + "=" + value;
  if (i >= 0)
    lines_[i] = std::move(line);
  else
    lines_.push_back(std::move(line));
}

void TNotes::Load(const std::string& path, const RetryPolicy& policy) {
  LoadListRetry(lines_, path, policy);
}

void TNotes::Save(const std::string& path, const RetryPolicy& policy) const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  RetryCall(policy, [&] {
    const std::string folder = FolderOf(path);
    if (!folder.empty()) ForceDirectories(folder);
    // The new notes go to a file of their own first: a program that dies while writing then
    // leaves a stray temporary file instead of a half-written notes file.
    const std::string temp =
        path + "." + std::to_string(ElfHash(platform::NewGuid().ToText36())) + ".tmp";
    try {
      {
        TFileStream file(temp, fmCreate);
        file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
      }
      if (!platform::MoveFileReplace(temp, path)) {
        const uint32_t code = platform::GetLastError();
        throw EFCreateError("Cannot create file \"" + path + "\". " +
                            platform::SysErrorMessage(code));
      }
    } catch (...) {
      platform::DeleteFile(temp);
      throw;
    }
  });
}

std::string NotesFileName(const std::string& db_path, const std::string& link_uid) {
  return db_path + "Rechenmappe" + platform::kPathDelim + link_uid + ".txt";
}

bool IsUsableLinkUid(std::string_view link_uid) {
  if (link_uid.empty() || link_uid == "." || link_uid == "..") return false;
  return link_uid.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace rb::live

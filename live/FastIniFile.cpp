#include "live/FastIniFile.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "platform/CodePage.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Streams.h"
#include "util/Text.h"

namespace rb::live {

namespace {

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// A name that would not read back as itself once written into a line.
bool IsBadName(std::string_view name, std::string_view forbidden) {
  return name.empty() || TrimBlanks(name) != name || HasLineBreak(name) ||
         name.find_first_of(forbidden) != std::string_view::npos;
}

}  // namespace

TFastIniFile::TFastIniFile(const std::string& file_name) : file_name_(file_name) {
  try {
    TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
    Parse(file.ReadRest());
  } catch (const Exception& e) {
    preamble_.clear();
    sections_.clear();
    if (FileExists(file_name)) read_error_ = e.what();
  }
}

TFastIniFile TFastIniFile::FromText(std::string_view text) {
  TFastIniFile ini;
  ini.Parse(text);
  return ini;
}

void TFastIniFile::Parse(std::string_view bytes) {
  const std::string decoded = FileTextToAnsi(bytes);
  std::string_view text = decoded;
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    std::string_view raw = text.substr(0, end);
    if (end == std::string_view::npos) {
      text = {};
    } else {
      // CR LF is one break; a lone CR or LF is one too.
      if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
      text.remove_prefix(end + 1);
    }
    Line line{std::string(raw), {}, {}};
    const std::string_view trimmed = TrimBlanks(raw);
    if (!trimmed.empty() && trimmed.front() == '[') {
      const size_t close = trimmed.find(']');
      const std::string_view name =
          trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
      sections_.push_back({std::string(TrimBlanks(name)), {std::move(line)}});
      continue;
    }
    const size_t eq = trimmed.find('=');
    if (!trimmed.empty() && trimmed.front() != ';' && eq != std::string_view::npos) {
      line.key = std::string(TrimBlanks(trimmed.substr(0, eq)));
      line.value = std::string(TrimBlanks(trimmed.substr(eq + 1)));
    }
    if (sections_.empty()) {
      preamble_.push_back(std::move(line));
    } else {
      sections_.back().lines.push_back(std::move(line));
    }
  }
}

const TFastIniFile::Line* TFastIniFile::Find(std::string_view section, std::string_view key) const {
  for (const Section& s : sections_) {
    if (!platform::SameTextIgnoringCase(s.name, section)) continue;
    for (const Line& line : s.lines) {
      if (!line.key.empty() && platform::SameTextIgnoringCase(line.key, key)) return &line;
    }
  }
  return nullptr;
}

std::string TFastIniFile::ReadString(std::string_view section, std::string_view key,
                                     const std::string& default_value) const {
  const Line* line = Find(section, key);
  return line ? line->value : default_value;
}

int TFastIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int default_value) const {
  const Line* line = Find(section, key);
  if (!line) return default_value;
  std::string_view s = line->value;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  // from_chars takes a minus sign but no plus; a second sign is not a number.
  if (s.empty() || s.front() == '+') return default_value;
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  if (ec != std::errc() || end != s.data() + s.size()) return default_value;
  return value;
}

void TFastIniFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
  if (IsBadName(section, "]") || IsBadName(key, "=") || key.front() == '[' || key.front() == ';' ||
      HasLineBreak(value)) {
    throw Exception("Cannot write the INI entry [" + std::string(section) + "] " +
                    std::string(key));
  }
  const std::string stored(TrimBlanks(value));
  for (Section& s : sections_) {
    if (!platform::SameTextIgnoringCase(s.name, section)) continue;
    for (Line& line : s.lines) {
      if (!line.key.empty() && platform::SameTextIgnoringCase(line.key, key)) {
        line.value = stored;
        line.raw = line.key + "=" + stored;
        return;
      }
    }
  }
  Line line{std::string(key) + "=" + stored, std::string(key), stored};
  for (Section& s : sections_) {
    if (!platform::SameTextIgnoringCase(s.name, section)) continue;
    // After the section's last line with content, so that blank lines keep separating it
    // from the next section.
    size_t at = s.lines.size();
    while (at > 1 && TrimBlanks(s.lines[at - 1].raw).empty())
      --at;
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    return;
  }
  const std::string name(section);
  sections_.push_back({name, {Line{"[" + name + "]", {}, {}}, std::move(line)}});
}

void TFastIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

std::string TFastIniFile::Text() const {
  std::string text;
  for (const Line& line : preamble_)
    text += line.raw + "\r\n";
  for (const Section& s : sections_) {
    for (const Line& line : s.lines)
      text += line.raw + "\r\n";
  }
  return text;
}

void TFastIniFile::UpdateFile() const {
  if (!read_error_.empty()) throw EFOpenError(read_error_);
  const std::string text = Text();
  TFileStream file(file_name_, fmCreate);
  file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

}  // namespace rb::live

#include "util/IniFile.h"

#include <charconv>
#include <limits>

#include "platform/CodePage.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Streams.h"
#include "util/Text.h"

namespace rb {

namespace {}  // namespace

TIniFile::TIniFile(const std::string& path) {
  try {
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    Parse(file.ReadRest());
  } catch (const Exception&) {
    // A settings file that cannot be read is as good as none.
  }
}

TIniFile TIniFile::FromText(std::string_view text) {
  TIniFile ini;
  ini.Parse(text);
  return ini;
}

void TIniFile::Parse(std::string_view text) {
  const std::string decoded = FileTextToAnsi(text);
  text = decoded;
  std::string section;
  bool in_section = false;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    std::string_view line = TrimBlanks(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      section = std::string(
          TrimBlanks(line.substr(1, close == std::string_view::npos ? close : close - 1)));
      sections_.push_back(section);
      in_section = true;
      continue;
    }
    const size_t eq = line.find('=');
    if (!in_section || eq == std::string_view::npos) continue;
    std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    entries_.push_back({section, std::string(TrimBlanks(line.substr(0, eq))), std::string(value)});
  }
}

const TIniFile::Entry* TIniFile::Find(std::string_view section, std::string_view key) const {
  for (const Entry& e : entries_) {
    if (platform::SameTextIgnoringCase(e.section, section) &&
        platform::SameTextIgnoringCase(e.key, key))
      return &e;
  }
  return nullptr;
}

bool TIniFile::SectionExists(std::string_view section) const {
  for (const std::string& s : sections_) {
    if (platform::SameTextIgnoringCase(s, section)) return true;
  }
  return false;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& default_value) const {
  const Entry* e = Find(section, key);
  return e ? e->value : default_value;
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int default_value) const {
  const Entry* e = Find(section, key);
  if (!e) return default_value;
  std::string_view s = e->value;
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.front() == '-' || s.front() == '+') return default_value;
  int64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return default_value;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    return default_value;
  }
  return static_cast<int>(value);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

}  // namespace rb

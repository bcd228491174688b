// A read-only INI file in the way GetPrivateProfileString reads one:
//   [Section]          section and key names match without regard to case
//   Key = value        blanks around names and values are dropped; "quoted" or 'quoted'
//   ; comment          values lose their quotes; lines without '=' are ignored
// The first occurrence of a key wins. Text is 8-bit in the system code page; a file that an
// editor saved as UTF-8 or UTF-16 with a byte order mark is decoded into it (FileTextToAnsi).
//
// Reading never fails: a missing or unreadable file is an empty INI file, and a number that
// cannot be read gives the default. The object owns a copy of the file's entries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rb {

class TIniFile {
 public:
  TIniFile() = default;
  // Reads the file now; see above for failures.
  explicit TIniFile(const std::string& path);
  static TIniFile FromText(std::string_view text);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& default_value) const;
  // Decimal with an optional sign, or hexadecimal after "$" or "0x"; anything else, an
  // empty value or a number outside the 32-bit range gives default_value.
  int ReadInteger(std::string_view section, std::string_view key, int default_value) const;
  // An integer: 0 is false, any other number true.
  bool ReadBool(std::string_view section, std::string_view key, bool default_value) const;

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  void Parse(std::string_view text);
  const Entry* Find(std::string_view section, std::string_view key) const;

  std::vector<std::string> sections_;
  std::vector<Entry> entries_;
};

}  // namespace rb

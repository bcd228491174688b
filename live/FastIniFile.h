// An INI file held whole in memory: read once, changed in memory, written back whole by
// UpdateFile. Everything the program does not touch survives a round trip: other sections and
// keys keep their order and spelling, comments and odd lines stay where they were.
//
//   [MODE]                      section lines in square brackets
//   dgdview.Width=595           key=value; blanks around key and value are dropped on reading
//   ; a comment                 kept as it stands
//
// Section and key names match without regard to case (Windows-1252 letters included); of keys
// written twice the first counts, for reading and for writing. A key not yet present is added
// at the end of its section, a section not yet present at the end of the file. Text is 8-bit
// in the system code page; a file saved as UTF-8 or UTF-16 with a byte order mark is decoded
// into it (FileTextToAnsi). Lines are written with CR LF.
//
//   file "[a]\nX=1\n[MODE]\ndgdview.Width=9\n"  WriteInteger("mode", "DGDVIEW.WIDTH", 600)
//   -> UpdateFile writes "[a]\r\nX=1\r\n[MODE]\r\ndgdview.Width=600\r\n"
//
// Failures: reading never fails. A missing file is an empty one; so is a file that exists but
// cannot be read (locked, no permission) -- but UpdateFile then refuses to write it and raises
// that open error, because writing only what this object holds would wipe out the entries it
// could not read. UpdateFile raises EFCreateError / EWriteError when the file cannot be written.
// Write* raise rb::Exception for a section, key or value that could not be read back as
// written (a line break anywhere, '=' in a key, ']' in a section, an empty name).
//
// One object per thread; the object does not lock the file between reading and writing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rb::live {

class TFastIniFile {
 public:
  // An empty INI file without a name (UpdateFile fails: there is nothing to create).
  TFastIniFile() = default;
  // Reads the file now; see above for failures.
  explicit TFastIniFile(const std::string& file_name);
  // The entries of text, without a file name.
  static TFastIniFile FromText(std::string_view text);

  const std::string& FileName() const { return file_name_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& default_value) const;
  // A decimal integer with an optional sign and nothing else, within 32 bits; anything else,
  // an empty value included, gives default_value.
  int ReadInteger(std::string_view section, std::string_view key, int default_value) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);

  // The file's text as UpdateFile writes it.
  std::string Text() const;
  // Creates or overwrites the file with Text().
  void UpdateFile() const;

 private:
  struct Line {
    std::string raw;  // the line as it is written
    std::string key;  // empty: no key=value line (comment, blank, stray text)
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;  // the section line itself is lines[0]
  };

  void Parse(std::string_view text);
  const Line* Find(std::string_view section, std::string_view key) const;

  std::string file_name_;
  std::string read_error_;      // why an existing file could not be read
  std::vector<Line> preamble_;  // lines before the first section
  std::vector<Section> sections_;
};

}  // namespace rb::live

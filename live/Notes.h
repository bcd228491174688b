// The per-order notes: a small text file of name=value lines that keeps the project sums the
// user typed for an order ("PN" net, "PB" gross), so that the next invoice of the same order
// shows them again. Other lines of the file are kept as they are.
//
//   TNotes notes;                         // lines "PN=100" "PB=119,00" "Kommentar=x"
//   notes.Value("pn")       -> "100"      // names ignore case; the first line with the name
//   notes.SetValue("PB", "")              // removes the PB line
//   notes.SetValue("XY", "1")             // appends "XY=1"
//
// Files: NotesFileName joins the data folder and the order's link id as the host names them
// ("<DbPath>Rechenmappe\<LinkUid>.txt", no delimiter added after DbPath). Load and Save retry
// while another process holds the file (RetryPolicy) and raise the last attempt's error. Save
// writes a new file beside the old one and renames it over the old one, so the file holds the
// old or the new notes whatever moment the program dies at.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/Files.h"

namespace rb::live {

class TNotes {
 public:
  const std::vector<std::string>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }

  // The text after the first '=' of the first line whose name matches; "" when there is none.
  std::string Value(std::string_view name) const;
  // Replaces the first matching line, appends one, or (for an empty value) removes the line.
  void SetValue(std::string_view name, const std::string& value);

  // Replaces the lines with the file's; a missing file leaves them unchanged.
  void Load(const std::string& path, const RetryPolicy& policy = {});
  // Creates the folder when missing; see the file's contract for the replacement.
  void Save(const std::string& path, const RetryPolicy& policy = {}) const;

 private:
  int IndexOfName(std::string_view name) const;

  std::vector<std::string> lines_;
};

// "<db_path>Rechenmappe\<link_uid>.txt" with the platform's delimiter.
std::string NotesFileName(const std::string& db_path, const std::string& link_uid);

// Whether a link id can name a notes file: a link id with a path delimiter, a NUL, or one that
// is "." or ".." would read or write outside the notes folder, and the view treats it as none.
bool IsUsableLinkUid(std::string_view link_uid);

}  // namespace rb::live

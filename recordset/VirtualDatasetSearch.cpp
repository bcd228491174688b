#include "recordset/VirtualDatasetSearch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>

#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "util/DayNumbers.h"
#include "util/Variant.h"

namespace rb {

namespace {

std::array<unsigned char, 256> g_upper{};
std::atomic<bool> g_upper_ready{false};
std::once_flag g_upper_once;

const std::array<unsigned char, 256>& UpperTable() {
  if (!g_upper_ready.load(std::memory_order_acquire)) InitUpperCaseTable();
  return g_upper;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads 1 to 4 digits; false when there are none or the text goes on with a fifth.
bool ReadSmallNumber(std::string_view& text, int max_digits, int& value) {
  int n = 0;
  value = 0;
  while (n < static_cast<int>(text.size()) && IsDigit(text[n])) {
    if (++n > max_digits) return false;
    value = value * 10 + (text[n - 1] - '0');
  }
  if (n == 0) return false;
  text.remove_prefix(static_cast<size_t>(n));
  return true;
}

bool Expect(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

bool ReadDatePart(std::string_view& text, int64_t& day) {
  int d, m, y;
  std::string_view t = text;
  if (!ReadSmallNumber(t, 2, d) || !Expect(t, '.') || !ReadSmallNumber(t, 2, m) || !Expect(t, '.'))
    return false;
  size_t before = t.size();
  // Four-digit years only: "1.2.24" is not taken for the year 24.
  if (!ReadSmallNumber(t, 4, y) || before - t.size() != 4) return false;
  using namespace std::chrono;
  const std::optional<int64_t> number = DayOfDate(year{y} / month{static_cast<unsigned>(m)} /
                                                  std::chrono::day{static_cast<unsigned>(d)});
  if (y < 1 || !number) return false;
  day = *number;
  text = t;
  return true;
}

bool ReadTimePart(std::string_view& text, int64_t& ms) {
  int h, n, s = 0;
  std::string_view t = text;
  if (!ReadSmallNumber(t, 2, h) || !Expect(t, ':') || !ReadSmallNumber(t, 2, n)) return false;
  if (Expect(t, ':') && !ReadSmallNumber(t, 2, s)) return false;
  if (h > 23 || n > 59 || s > 59) return false;
  text = t;
  ms = ((h * 60LL + n) * 60 + s) * 1000;
  return true;
}

// Fixed bytes are searched like integers: their text, cut to the word for a partial key.
bool IsIntegerLike(TFieldType t) {
  return ValueClassOf(t) == TValueClass::kInteger || t == ftBytes;
}

}  // namespace

void InitUpperCaseTable() {
  std::call_once(g_upper_once, [] {
    for (int c = 0; c < 256; ++c)
      g_upper[static_cast<size_t>(c)] = platform::AnsiUpper(static_cast<unsigned char>(c));
    g_upper_ready.store(true, std::memory_order_release);
  });
}

unsigned char SearchUpperCase(unsigned char c) {
  return UpperTable()[c];
}

std::vector<std::string> SplitSearchWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;  // "" is a word of its own
    } else if (!quoted && (c == ',' || IsBlank(c))) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto& up = UpperTable();
  for (size_t i = 0; i < a.size(); ++i)
    if (up[static_cast<unsigned char>(a[i])] != up[static_cast<unsigned char>(b[i])]) return false;
  return true;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  if (text.empty() || word.empty()) return false;
  const auto& up = UpperTable();
  auto it = std::search(text.begin(), text.end(), word.begin(), word.end(), [&up](char x, char y) {
    return up[static_cast<unsigned char>(x)] == up[static_cast<unsigned char>(y)];
  });
  return it != text.end();
}

std::optional<long double> ReadSearchNumber(std::string_view word) {
  std::string_view t = TrimBlanks(word);
  char decimal = platform::UserLocale().decimal;
  std::string text(t);
  for (char& c : text) {
    if (c == decimal) {
      c = '.';
    } else if (c == '.') {
      return std::nullopt;  // a point is not the decimal separator here (a grouping, maybe)
    }
  }
  long double value = 0;
  if (!ParseDecimalNumber(text, value)) return std::nullopt;
  return value;
}

std::optional<double> ReadSearchDateTime(std::string_view word, TDayAndTime* split) {
  std::string_view t = TrimBlanks(word);
  if (t.empty()) return std::nullopt;
  int64_t day = 0, ms = 0;
  bool has_date = ReadDatePart(t, day);
  if (has_date && !t.empty()) {
    if (!IsBlank(t.front())) return std::nullopt;
    t = TrimBlanks(t);
  }
  if ((!has_date || !t.empty()) && !ReadTimePart(t, ms)) return std::nullopt;
  if (!t.empty()) return std::nullopt;
  if (split != nullptr) *split = TDayAndTime{day, ms};
  return DayNumberOf(day, ms);
}

std::optional<bool> ReadSearchBoolean(std::string_view word) {
  std::string_view t = TrimBlanks(word);
  if (t.empty()) return false;
  if (SameTextIgnoringCase(t, "true")) return true;
  if (SameTextIgnoringCase(t, "false")) return false;
  if (auto n = ReadSearchNumber(t)) return *n != 0;
  return std::nullopt;
}

bool WordMatchesField(const TField& field, const std::string& word,
                      const TVirtualDataSet::TTransformTextEvent& transform,
                      TLocateOptions options) {
  const bool partial = (options & loPartialKey) != 0;
  const bool ignore_case = (options & loCaseInsensitive) != 0;
  TFieldType type = field.DataType();
  if (type == ftString || type == ftFixedChar || type == ftBlob || type == ftMemo) {
    std::string text = field.AsString();
    if (partial) {
      if (transform) text = transform(text);
      return ContainsIgnoringCase(text, word);
    }
    return ignore_case ? SameTextIgnoringCase(text, word) : text == word;
  }
  if (IsIntegerLike(type)) {
    if (field.IsNull()) return false;  // no number: see the header
    std::string text = field.AsString();
    if (partial && text.size() > word.size()) text.resize(word.size());
    return ignore_case ? SameTextIgnoringCase(text, word) : text == word;
  }
  switch (ValueClassOf(type)) {
    case TValueClass::kBoolean: {
      std::optional<bool> wanted = ReadSearchBoolean(word);
      return wanted && *wanted == (!field.IsNull() && field.AsBoolean());
    }
    // A word that is not a number or date matches no number or date field: read as 0, any
    // text word would find every zero amount.
    case TValueClass::kFloat: {
      if (field.IsNull()) return false;
      // Both kept as doubles: the field's value must be the word's number, not merely round to
      // the same ten-thousandths.
      std::optional<long double> wanted = ReadSearchNumber(word);
      return wanted && field.AsFloat() == static_cast<double>(*wanted);
    }
    case TValueClass::kDate: {
      if (field.IsNull()) return false;
      // Compared as date and millisecond of the day: before day 0 the time counts forward
      // from midnight like every other day's.
      TDayAndTime wanted;
      if (!ReadSearchDateTime(word, &wanted)) return false;
      return SplitDayNumber(field.AsFloat()) == wanted;
    }
    default:  // BCD, bytes, the other blobs and the structured types never match
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// The record set's search

std::vector<TField*> TVirtualDataSet::SearchFields(const std::string& field_names) {
  std::vector<TField*> fields;
  if (TrimBlanks(field_names) == "*") {
    for (auto& field : fields_)
      fields.push_back(field.get());
    return fields;
  }
  std::string_view rest = field_names;
  while (!rest.empty()) {
    size_t end = rest.find(';');
    std::string_view name = TrimBlanks(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!name.empty()) fields.push_back(FieldByName(std::string(name)));
  }
  return fields;
}

bool TVirtualDataSet::RecordMatches(const std::vector<TField*>& fields,
                                    const std::vector<std::string>& words,
                                    const TTransformTextEvent& transform, TLocateOptions options) {
  for (const std::string& word : words) {
    bool any = std::any_of(fields.begin(), fields.end(), [&](const TField* field) {
      return WordMatchesField(*field, word, transform, options);
    });
    if (!any) return false;
  }
  return true;
}

bool TVirtualDataSet::SearchRecords(const std::string& field_names, const std::string& key_values,
                                    int maximum, TVirtualDataSet* target,
                                    const TTransformTextEvent& transform, TLocateOptions options) {
  CheckBrowseMode();
  if (provider_->RecordCount() == 0) return false;
  if (target == this)
    throw EDatabaseError(
        "Die Zieldatenmenge einer Suche darf nicht die durchsuchte Datenmenge sein");
  std::vector<TField*> fields = SearchFields(field_names);
  std::vector<std::string> words = SplitSearchWords(key_values);
  std::string key_text;  // stands in for the words when there are none
  if (transform) {
    for (std::string& word : words)
      word = transform(word);
    key_text = transform(key_values);
  }
  if (words.empty()) words.push_back(key_text);

  const TBookmark saved = GetBookmark();
  auto saved_index = active_.current ? active_.index : -1;
  DisableControls();
  bool matched = false;
  bool appended = false;
  try {
    provider_->GoBeforeFirst();
    while (provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmNext) ==
           TCustomDataProvider::TGetResult::grOK) {
      matched = RecordMatches(fields, words, transform, options);
      if (!matched) continue;
      if (target == nullptr) break;
      target->Append();
      try {
        int n = std::min(FieldCount(), target->FieldCount());
        for (int i = 0; i < n; ++i)
          AssignFieldValue(target->Fields(i), Fields(i));
        target->Post();
      } catch (...) {
        target->Cancel();
        throw;
      }
      appended = true;
      if (maximum > 0 && target->RecordCount() >= maximum) break;
    }
  } catch (...) {
    if (!BookmarkValid(saved) || !ShowRecordQuietly(saved_index)) ShowRecordQuietly(0);
    EnableControls();
    throw;
  }
  bof_ = eof_ = false;
  if (!matched && BookmarkValid(saved)) ShowRecordQuietly(saved_index);
  EnableControls();
  Fire(AfterScroll);
  // With a target the walk usually runs to the last record, so whether that one matched says
  // nothing about the copies made: report whether any record was copied.
  return target != nullptr ? appended : matched;
}

bool TVirtualDataSet::Locate(const std::string& field_names, const std::string& key_values,
                             TLocateOptions options) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  bool found = SearchRecords(field_names, key_values, 0, nullptr, OnTransformText, options);
  if (found) {
    DataSetChanged();
    Fire(AfterScroll);
  }
  return found;
}

bool TVirtualDataSet::Locate(const std::string& field_names, const TVariant& key_values,
                             TLocateOptions options) {
  std::string text =
      key_values.IsNull() || key_values.IsEmpty() ? std::string() : key_values.ToString();
  return Locate(field_names, text, options);
}

}  // namespace rb

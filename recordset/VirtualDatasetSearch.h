// The pieces of the record set's word search (TVirtualDataSet::Locate and SearchRecords):
// splitting the key text into words, reading a word as a number, date or Boolean, and
// deciding whether one word matches one field of the current record.
//
// Texts are 8-bit (Windows-1252); "ignoring case" goes through the upper-case table of
// InitUpperCaseTable, so "\xE4" (a umlaut) meets "\xC4". Nothing here raises for bad words: a
// word that is not a number, date or Boolean simply reads as none. Pure functions apart from
// the field read; safe on any thread for distinct record sets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recordset/UVirtualDataset.h"
#include "util/DayNumbers.h"

namespace rb {

// Words separated by commas or blanks; a double quote starts or ends a quoted part, in which
// commas and blanks belong to the word. Empty unquoted pieces are dropped; "" is an empty
// word. An unclosed quote runs to the end.
//   a, b  "c d"e  ->  a | b | c de
std::vector<std::string> SplitSearchWords(std::string_view text);

// Equal, ignoring case through the upper-case table.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
// Whether word occurs in text, ignoring case; false when either is empty.
bool ContainsIgnoringCase(std::string_view text, std::string_view word);

// A decimal number with the user locale's decimal separator (as the record set writes float
// values), optional sign and exponent, blanks around it allowed; none for anything else.
std::optional<long double> ReadSearchNumber(std::string_view word);
// "dd.mm.yyyy", "hh:nn:ss" (or "hh:nn") or both separated by blanks, leading zeros optional, as
// a day number (util/DayNumbers.h) with the time as its fraction; none for anything else, an
// impossible date or time included. The date and the time of day in whole milliseconds go to
// split when it is not null (the comparisons use them).
std::optional<double> ReadSearchDateTime(std::string_view word, TDayAndTime* split = nullptr);
// "true"/"false" in any case, or a number (not 0: true); the empty word is false.
std::optional<bool> ReadSearchBoolean(std::string_view word);

// Whether word matches field's value in the current record (options: loCaseInsensitive,
// loPartialKey). transform, when set, is applied to a text field's value for a partial key.
// A null number field (integer-like, float, currency, date or time) holds no number and matches
// no word, the empty word included: read as 0 or as the empty text it would find every zero or
// every empty row. A null Boolean reads as false.
bool WordMatchesField(const TField& field, const std::string& word,
                      const TVirtualDataSet::TTransformTextEvent& transform,
                      TLocateOptions options);

}  // namespace rb

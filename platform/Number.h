// Reading a decimal number into a long double with the type's whole precision and range on every
// platform. libstdc++'s std::from_chars for long double goes through double on mingw-w64 (no
// locale-independent strtold there), which loses digits and calls 1e4000 out of range; this is
// the one place that knows.
//
// Same contract as std::from_chars(first, last, value) in the general format: the longest prefix
// of [first, last) that is a decimal number ("-12.5e3"; no '+', no blanks, no "inf"/"nan", no
// hexadecimal) is read. ec is std::errc() on success, std::errc::invalid_argument when no number
// begins at first (value unchanged), std::errc::result_out_of_range when the number overflows or
// underflows the type (value unchanged). ptr points past the number (or at first when none).
// Independent of the C locale; safe on any thread.
#pragma once

#include <charconv>

namespace platform {

std::from_chars_result ParseLongDouble(const char* first, const char* last, long double& value);

}  // namespace platform

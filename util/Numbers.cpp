#include "util/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "platform/Number.h"
#include "platform/System.h"
#include "util/IniFile.h"

namespace rb {

namespace {

TNumberSettings current_settings;

std::string WithLeadingBlank(std::string symbol) {
  if (!symbol.empty() && symbol.front() != ' ') symbol.insert(symbol.begin(), ' ');
  return symbol;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// value rounded to two decimals as sign, integer digits (no leading zeros, "" for 0) and the two
// decimals. Halfway cases round away from zero on the value's shortest decimal form, the digits
// that print back as the same double: 2.675 (binary 2.67499999...) gives 2.68 and 0.125 gives
// 0.13, as a bookkeeper rounds the amount written on paper.
struct RoundedAmount {
  bool negative = false;
  std::string integer;
  char decimals[2] = {'0', '0'};
};

RoundedAmount RoundToHundredths(double value) {
  char buffer[400];  // the longest fixed form of a double has 309 integer digits
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  const size_t point = text.find('.');
  std::string digits(text.substr(0, point));  // integer digits, then two decimals
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  for (size_t i = 0; i < 2; ++i)
    digits += i < fraction.size() ? fraction[i] : '0';
  if (fraction.size() > 2 && fraction[2] >= '5') {
    size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9')
      digits[--i] = '0';
    if (i == 0) {
      digits.insert(digits.begin(), '1');
    } else {
      ++digits[i - 1];
    }
  }
  RoundedAmount out;
  out.decimals[0] = digits[digits.size() - 2];
  out.decimals[1] = digits[digits.size() - 1];
  digits.resize(digits.size() - 2);
  const size_t first = digits.find_first_not_of('0');
  out.integer = first == std::string::npos ? std::string() : digits.substr(first);
  // An amount that rounds to zero is shown without a sign.
  out.negative =
      value < 0 && (!out.integer.empty() || out.decimals[0] != '0' || out.decimals[1] != '0');
  return out;
}

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// The amount's text from its sign, integer digits ("" for 0) and two decimals.
std::string Compose(bool negative, std::string_view integer, char decimal1, char decimal2,
                    bool grouped) {
  const TNumberSettings& s = current_settings;
  std::string out;
  if (negative) out += '-';
  if (grouped) {
    if (integer.empty()) integer = "0";
    for (size_t i = 0; i < integer.size(); ++i) {
      if (i > 0 && (integer.size() - i) % 3 == 0) out += s.ThousandSeparator;
      out += integer[i];
    }
  } else {
    out += integer;
  }
  out += s.DecimalSeparator;
  out += decimal1;
  out += decimal2;
  return out;
}

// The cents of magnitude (>= 0) when one multiplication settles them, that is when
// magnitude * 100 lies clearly away from the nearest half: the shortest decimal form of the
// value and the value itself then round to the same cent. Both differ from the product by at
// most 2^-52 of it (half an ulp each), far inside the margin. Values near a half (2.675, whose
// shortest form is written with the half) are left to the exact rounding. The table build
// formats two amounts for every row, and this keeps them off the general decimal conversion.
bool CentsFast(double magnitude, uint64_t& cents) {
  if (!(magnitude < 1e15)) return false;
  const double scaled = magnitude * 100;
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) <= scaled * 0x1p-48) return false;
  cents = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  return true;
}

std::string Format(double value, bool grouped) {
  if (!std::isfinite(value)) return NonFinite(value);
  uint64_t cents = 0;
  if (CentsFast(std::fabs(value), cents)) {
    // Written from the end: the decimals, the separator, the integer digits in groups, the sign.
    const TNumberSettings& s = current_settings;
    char buffer[32];  // cents < 10^17: at most 15 integer digits, 4 group separators
    char* p = std::end(buffer);
    *--p = static_cast<char>('0' + cents % 10);
    *--p = static_cast<char>('0' + cents / 10 % 10);
    *--p = s.DecimalSeparator;
    uint64_t integer = cents / 100;
    if (integer != 0 || grouped) {
      for (int digits = 0; digits == 0 || integer != 0; ++digits) {
        if (grouped && digits > 0 && digits % 3 == 0) *--p = s.ThousandSeparator;
        *--p = static_cast<char>('0' + integer % 10);
        integer /= 10;
      }
    }
    // An amount that rounds to zero is shown without a sign.
    if (value < 0 && cents != 0) *--p = '-';
    return std::string(p, std::end(buffer));
  }
  const RoundedAmount r = RoundToHundredths(value);
  return Compose(r.negative, r.integer, r.decimals[0], r.decimals[1], grouped);
}

}  // namespace

const TNumberSettings& NumberSettings() {
  return current_settings;
}

void SetNumberSettings(const TNumberSettings& settings) {
  current_settings = settings;
}

TNumberSettings NumberSettingsFromIni(const TIniFile& ini) {
  TNumberSettings s;
  std::string euro = " \x80";
  const std::string euro_value = ini.ReadString("EUCHAR", "VALUE", "");
  if (!euro_value.empty()) euro = euro_value;
  if (ini.ReadBool("EUCHAR", "NULL", false)) euro.clear();
  std::string swiss = ini.ReadString("CH-CHAR", "VALUE", "");
  if (swiss.empty()) swiss = " CHF";

  if (ini.ReadBool("COUNTRY", "EURO", true)) {
    s.DecimalSeparator = ',';
    s.ThousandSeparator = '.';
    s.CurrencyString = WithLeadingBlank(euro);
    s.FiveHundredthsRounding = false;
  } else {
    s.DecimalSeparator = '.';
    s.ThousandSeparator = '\'';
    s.CurrencyString = WithLeadingBlank(swiss);
    s.FiveHundredthsRounding = true;
  }
  s.SingleAmountsFiveRappen = ini.ReadBool("COUNTRY", "EINZELNOT5RAPPEN", false);
  const int third = ini.ReadInteger("COUNTRY", "NACHKOMMA3", 0);
  s.ThirdDecimalMode = third == 1 || third == 4 ? third : 0;
  return s;
}

void InitNumberSettings() {
  const std::string folder = platform::ProgramFolder();
  SetNumberSettings(folder.empty() ? TNumberSettings()
                                   : NumberSettingsFromIni(TIniFile(folder + "RUZEVED.INI")));
}

long double TextToNumber(std::string_view text) {
  const char decimal = current_settings.DecimalSeparator;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ')
    ++i;
  std::string normal;  // the number in the notation from_chars reads
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') normal += '-';
    ++i;
  }
  size_t digits = 0;
  bool seen_decimal = false;
  for (; i < n; ++i) {
    if (IsDigit(text[i])) {
      normal += text[i];
      ++digits;
    } else if (text[i] == decimal && !seen_decimal) {
      normal += '.';
      seen_decimal = true;
    } else {
      break;
    }
  }
  if (digits == 0) return 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    normal += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    size_t exponent_digits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++exponent_digits)
      normal += text[i];
    if (exponent_digits == 0) return 0;
  }
  while (i < n && text[i] == ' ')
    ++i;
  if (i != n) return 0;
  long double value = 0;
  const auto [end, ec] =
      platform::ParseLongDouble(normal.data(), normal.data() + normal.size(), value);
  // Out of range: too large to be an amount, or so small that it is 0 anyway.
  if (ec != std::errc() || end != normal.data() + normal.size()) return 0;
  return value;
}

double RoundToFiveHundredths(double x) {
  if (!current_settings.FiveHundredthsRounding) return x;
  return x >= 0 ? std::trunc(x * 20 + 0.5) / 20 : std::trunc(x * 20 - 0.5) / 20;
}

double NetToGross(double net, double rate) {
  return RoundToFiveHundredths(net + rate * (net / 100));
}

double GrossToNet(double gross, double rate) {
  if (rate + 100 == 0) return 0;
  return RoundToFiveHundredths(gross * 100 / (rate + 100));
}

std::vector<std::string> SplitText(std::string_view separator, std::string_view text,
                                   int max_pieces, int final_length) {
  std::vector<std::string> pieces;
  if (text.empty() || max_pieces < 0) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
  } else {
    size_t start = 0;
    for (;;) {
      if (max_pieces > 0 && pieces.size() + 1 == static_cast<size_t>(max_pieces)) {
        pieces.emplace_back(text.substr(start));
        break;
      }
      const size_t found = text.find(separator, start);
      if (found == std::string_view::npos) {
        pieces.emplace_back(text.substr(start));
        break;
      }
      pieces.emplace_back(text.substr(start, found - start));
      start = found + separator.size();
      if (start == text.size()) break;  // a trailing separator ends the list
    }
  }
  if (final_length > 0) pieces.resize(static_cast<size_t>(final_length));
  return pieces;
}

std::string FormatAmount(double value) {
  return Format(value, true);
}

std::string FormatAmountPlain(double value) {
  return Format(value, false);
}

}  // namespace rb

#include "util/Variant.h"

#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/Ascii.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "platform/Number.h"
#include "util/DayNumbers.h"
#include "util/Errors.h"
#include "util/Text.h"

namespace rb {

namespace {

[[noreturn]] void CastError(VarType from, VarType to) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "Could not convert variant of type (%s) into type (%s)",
                VarTypeName(from), VarTypeName(to));
  throw EVariantTypeCastError(buf);
}

[[noreturn]] void OverflowError(VarType from, VarType to) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "Range check error while converting variant of type (%s) into type (%s)",
                VarTypeName(from), VarTypeName(to));
  throw EVariantOverflowError(buf);
}

char DecimalSeparator() {
  return platform::UserLocale().decimal;
}

// A number as the source of a conversion: exact integers stay integers, currency stays scaled.

// Formats with the given significant digits, exponent form as Windows writes it ("1E+20").
std::string FormatFloat(double value, int digits) {
  if (value == 0) return "0";  // also -0
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
  std::string out(buf, r.ptr);
  const char sep = DecimalSeparator();
  for (char& c : out) {
    if (c == 'e') c = 'E';
    if (c == '.') c = sep;
  }
  return out;
}

std::string FormatCurrency(int64_t cy) {
  const bool negative = cy < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cy) : static_cast<uint64_t>(cy);
  std::string out;
  if (negative) out += '-';
  out += std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
  while (!fraction.empty() && fraction.back() == '0')
    fraction.pop_back();
  if (!fraction.empty()) out += DecimalSeparator() + fraction;
  return out;
}

// A day number (util/DayNumbers.h) as the short date, with the time to the second when it is
// not midnight.
std::string FormatDate(double days) {
  using namespace std::chrono;
  const std::optional<TDayAndTime> split = SplitDayNumber(days, 1000);
  if (!split) return FormatFloat(days, 15);  // beyond any calendar date
  const year_month_day ymd = DateOfDay(split->day);
  const int64_t seconds = split->time;
  char buf[64];
  // The locale tells the program only its separators; a decimal comma stands for the German
  // short date (dd.mm.yyyy), anything else for the English one (m/d/yyyy).
  const bool german = DecimalSeparator() == ',';
  if (german) {
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04d", unsigned(ymd.day()), unsigned(ymd.month()),
                  int(ymd.year()));
  } else {
    std::snprintf(buf, sizeof buf, "%u/%u/%04d", unsigned(ymd.month()), unsigned(ymd.day()),
                  int(ymd.year()));
  }
  std::string out = buf;
  if (seconds > 0) {
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    out += buf;
  }
  return out;
}

// Rounds ten-thousandths to whole units, ties to even.
int64_t CurrencyToWhole(int64_t cy) {
  int64_t q = cy / 10000;
  const int64_t r = cy % 10000;
  const int64_t half = r < 0 ? -r : r;
  if (half > 5000 || (half == 5000 && q % 2 != 0)) q += r < 0 ? -1 : 1;
  return q;
}

bool IsTextType(VarType t) {
  return t == VarType::kOleStr || t == VarType::kString;
}

}  // namespace

// A value on its way to a number, Boolean or date kind, in the form it came in.
struct TVariant::Number {
  enum Form { kInt, kFloat, kCurrency } form = kInt;
  int64_t i = 0;
  double d = 0;
};

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::kEmpty:
      return "Empty";
    case VarType::kNull:
      return "Null";
    case VarType::kSmallint:
      return "Smallint";
    case VarType::kInteger:
      return "Integer";
    case VarType::kSingle:
      return "Single";
    case VarType::kDouble:
      return "Double";
    case VarType::kCurrency:
      return "Currency";
    case VarType::kDate:
      return "Date";
    case VarType::kOleStr:
      return "OleStr";
    case VarType::kBoolean:
      return "Boolean";
    case VarType::kByte:
      return "Byte";
    case VarType::kString:
      return "String";
  }
  return "Unknown";
}

bool ParseDecimalNumber(std::string_view text, long double& value) {
  size_t i = 0;
  const size_t n = text.size();
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t start = i;
  // Decimal position of the first significant digit, for telling overflow from underflow.
  long magnitude = 0;
  bool significant = false;
  auto is_digit = [&](size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
  if (!is_digit(i)) return false;
  for (; is_digit(i); ++i) {
    if (significant) {
      ++magnitude;
    } else if (text[i] != '0') {
      significant = true;
      magnitude = 1;
    }
  }
  if (i < n && text[i] == '.') {
    if (!is_digit(++i)) return false;
    for (; is_digit(i); ++i) {
      if (!significant) {
        if (text[i] != '0')
          significant = true;
        else
          --magnitude;
      }
    }
  }
  long exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    if (!is_digit(i)) return false;
    for (; is_digit(i); ++i)
      exponent = std::min(exponent * 10 + (text[i] - '0'), 100000000L);
    if (exp_negative) exponent = -exponent;
  }
  if (i != n) return false;
  long double v = 0;
  auto r = platform::ParseLongDouble(text.data() + start, text.data() + n, v);
  if (r.ec == std::errc::result_out_of_range) {
    if (significant && magnitude + exponent > 0) return false;
    v = 0;
  } else if (r.ec != std::errc() || r.ptr != text.data() + n) {
    return false;
  }
  value = negative ? -v : v;
  return true;
}

TVariant TVariant::Null() {
  TVariant v;
  v.type_ = VarType::kNull;
  return v;
}

TVariant TVariant::OfInt(VarType type, int64_t value) {
  TVariant v;
  v.type_ = type;
  v.int_ = value;
  return v;
}

TVariant TVariant::OfFloat(VarType type, double value) {
  TVariant v;
  v.type_ = type;
  v.float_ = value;
  return v;
}

TVariant TVariant::FromBoolean(bool value) {
  return OfInt(VarType::kBoolean, value ? -1 : 0);
}

TVariant TVariant::FromByte(uint8_t value) {
  return OfInt(VarType::kByte, value);
}

TVariant TVariant::FromSmallint(int16_t value) {
  return OfInt(VarType::kSmallint, value);
}

TVariant TVariant::FromInteger(int32_t value) {
  return OfInt(VarType::kInteger, value);
}

TVariant TVariant::FromSingle(float value) {
  return OfFloat(VarType::kSingle, value);
}

TVariant TVariant::FromDouble(double value) {
  return OfFloat(VarType::kDouble, value);
}

TVariant TVariant::FromCurrency(int64_t ten_thousandths) {
  return OfInt(VarType::kCurrency, ten_thousandths);
}

TVariant TVariant::FromDate(double days) {
  return OfFloat(VarType::kDate, days);
}

TVariant TVariant::FromWide(std::u16string text) {
  TVariant v;
  v.type_ = VarType::kOleStr;
  v.wide_ = std::move(text);
  return v;
}

TVariant TVariant::FromString(std::string text) {
  TVariant v;
  v.type_ = VarType::kString;
  v.text_ = std::move(text);
  return v;
}

TVariant TVariant::ByRef(const TVariant& target) {
  TVariant v;
  v.ref_ = &target;
  return v;
}

bool TVariant::IsNumeric() const {
  switch (Type()) {
    case VarType::kBoolean:
    case VarType::kByte:
    case VarType::kSmallint:
    case VarType::kInteger:
    case VarType::kSingle:
    case VarType::kDouble:
    case VarType::kCurrency:
      return true;
    default:
      return false;
  }
}

bool TVariant::IsText() const {
  return IsTextType(Type());
}

TVariant TVariant::ChangeType(VarType to) const {
  const TVariant& s = Target();
  const VarType from = s.type_;

  if (to == VarType::kEmpty) return TVariant();
  if (to == VarType::kNull) {
    if (from == VarType::kNull || from == VarType::kEmpty) return Null();
    CastError(from, to);
  }
  if (from == VarType::kNull) CastError(from, to);
  if (IsTextType(to)) return s.ChangeToText(to);
  return FromNumber(s.ToNumber(to), from, to);
}

// To UTF-16 or 8-bit text: texts convert through the code page, numbers are written with the
// locale's decimal separator, dates as short dates.
TVariant TVariant::ChangeToText(VarType to) const {
  std::string text;
  switch (type_) {
    case VarType::kEmpty:
      break;
    case VarType::kOleStr:
      if (to == VarType::kOleStr) return FromWide(wide_);
      return FromString(platform::WideToAnsi(wide_));
    case VarType::kString:
      if (to == VarType::kString) return FromString(text_);
      return FromWide(platform::AnsiToWide(text_));
    case VarType::kSingle:
      text = FormatFloat(static_cast<float>(float_), 7);
      break;
    case VarType::kDouble:
      text = FormatFloat(float_, 15);
      break;
    case VarType::kDate:
      text = FormatDate(float_);
      break;
    case VarType::kCurrency:
      text = FormatCurrency(int_);
      break;
    default:
      text = std::to_string(int_);
      break;
  }
  return to == VarType::kString ? FromString(std::move(text))
                                : FromWide(platform::AnsiToWide(text));
}

// This value (not null) as a number on its way to the kind to: text is read with the locale's
// decimal separator, and the words true and false count for a Boolean.
TVariant::Number TVariant::ToNumber(VarType to) const {
  Number num;
  switch (type_) {
    case VarType::kEmpty:
      break;
    case VarType::kSingle:
    case VarType::kDouble:
    case VarType::kDate:
      num.form = Number::kFloat;
      num.d = float_;
      break;
    case VarType::kCurrency:
      num.form = Number::kCurrency;
      num.i = int_;
      break;
    case VarType::kOleStr:
    case VarType::kString: {
      if (to == VarType::kDate) CastError(type_, to);
      const std::string raw = type_ == VarType::kString ? text_ : platform::WideToAnsi(wide_);
      std::string text(TrimBlanks(raw));
      if (to == VarType::kBoolean) {
        if (platform::EqualsIgnoringAsciiCase(text, "true")) return Number{Number::kInt, -1, 0};
        if (platform::EqualsIgnoringAsciiCase(text, "false")) return Number{Number::kInt, 0, 0};
      }
      const char sep = DecimalSeparator();
      const size_t at = text.find(sep);
      if (sep != '.') {
        if (text.find('.') != std::string::npos) CastError(type_, to);
        if (at != std::string::npos) text[at] = '.';
      }
      long double v = 0;
      if (!ParseDecimalNumber(text, v)) CastError(type_, to);
      if (std::fabs(v) > DBL_MAX) OverflowError(type_, to);
      num.form = Number::kFloat;
      num.d = static_cast<double>(v);
      break;
    }
    default:
      num.i = int_;
      break;
  }
  return num;
}

// A number, Boolean or date of kind to made from num; from names the source kind in errors.
TVariant TVariant::FromNumber(const Number& num, VarType from, VarType to) {
  auto as_double = [&] {
    switch (num.form) {
      case Number::kInt:
        return static_cast<double>(num.i);
      case Number::kCurrency:
        return static_cast<double>(num.i) / 10000.0;
      case Number::kFloat:
        break;
    }
    return num.d;
  };
  // Rounds to a whole number in [lo, hi], ties to even.
  auto as_whole = [&](int64_t lo, int64_t hi) -> int64_t {
    int64_t w = 0;
    if (num.form == Number::kInt) {
      w = num.i;
    } else if (num.form == Number::kCurrency) {
      w = CurrencyToWhole(num.i);
    } else {
      const double r = std::nearbyint(num.d);
      if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) OverflowError(from, to);
      w = static_cast<int64_t>(r);
    }
    if (w < lo || w > hi) OverflowError(from, to);
    return w;
  };

  switch (to) {
    case VarType::kBoolean:
      return FromBoolean(num.form == Number::kFloat ? num.d != 0 : num.i != 0);
    case VarType::kByte:
      return FromByte(static_cast<uint8_t>(as_whole(0, 255)));
    case VarType::kSmallint:
      return FromSmallint(static_cast<int16_t>(as_whole(-32768, 32767)));
    case VarType::kInteger:
      return FromInteger(static_cast<int32_t>(as_whole(INT32_MIN, INT32_MAX)));
    case VarType::kSingle: {
      const double d = as_double();
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) OverflowError(from, to);
      return FromSingle(static_cast<float>(d));
    }
    case VarType::kDouble:
      return FromDouble(as_double());
    case VarType::kDate:
      return FromDate(as_double());
    case VarType::kCurrency: {
      constexpr int64_t kMaxWhole = INT64_MAX / 10000;
      if (num.form == Number::kCurrency) return FromCurrency(num.i);
      if (num.form == Number::kInt) {
        if (num.i > kMaxWhole || num.i < -kMaxWhole) OverflowError(from, to);
        return FromCurrency(num.i * 10000);
      }
      const double r = std::nearbyint(num.d * 10000.0);
      if (!(r > -9.2233720368547758e18 && r < 9.2233720368547758e18)) OverflowError(from, to);
      return FromCurrency(static_cast<int64_t>(r));
    }
    default:
      break;
  }
  CastError(from, to);
}

bool TVariant::ToBoolean() const {
  return ChangeType(VarType::kBoolean).int_ != 0;
}

int32_t TVariant::ToInteger() const {
  return static_cast<int32_t>(ChangeType(VarType::kInteger).int_);
}

double TVariant::ToDouble() const {
  return ChangeType(VarType::kDouble).float_;
}

int64_t TVariant::ToCurrency() const {
  return ChangeType(VarType::kCurrency).int_;
}

std::u16string TVariant::ToWide() const {
  const TVariant& s = Target();
  if (s.type_ == VarType::kOleStr) return s.wide_;
  return ChangeType(VarType::kOleStr).wide_;
}

std::string TVariant::ToString() const {
  const TVariant& s = Target();
  if (s.type_ == VarType::kString) return s.text_;
  return ChangeType(VarType::kString).text_;
}

}  // namespace rb

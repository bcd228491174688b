// TVariant: a tagged value carrying numbers, text and Booleans into and out of the JSON value
// classes. A variant may instead refer to another one (ByRef); every test of the kind and every
// conversion follows that reference first. The referred-to variant must outlive the reference.
//
// Conversions behave like the platform's variant coercion under the user's default locale with
// no flags (platform/Locale.h gives the decimal separator):
//   - numbers become text with the locale's decimal separator, no digit grouping and up to 15
//     significant digits (7 for a single), switching to exponent form for large and small
//     magnitudes: 2.5 -> "2,5" (German), 1e20 -> "1E+20", 1e-10 -> "1E-10";
//   - a Boolean is the number -1 or 0, and the text "-1" or "0";
//   - text becomes a number when it reads as an optionally signed decimal number with the
//     locale's separator and an optional exponent, blanks around it allowed; digit grouping is
//     refused, so "2.5" under a German locale fails rather than reading as 25 the way Windows'
//     grouping-tolerant parse would; text becomes a Boolean when it is "True" or "False" (any
//     case) or such a number;
//   - conversion to an integer kind rounds to nearest, ties to even;
//   - a date is its day number (from 30 December 1899) as a number, and the short date of the
//     locale, with the time when it has one, as text; text does not convert to a date.
// Failure shows as an exception: EVariantTypeCastError
// ("Could not convert variant of type (Null) into type (Double)") for a conversion that is not
// possible, EVariantOverflowError
// ("Range check error while converting variant of type (Double) into type (Integer)") for a value
// outside the target's range. A failed conversion leaves the variant unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rb {

// The kinds, with Windows' type numbers.
enum class VarType : uint16_t {
  kEmpty = 0,
  kNull = 1,
  kSmallint = 2,
  kInteger = 3,
  kSingle = 4,
  kDouble = 5,
  kCurrency = 6,
  kDate = 7,
  kOleStr = 8,
  kBoolean = 11,
  kByte = 17,
  kString = 0x100,
};

// The type names used in conversion errors: "Empty", "Null", "Boolean", "Byte", "Smallint",
// "Integer", "Single", "Double", "Currency", "Date", "OleStr", "String".
const char* VarTypeName(VarType type);

class TVariant {
 public:
  TVariant() = default;  // empty

  static TVariant Null();
  static TVariant FromBoolean(bool value);
  static TVariant FromByte(uint8_t value);
  static TVariant FromSmallint(int16_t value);
  static TVariant FromInteger(int32_t value);
  static TVariant FromSingle(float value);
  static TVariant FromDouble(double value);
  // A count of ten-thousandths: 12345 is 1.2345.
  static TVariant FromCurrency(int64_t ten_thousandths);
  static TVariant FromDate(double days);
  static TVariant FromWide(std::u16string text);
  // 8-bit text in the system code page.
  static TVariant FromString(std::string text);
  // Refers to target, which must outlive the result.
  static TVariant ByRef(const TVariant& target);

  // The kind after following a reference.
  VarType Type() const { return Target().type_; }
  bool IsByRef() const { return ref_ != nullptr; }
  bool IsNull() const { return Type() == VarType::kNull; }
  bool IsEmpty() const { return Type() == VarType::kEmpty; }
  // Boolean, byte, the integer kinds, single, double and currency (not date).
  bool IsNumeric() const;
  // UTF-16 or 8-bit text.
  bool IsText() const;

  // A new variant of the given kind holding this value (never a reference).
  TVariant ChangeType(VarType type) const;

  bool ToBoolean() const;
  int32_t ToInteger() const;
  double ToDouble() const;
  int64_t ToCurrency() const;
  std::u16string ToWide() const;
  std::string ToString() const;

 private:
  struct Number;
  // The three steps of ChangeType: to text, to a number, and from a number to its kind.
  TVariant ChangeToText(VarType to) const;
  Number ToNumber(VarType to) const;
  static TVariant FromNumber(const Number& num, VarType from, VarType to);

  static TVariant OfInt(VarType type, int64_t value);
  static TVariant OfFloat(VarType type, double value);

  const TVariant& Target() const { return ref_ != nullptr ? ref_->Target() : *this; }

  VarType type_ = VarType::kEmpty;
  const TVariant* ref_ = nullptr;
  int64_t int_ = 0;   // Boolean (-1/0), byte, smallint, integer, currency
  double float_ = 0;  // single, double, date
  std::u16string wide_;
  std::string text_;
};

// Reads "[+|-]digits[.digits][(E|e)[+|-]digits]" (a point, whatever the locale) as the nearest
// long double. False when the text is not such a number or the value is too large for long
// double; a value too small for it becomes zero.
bool ParseDecimalNumber(std::string_view text, long double& value);

}  // namespace rb

// The record set's fields: type classes and widths, field definitions, and the conversion of a
// field's value to and from every other kind.
#include "recordset/UVirtualDataset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Locale.h"
#include "recordset/VirtualDatasetInternal.h"
#include "util/DayNumbers.h"

namespace rb {

using namespace dataset_internal;

// ---------------------------------------------------------------------------------------------
// Types and definitions

int FieldValueWidth(TFieldType type, int size) {
  size = std::max(size, 0);  // as the field keeps it
  switch (type) {
    case ftString:
    case ftFixedChar:
      return size + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftLargeint:
      return 8;
    case ftBCD:
      return 34;
    case ftBytes:
      return size;
    case ftVarBytes:
      return size + 2;
    case ftWideString:
      return 2 * size + 2;
    case ftADT:
      return 0;
    default:
      return -1;
  }
}

void TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  if (name.empty()) throw EDatabaseError("Feldname fehlt");
  items_.push_back(TFieldDef{name, type, size, required});
}

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TVirtualDataSet& dataset, std::string name, TFieldType type, int size,
               TFieldKind kind)
    : dataset_(dataset),
      name_(std::move(name)),
      type_(type),
      size_(std::max(size, 0)),
      kind_(kind) {}

uint8_t* TField::MutableSlot(TRecordBuffer& buffer) const {
  if (offset_ < 0) return nullptr;
  return (IsCalculated() ? buffer.calculated.data() : buffer.WritableValues()) + offset_;
}

const uint8_t* TField::Slot() const {
  using S = TDataSetState;
  S s = dataset_.State();
  // Calculated values exist only while a record is shown, edited or being calculated.
  if (IsCalculated() &&
      !(s == S::dsBrowse || s == S::dsEdit || s == S::dsInsert || s == S::dsCalcFields))
    return nullptr;
  const TRecordBuffer* buffer = dataset_.GetActiveBuffer();
  if (buffer == nullptr || offset_ < 0) return nullptr;
  return (IsCalculated() ? buffer->calculated.data() : buffer->Values()) + offset_;
}

const std::string* TField::Blob() const {
  if (blob_index_ < 0) return nullptr;
  const TRecordBuffer* buffer = dataset_.GetActiveBuffer();
  if (buffer == nullptr) return nullptr;
  return &buffer->blobs[blob_index_];
}

bool TField::IsNull() const {
  if (IsBlobType(type_)) {
    const std::string* blob = Blob();
    return blob == nullptr || blob->empty();
  }
  const uint8_t* slot = Slot();
  if (slot == nullptr || slot[0] == 0) return true;
  if (IsTextType(type_)) return size_ == 0 || slot[1] == 0;
  return false;
}

namespace {
template <typename T>
T Load(const uint8_t* slot) {
  T value;
  std::memcpy(&value, slot + 1, sizeof value);
  return value;
}
}  // namespace

void TField::ConvertError(const std::string& type_name) const {
  throw EDatabaseError("Feld '" + DisplayName() + "' kann nicht als Typ " + type_name +
                       " verwendet werden");
}

// The stored integer of an integer-class field, by its width. REQUIRES: not null.
int64_t TField::StoredInteger() const {
  const uint8_t* s = Slot();
  switch (type_) {
    case ftSmallint:
      return Load<int16_t>(s);
    case ftWord:
      return Load<uint16_t>(s);
    case ftLargeint:
      return Load<int64_t>(s);
    default:  // ftInteger, ftAutoInc
      return Load<int32_t>(s);
  }
}

// The day number of a date-class field, by its unit. REQUIRES: not null.
double TField::StoredDate() const {
  const uint8_t* s = Slot();
  switch (type_) {
    case ftDate:
      return Load<int32_t>(s);
    case ftTime:
      return Load<int32_t>(s) / static_cast<double>(kMillisecondsPerDay);
    default:  // ftDateTime
      return Load<double>(s);
  }
}

int64_t TField::AsLargeInt() const {
  if (IsNull()) return 0;
  switch (ValueClassOf(type_)) {
    case TValueClass::kInteger:
      return StoredInteger();
    case TValueClass::kBoolean:
      return Load<int16_t>(Slot()) != 0 ? 1 : 0;
    case TValueClass::kFixed:
      return ToIntegral<int64_t>(Load<int64_t>(Slot()) / 10000.0L, *this);
    case TValueClass::kFloat:
    case TValueClass::kDate:
      return ToIntegral<int64_t>(AsFloat(), *this);
    default: {
      int64_t v = 0;
      std::string text = AsString();
      if (!ParseInteger(text, v))
        throw EConvertError("'" + text + "' ist kein g\xFCltiger Integerwert");
      return v;
    }
  }
}

// The reads that a walk over query results makes most (an integer, a float, a day number, a
// text, each from a field of its own kind) look the value's slot up once; the general paths
// below ask for it again in each step of a conversion.

int32_t TField::AsInteger() const {
  if (type_ == ftInteger || type_ == ftAutoInc) {
    const uint8_t* s = Slot();
    return s == nullptr || s[0] == 0 ? 0 : Load<int32_t>(s);
  }
  if (IsNull()) return 0;
  switch (ValueClassOf(type_)) {
    case TValueClass::kFloat:
    case TValueClass::kFixed:
    case TValueClass::kDate:
      return ToIntegral<int32_t>(AsFloat(), *this);
    default:
      return IntegerInRange<int32_t>(AsLargeInt(), *this);
  }
}

double TField::AsFloat() const {
  if (type_ == ftFloat || type_ == ftCurrency || type_ == ftDateTime) {
    const uint8_t* s = Slot();
    return s == nullptr || s[0] == 0 ? 0.0 : Load<double>(s);
  }
  if (IsNull()) return 0.0;
  switch (ValueClassOf(type_)) {
    case TValueClass::kFloat:
      return Load<double>(Slot());
    case TValueClass::kFixed:
      return static_cast<double>(Load<int64_t>(Slot()) / 10000.0L);
    case TValueClass::kDate:
      return StoredDate();
    case TValueClass::kInteger:
    case TValueClass::kBoolean:
      return static_cast<double>(AsLargeInt());
    default: {
      long double v = 0;
      std::string text = AsString();
      if (!ParseFloat(text, v))
        throw EConvertError("'" + text + "' ist kein g\xFCltiger Gleitkommawert");
      return static_cast<double>(v);
    }
  }
}

double TField::AsCurrency() const {
  return AsFloat();
}

int64_t TField::AsFixed() const {
  if (IsNull()) return 0;
  if (ValueClassOf(type_) == TValueClass::kFixed) return Load<int64_t>(Slot());
  return ToIntegral<int64_t>(static_cast<long double>(AsFloat()) * 10000.0L, *this);
}

bool TField::AsBoolean() const {
  if (IsNull()) return false;
  switch (ValueClassOf(type_)) {
    case TValueClass::kBoolean:
      return Load<int16_t>(Slot()) != 0;
    case TValueClass::kText:
    case TValueClass::kBlob: {
      std::string t = AnsiLowerName(AsString());
      if (t == "true") return true;
      if (t == "false") return false;
      throw EConvertError("'" + AsString() + "' ist kein g\xFCltiger boolescher Wert");
    }
    default:
      return AsFloat() != 0.0;
  }
}

double TField::AsDateTime() const {
  if (type_ == ftDateTime) return AsFloat();
  if (IsNull()) return 0.0;
  const TValueClass c = ValueClassOf(type_);
  if (c == TValueClass::kDate || c == TValueClass::kFloat) return AsFloat();
  ConvertError("DateTime");
}

std::string TField::AsString() const {
  if (type_ == ftString || type_ == ftFixedChar) {
    const uint8_t* s = Slot();
    if (s == nullptr || s[0] == 0 || size_ == 0) return {};
    const char* text = reinterpret_cast<const char*>(s + 1);
    return std::string(text, strnlen(text, static_cast<size_t>(size_)));
  }
  if (IsBlobType(type_)) {
    const std::string* blob = Blob();
    return blob ? *blob : std::string();
  }
  if (IsNull()) return {};
  const uint8_t* s = Slot();
  switch (ValueClassOf(type_)) {
    case TValueClass::kText: {
      const char* text = reinterpret_cast<const char*>(s + 1);
      return std::string(text, strnlen(text, static_cast<size_t>(size_)));
    }
    case TValueClass::kBytes: {
      if (type_ == ftBytes) {
        return std::string(reinterpret_cast<const char*>(s + 1), static_cast<size_t>(size_));
      }
      uint16_t n = Load<uint16_t>(s);  // ftVarBytes: its length first
      n = static_cast<uint16_t>(std::min<int>(n, size_));
      return std::string(reinterpret_cast<const char*>(s + 3), n);
    }
    case TValueClass::kBoolean:
      return AsBoolean() ? "True" : "False";
    case TValueClass::kFloat:
      return FloatText(AsFloat());
    case TValueClass::kFixed: {
      int64_t v = Load<int64_t>(s);
      uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      std::string text = v < 0 ? "-" : "";
      text += std::to_string(mag / 10000);
      auto frac = static_cast<unsigned>(mag % 10000);
      if (frac != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u", frac);
        std::string f = digits;
        while (!f.empty() && f.back() == '0')
          f.pop_back();
        text += platform::UserLocale().decimal + f;
      }
      return text;
    }
    case TValueClass::kDate:
      return DateTimeText(type_, AsFloat());
    case TValueClass::kInteger:
      return std::to_string(AsLargeInt());
    default:
      return {};
  }
}

void TField::StoreBytes(const void* data, int count) {
  dataset_.CheckWritable(*this);
  TRecordBuffer* buffer = dataset_.GetActiveBuffer();
  if (buffer == nullptr || offset_ < 0) return;
  uint8_t* slot = MutableSlot(*buffer);
  int width = FieldValueWidth(type_, size_);
  std::memset(slot, 0, static_cast<size_t>(width) + 1);
  if (count >= 0) {
    slot[0] = 1;
    std::memcpy(slot + 1, data, static_cast<size_t>(std::min(count, width)));
  }
  dataset_.FieldChanged(this);
}

void TField::StoreBlob(const std::string& bytes) {
  dataset_.CheckWritable(*this);
  TRecordBuffer* buffer = dataset_.GetActiveBuffer();
  if (buffer == nullptr) return;
  buffer->blobs[blob_index_] = bytes;
  dataset_.FieldChanged(this);
}

void TField::Clear() {
  if (IsBlobType(type_)) {
    StoreBlob({});
  } else {
    StoreBytes(nullptr, -1);
  }
}

// Stores an integer-class value at the field's width; out of range raises the range error.
void TField::StoreInteger(int64_t value) {
  switch (type_) {
    case ftSmallint: {
      auto v = IntegerInRange<int16_t>(value, *this);
      StoreBytes(&v, sizeof v);
      return;
    }
    case ftWord: {
      auto v = IntegerInRange<uint16_t>(value, *this);
      StoreBytes(&v, sizeof v);
      return;
    }
    case ftLargeint:
      StoreBytes(&value, sizeof value);
      return;
    default: {  // ftInteger, ftAutoInc
      auto v = IntegerInRange<int32_t>(value, *this);
      StoreBytes(&v, sizeof v);
      return;
    }
  }
}

void TField::SetAsLargeInt(int64_t value) {
  switch (ValueClassOf(type_)) {
    case TValueClass::kInteger:
      StoreInteger(value);
      return;
    case TValueClass::kBoolean:
      SetAsBoolean(value != 0);
      return;
    case TValueClass::kFixed:
      SetAsFixed(ToIntegral<int64_t>(static_cast<long double>(value) * 10000.0L, *this));
      return;
    case TValueClass::kFloat:
    case TValueClass::kDate:
      SetAsFloat(static_cast<double>(value));
      return;
    default:
      SetAsString(std::to_string(value));
  }
}

void TField::SetAsInteger(int32_t value) {
  SetAsLargeInt(value);
}

void TField::SetAsFloat(double value) {
  switch (ValueClassOf(type_)) {
    case TValueClass::kFloat:
      StoreBytes(&value, sizeof value);
      return;
    case TValueClass::kFixed:
      SetAsFixed(ToIntegral<int64_t>(static_cast<long double>(value) * 10000.0L, *this));
      return;
    case TValueClass::kDate:
      SetAsDateTime(value);
      return;
    case TValueClass::kInteger:
    case TValueClass::kBoolean:
      SetAsLargeInt(ToIntegral<int64_t>(value, *this));
      return;
    default:
      SetAsString(FloatText(value));
  }
}

void TField::SetAsCurrency(double value) {
  SetAsFixed(ToIntegral<int64_t>(static_cast<long double>(value) * 10000.0L, *this));
}

void TField::SetAsFixed(int64_t ten_thousandths) {
  if (ValueClassOf(type_) == TValueClass::kFixed) {
    StoreBytes(&ten_thousandths, sizeof ten_thousandths);
  } else {
    SetAsFloat(static_cast<double>(ten_thousandths / 10000.0L));
  }
}

void TField::SetAsBoolean(bool value) {
  switch (ValueClassOf(type_)) {
    case TValueClass::kBoolean: {
      int16_t v = value ? 1 : 0;
      StoreBytes(&v, sizeof v);
      return;
    }
    case TValueClass::kText:
    case TValueClass::kBlob:
      SetAsString(value ? "True" : "False");
      return;
    default:
      SetAsLargeInt(value ? 1 : 0);
  }
}

void TField::SetAsDateTime(double value) {
  switch (ValueClassOf(type_)) {
    case TValueClass::kDate:
      if (type_ == ftDate) {
        auto v = ToIntegral<int32_t>(std::trunc(value), *this);
        StoreBytes(&v, sizeof v);
      } else if (type_ == ftTime) {
        if (!std::isfinite(value)) RangeError(FloatText(value), *this);
        const int32_t v = TimeOfDayMilliseconds(value);
        StoreBytes(&v, sizeof v);
      } else {
        StoreBytes(&value, sizeof value);
      }
      return;
    case TValueClass::kFloat:
      StoreBytes(&value, sizeof value);
      return;
    case TValueClass::kText:
    case TValueClass::kBlob:
      SetAsString(DateTimeText(ftDateTime, value));
      return;
    default:
      ConvertError("DateTime");
  }
}

void TField::SetAsString(const std::string& value) {
  switch (ValueClassOf(type_)) {
    case TValueClass::kBlob:
      StoreBlob(value);
      return;
    case TValueClass::kText:
    case TValueClass::kBytes: {
      if (type_ == ftVarBytes) {
        auto n = static_cast<uint16_t>(std::min<size_t>(value.size(), static_cast<size_t>(size_)));
        std::string bytes(2 + n, '\0');
        std::memcpy(bytes.data(), &n, 2);
        std::memcpy(bytes.data() + 2, value.data(), n);
        StoreBytes(bytes.data(), static_cast<int>(bytes.size()));
        return;
      }
      auto n = static_cast<int>(std::min<size_t>(value.size(), static_cast<size_t>(size_)));
      StoreBytes(value.data(), n);  // the rest of the slot stays zero: the terminator
      return;
    }
    case TValueClass::kBoolean: {
      std::string t = AnsiLowerName(value);
      if (value.empty()) {
        Clear();
      } else if (t == "true" || t == "false") {
        SetAsBoolean(t == "true");
      } else {
        throw EConvertError("'" + value + "' ist kein g\xFCltiger boolescher Wert");
      }
      return;
    }
    case TValueClass::kInteger: {
      int64_t v = 0;
      if (value.empty()) {
        Clear();
      } else if (ParseInteger(value, v)) {
        SetAsLargeInt(v);
      } else {
        throw EConvertError("'" + value + "' ist kein g\xFCltiger Integerwert");
      }
      return;
    }
    case TValueClass::kFloat:
    case TValueClass::kFixed:
    case TValueClass::kDate: {
      long double v = 0;
      if (value.empty()) {
        Clear();
      } else if (ParseFloat(value, v)) {
        // Amounts keep four decimals, as text gives them.
        if (type_ == ftBCD || type_ == ftCurrency) {
          SetAsFixed(ToIntegral<int64_t>(v * 10000.0L, *this));
        } else {
          SetAsFloat(static_cast<double>(v));
        }
      } else {
        throw EConvertError("'" + value + "' ist kein g\xFCltiger Gleitkommawert");
      }
      return;
    }
    default:
      // Structured fields keep nothing of their own: the checks still apply, the text is dropped.
      dataset_.CheckWritable(*this);
  }
}

}  // namespace rb

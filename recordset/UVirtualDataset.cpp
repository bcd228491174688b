#include "recordset/UVirtualDataset.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <thread>

#include "json/CSVReader.h"
#include "platform/Locale.h"
#include "platform/System.h"
#include "recordset/TXFiler.h"
#include "util/Coding.h"
#include "util/DayNumbers.h"

namespace rb {

namespace {

std::string NotEditingText() {
  return "Datenmenge weder im Editier- noch im Einf\xFCgemodus";
}

[[noreturn]] void RangeError(const std::string& value, const TField& field) {
  throw EDatabaseError(value + " ist kein g\xFCltiger Wert f\xFCr das Feld '" +
                       field.DisplayName() + "'");
}

template <typename T>
T ToIntegral(long double value, const TField& field) {
  long double r = std::nearbyint(value);  // ties to even, like the platform's Round
  if (!(r >= static_cast<long double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<long double>(std::numeric_limits<T>::max()))) {
    char text[64];
    std::snprintf(text, sizeof text, "%Lg", value);
    RangeError(text, field);
  }
  return static_cast<T>(r);
}

bool IsTextType(TFieldType t) {
  return ValueClassOf(t) == TValueClass::kText;
}

std::string FloatText(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  char decimal = platform::UserLocale().decimal;
  for (char* p = text; *p; ++p)
    if (*p == '.') *p = decimal;
  return text;
}

bool ParseFloat(const std::string& text, long double& out) {
  if (text.empty()) return false;
  std::string t = text;
  char decimal = platform::UserLocale().decimal;
  for (char& c : t)
    if (c == decimal) c = '.';
  char* end = nullptr;
  out = std::strtold(t.c_str(), &end);
  while (end && *end == ' ')
    ++end;
  return end && *end == '\0' && end != t.c_str();
}

bool ParseInteger(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

// Day numbers as "dd.mm.yyyy" and "hh:nn:ss" (util/DayNumbers.h); the time is taken to the
// millisecond and shown to the second.
std::string DateTimeText(TFieldType type, double value) {
  char text[48] = "";
  const std::optional<TDayAndTime> split = SplitDayNumber(value);
  if (!split) return FloatText(value);
  const std::chrono::year_month_day date = DateOfDay(split->day);
  const int d = static_cast<int>(static_cast<unsigned>(date.day()));
  const int m = static_cast<int>(static_cast<unsigned>(date.month()));
  const int y = static_cast<int>(date.year());
  const int64_t ms = split->time;
  int hh = static_cast<int>(ms / 3600000), nn = static_cast<int>(ms / 60000 % 60),
      ss = static_cast<int>(ms / 1000 % 60);
  if (type == ftDate) {
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", d, m, y);
  } else if (type == ftTime) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hh, nn, ss);
  } else {
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", d, m, y, hh, nn, ss);
  }
  return text;
}

}  // namespace

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

TValueClass ValueClassOf(TFieldType type) {
  using C = TValueClass;
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return C::kInteger;
    case ftBoolean:
      return C::kBoolean;
    case ftFloat:
    case ftCurrency:
      return C::kFloat;
    case ftBCD:
      return C::kFixed;
    case ftDate:
    case ftTime:
    case ftDateTime:
      return C::kDate;
    case ftString:
    case ftFixedChar:
      return C::kText;
    case ftBytes:
    case ftVarBytes:
      return C::kBytes;
    default:
      return type >= ftBlob && type <= ftTypedBinary ? C::kBlob : C::kNone;
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
  return (IsCalculated() ? buffer.calculated.data() : buffer.values.data()) + offset_;
}

const uint8_t* TField::Slot() const {
  using S = TDataSetState;
  S s = dataset_.State();
  // Calculated values exist only while a record is shown, edited or being calculated.
  if (IsCalculated() &&
      !(s == S::dsBrowse || s == S::dsEdit || s == S::dsInsert || s == S::dsCalcFields))
    return nullptr;
  TRecordBuffer* buffer = dataset_.GetActiveBuffer();
  if (buffer == nullptr) return nullptr;
  return MutableSlot(*buffer);
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

int32_t TField::AsInteger() const {
  if (IsNull()) return 0;
  switch (ValueClassOf(type_)) {
    case TValueClass::kFloat:
    case TValueClass::kFixed:
    case TValueClass::kDate:
      return ToIntegral<int32_t>(AsFloat(), *this);
    default:
      return ToIntegral<int32_t>(static_cast<long double>(AsLargeInt()), *this);
  }
}

double TField::AsFloat() const {
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
  if (IsNull()) return 0.0;
  const TValueClass c = ValueClassOf(type_);
  if (c == TValueClass::kDate || c == TValueClass::kFloat) return AsFloat();
  ConvertError("DateTime");
}

std::string TField::AsString() const {
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
      std::string text = (v < 0 ? "-" : "") + std::to_string(mag / 10000);
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
      auto v = ToIntegral<int16_t>(value, *this);
      StoreBytes(&v, sizeof v);
      return;
    }
    case ftWord: {
      auto v = ToIntegral<uint16_t>(value, *this);
      StoreBytes(&v, sizeof v);
      return;
    }
    case ftLargeint:
      StoreBytes(&value, sizeof value);
      return;
    default: {  // ftInteger, ftAutoInc
      auto v = ToIntegral<int32_t>(value, *this);
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
        double frac = std::fabs(value - std::trunc(value));
        auto v = static_cast<int32_t>(std::min(std::llround(frac * 86400000.0), 86399999LL));
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

// ---------------------------------------------------------------------------------------------
// Records

uint32_t NewRecordId() {
  // The id is never compared, only carried in bookmarks, so it only has to be unique. A
  // bijective mix of a per-process random start plus a counter is unique for 2^32 records,
  // which the hash of a GUID's text (28 significant bits) is not, and costs no system call.
  static const uint32_t seed = [] {
    std::random_device rd;
    return rd() ^
           static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  static std::atomic<uint32_t> counter{0};
  uint32_t h = seed + counter.fetch_add(1, std::memory_order_relaxed);
  h ^= h >> 16;  // the finaliser of MurmurHash3: a bijection on 32 bits
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

TRecordData* TRecordData::New(int values_size, int blob_count, uint8_t creation_mode) {
  values_size = std::max(values_size, 0);
  void* memory = ::operator new(sizeof(TRecordData) + static_cast<size_t>(values_size));
  TRecordData* record;
  try {
    record = new (memory) TRecordData(values_size, blob_count, creation_mode);
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
  std::memset(record->Values(), 0, static_cast<size_t>(values_size));
  return record;
}

void TRecordData::Free(TRecordData* record) {
  if (record == nullptr) return;
  record->~TRecordData();
  ::operator delete(static_cast<void*>(record));
}

TRecordData::TRecordData(int values_size, int blob_count, uint8_t creation_mode)
    : blobs_(blob_count > 0 ? new std::string[static_cast<size_t>(blob_count)] : nullptr),
      values_size_(values_size),
      blob_count_(blob_count),
      record_id_(NewRecordId()),
      creation_mode_(creation_mode) {}

void TRecordData::Store(const TRecordBuffer& buffer, uint8_t status) {
  // A record of blob fields only has no values area (and the buffer no bytes to copy).
  size_t n = std::min<size_t>(buffer.values.size(), static_cast<size_t>(values_size_));
  if (n > 0) std::memcpy(Values(), buffer.values.data(), n);
  for (int i = 0; i < blob_count_ && i < static_cast<int>(buffer.blobs.size()); ++i)
    blobs_[i] = buffer.blobs[i];
  status_ = status;
}

void TRecordData::CopyTo(TRecordBuffer& buffer) const {
  buffer.values.assign(Values(), Values() + values_size_);
  buffer.blobs.resize(static_cast<size_t>(blob_count_));
  for (int i = 0; i < blob_count_; ++i)
    buffer.blobs[i] = blobs_[i];
  buffer.record_id = record_id_;
}

// ---------------------------------------------------------------------------------------------
// TFastList

void TFastList::Error(const char* format, int data) {
  char text[160];
  std::snprintf(text, sizeof text, format, data);
  throw EListError(text);
}

namespace {
const char kIndexError[] =
    "Der Index der Liste \xFC"
    "berschreitet das Maximum (%d)";
const char kCapacityError[] = "Die Kapazit\xE4t der Liste ist ersch\xF6pft (%d)";
const char kCountError[] = "Zu viele Eintr\xE4ge in der Liste (%d)";
}  // namespace

TRecordData* TFastList::Get(int index) const {
  if (index < 0 || index >= count_) const_cast<TFastList*>(this)->Error(kIndexError, index);
  return items_[index];
}

void TFastList::Put(int index, TRecordData* item) {
  if (index < 0 || index >= count_) Error(kIndexError, index);
  items_[index] = item;
}

int TFastList::Add(TRecordData* item) {
  if (count_ == capacity_) Grow();
  items_[count_] = item;
  return count_++;
}

void TFastList::Insert(int index, TRecordData* item) {
  if (index < 0 || index > count_) Error(kIndexError, index);
  if (count_ == capacity_) Grow();
  std::memmove(&items_[index + 1], &items_[index],
               static_cast<size_t>(count_ - index) * sizeof(TRecordData*));
  items_[index] = item;
  ++count_;
}

void TFastList::Delete(int index) {
  if (index < 0 || index >= count_) Error(kIndexError, index);
  --count_;
  std::memmove(&items_[index], &items_[index + 1],
               static_cast<size_t>(count_ - index) * sizeof(TRecordData*));
}

void TFastList::Grow() {
  int delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
  SetCapacity(capacity_ + delta);
}

void TFastList::SetCapacity(int capacity) {
  if (capacity < count_ || capacity > kMaxListSize) Error(kCapacityError, capacity);
  if (capacity == capacity_) return;
  std::unique_ptr<TRecordData*[]> items(new TRecordData*[static_cast<size_t>(capacity)]);
  if (count_ > 0)
    std::memcpy(items.get(), items_.get(), static_cast<size_t>(count_) * sizeof(TRecordData*));
  items_ = std::move(items);
  capacity_ = capacity;
}

void TFastList::SetCount(int count) {
  if (count < 0 || count > kMaxListSize) Error(kCountError, count);
  if (count > capacity_) SetCapacity(count);
  for (int i = count_; i < count; ++i)
    items_[i] = nullptr;
  count_ = count;
}

void TFastList::Clear() {
  items_.reset();
  count_ = 0;
  capacity_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Store

TCustomDataProvider::TCustomDataProvider(TVirtualDataSet& owner) : owner_(owner) {}

TCustomDataProvider::~TCustomDataProvider() {
  Clear();
}

void TCustomDataProvider::Clear() {
  for (int i = 0; i < list_.Count(); ++i)
    TRecordData::Free(list_.Get(i));
  list_.Clear();
  index_ = -1;
}

void TCustomDataProvider::SetRecordCount(int) {
  throw Exception("TCustomPacketProvider can'not SetRecordCount");
}

int TCustomDataProvider::RecNo() const {
  int count = list_.Count();
  if (count == 0) return -1;
  if (index_ == -1) return 1;
  return std::min(index_ + 1, count);
}

void TCustomDataProvider::SetRecNo(int rec_no) {
  if (rec_no < 1 || rec_no > list_.Count()) return;
  index_ = rec_no - 1;
}

void TCustomDataProvider::GotoBookmark(int index) {
  if (index < 0 || index >= list_.Count()) throw EBookMarkOutOfList("Bookmark out of List");
  index_ = index;
}

TRecordData* TCustomDataProvider::NewRecord(uint8_t mode, int position) {
  std::unique_ptr<TRecordData, TRecordData::Deleter> record(
      TRecordData::New(owner_.record_data_size_, owner_.blob_count_, mode));
  if (mode == TRecordData::kAppended) {
    list_.Add(record.get());
  } else {
    list_.Insert(position, record.get());
  }
  return record.release();
}

void TCustomDataProvider::AddRecord(const TRecordBuffer& buffer, bool append) {
  TRecordData* record;
  if (append) {
    record = NewRecord(TRecordData::kAppended, 0);
    index_ = list_.Count() - 1;
  } else {
    if (index_ < 0) index_ = 0;
    record = NewRecord(TRecordData::kInserted, std::min(index_, list_.Count()));
  }
  record->Store(buffer, TRecordData::kStoredFromInsert);
}

void TCustomDataProvider::PostBuffer(const TRecordBuffer& buffer, bool inserting) {
  if (owner_.State() == TDataSetState::dsFilter) throw EDatabaseError(NotEditingText());
  if (inserting) {
    AddRecord(buffer, index_ >= list_.Count());
  } else {
    list_.Get(index_)->Store(buffer, TRecordData::kStoredFromEdit);
  }
}

void TCustomDataProvider::DeleteCurrent() {
  TRecordData* record = list_.Get(index_);
  list_.Delete(index_);
  TRecordData::Free(record);
  if (index_ >= list_.Count()) --index_;
}

TCustomDataProvider::TGetResult TCustomDataProvider::GetRecord(TRecordBuffer& buffer,
                                                               TGetMode mode) {
  int count = list_.Count();
  switch (mode) {
    case TGetMode::gmNext:
      if (index_ >= count - 1) return TGetResult::grEOF;
      ++index_;
      break;
    case TGetMode::gmPrior:
      if (index_ <= 0) {
        index_ = -1;
        return TGetResult::grBOF;
      }
      --index_;
      break;
    case TGetMode::gmCurrent:
      if (index_ < 0 || index_ >= count) return TGetResult::grBOF;
      if (resync_) return TGetResult::grOK;
      break;
  }
  list_.Get(index_)->CopyTo(buffer);
  buffer.index = index_;
  buffer.current = true;
  owner_.CalculateFields(buffer);
  return TGetResult::grOK;
}

// ---------------------------------------------------------------------------------------------
// Field-name cache

TField* TFieldHelper::Find(const std::string& name,
                           const std::vector<std::unique_ptr<TField>>& fields) {
  TTreeItem& key = search_key_;
  key.SetName(name);
  if (tree_.Search(key)) return static_cast<TTreeItem*>(tree_.Founded())->Field();
  TField* found = nullptr;
  for (const auto& field : fields) {
    if (AnsiLowerName(field->FieldName()) == key.Name()) {
      found = field.get();
      break;
    }
  }
  tree_.Insert(std::make_unique<TTreeItem>(found, name));
  return found;
}

// ---------------------------------------------------------------------------------------------
// TVirtualDataSet

TVirtualDataSet::TVirtualDataSet(void*) {
  provider_ = CreateProvider();
}

TVirtualDataSet::~TVirtualDataSet() {
  try {
    Close();
  } catch (...) {
    // An event handler failing during destruction must not escape the destructor.
  }
  provider_.reset();
}

std::unique_ptr<TCustomDataProvider> TVirtualDataSet::CreateProvider() {
  return std::make_unique<TDataProvider>(*this);
}

void TVirtualDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Operation bei geschlossener Datenmenge nicht m\xF6glich");
}

TField& TVirtualDataSet::AddField(const std::string& name, TFieldType type, int size,
                                  TFieldKind kind) {
  if (Active())
    throw EDatabaseError(
        "Operation bei ge\xF6"
        "ffneter Datenmenge nicht m\xF6glich");
  if (fields_from_defs_) FreeFields();
  field_helper_.Clear();  // it may remember this name as a miss
  fields_.push_back(std::make_unique<TField>(*this, name, type, size, kind));
  return *fields_.back();
}

void TVirtualDataSet::FreeFields() {
  field_helper_.Clear();
  fields_.clear();
  fields_from_defs_ = false;
}

TField* TVirtualDataSet::FindField(const std::string& name) {
  return field_helper_.Find(name, fields_);
}

TField* TVirtualDataSet::FieldByName(const std::string& name) {
  TField* field = FindField(name);
  if (field == nullptr) throw EDatabaseError("Das Feld '" + name + "' wurde nicht gefunden");
  return field;
}

void TVirtualDataSet::LoadFieldDefsFromText(const std::string& text, bool open) {
  TMemoryStream stream(text);
  LoadFieldDefsFromStream(stream, open);
}

void TVirtualDataSet::LoadFieldDefsFromStream(TStream& stream, bool open) {
  stream.SetPosition(0);
  TCSVReader reader(stream, ',');
  Close();
  field_defs_.Clear();
  FreeFields();
  auto number = [](const std::string& text) {
    int64_t v = 0;
    return ParseInteger(text, v) && v >= INT32_MIN && v <= INT32_MAX ? static_cast<int>(v) : 0;
  };
  for (reader.First(); !reader.Eof(); reader.Next()) {
    std::string name = reader.Field(0);
    int type = number(reader.Field(1));
    int size = number(reader.Field(2));
    // The host reports its key column as a large integer; the program reads it as an integer.
    if (name == "ID" && size == 0) {
      field_defs_.Add(name, ftInteger, 0);
    } else {
      field_defs_.Add(name, static_cast<TFieldType>(type), size);
    }
  }
  if (open) Open();
}

void TVirtualDataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen);
  if (!fields_.empty() && !fields_from_defs_) {
    field_defs_.Clear();
    for (auto& field : fields_) {
      TFieldType t = field->DataType();
      bool storable = (t >= ftString && t <= ftTypedBinary) || (t >= ftFixedChar && t <= ftADT);
      if (field->IsCalculated()) {
        // Calculated values live in a fixed area of their own: no blobs there.
        if (!storable || IsBlobType(t))
          throw EDatabaseError("Typ f\xFCr Feld '" + field->DisplayName() + "' ist unbekannt");
        continue;
      }
      if (field->FieldKind() == TFieldKind::fkData && !storable)
        throw EDatabaseError("Typ f\xFCr Feld '" + field->DisplayName() + "' ist unbekannt");
      field_defs_.Add(field->FieldName(), t, field->Size());
    }
  } else {
    MakeFieldsFromDefs();
  }
  InitFieldLayout();
  field_helper_.Clear();
  provider_->GoBeforeFirst();
  cursor_open_ = true;
  state_ = TDataSetState::dsBrowse;
  First();
  Fire(AfterOpen);
}

void TVirtualDataSet::MakeFieldsFromDefs() {
  FreeFields();
  try {
    for (int i = 0; i < field_defs_.Count(); ++i) {
      const TFieldDef& def = field_defs_[i];
      TFieldType t = def.DataType;
      if (t <= ftUnknown || t == ftCursor || t == ftWideString || t > ftDataSet)
        throw EDatabaseError("Typ f\xFCr Feld '" + def.Name + "' ist unbekannt");
      std::string lower = AnsiLowerName(def.Name);
      for (auto& field : fields_)
        if (AnsiLowerName(field->FieldName()) == lower)
          throw EDatabaseError("Doppelter Feldname '" + def.Name + "'");
      fields_.push_back(std::make_unique<TField>(*this, def.Name, t, def.Size));
    }
  } catch (...) {
    FreeFields();
    throw;
  }
  fields_from_defs_ = true;
}

namespace {

// Sizes come from the host's definition text. These limits keep the layout's arithmetic in
// range and one record's allocation bounded; a var-bytes length is kept in 16 bits.
constexpr int kMaxFieldSize = 1 << 20;
constexpr int kMaxVarBytesSize = 0xFFFF;
constexpr int kMaxValuesSize = 16 << 20;

// The offset after a field of this type and size placed at offset; raises when the field or
// the area would be too large.
int PlaceField(const std::string& name, TFieldType type, int size, int offset) {
  bool sized = IsTextType(type) || type == ftBytes || type == ftVarBytes || type == ftWideString;
  bool too_large = (sized && size > (type == ftVarBytes ? kMaxVarBytesSize : kMaxFieldSize)) ||
                   static_cast<int64_t>(offset) + 1 + FieldValueWidth(type, size) > kMaxValuesSize;
  if (too_large)
    throw EDatabaseError(
        "Ung\xFCltige Feldgr\xF6\xDF"
        "e f\xFCr Feld '" +
        name + "'");
  return offset + 1 + FieldValueWidth(type, size);
}

}  // namespace

void TVirtualDataSet::InitFieldLayout() {
  layout_.assign(static_cast<size_t>(field_defs_.Count()), -1);
  int offset = 0;
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_[i];
    if (FieldValueWidth(def.DataType, 0) < 0) continue;  // not kept in the values area
    layout_[i] = offset;
    offset = PlaceField(def.Name, def.DataType, def.Size, offset);
  }
  record_data_size_ = offset;
  blob_count_ = 0;
  calculated_size_ = 0;
  size_t def_index = 0;
  for (auto& f : fields_) {
    TField& field = *f;
    if (field.IsCalculated()) {
      field.offset_ = calculated_size_;
      field.blob_index_ = -1;
      calculated_size_ =
          PlaceField(field.DisplayName(), field.DataType(), field.Size(), calculated_size_);
      continue;
    }
    field.offset_ = def_index < layout_.size() ? layout_[def_index] : -1;
    ++def_index;
    field.blob_index_ = IsBlobType(field.DataType()) ? blob_count_++ : -1;
  }
  ClearBuffer(active_);
}

void TVirtualDataSet::Close() {
  if (!Active()) return;
  Fire(BeforeClose);
  provider_->Clear();
  field_helper_.Clear();  // it points at fields that may be freed now
  if (fields_from_defs_) {
    fields_.clear();
    fields_from_defs_ = false;
  } else {
    for (auto& field : fields_)
      field->offset_ = field->blob_index_ = -1;
  }
  cursor_open_ = false;
  state_ = TDataSetState::dsInactive;
  active_ = TRecordBuffer();
  bof_ = eof_ = true;
  Fire(AfterClose);
}

void TVirtualDataSet::ClearBuffer(TRecordBuffer& buffer) const {
  buffer.values.assign(static_cast<size_t>(record_data_size_), 0);
  buffer.blobs.assign(static_cast<size_t>(blob_count_), std::string());
  buffer.calculated.assign(static_cast<size_t>(calculated_size_), 0);
  buffer.record_id = 0;
  buffer.index = -1;
  buffer.current = false;
}

TRecordBuffer* TVirtualDataSet::GetActiveBuffer() {
  switch (state_) {
    case TDataSetState::dsBrowse:
      return active_.current ? &active_ : nullptr;
    case TDataSetState::dsInactive:
      return nullptr;
    default:
      return &active_;
  }
}

void TVirtualDataSet::CheckNotReadOnly(const TField& field) const {
  if (!loading_ && field.ReadOnly())
    throw EDatabaseError("Feld '" + field.DisplayName() + "' kann nicht ver\xE4ndert werden");
}

void TVirtualDataSet::CheckEditing() const {
  if (!Editing()) throw EDatabaseError(NotEditingText());
}

void TVirtualDataSet::CheckWritable(TField& field) {
  using S = TDataSetState;
  S s = state_;
  if (!(s == S::dsEdit || s == S::dsInsert || s == S::dsSetKey || s == S::dsCalcFields ||
        s == S::dsFilter || s == S::dsNewValue || s == S::dsInternalCalc))
    throw EDatabaseError(NotEditingText());
  if (field.IsCalculated()) return;  // stored in the calculated area, nothing else applies
  if (s == S::dsCalcFields || s == S::dsFilter) throw EDatabaseError(NotEditingText());
  if (s != S::dsSetKey) CheckNotReadOnly(field);  // a search key may be set on any field
  if (field.OnValidate) field.OnValidate(field);
}

void TVirtualDataSet::CalculateFields(TRecordBuffer& buffer) {
  if (calculated_size_ == 0) return;
  buffer.calculated.assign(static_cast<size_t>(calculated_size_), 0);
  if (!AutoCalcFields || !OnCalcFields || &buffer != &active_) return;
  TDataSetState saved = state_;
  state_ = TDataSetState::dsCalcFields;
  try {
    OnCalcFields(*this);
  } catch (...) {
    state_ = saved;
    throw;
  }
  state_ = saved;
}

void TVirtualDataSet::FieldChanged(TField* field) {
  using S = TDataSetState;
  if (state_ == S::dsCalcFields || state_ == S::dsFilter || state_ == S::dsNewValue) return;
  if (field != nullptr) modified_ = true;
  if (disable_count_ == 0 && OnDataChange) OnDataChange(*this, field);
}

void TVirtualDataSet::EnableControls() {
  if (disable_count_ > 0 && --disable_count_ == 0) DataSetChanged();
}

int TVirtualDataSet::RecordCount() const {
  return Active() ? provider_->RecordCount() : 0;
}

int TVirtualDataSet::RecNo() const {
  return Active() ? provider_->RecNo() : -1;
}

void TVirtualDataSet::SyncStore() {
  if (active_.current) provider_->SetIndex(active_.index);
}

void TVirtualDataSet::First() {
  MoveToEnd(true);
}

void TVirtualDataSet::Last() {
  MoveToEnd(false);
}

void TVirtualDataSet::Next() {
  Step(true);
}

void TVirtualDataSet::Prior() {
  Step(false);
}

void TVirtualDataSet::MoveToEnd(bool first) {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeScroll);
  first ? provider_->GoBeforeFirst() : provider_->GoAfterLast();
  using M = TCustomDataProvider::TGetMode;
  if (provider_->GetRecord(active_, first ? M::gmNext : M::gmPrior) ==
      TCustomDataProvider::TGetResult::grOK) {
    bof_ = first;
    eof_ = !first;
  } else {
    ClearBuffer(active_);
    bof_ = eof_ = true;
  }
  DataSetChanged();
  Fire(AfterScroll);
}

void TVirtualDataSet::Step(bool forward) {
  CheckActive();
  CheckBrowseMode();
  if (forward ? eof_ : bof_) return;
  Fire(BeforeScroll);
  SyncStore();
  using M = TCustomDataProvider::TGetMode;
  // A failed move leaves the buffer untouched: the cursor keeps showing the last (or first)
  // record and the end flag is raised. The other flag falls either way: after First and a
  // failed Next on one record, both flags together would read as "no records".
  if (provider_->GetRecord(active_, forward ? M::gmNext : M::gmPrior) !=
      TCustomDataProvider::TGetResult::grOK) {
    (forward ? eof_ : bof_) = true;
  }
  (forward ? bof_ : eof_) = provider_->RecordCount() == 0;
  DataSetChanged();
  Fire(AfterScroll);
}

void TVirtualDataSet::SetRecNo(int rec_no) {
  CheckActive();
  CheckBrowseMode();
  if (rec_no < 1 || rec_no > provider_->RecordCount()) return;
  Fire(BeforeScroll);
  provider_->SetRecNo(rec_no);
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = eof_ = false;
  DataSetChanged();
  Fire(AfterScroll);
}

void TVirtualDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  }
}

void TVirtualDataSet::Append() {
  CheckBrowseMode();
  Fire(BeforeInsert);
  insert_return_index_ = active_.current ? active_.index : -1;
  provider_->GoAfterLast();
  ClearBuffer(active_);
  state_ = TDataSetState::dsInsert;
  EditBoundary();
  modified_ = false;
  bof_ = false;
  eof_ = true;
  Fire(OnNewRecord);
  DataSetChanged();
  Fire(AfterInsert);
}

void TVirtualDataSet::Insert() {
  CheckBrowseMode();
  Fire(BeforeInsert);
  SyncStore();
  insert_return_index_ = active_.current ? active_.index : -1;
  ClearBuffer(active_);
  state_ = TDataSetState::dsInsert;
  EditBoundary();
  modified_ = false;
  bof_ = eof_ = false;
  Fire(OnNewRecord);
  DataSetChanged();
  Fire(AfterInsert);
}

void TVirtualDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (provider_->RecordCount() == 0) {
    Insert();
    return;
  }
  Fire(BeforeEdit);
  SyncStore();
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  state_ = TDataSetState::dsEdit;
  EditBoundary();
  modified_ = false;
  DataSetChanged();
  Fire(AfterEdit);
}

void TVirtualDataSet::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforePost);
  bool inserting = state_ == TDataSetState::dsInsert;
  if (!inserting) SyncStore();
  provider_->PostBuffer(active_, inserting);
  state_ = TDataSetState::dsBrowse;
  EditBoundary();
  modified_ = false;
  // The buffer now equals the stored record: take over its place instead of copying it back.
  int index = provider_->GetIndex();
  active_.index = index;
  active_.record_id = provider_->List().Get(index)->RecordId();
  active_.current = true;
  CalculateFields(active_);
  DataSetChanged();
  Fire(AfterPost);
}

void TVirtualDataSet::Cancel() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforeCancel);
  for (auto& field : fields_)
    if (field->Modified()) CloseBlob(*field);
  if (state_ == TDataSetState::dsInsert) provider_->SetIndex(insert_return_index_);
  state_ = TDataSetState::dsBrowse;
  EditBoundary();
  modified_ = false;
  if (provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent) ==
      TCustomDataProvider::TGetResult::grOK) {
    bof_ = eof_ = false;
  } else {
    // Nothing was shown before the insert: stand on the first record, if any.
    provider_->GoBeforeFirst();
    bool any = provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmNext) ==
               TCustomDataProvider::TGetResult::grOK;
    if (!any) ClearBuffer(active_);
    bof_ = true;
    eof_ = !any;
  }
  DataSetChanged();
  Fire(AfterCancel);
}

void TVirtualDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (provider_->RecordCount() == 0) return;
  Fire(BeforeDelete);
  state_ = TDataSetState::dsBrowse;
  EditBoundary();
  modified_ = false;
  SyncStore();
  if (provider_->GetIndex() < 0) provider_->SetIndex(0);
  provider_->DeleteCurrent();
  if (provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent) ==
      TCustomDataProvider::TGetResult::grOK) {
    bof_ = eof_ = false;
  } else {
    ClearBuffer(active_);
    bof_ = eof_ = true;
  }
  DataSetChanged();
  Fire(AfterDelete);
}

void TVirtualDataSet::EditBoundary() {
  ++edit_session_;
  for (auto& field : fields_)
    field->SetModified(false);
}

bool TVirtualDataSet::ShowRecordQuietly(int index) {
  if (index < 0 || index >= provider_->RecordCount()) return false;
  provider_->SetIndex(index);
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = eof_ = false;
  return true;
}

TBookmark TVirtualDataSet::GetBookmark() const {
  if (!Active() || !active_.current || state_ == TDataSetState::dsInsert) return {};
  TBookmark bookmark(8);
  EncodeFixed32(bookmark.data(), active_.record_id);
  EncodeFixed32(bookmark.data() + 4, static_cast<uint32_t>(active_.index));
  return bookmark;
}

namespace {
int32_t BookmarkIndex(const TBookmark& bookmark) {
  return static_cast<int32_t>(DecodeFixed32(bookmark.data() + 4));
}
}  // namespace

bool TVirtualDataSet::BookmarkValid(const TBookmark& bookmark) const {
  if (!cursor_open_ || bookmark.size() != 8) return false;
  int32_t index = BookmarkIndex(bookmark);
  return index >= 0 && index < provider_->RecordCount();
}

int TVirtualDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  bool has_a = a.size() == 8, has_b = b.size() == 8;
  if (!has_a && !has_b) return 0;
  if (!has_b) return 1;
  if (!has_a) return -1;
  int32_t ia = BookmarkIndex(a), ib = BookmarkIndex(b);
  return ia > ib ? 1 : (ia < ib ? -1 : 0);
}

void TVirtualDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (!BookmarkValid(bookmark)) return;
  CheckBrowseMode();
  Fire(BeforeScroll);
  provider_->GotoBookmark(BookmarkIndex(bookmark));
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = eof_ = false;
  DataSetChanged();
  Fire(AfterScroll);
}

namespace {

// Lends the stream to the format for one load or save: runs work, then finish also when work
// fails (the first failure is the one reported), and takes the stream back either way.
template <typename Work, typename Finish>
void WithFormatStream(TCustomStreamFormat& format, TStream& stream, Work work, Finish finish) {
  struct TakeBack {
    TCustomStreamFormat& format;
    ~TakeBack() { format.SetStream(nullptr); }
  } take_back{format};
  format.SetStream(&stream);
  try {
    work();
  } catch (...) {
    try {
      finish();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  finish();
}

}  // namespace

int TVirtualDataSet::LoadFromStream(TStream& stream, TCustomStreamFormat& format) {
  CheckActive();
  CheckBrowseMode();
  stream.SetPosition(0);
  int count = 0;
  WithFormatStream(
      format, stream,
      [&] {
        format.BeginRead(*this);
        count = format.ReadData(*this);
      },
      [&] { format.EndRead(*this); });
  return count;
}

RetryPolicy RecordsFileRetry() {
  RetryPolicy policy;
  policy.attempts = 10;
  policy.pause_ms = 100;
  return policy;
}

int TVirtualDataSet::LoadFromFile(const std::string& path, TCustomStreamFormat& format,
                                  const RetryPolicy& retry) {
  std::unique_ptr<TFileStream> file;
  try {
    RetryCall(retry,
              [&] { file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite); });
  } catch (const EFOpenError&) {
    return 0;  // no records file is no records
  }
  return LoadFromStream(*file, format);
}

void TVirtualDataSet::SaveToStream(TStream& stream, TCustomStreamFormat& format) {
  CheckActive();
  CheckBrowseMode();
  WithFormatStream(
      format, stream,
      [&] {
        format.BeginWrite(*this);
        format.WriteData(*this);
      },
      [&] { format.EndWrite(*this); });
}

// ---------------------------------------------------------------------------------------------
// Stream formats

TCustomStreamFormat::~TCustomStreamFormat() = default;

void TBinaryStreamFormat::SetBufferSize(int32_t size) {
  buffer_size_ = std::max(size, kMinBufferSize);
}

void TBinaryStreamFormat::BeginWrite(TVirtualDataSet& dataset) {
  suspended_notifications_ = !dataset.ControlsDisabled();
  if (suspended_notifications_) dataset.DisableControls();
  working_ = stream_;
  working_->SetSize(0);
  working_->SetPosition(0);
  writer_ = std::make_unique<TXWriter>(*working_, buffer_size_);
  writer_->WriteSignature();
}

void TBinaryStreamFormat::WriteData(TVirtualDataSet& dataset) {
  TXWriter& w = *writer_;
  w.WriteListBegin();
  TCustomDataProvider& store = dataset.Provider();
  int count = store.RecordCount();
  dataset.First();
  for (int i = 0; i < count; ++i) {
    TRecordData* record = store.List().Get(i);
    if (record == nullptr || (record->Status() != TRecordData::kStoredFromEdit &&
                              record->Status() != TRecordData::kStoredFromInsert))
      continue;
    dataset.SetRecNo(i + 1);
    w.WriteListBegin();
    w.WriteInteger(0);
    for (int f = 0; f < dataset.FieldCount(); ++f) {
      TField& field = dataset.Fields(f);
      bool null = field.IsNull();
      w.WriteBoolean(null);
      if (null) continue;
      // The format writes 64-bit integers as floats and currency as an amount of four
      // decimals, like BCD.
      const TFieldType type = field.DataType();
      switch (ValueClassOf(type)) {
        case TValueClass::kInteger:
          if (type == ftLargeint) {
            w.WriteFloat(static_cast<long double>(field.AsLargeInt()));
          } else {
            w.WriteInteger(field.AsInteger());
          }
          break;
        case TValueClass::kBoolean:
          w.WriteBoolean(field.AsBoolean());
          break;
        case TValueClass::kFloat:
        case TValueClass::kFixed:
          if (type == ftCurrency || type == ftBCD) {
            w.WriteFloat(static_cast<long double>(field.AsFixed()) / 10000.0L);
          } else {
            w.WriteFloat(field.AsFloat());
          }
          break;
        case TValueClass::kDate:
          w.WriteFloat(field.AsFloat());
          break;
        default:
          w.WriteString(field.AsString());
      }
    }
    w.WriteListEnd();
  }
  w.WriteListEnd();
}

void TBinaryStreamFormat::EndWrite(TVirtualDataSet& dataset) {
  // Release the writer and resume notifications even when the final flush fails.
  std::unique_ptr<TXWriter> writer = std::move(writer_);
  working_ = nullptr;
  bool resume = suspended_notifications_;
  suspended_notifications_ = false;
  struct Resume {
    TVirtualDataSet& ds;
    bool on;
    ~Resume() {
      if (on) ds.EnableControls();
    }
  } resume_guard{dataset, resume};
  if (writer) writer->FlushBuffer();
}

void TBinaryStreamFormat::BeginRead(TVirtualDataSet& dataset) {
  suspended_notifications_ = !dataset.ControlsDisabled();
  if (suspended_notifications_) dataset.DisableControls();
  working_ = stream_;
  working_->SetPosition(0);
  stream_size_ = working_->Size();
  reader_ = std::make_unique<TXReader>(*working_, buffer_size_);
  if (stream_size_ > 0) reader_->ReadSignature();
}

void TBinaryStreamFormat::ReadValueGroup(TVirtualDataSet& dataset) {
  TXReader& r = *reader_;
  r.ReadInteger();  // group number, written as 0 and not used
  for (int f = 0; f < dataset.FieldCount(); ++f) {
    TField& field = dataset.Fields(f);
    if (r.ReadBoolean()) {
      field.Clear();
      continue;
    }
    const TFieldType type = field.DataType();
    switch (ValueClassOf(type)) {
      case TValueClass::kInteger:
        if (type == ftLargeint) {
          field.SetAsFloat(static_cast<double>(r.ReadFloat()));
        } else {
          field.SetAsInteger(r.ReadInteger());
        }
        break;
      case TValueClass::kBoolean:
        field.SetAsBoolean(r.ReadBoolean());
        break;
      case TValueClass::kFloat:
      case TValueClass::kFixed:
        if (type == ftCurrency || type == ftBCD) {
          field.SetAsFixed(ToIntegral<int64_t>(r.ReadFloat() * 10000.0L, field));
        } else {
          field.SetAsFloat(static_cast<double>(r.ReadFloat()));
        }
        break;
      case TValueClass::kDate: {
        auto value = static_cast<double>(r.ReadFloat());
        if (value == 0.0) {
          field.Clear();
        } else {
          field.SetAsDateTime(value);
        }
        break;
      }
      default:
        field.SetAsString(r.ReadString());
    }
  }
}

int TBinaryStreamFormat::ReadData(TVirtualDataSet& dataset) {
  if (stream_size_ == 0) return 0;
  TFastList& list = dataset.Provider().List();
  if (dataset.RecordDataSize() > 0) {
    // Only a hint: never above the list's limit, never below what it holds.
    // Capped before the margin is added: a stream may report any size up to 2^63 - 1. The hint
    // stops at a million records (8 MB of slots); a bigger set grows the list as it loads, so a
    // size that lies costs no gigabyte up front.
    constexpr int64_t kPresizeLimit = 1 << 20;
    const int64_t q = std::min<int64_t>(stream_size_ / dataset.RecordDataSize(), kPresizeLimit);
    const int64_t capacity = std::min<int64_t>(list.Count() + q + q / 50, TFastList::kMaxListSize);
    if (capacity > list.Capacity()) list.SetCapacity(static_cast<int>(capacity));
  }
  struct LoadingMark {
    TVirtualDataSet& ds;
    explicit LoadingMark(TVirtualDataSet& d) : ds(d) { ds.SetLoading(true); }
    ~LoadingMark() { ds.SetLoading(false); }
  } mark(dataset);
  TXReader& r = *reader_;
  int count = 0;
  try {
    r.ReadListBegin();
    while (!r.EndOfList()) {
      ++count;
      dataset.Append();
      r.ReadListBegin();
      do {
        ReadValueGroup(dataset);
      } while (!r.EndOfList());
      r.ReadListEnd();
      dataset.Post();
    }
    r.ReadListEnd();
  } catch (...) {
    // The half-read record is dropped; those posted before it stay.
    if (dataset.State() == TDataSetState::dsInsert) dataset.Cancel();
    throw;
  }
  return count;
}

void TBinaryStreamFormat::PositionAfterRead(TVirtualDataSet& dataset) {
  dataset.First();
}

void TBinaryStreamFormat::EndRead(TVirtualDataSet& dataset) {
  reader_.reset();
  working_ = nullptr;
  PositionAfterRead(dataset);
  if (suspended_notifications_) dataset.EnableControls();
  suspended_notifications_ = false;
  dataset.First();
}

}  // namespace rb

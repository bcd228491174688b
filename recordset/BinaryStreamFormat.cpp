#include "recordset/BinaryStreamFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "recordset/TXFiler.h"
#include "recordset/VirtualDatasetInternal.h"

namespace rb {

using namespace dataset_internal;

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

namespace {

// One field as the direct load fills it: where its value goes and how it is converted.
struct TDirectField {
  TField* field;
  TFieldType type;
  TValueClass value_class;
  int offset;  // presence byte in the values area, -1: none
  int width;   // value bytes after the presence byte
  int blob;    // blob string index, -1: none
};

// What StoreBytes does to a slot: the whole slot cleared, then present with the first bytes.
inline void PutValue(uint8_t* slot, int width, const void* data, size_t count) {
  std::memset(slot, 0, static_cast<size_t>(width) + 1);
  slot[0] = 1;
  std::memcpy(slot + 1, data, std::min(count, static_cast<size_t>(width)));
}

template <typename T>
inline void PutNumber(uint8_t* slot, int width, T value) {
  PutValue(slot, width, &value, sizeof value);
}

// One value group into record, converting and checking each value as ReadValueGroup's setter
// calls do (the same range errors, raised at the same value).
void ReadGroupInto(TXReader& r, const std::vector<TDirectField>& fields, TRecordData& record,
                   std::string& scratch) {
  r.ReadInteger();  // group number, written as 0 and not used
  uint8_t* const values = record.Values();
  for (const TDirectField& f : fields) {
    uint8_t* const slot = f.offset >= 0 ? values + f.offset : nullptr;
    if (r.ReadBoolean()) {  // null: TField::Clear
      if (f.blob >= 0) {
        record.Blobs()[f.blob].clear();
      } else if (slot != nullptr) {
        std::memset(slot, 0, static_cast<size_t>(f.width) + 1);
      }
      continue;
    }
    const TField& field = *f.field;
    switch (f.value_class) {
      case TValueClass::kInteger:
        if (f.type == ftLargeint) {
          const auto value = static_cast<double>(r.ReadFloat());
          PutNumber(slot, f.width, ToIntegral<int64_t>(value, field));
        } else {
          const int32_t value = r.ReadInteger();
          if (f.type == ftSmallint) {
            PutNumber(slot, f.width, IntegerInRange<int16_t>(value, field));
          } else if (f.type == ftWord) {
            PutNumber(slot, f.width, IntegerInRange<uint16_t>(value, field));
          } else {
            PutNumber(slot, f.width, value);
          }
        }
        break;
      case TValueClass::kBoolean:
        PutNumber(slot, f.width, static_cast<int16_t>(r.ReadBoolean() ? 1 : 0));
        break;
      case TValueClass::kFloat:
      case TValueClass::kFixed:
        if (f.type == ftCurrency || f.type == ftBCD) {
          const int64_t fixed = ToIntegral<int64_t>(r.ReadFloat() * 10000.0L, field);
          if (f.type == ftBCD) {
            PutNumber(slot, f.width, fixed);
          } else {  // a currency field keeps the amount as a double
            PutNumber(slot, f.width, static_cast<double>(fixed / 10000.0L));
          }
        } else {
          PutNumber(slot, f.width, static_cast<double>(r.ReadFloat()));
        }
        break;
      case TValueClass::kDate: {
        const auto value = static_cast<double>(r.ReadFloat());
        if (value == 0.0) {
          std::memset(slot, 0, static_cast<size_t>(f.width) + 1);
        } else if (f.type == ftDate) {
          PutNumber(slot, f.width, ToIntegral<int32_t>(std::trunc(value), field));
        } else if (f.type == ftTime) {
          if (!std::isfinite(value)) RangeError(FloatText(value), field);
          PutNumber(slot, f.width, TimeOfDayMilliseconds(value));
        } else {
          PutNumber(slot, f.width, value);
        }
        break;
      }
      case TValueClass::kText:
      case TValueClass::kBytes: {
        const std::string_view text = r.ReadStringView(scratch);
        const size_t n = std::min(text.size(), static_cast<size_t>(field.Size()));
        if (f.type == ftVarBytes) {  // its length first
          const auto length = static_cast<uint16_t>(n);
          std::memset(slot, 0, static_cast<size_t>(f.width) + 1);
          slot[0] = 1;
          std::memcpy(slot + 1, &length, 2);
          std::memcpy(slot + 3, text.data(), n);
        } else {
          PutValue(slot, f.width, text.data(), n);  // the rest stays zero: the terminator
        }
        break;
      }
      case TValueClass::kBlob:
        record.Blobs()[f.blob] = r.ReadString();
        break;
      default:
        r.ReadString();  // structured fields keep nothing of their own
    }
  }
}

}  // namespace

int TBinaryStreamFormat::ReadRecordsDirectly(TVirtualDataSet& dataset) {
  std::vector<TDirectField> fields;
  fields.reserve(static_cast<size_t>(dataset.FieldCount()));
  for (int i = 0; i < dataset.FieldCount(); ++i) {
    TField& field = dataset.Fields(i);
    const TFieldType type = field.DataType();
    fields.push_back(TDirectField{&field, type, ValueClassOf(type), field.ValueOffset(),
                                  FieldValueWidth(type, field.Size()), field.BlobIndex()});
  }
  TCustomDataProvider& store = dataset.Provider();
  TXReader& r = *reader_;
  std::string scratch;
  int count = 0;
  int appended = 0;
  bool half_read = false;
  try {
    r.ReadListBegin();
    while (!r.EndOfList()) {
      ++count;
      TRecordData& record = store.AppendBlank();
      half_read = true;
      ++appended;
      r.ReadListBegin();
      do {
        ReadGroupInto(r, fields, record, scratch);
      } while (!r.EndOfList());
      r.ReadListEnd();
      half_read = false;
    }
    r.ReadListEnd();
  } catch (...) {
    // The half-read record is dropped; those read before it stay.
    if (half_read) {
      store.DropLast();
      --appended;
    }
    dataset.EndDirectAppend(appended, true);
    throw;
  }
  dataset.EndDirectAppend(appended, false);
  return count;
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
  if (dataset.CanAppendDirectly()) return ReadRecordsDirectly(dataset);
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

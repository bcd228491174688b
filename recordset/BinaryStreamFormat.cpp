#include "recordset/BinaryStreamFormat.h"

#include <algorithm>

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

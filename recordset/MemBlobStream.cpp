#include "recordset/MemBlobStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

namespace rb {

namespace {

// Blobs are byte strings of the platform's 32-bit length.
constexpr int64_t kMaxBlobSize = std::numeric_limits<int32_t>::max();

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r))
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return r;
}

std::mutex g_reporter_mutex;
std::function<void(const std::exception&)>& Reporter() {
  static std::function<void(const std::exception&)> reporter;
  return reporter;
}

}  // namespace

TMemBlobStream::TMemBlobStream(TField& field, TBlobStreamMode mode)
    : field_(field), dataset_(field.DataSet()), mode_(mode) {
  if (!IsBlobType(field.DataType()) || field.IsCalculated())
    throw EInvalidCast("Invalid class typecast");
  const bool writing = mode != TBlobStreamMode::bmRead;
  if (writing && !field.Modified()) {
    dataset_.CheckNotReadOnly(field);
    dataset_.CheckEditing();
  }
  buffer_ = dataset_.GetActiveBuffer();
  if (buffer_ == nullptr || field.blob_index_ < 0 ||
      static_cast<size_t>(field.blob_index_) >= buffer_->blobs.size())
    return;  // no record: the stream stays closed
  cached_ = buffer_ == &dataset_.active_;
  opened_ = true;
  edit_session_ = dataset_.edit_session_;
  if (mode == TBlobStreamMode::bmWrite) {
    if (std::string* blob = WritableBlob()) {
      blob->clear();
      modified_ = true;
    }
  }
}

TMemBlobStream::~TMemBlobStream() {
  if (!modified_) return;
  field_.SetModified(true);
  try {
    dataset_.FieldChanged(&field_);
  } catch (const std::exception& error) {
    TVirtualDataSet::ReportError(error);
  } catch (...) {
    TVirtualDataSet::ReportError(Exception("Unknown error"));
  }
}

const std::string* TMemBlobStream::ReadableBlob() const {
  if (!opened_) return nullptr;
  auto index = static_cast<size_t>(field_.blob_index_);
  if (field_.blob_index_ < 0) return nullptr;
  if (!cached_ && buffer_->current) {
    // Not the cursor's buffer: read what is stored for its record.
    TCustomDataProvider& store = *dataset_.provider_;
    if (buffer_->index >= 0 && buffer_->index < store.RecordCount())
      return &store.List().Get(buffer_->index)->Blobs()[index];
  }
  return index < buffer_->blobs.size() ? &buffer_->blobs[index] : nullptr;
}

std::string* TMemBlobStream::WritableBlob() {
  if (!opened_ || !cached_ || mode_ == TBlobStreamMode::bmRead || field_.blob_index_ < 0)
    return nullptr;
  // The edit may have ended since the stream was opened: the buffer then shows a stored record
  // that only Edit may change, or another record's edit that this stream was not opened for.
  if (!dataset_.Editing() || dataset_.edit_session_ != edit_session_) return nullptr;
  auto index = static_cast<size_t>(field_.blob_index_);
  return index < buffer_->blobs.size() ? &buffer_->blobs[index] : nullptr;
}

int64_t TMemBlobStream::Read(void* buffer, int64_t count) {
  const std::string* blob = ReadableBlob();
  if (blob == nullptr || count <= 0 || position_ < 0) return 0;
  auto size = static_cast<int64_t>(blob->size());
  if (position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, blob->data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemBlobStream::Write(const void* buffer, int64_t count) {
  std::string* blob = WritableBlob();
  if (blob == nullptr || count <= 0 || position_ < 0) return 0;
  if (count > kMaxBlobSize || position_ > kMaxBlobSize - count) return 0;
  int64_t end = position_ + count;
  if (static_cast<int64_t>(blob->size()) < end) blob->resize(static_cast<size_t>(end), '\0');
  std::memcpy(blob->data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  modified_ = true;
  return count;
}

int64_t TMemBlobStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::kBegin:
      position_ = offset;
      break;
    case SeekOrigin::kCurrent:
      position_ = SaturatingAdd(position_, offset);
      break;
    case SeekOrigin::kEnd: {
      const std::string* blob = ReadableBlob();
      position_ = SaturatingAdd(blob ? static_cast<int64_t>(blob->size()) : 0, offset);
      break;
    }
  }
  return position_;
}

void TMemBlobStream::SetSize(int64_t new_size) {
  std::string* blob = WritableBlob();
  if (blob == nullptr || new_size < 0 || new_size > kMaxBlobSize) return;
  if (static_cast<int64_t>(blob->size()) == new_size) return;
  blob->resize(static_cast<size_t>(new_size), '\0');
  modified_ = true;
}

// ---------------------------------------------------------------------------------------------
// The record set's side

std::unique_ptr<TStream> TVirtualDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  if (&field.DataSet() != this) throw EInvalidCast("Invalid class typecast");
  return std::make_unique<TMemBlobStream>(field, mode);
}

void TVirtualDataSet::CloseBlob(TField& field) {
  if (field.blob_index_ < 0 || &field.DataSet() != this) return;
  TRecordBuffer* buffer = GetActiveBuffer();
  auto index = static_cast<size_t>(field.blob_index_);
  if (buffer == nullptr || index >= buffer->blobs.size()) return;
  int stored = buffer->current ? buffer->index : -1;
  if (state_ != TDataSetState::dsInsert && stored >= 0 && stored < provider_->RecordCount()) {
    buffer->blobs[index] = provider_->List().Get(stored)->Blobs()[index];
  } else {
    buffer->blobs[index].clear();
  }
}

void TVirtualDataSet::SetErrorReporter(std::function<void(const std::exception&)> reporter) {
  std::lock_guard<std::mutex> lock(g_reporter_mutex);
  Reporter() = std::move(reporter);
}

void TVirtualDataSet::ReportError(const std::exception& error) {
  std::function<void(const std::exception&)> reporter;
  {
    std::lock_guard<std::mutex> lock(g_reporter_mutex);
    reporter = Reporter();
  }
  if (reporter) {
    try {
      reporter(error);
    } catch (...) {
      // A display that fails has nowhere left to report to.
    }
    return;
  }
  std::fprintf(stderr, "%s\n", error.what());
}

}  // namespace rb

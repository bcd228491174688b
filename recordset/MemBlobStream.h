// A stream over one blob field (ftBlob .. ftTypedBinary) of the record set's current record,
// made by TVirtualDataSet::CreateBlobStream.
//
//   ds.Edit();
//   {
//     auto s = ds.CreateBlobStream(*ds.FieldByName("NOTE"), TBlobStreamMode::bmWrite);
//     s->WriteBuffer(bytes.data(), bytes.size());   // the blob now holds exactly these bytes
//   }                                               // release: field change notification
//   ds.Post();
//
// Modes: bmRead reads what the field shows; bmWrite empties the blob at once and writes;
// bmReadWrite does both on the current contents. Opening for writing raises EDatabaseError
// "Feld '%s' kann nicht verändert werden" for a read-only field (unless the record set is
// loading) and "Datenmenge weder im Editier- noch im Einfügemodus" outside the edit and insert
// states. Reads stop at the blob's end; writes go only to the edit buffer of the edit or insert
// during which the stream was opened (never to a stored record, nor to a later edit: once that
// edit ends, writes move nothing) and grow the blob as needed, zero-filling a gap after a seek
// past the end. A write that would make the blob larger than 2 GiB - 1 writes nothing.
//
// Releasing a stream that wrote marks the field modified and notifies the record set's views;
// an error raised by a view then goes to TVirtualDataSet::ReportError instead of the caller.
// Lifetime: the stream refers to the field and its record set and must be released before the
// record set closes or is freed. One thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "recordset/UVirtualDataset.h"
#include "util/Streams.h"

namespace rb {

class TMemBlobStream : public TStream {
 public:
  // Raises EInvalidCast ("Invalid class typecast") for a field that is not a blob field.
  TMemBlobStream(TField& field, TBlobStreamMode mode);
  ~TMemBlobStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // From the beginning, the position or the blob's end; only moves the position (a negative
  // position reads and writes nothing).
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  // Cuts or zero-extends the blob where writing is allowed; otherwise does nothing.
  void SetSize(int64_t new_size) override;

  // Whether the stream works on the record set's own (cursor) buffer.
  bool Cached() const { return cached_; }
  // False when there was no record to work on: reads and writes then move nothing.
  bool Opened() const { return opened_; }
  bool Modified() const { return modified_; }

 private:
  // The blob the stream reads: the edit buffer's when cached, else the stored record's.
  const std::string* ReadableBlob() const;
  // The edit buffer's blob when writing is allowed now, else null.
  std::string* WritableBlob();

  TField& field_;
  TVirtualDataSet& dataset_;
  TRecordBuffer* buffer_ = nullptr;
  const TBlobStreamMode mode_;
  int64_t position_ = 0;
  bool cached_ = false;
  bool opened_ = false;
  bool modified_ = false;
  uint32_t edit_session_ = 0;  // the record set's edit this stream may write into
};

}  // namespace rb

// The record-set stream formats: the abstract TCustomStreamFormat that the record set drives to
// load and save its records, and TBinaryStreamFormat, the binary record-set stream in which the
// host writes query results. A format borrows the stream for one load or save.
#pragma once

#include <cstdint>
#include <memory>

#include "recordset/TXFiler.h"
#include "util/Streams.h"

namespace rb {

class TVirtualDataSet;

// The abstract record-set stream format. The record set drives one load as BeginRead, ReadData,
// EndRead (EndRead also when the others fail), one save as BeginWrite, WriteData, EndWrite.
class TCustomStreamFormat {
 public:
  static constexpr int32_t kMinBufferSize = 16384;

  TCustomStreamFormat() = default;
  TCustomStreamFormat(const TCustomStreamFormat&) = delete;
  TCustomStreamFormat& operator=(const TCustomStreamFormat&) = delete;
  virtual ~TCustomStreamFormat();

  virtual void SetBufferSize(int32_t size) = 0;
  virtual void BeginWrite(TVirtualDataSet& dataset) = 0;
  virtual void WriteData(TVirtualDataSet& dataset) = 0;
  virtual void EndWrite(TVirtualDataSet& dataset) = 0;
  virtual void BeginRead(TVirtualDataSet& dataset) = 0;
  virtual int ReadData(TVirtualDataSet& dataset) = 0;
  virtual void PositionAfterRead(TVirtualDataSet& dataset) = 0;
  virtual void EndRead(TVirtualDataSet& dataset) = 0;

  int32_t BufferSize() const { return buffer_size_; }
  TStream* Stream() const { return stream_; }
  void SetStream(TStream* stream) { stream_ = stream; }

 protected:
  TStream* stream_ = nullptr;
  TStream* working_ = nullptr;
  int32_t buffer_size_ = kMinBufferSize;
  std::unique_ptr<TXWriter> writer_;
  std::unique_ptr<TXReader> reader_;
  int64_t stream_size_ = 0;
  bool suspended_notifications_ = false;
};

// The binary record-set stream:
//   "TPF0" 01 { 01 { <integer> { <null marker> [value] }per field }+ 00 }* 00
// little-endian throughout; values are tagged as in recordset/TXFiler.h. One record
// ID=7 (ftInteger), WW_NETTO=1.5 (ftFloat), POT=null (ftInteger) is the 26 bytes
//   54 50 46 30 01 01 02 00 08 02 07 08 05 00 00 00 00 00 00 00 C0 FF 3F 09 00 00
class TBinaryStreamFormat : public TCustomStreamFormat {
 public:
  // Sizes below 16384 are raised to 16384.
  void SetBufferSize(int32_t size) override;
  void BeginWrite(TVirtualDataSet& dataset) override;
  void WriteData(TVirtualDataSet& dataset) override;
  void EndWrite(TVirtualDataSet& dataset) override;
  void BeginRead(TVirtualDataSet& dataset) override;
  int ReadData(TVirtualDataSet& dataset) override;
  void PositionAfterRead(TVirtualDataSet& dataset) override;
  void EndRead(TVirtualDataSet& dataset) override;

 private:
  void ReadValueGroup(TVirtualDataSet& dataset);
  // The records straight into the store, where the record set allows it (see
  // TVirtualDataSet::CanAppendDirectly); the same values and errors as ReadValueGroup.
  int ReadRecordsDirectly(TVirtualDataSet& dataset);
};

}  // namespace rb

// The record store under the record set: one TRecordData per record (its values area in the
// same allocation), held in a TFastList, and the provider that keeps them in order and moves the
// store's index. TRecordBuffer is one record's working copy.
//
// Ownership: the provider owns every record in its list and frees them in Clear and on
// destruction; the list itself owns nothing. A record is made with TRecordData::New and freed
// with TRecordData::Free, giving both the same pool (or none); the provider takes its records
// from a pool of its own, which outlives them. Failure: the list raises EListError for a bad index
// or size, the provider EBookMarkOutOfList for a bookmark outside the list. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rb {

class TVirtualDataSet;

// Blocks of one size for the records of one layout, cut from pages that grow with the set (up
// to 256 KiB), so that loading many records costs one allocation per page instead of one per
// record, and freeing them one per page. Blocks given back are reused. A request of another
// size is refused (null) while blocks of the old size are in use; the caller then takes the
// heap. Pages go back to the heap on Reset and on destruction, with every block cut from them,
// given back or not: what lived in a block still in use is dropped without its destructor.
class TRecordPool {
 public:
  TRecordPool() = default;
  TRecordPool(const TRecordPool&) = delete;
  TRecordPool& operator=(const TRecordPool&) = delete;
  ~TRecordPool() { Reset(); }

  void* Allocate(size_t size);
  void Release(void* block);
  void Reset();
  size_t BlocksInUse() const { return in_use_; }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  static constexpr size_t kMaxPageBytes = 256 * 1024;
  size_t block_size_ = 0;
  struct TPage {
    std::unique_ptr<unsigned char[]> bytes;
    size_t size;
  };
  std::vector<TPage> pages_;
  unsigned char* page_free_ = nullptr;  // the unused tail of the newest page
  size_t page_free_blocks_ = 0;
  size_t total_blocks_ = 0;  // in all pages
  size_t in_use_ = 0;
  FreeBlock* free_ = nullptr;
};

// One record's working copy: what the cursor shows, or what an edit or insert changes.
//
// A stored record that is only shown is not copied: the buffer reads its values area in place
// (a walk would otherwise copy every record it passes), and takes a copy of its own the first
// time a value is written. Read the values through Values(), write through WritableValues().
// The record shown must stay in the store while the buffer shows it: whoever frees records
// clears or refills the buffers that may show them.
struct TRecordBuffer {
  std::vector<uint8_t> values;     // the buffer's own values; stale while a stored record is shown
  const uint8_t* shown = nullptr;  // the stored record's values area, or null
  size_t shown_size = 0;
  std::vector<std::string> blobs;
  std::vector<uint8_t> calculated;  // presence byte and value of each calculated field
  uint32_t record_id = 0;
  int32_t index = -1;
  bool current = false;  // holds a stored record (bookmark valid)

  const uint8_t* Values() const { return shown != nullptr ? shown : values.data(); }
  size_t ValuesSize() const { return shown != nullptr ? shown_size : values.size(); }
  uint8_t* WritableValues() {
    if (shown != nullptr) {
      values.assign(shown, shown + shown_size);
      shown = nullptr;
    }
    return values.data();
  }
  // Shows a stored values area in place of the buffer's own values.
  void Show(const uint8_t* stored, size_t size) {
    shown = stored;
    shown_size = size;
  }
};

// One stored record: its id, values area and blob strings. The values area lives in the same
// allocation as the record (one allocation per record), so records are made with New and freed
// with Free, never with new and delete.
class TRecordData final {
 public:
  enum : uint8_t { kCreated = 0, kStoredFromEdit = 1, kStoredFromInsert = 2 };
  enum : uint8_t { kAppended = 1, kInserted = 2 };

  // From pool when it gives a block, from the heap otherwise.
  static TRecordData* New(int values_size, int blob_count, uint8_t creation_mode,
                          TRecordPool* pool = nullptr);
  // REQUIRES: pool is the one the record was made with (or any, for a record of the heap).
  static void Free(TRecordData* record, TRecordPool* pool = nullptr);
  struct Deleter {
    TRecordPool* pool = nullptr;
    void operator()(TRecordData* record) const { Free(record, pool); }
  };

  TRecordData(const TRecordData&) = delete;
  TRecordData& operator=(const TRecordData&) = delete;

  uint32_t RecordId() const { return record_id_; }
  uint8_t Status() const { return status_; }
  uint8_t CreationMode() const { return creation_mode_; }
  uint8_t* Values() { return reinterpret_cast<uint8_t*>(this) + sizeof(TRecordData); }
  const uint8_t* Values() const {
    return reinterpret_cast<const uint8_t*>(this) + sizeof(TRecordData);
  }
  std::string* Blobs() { return blobs_.get(); }

  void Store(const TRecordBuffer& buffer, uint8_t status);
  // The buffer shows this record: its values in place, its blob strings copied.
  void ShowIn(TRecordBuffer& buffer) const;
  // A record that a loader filled in place (values area, blob strings) counts as posted.
  void MarkStored(uint8_t status) { status_ = status; }

 private:
  TRecordData(int values_size, int blob_count, uint8_t creation_mode);
  ~TRecordData() = default;

  std::unique_ptr<std::string[]> blobs_;
  int32_t values_size_;
  int32_t blob_count_;
  uint32_t record_id_;
  uint8_t status_ = kCreated;
  uint8_t creation_mode_;
  bool pooled_ = false;
};

// A 32-bit record identifier, unique within the process for 2^32 records.
uint32_t NewRecordId();

// A growable array of record references. Does not own what it holds.
class TFastList {
 public:
  static constexpr int kMaxListSize = 134217727;

  TFastList() = default;
  TFastList(const TFastList&) = delete;
  TFastList& operator=(const TFastList&) = delete;
  virtual ~TFastList() = default;

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  TRecordData* Get(int index) const;
  void Put(int index, TRecordData* item);
  int Add(TRecordData* item);
  void Insert(int index, TRecordData* item);
  void Delete(int index);
  void SetCapacity(int capacity);
  void SetCount(int count);  // new entries are null
  void Clear();

 protected:
  virtual void Grow();
  [[noreturn]] virtual void Error(const char* format, int data);

 private:
  std::unique_ptr<TRecordData*[]> items_;
  int count_ = 0;
  int capacity_ = 0;
};

// The store and cursor: owns the records in its list; index -1 is before the first record,
// Count() after the last.
class TCustomDataProvider {
 public:
  enum class TGetMode { gmCurrent, gmNext, gmPrior };
  enum class TGetResult { grOK, grBOF, grEOF };

  explicit TCustomDataProvider(TVirtualDataSet& owner);
  TCustomDataProvider(const TCustomDataProvider&) = delete;
  TCustomDataProvider& operator=(const TCustomDataProvider&) = delete;
  virtual ~TCustomDataProvider();

  virtual void Clear();
  virtual bool IsAtFirst() const { return index_ < 1; }
  virtual bool IsAtLast() const { return index_ >= list_.Count() - 1; }
  virtual int GetIndex() const { return index_; }
  virtual void SetIndex(int index) { index_ = index; }
  virtual int RecordCount() const { return list_.Count(); }
  [[noreturn]] virtual void SetRecordCount(int count);
  virtual int RecNo() const;
  virtual void SetRecNo(int rec_no);
  // Raises EBookMarkOutOfList for an index outside the list.
  virtual void GotoBookmark(int index);
  virtual bool UsesTemporaryCopy() const { return false; }
  virtual void GoBeforeFirst() { index_ = -1; }
  virtual void GoAfterLast() { index_ = list_.Count(); }
  // Appends (index Count()-1) or inserts at the index (0 when -1), then stores the buffer.
  virtual void AddRecord(const TRecordBuffer& buffer, bool append);
  virtual void FinishTemporaryCopy() {}
  virtual bool FilterRecord(const TRecordBuffer&) const { return true; }
  virtual TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode);

  // Stores an edit (overwrites the current record) or an insert (new record at the index, or
  // appended when the index is at or past the end).
  void PostBuffer(const TRecordBuffer& buffer, bool inserting);
  void DeleteCurrent();
  // For a loader that fills records in place (TVirtualDataSet::CanAppendDirectly): a record at
  // the end of the list, all values null, already counted as posted; DropLast frees it again
  // when its values cannot be read. Neither moves the index.
  TRecordData& AppendBlank();
  void DropLast();
  TFastList& List() { return list_; }
  const TFastList& List() const { return list_; }
  bool Resyncing() const { return resync_; }
  void SetResyncing(bool value) { resync_ = value; }

 protected:
  TRecordData* NewRecord(uint8_t mode, int position);
  TVirtualDataSet& owner_;

 private:
  TRecordPool pool_;  // before the list: records go back to it, so it must outlive them
  TFastList list_;
  int index_ = -1;
  bool resync_ = false;
};

class TDataProvider : public TCustomDataProvider {
 public:
  using TCustomDataProvider::TCustomDataProvider;
};

}  // namespace rb

#include "recordset/RecordStore.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "recordset/VirtualDatasetInternal.h"

namespace rb {

using namespace dataset_internal;

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

TRecordData* TRecordData::New(int values_size, int blob_count, uint8_t creation_mode,
                              TRecordPool* pool) {
  values_size = std::max(values_size, 0);
  const size_t size = sizeof(TRecordData) + static_cast<size_t>(values_size);
  void* memory = pool != nullptr ? pool->Allocate(size) : nullptr;
  const bool pooled = memory != nullptr;
  if (!pooled) memory = ::operator new(size);
  TRecordData* record;
  try {
    record = new (memory) TRecordData(values_size, blob_count, creation_mode);
  } catch (...) {
    pooled ? pool->Release(memory) : ::operator delete(memory);
    throw;
  }
  record->pooled_ = pooled;
  std::memset(record->Values(), 0, static_cast<size_t>(values_size));
  return record;
}

void TRecordData::Free(TRecordData* record, TRecordPool* pool) {
  if (record == nullptr) return;
  const bool pooled = record->pooled_;
  record->~TRecordData();
  if (pooled) {
    pool->Release(record);
  } else {
    ::operator delete(static_cast<void*>(record));
  }
}

// ---------------------------------------------------------------------------------------------
// TRecordPool

namespace {
// Under the address sanitizer a block given back stays unreadable until it is handed out
// again, as a freed heap record would be.
void Poison([[maybe_unused]] void* at, [[maybe_unused]] size_t size) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_POISON_MEMORY_REGION(at, size);
#endif
}
void Unpoison([[maybe_unused]] void* at, [[maybe_unused]] size_t size) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_UNPOISON_MEMORY_REGION(at, size);
#endif
}
}  // namespace

void* TRecordPool::Allocate(size_t size) {
  constexpr size_t kAlign = alignof(std::max_align_t);
  size = std::max((size + kAlign - 1) & ~(kAlign - 1), sizeof(FreeBlock));
  if (size != block_size_) {
    if (in_use_ > 0) return nullptr;
    Reset();
    block_size_ = size;
  }
  unsigned char* block;
  if (free_ != nullptr) {
    block = reinterpret_cast<unsigned char*>(free_);
    Unpoison(block, block_size_);
    free_ = free_->next;
  } else {
    if (page_free_blocks_ == 0) {
      // Pages double with the set, so a small set holds little and a large one few pages.
      const size_t most = std::max<size_t>(kMaxPageBytes / block_size_, 1);
      const size_t blocks = std::min(std::max<size_t>(total_blocks_, 16), most);
      pages_.push_back(TPage{std::make_unique_for_overwrite<unsigned char[]>(blocks * block_size_),
                             blocks * block_size_});
      page_free_ = pages_.back().bytes.get();
      page_free_blocks_ = blocks;
      total_blocks_ += blocks;
    }
    block = page_free_;
    page_free_ += block_size_;
    --page_free_blocks_;
  }
  ++in_use_;
  return block;
}

void TRecordPool::Release(void* block) {
  Poison(block, block_size_);
  Unpoison(block, sizeof(FreeBlock));  // the link stays readable for the pool itself
  auto* freed = static_cast<FreeBlock*>(block);
  freed->next = free_;
  free_ = freed;
  --in_use_;
}

void TRecordPool::Reset() {
  for (const TPage& page : pages_)
    Unpoison(page.bytes.get(), page.size);
  pages_.clear();
  page_free_ = nullptr;
  page_free_blocks_ = 0;
  total_blocks_ = 0;
  in_use_ = 0;
  free_ = nullptr;
  block_size_ = 0;
}

TRecordData::TRecordData(int values_size, int blob_count, uint8_t creation_mode)
    : blobs_(blob_count > 0 ? new std::string[static_cast<size_t>(blob_count)] : nullptr),
      values_size_(values_size),
      blob_count_(blob_count),
      record_id_(NewRecordId()),
      creation_mode_(creation_mode) {}

void TRecordData::Store(const TRecordBuffer& buffer, uint8_t status) {
  // A record of blob fields only has no values area (and the buffer no bytes to copy).
  // A buffer that still shows this very record has nothing new to store.
  size_t n = std::min<size_t>(buffer.ValuesSize(), static_cast<size_t>(values_size_));
  if (n > 0 && buffer.Values() != Values()) std::memcpy(Values(), buffer.Values(), n);
  for (int i = 0; i < blob_count_ && i < static_cast<int>(buffer.blobs.size()); ++i)
    blobs_[i] = buffer.blobs[i];
  status_ = status;
}

void TRecordData::ShowIn(TRecordBuffer& buffer) const {
  buffer.Show(Values(), static_cast<size_t>(values_size_));
  if (blob_count_ > 0 || !buffer.blobs.empty()) {
    buffer.blobs.resize(static_cast<size_t>(blob_count_));
    for (int i = 0; i < blob_count_; ++i)
      buffer.blobs[i] = blobs_[i];
  }
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
  // Records without blob strings hold nothing outside their block; when all of them came from
  // the pool they go with its pages, unvisited (a large set spent a cache miss per record here).
  const bool all_plain_and_pooled =
      owner_.blob_count_ == 0 && pool_.BlocksInUse() == static_cast<size_t>(list_.Count());
  for (int i = 0; !all_plain_and_pooled && i < list_.Count(); ++i)
    TRecordData::Free(list_.Get(i), &pool_);
  list_.Clear();
  pool_.Reset();
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
      TRecordData::New(owner_.record_data_size_, owner_.blob_count_, mode, &pool_),
      TRecordData::Deleter{&pool_});
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

TRecordData& TCustomDataProvider::AppendBlank() {
  TRecordData* record = NewRecord(TRecordData::kAppended, 0);
  record->MarkStored(TRecordData::kStoredFromInsert);
  return *record;
}

void TCustomDataProvider::DropLast() {
  const int last = list_.Count() - 1;
  TRecordData* record = list_.Get(last);
  list_.Delete(last);
  TRecordData::Free(record, &pool_);
}

void TCustomDataProvider::DeleteCurrent() {
  TRecordData* record = list_.Get(index_);
  list_.Delete(index_);
  TRecordData::Free(record, &pool_);
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
  list_.Get(index_)->ShowIn(buffer);
  buffer.index = index_;
  buffer.current = true;
  owner_.CalculateFields(buffer);
  return TGetResult::grOK;
}

}  // namespace rb

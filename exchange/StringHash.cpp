#include "exchange/StringHash.h"

#include "util/Hash.h"

namespace rb {

TStringHash::TStringHash(uint32_t bucket_count) : buckets_(bucket_count == 0 ? 1 : bucket_count) {}

TStringHash::~TStringHash() {
  ClearAll();
}

uint32_t TStringHash::HashKey(std::string_view key) const {
  return ElfHash(key);
}

size_t TStringHash::BucketOf(std::string_view key) const {
  return HashKey(key) % static_cast<uint32_t>(buckets_.size());
}

void TStringHash::AddKey(std::string_view key, int32_t value) {
  auto item = std::make_unique<THashItem>();
  item->key = std::string(key);
  item->value = value;
  std::unique_ptr<THashItem>& head = buckets_[BucketOf(key)];
  item->next = std::move(head);
  head = std::move(item);
}

int32_t TStringHash::ValueOfKey(std::string_view key) const {
  for (const THashItem* item = buckets_[BucketOf(key)].get(); item != nullptr;
       item = item->next.get()) {
    if (item->key == key) return item->value;
  }
  return -1;
}

void TStringHash::ClearAll() {
  // Unlinks item by item, so that a long chain is not freed by deep recursion.
  for (std::unique_ptr<THashItem>& head : buckets_) {
    while (head)
      head = std::move(head->next);
  }
}

}  // namespace rb

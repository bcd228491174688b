// TStringHash: a chained hash table from 8-bit text keys to 32-bit values, used to find the
// entries of a message's value buffer by name (see MessageData.h).
//
// The bucket of a key is HashKey(key) modulo the bucket count, fixed at construction (0 counts
// as 1, so that no count can make the modulo divide by zero). AddKey puts the new item at the
// head of its chain without looking for an equal key, so the value inserted last wins;
// ValueOfKey gives -1 for a key that is not there. The hash owns its items.
// No locking: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rb {

class TStringHash {
 public:
  explicit TStringHash(uint32_t bucket_count);
  TStringHash(const TStringHash&) = delete;
  TStringHash& operator=(const TStringHash&) = delete;
  virtual ~TStringHash();

  void AddKey(std::string_view key, int32_t value);
  int32_t ValueOfKey(std::string_view key) const;
  void ClearAll();

  // The ELF symbol-table hash of the key's bytes: "" gives 0, "A" 65, "DATA" 296577.
  virtual uint32_t HashKey(std::string_view key) const;

 private:
  struct THashItem {
    std::unique_ptr<THashItem> next;
    std::string key;
    int32_t value;
  };
  size_t BucketOf(std::string_view key) const;

  std::vector<std::unique_ptr<THashItem>> buckets_;
};

}  // namespace rb

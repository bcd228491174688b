#include "exchange/MessageData.h"

#include <algorithm>

#include "platform/CodePage.h"
#include "util/Coding.h"
#include "util/Errors.h"

namespace rb {

namespace {

constexpr uint32_t kNameIndexBuckets = 50;

std::u16string UnitsFromBytes(const char* bytes, int64_t units) {
  std::u16string text(static_cast<size_t>(units), u'\0');
  for (int64_t i = 0; i < units; ++i)
    text[i] = DecodeFixed<char16_t>(bytes + 2 * i);
  return text;
}

}  // namespace

int32_t TRefCountedObject::QueryInterface(const TInterfaceId& iid, void** object) {
  void* found = FindInterface(iid);
  if (found == nullptr && iid == kIID_IInterface) found = static_cast<IInterface*>(this);
  if (found == nullptr) {
    if (object != nullptr) *object = nullptr;
    return kENoInterface;
  }
  // The caller receives a counted reference, as from every query; without a place to put it
  // none is taken, since nobody could release it.
  if (object != nullptr) {
    *object = found;
    AddRef();
  }
  return kSOk;
}

int32_t TRefCountedObject::AddRef() {
  return ref_count_.fetch_add(1) + 1;
}

int32_t TRefCountedObject::Release() {
  int32_t count = ref_count_.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return count;
}

void* TRefCountedObject::FindInterface(const TInterfaceId&) {
  return nullptr;
}

void* TMessageData::FindInterface(const TInterfaceId& iid) {
  if (iid == kIID_IMessageData) return static_cast<IMessageData*>(this);
  return TRefCountedObject::FindInterface(iid);
}

TMessageRef NewMessageData() {
  return MakeCounted<TMessageData, IMessageData>();
}

TStreamStorage::TStreamStorage() : name_index_(kNameIndexBuckets) {}

void TStreamStorage::AppendEntryHeader(std::u16string_view name, int64_t value_size) {
  std::string key = platform::WideToAnsi(name);
  if (name_index_.ValueOfKey(key) != -1) {
    throw Exception("Value with name \"" + key + "\" already exists");
  }
  std::string header(4 + 2 * name.size(), '\0');
  EncodeFixed<int32_t>(header.data(), static_cast<int32_t>(2 * name.size()));
  for (size_t i = 0; i < name.size(); ++i)
    EncodeFixed<char16_t>(header.data() + 4 + 2 * i, name[i]);
  buffer_.Seek(0, SeekOrigin::kEnd);
  buffer_.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
  name_index_.AddKey(key, static_cast<int32_t>(buffer_.Position()));
  char size_field[8];
  EncodeFixed<int64_t>(size_field, value_size);
  buffer_.WriteBuffer(size_field, 8);
}

void TStreamStorage::AppendValue(const void* bytes, int64_t count) {
  buffer_.WriteBuffer(bytes, count);
  scan_position_ = buffer_.Size();
}

void TStreamStorage::PutBoolean(std::u16string_view name, bool value) {
  if (name.empty()) return;
  AppendEntryHeader(name, 1);
  char byte = value ? 1 : 0;
  AppendValue(&byte, 1);
}

void TStreamStorage::PutInteger(std::u16string_view name, int32_t value) {
  if (name.empty()) return;
  AppendEntryHeader(name, 4);
  char bytes[4];
  EncodeFixed<int32_t>(bytes, value);
  AppendValue(bytes, 4);
}

void TStreamStorage::PutText(std::u16string_view name, std::u16string_view value) {
  if (name.empty() || value.empty()) return;
  AppendEntryHeader(name, 2 * static_cast<int64_t>(value.size()));
  std::string bytes(2 * value.size(), '\0');
  for (size_t i = 0; i < value.size(); ++i)
    EncodeFixed<char16_t>(bytes.data() + 2 * i, value[i]);
  AppendValue(bytes.data(), static_cast<int64_t>(bytes.size()));
}

bool TStreamStorage::FindEntry(std::u16string_view name, int64_t& value_size) {
  const char* data = buffer_.Memory();
  const int64_t end = buffer_.Size();
  int32_t known = name_index_.ValueOfKey(platform::WideToAnsi(name));
  if (known >= 0) {
    const int64_t size = known <= end - 8 ? DecodeFixed<int64_t>(data + known) : -1;
    if (size < 0 || size > end - known - 8) {  // a header appended without its value
      buffer_.SetPosition(end);
      return false;
    }
    value_size = size;
    buffer_.SetPosition(known + 8);
    return true;
  }
  // Every length is checked against what the buffer holds before it is used, so a reply cut
  // short or made up by a faulty service ends the search instead of reading past the end or
  // looping on a negative size.
  int64_t p = scan_position_;
  while (p < end) {
    if (end - p < 4) break;
    const int32_t name_length = DecodeFixed<int32_t>(data + p);
    if (name_length < 0 || name_length > end - p - 4 - 8) break;
    const int64_t size_position = p + 4 + name_length;
    // The index holds 32-bit positions: an entry past 2 GiB could only be indexed wrongly.
    if (size_position > INT32_MAX) break;
    const int64_t size = DecodeFixed<int64_t>(data + size_position);
    if (size < 0 || size > end - size_position - 8) break;
    std::u16string entry_name = UnitsFromBytes(data + p + 4, name_length / 2);
    name_index_.AddKey(platform::WideToAnsi(entry_name), static_cast<int32_t>(size_position));
    p = size_position + 8;
    // Entries before the new position are indexed now; keeping ScanPosition there means no
    // entry is indexed twice, even for a caller that uses FindEntry without GetText.
    scan_position_ = std::max(scan_position_, p + size);
    if (entry_name == name) {
      value_size = size;
      buffer_.SetPosition(p);
      return true;
    }
    p += size;
  }
  buffer_.SetPosition(end);
  return false;
}

std::u16string TStreamStorage::GetText(std::u16string_view name) {
  std::u16string text;
  int64_t size = 0;
  if (FindEntry(name, size)) {
    const int64_t start = buffer_.Position();
    text = UnitsFromBytes(buffer_.Memory() + start, size / 2);
    buffer_.SetPosition(start + size);  // an odd last byte is passed over
  }
  scan_position_ = std::max(scan_position_, buffer_.Position());
  return text;
}

}  // namespace rb

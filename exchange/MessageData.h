// Messages exchanged with the host's exchange service: a message ID and a value buffer of named,
// typed entries, reference counted so that request and reply can be handed around freely.
//
// Entry layout in the buffer (little-endian, no alignment, no type tag), the wire format the
// service shares:
//   name length   4 bytes, signed   byte count of the name (2 x its UTF-16 code units)
//   name          UTF-16LE code units, no terminator
//   value size    8 bytes, signed   byte count of the value
//   value         Boolean: 1 byte (0/1); integer: 4 bytes; text: UTF-16LE code units
// PutInteger(u"INDEX", -1) appends 26 bytes: 0A 00 00 00 'I' 00 'N' 00 'D' 00 'E' 00 'X' 00
// 04 00 00 00 00 00 00 00 FF FF FF FF.
//
// Ownership: a message is created by NewMessageData and lives while a TRef to it exists; its
// storage belongs to it. Reference counts are atomic, so references may be taken and dropped
// on any thread; the storage itself serves one thread at a time.
//
// Failure: a second entry with a name already in the buffer raises rb::Exception
// ("Value with name "X" already exists") and leaves the buffer unchanged. Reading never
// raises: a missing name, a truncated or corrupt entry all give false or the empty text.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "exchange/StringHash.h"
#include "util/Streams.h"

namespace rb {

// An interface identifier in the Windows GUID layout.
struct TInterfaceId {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const TInterfaceId&, const TInterfaceId&) = default;
};

inline constexpr int32_t kSOk = 0;
inline constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002u);

inline constexpr TInterfaceId kIID_IInterface = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr TInterfaceId kIID_IMessageData = {
    0x478D31BF, 0x75D2, 0x4EFF, {0x8B, 0xCA, 0xC7, 0x2F, 0x41, 0xA6, 0x19, 0x2E}};

// The three basic operations of every counted interface, in this slot order.
class IInterface {
 public:
  // kSOk and the interface in *object (a counted reference) when supported, else
  // kENoInterface and null. A null object only asks: no reference is taken.
  virtual int32_t QueryInterface(const TInterfaceId& iid, void** object) = 0;
  // The new count.
  virtual int32_t AddRef() = 0;
  // The new count; at 0 the object has destroyed itself.
  virtual int32_t Release() = 0;

 protected:
  ~IInterface() = default;
};

// An owning reference to a counted interface: takes a reference on construction and copy,
// drops it on destruction. Callers never delete counted objects themselves.
template <class T>
class TRef {
 public:
  TRef() = default;
  TRef(std::nullptr_t) {}  // NOLINT: an empty reference converts implicitly, like nil
  explicit TRef(T* object) : object_(object) {
    if (object_ != nullptr) object_->AddRef();
  }
  TRef(const TRef& other) : TRef(other.object_) {}
  TRef(TRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  TRef& operator=(TRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~TRef() { Reset(); }

  void Reset() {
    if (T* object = std::exchange(object_, nullptr)) object->Release();
  }
  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

// Base of counted objects. The count is held at 1 while the object is being built (so that a
// reference taken and dropped inside a constructor cannot destroy it) and lowered to 0 once
// MakeCounted has finished: a new object starts at 0 and its first reference makes it 1.
class TRefCountedObject : public virtual IInterface {
 public:
  TRefCountedObject() = default;
  TRefCountedObject(const TRefCountedObject&) = delete;
  TRefCountedObject& operator=(const TRefCountedObject&) = delete;
  // Destroying an object that is still referenced is not reported.
  virtual ~TRefCountedObject() = default;

  int32_t QueryInterface(const TInterfaceId& iid, void** object) override;
  int32_t AddRef() override;
  int32_t Release() override;

  int32_t RefCount() const { return ref_count_.load(); }

  // Ends the construction phase (see above); called once by MakeCounted.
  void AfterConstruction() { ref_count_.fetch_sub(1); }

 protected:
  // The interfaces this object offers besides IInterface; null when iid is not one of them.
  virtual void* FindInterface(const TInterfaceId& iid);

 private:
  std::atomic<int32_t> ref_count_{1};
};

// Creates a counted object and returns the first reference to it through interface I.
template <class T, class I, class... Args>
TRef<I> MakeCounted(Args&&... args) {
  T* object = new T(std::forward<Args>(args)...);
  object->AfterConstruction();
  return TRef<I>(static_cast<I*>(object));
}

class TStreamStorage {
 public:
  TStreamStorage();
  TStreamStorage(const TStreamStorage&) = delete;
  TStreamStorage& operator=(const TStreamStorage&) = delete;

  // Each appends one entry. PutBoolean and PutInteger skip an empty name; PutText skips an
  // empty name and an empty value, so an empty text has no entry at all.
  void PutBoolean(std::u16string_view name, bool value);
  void PutInteger(std::u16string_view name, int32_t value);
  void PutText(std::u16string_view name, std::u16string_view value);

  // The text value of the name; empty when there is none or the entry is cut short. An entry
  // of odd size loses its last byte; a Boolean or integer entry reads as its bytes.
  std::u16string GetText(std::u16string_view name);

  // On true, Buffer() stands at the first value byte and value_size is the value's byte count,
  // which the buffer is known to hold. Entries are indexed lazily: a name not met before is
  // searched from ScanPosition on, indexing every whole entry passed. A corrupt entry (negative
  // or overlong name or value) ends the search with false, the position at the buffer's end;
  // so does an entry whose value size lies beyond 2 GiB, where the index cannot point.
  bool FindEntry(std::u16string_view name, int64_t& value_size);

  // Appends fields 1 to 3 of an entry; raises on a duplicate name (see the file's contract).
  void AppendEntryHeader(std::u16string_view name, int64_t value_size);

  // The transport reads the request from and appends the reply to this buffer directly.
  TMemoryStream& Buffer() { return buffer_; }
  int64_t ScanPosition() const { return scan_position_; }
  const TStringHash& NameIndex() const { return name_index_; }

 private:
  void AppendValue(const void* bytes, int64_t count);

  int64_t scan_position_ = 0;
  TMemoryStream buffer_;
  TStringHash name_index_;
};

class IMessageData : public virtual IInterface {
 public:
  virtual std::string MessageId() const = 0;
  virtual TStreamStorage& Storage() = 0;
  virtual void SetMessageId(const std::string& id) = 0;

 protected:
  ~IMessageData() = default;
};

class TMessageData : public TRefCountedObject, public IMessageData {
 public:
  TMessageData() = default;

  std::string MessageId() const override { return message_id_; }
  TStreamStorage& Storage() override { return storage_; }
  void SetMessageId(const std::string& id) override { message_id_ = id; }

 protected:
  void* FindInterface(const TInterfaceId& iid) override;

 private:
  std::string message_id_;
  TStreamStorage storage_;
};

using TMessageRef = TRef<IMessageData>;

// A new, empty message: no ID, no entries.
TMessageRef NewMessageData();

}  // namespace rb

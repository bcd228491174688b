// The JSON value tree: numbers, strings, Booleans, null, arrays (TKXSONList) and objects (TKXJSON)
// under the abstract base TKXCustomJSON. An object holds its members as name/value pairs
// (TKXJSONobjectmethod) in the order added and may index the names in an AA tree (TKXBalTree).
// Values go in and out as TVariant; member names given as 8-bit text are in the system code page.
//
// Ownership: a container owns its children, a pair owns its value, an object owns its name index.
// Owning pointers are TKXJSONPtr (std::unique_ptr with TKXJSONDeleter); values made with the New...
// functions and handed to AddItem, SetItem or AddMember pass into the container's ownership.
// Pointers returned by GetItem, ChildByKey, FindMember and the like are borrowed: they stay valid
// while their container holds them.
//
// Memory: a tree built by the reader (TKXJSONStreamer) draws its nodes, texts, child arrays and
// name-index nodes from one arena that its root container owns; such nodes are destroyed in the
// same order as standalone ones but their memory goes back only with the root. Values added later
// are ordinary heap objects, so both kinds may be mixed in one tree.
//
// Failure: indexes out of range give none, 0, empty text or false; a typed item operation on a
// child of another class raises EInvalidCast("Invalid class typecast"); a variant that does not
// convert raises the variant's errors (util/Variant.h), leaving the stored value unchanged.
// Not thread-safe: one thread at a time per tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <forward_list>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/Variant.h"

namespace rb {

enum class ValueKind : uint8_t {
  js_Base = 0,
  js_Number = 1,
  js_String = 2,
  js_Boolean = 3,
  js_Null = 4,
  js_List = 5,
  js_Object = 6,
};

// "js_Base", "js_Number", "js_String", "js_Boolean", "js_Null", "js_List", "js_Object".
const char* ValueKindName(ValueKind kind);

class TKXCustomJSON;
class TKXJSONnumber;
class TKXJSONstring;
class TKXJSONboolean;
class TKXJSONnull;
class TKXSONList;
class TKXJSON;
class TKXArena;

// Destroys a value: deletes a heap value, or runs the destructor of an arena value.
struct TKXJSONDeleter {
  void operator()(TKXCustomJSON* value) const;
};
template <class T>
using TKXOwned = std::unique_ptr<T, TKXJSONDeleter>;
using TKXJSONPtr = TKXOwned<TKXCustomJSON>;

class TKXCustomJSON {
 public:
  TKXCustomJSON(const TKXCustomJSON&) = delete;
  TKXCustomJSON& operator=(const TKXCustomJSON&) = delete;
  virtual ~TKXCustomJSON() = default;

  // Set a member's value: on an object the named member (appended when missing); on a number,
  // string or Boolean the value itself, whatever the name; on anything else nothing.
  virtual void SetBooleanMember(const std::string& name, bool value);
  virtual void SetIntegerMember(const std::string& name, int32_t value);
  virtual void SetCurrencyMember(const std::string& name, int64_t ten_thousandths);
  virtual void SetFloatMember(const std::string& name, double value);
  virtual void SetTextMember(const std::string& name, const std::string& value);

  // Null for everything but numbers, strings and Booleans.
  virtual TVariant GetValue() const;
  // Does nothing for null, pairs and containers.
  virtual void SetValue(const TVariant& value);
  virtual TKXCustomJSON* GetItem(int32_t index) const;
  // Out of range: nothing happens and value is destroyed.
  virtual void SetItem(int32_t index, TKXJSONPtr value);
  virtual int32_t ItemCount() const;
  // A container looks the key up (see TKXJSONcustomlist and TKXJSON); other values give
  // themselves.
  virtual TKXCustomJSON* ChildByKey(const TVariant& key);

  virtual ValueKind GetKind() const { return ClassKind(); }
  const char* GetKindName() const { return ValueKindName(GetKind()); }
  // Class-level kind of this class (member pairs and the container bases report js_Base).
  static constexpr ValueKind ClassKind() { return ValueKind::js_Base; }

  // Document access, safe on any kind of value and never raising for a missing member.
  // The value of the member (an object), the receiver itself (any other value) or none.
  TKXCustomJSON* FindMember(const std::string& name);
  // GetItem of the index.
  TKXCustomJSON* ItemAt(int32_t index);
  // The member's value as 8-bit text by the variant rules; empty for a missing member and for
  // null, arrays, objects and pairs.
  std::string MemberAsText(const std::string& name);

  static TKXOwned<TKXJSONnumber> NewNumber(long double value);
  static TKXOwned<TKXJSONstring> NewString(std::u16string_view value);
  static TKXOwned<TKXJSONboolean> NewBoolean(bool value);

 protected:
  TKXCustomJSON() = default;

  // Runs T's constructor in the arena, or on the heap when arena is null.
  template <class T, class... Args>
  static T* Create(TKXArena* arena, Args&&... args);

 private:
  friend struct TKXJSONDeleter;
  friend class TKXJSONStreamer;
  friend class TKXJSONobjectmethod;
  bool in_arena_ = false;

 protected:
  // What destroying a node of the reader's arena involves, so that the many that hold nothing
  // outside the arena are passed over without a virtual destructor call each (TKXJSONDeleter).
  enum class NodeClass : uint8_t {
    kOther,   // containers and anything else: always destroyed
    kPlain,   // numbers, Booleans, null: nothing outside the arena
    kText,    // strings: only a text of their own (owns_text_) is outside it
    kMember,  // pairs: the name when owned, and the value
  };
  explicit TKXCustomJSON(NodeClass node_class) : node_class_(node_class) {}
  // Called by every operation that gives a node something from outside the reader's arena.
  void NoteOutsideResources();

  // Spare bytes after in_arena_, used by subclasses for small fields.
  bool owns_text_ = false;

 private:
  NodeClass node_class_ = NodeClass::kOther;
};

class TKXJSONnumber : public TKXCustomJSON {
 public:
  explicit TKXJSONnumber(long double value = 0) : TKXCustomJSON(NodeClass::kPlain) { Store(value); }
  // A double variant; raises EVariantOverflowError when the value is too large for a double.
  TVariant GetValue() const override;
  void SetValue(const TVariant& value) override;
  ValueKind GetKind() const override { return ClassKind(); }
  static constexpr ValueKind ClassKind() { return ValueKind::js_Number; }
  long double Value() const {
    long double value = 0;
    std::memcpy(&value, value_, sizeof value_);
    return value;
  }

 private:
  // The significant bytes only, unaligned: a node of 24 bytes instead of 32 (the x87 format
  // has 10 of its 16 bytes in use), which the many numbers of a document add up.
  static constexpr size_t kValueBytes =
      std::numeric_limits<long double>::digits == 64 ? 10 : sizeof(long double);
  void Store(long double value) { std::memcpy(value_, &value, sizeof value_); }

  unsigned char value_[kValueBytes];
};

class TKXJSONstring : public TKXCustomJSON {
 public:
  TKXJSONstring() : TKXCustomJSON(NodeClass::kText) {}
  explicit TKXJSONstring(std::u16string_view value) : TKXCustomJSON(NodeClass::kText) {
    Assign(value);
  }
  ~TKXJSONstring() override;
  TVariant GetValue() const override;
  // Null stores the empty text.
  void SetValue(const TVariant& value) override;
  ValueKind GetKind() const override { return ClassKind(); }
  static constexpr ValueKind ClassKind() { return ValueKind::js_String; }
  std::u16string_view Text() const { return {text_, len_}; }

 private:
  friend class TKXJSONStreamer;
  struct ArenaText {};

 public:
  // Refers to text that lives as long as this value (the reader's arena).
  TKXJSONstring(ArenaText, std::u16string_view text)
      : TKXCustomJSON(NodeClass::kText), len_(uint32_t(text.size())), text_(text.data()) {}

 private:
  void Assign(std::u16string_view value);

  uint32_t len_ = 0;
  const char16_t* text_ = nullptr;  // owned when owns_text_
};

class TKXJSONboolean : public TKXCustomJSON {
 public:
  explicit TKXJSONboolean(bool value = false) : TKXCustomJSON(NodeClass::kPlain), value_(value) {}
  TVariant GetValue() const override;
  void SetValue(const TVariant& value) override;
  ValueKind GetKind() const override { return ClassKind(); }
  static constexpr ValueKind ClassKind() { return ValueKind::js_Boolean; }
  bool Value() const { return value_; }

 private:
  bool value_;
};

class TKXJSONnull : public TKXCustomJSON {
 public:
  TKXJSONnull() : TKXCustomJSON(NodeClass::kPlain) {}
  static TKXOwned<TKXJSONnull> New();
  TVariant GetValue() const override;
  ValueKind GetKind() const override { return ClassKind(); }
  static constexpr ValueKind ClassKind() { return ValueKind::js_Null; }
};

// A member of an object: a name and the value it owns (possibly none).
class TKXJSONobjectmethod : public TKXCustomJSON {
 public:
  explicit TKXJSONobjectmethod(std::u16string_view name, TKXJSONPtr value = nullptr);
  ~TKXJSONobjectmethod() override;

  std::u16string_view Name() const { return {name_, name_len_}; }
  TKXCustomJSON* Value() const { return value_; }
  // The node as a pair, or none: what dynamic_cast gives, for readers that look at many members
  // (the table build reads five of every position).
  static const TKXJSONobjectmethod* AsPair(const TKXCustomJSON* node) {
    return node != nullptr && node->node_class_ == NodeClass::kMember
               ? static_cast<const TKXJSONobjectmethod*>(node)
               : nullptr;
  }
  // Destroys the value held before.
  void SetPairValue(TKXJSONPtr value);

 private:
  friend struct TKXJSONDeleter;
  friend class TKXJSONStreamer;
  struct ArenaName {};

 public:
  // Refers to a name that lives as long as this pair (the reader's arena); takes value.
  TKXJSONobjectmethod(ArenaName, std::u16string_view name, TKXCustomJSON* value)
      : TKXCustomJSON(NodeClass::kMember),
        name_len_(uint32_t(name.size())),
        name_(name.data()),
        value_(value) {}

 private:
  uint32_t name_len_ = 0;
  const char16_t* name_ = nullptr;  // owned when owns_text_
  TKXCustomJSON* value_ = nullptr;  // owned
};

// The container base: an ordered list of owned children.
class TKXJSONcustomlist : public TKXCustomJSON {
 public:
  ~TKXJSONcustomlist() override;

  TKXCustomJSON* GetItem(int32_t index) const override;
  void SetItem(int32_t index, TKXJSONPtr value) override;
  int32_t ItemCount() const override { return static_cast<int32_t>(count_); }
  // A numeric key (integer kinds, Boolean, byte, single, double, currency) gives GetItem of the
  // key rounded to a 32-bit integer; any other key gives the container itself.
  TKXCustomJSON* ChildByKey(const TVariant& key) override;

  // name: the index in decimal (arrays) or the member's name (objects); result: the element or
  // the member's value.
  virtual TKXCustomJSON* ItemWithName(int32_t index, std::string& name);
  // Appends; none given returns -1 and adds nothing.
  virtual int32_t AddItem(TKXJSONPtr value);
  // Destroys the child and moves the last child into its place: removing 1 from (a, b, c, d)
  // leaves (a, d, c).
  virtual void RemoveItem(int32_t index);
  // First position holding that very instance, or -1.
  virtual int32_t IndexOfItem(const TKXCustomJSON* value) const;
  // Typed reads of the child (array) or member value (object) at index: 0, empty or false when
  // there is none, EInvalidCast when it is of another class. ItemAsInteger truncates toward zero
  // and raises EVariantOverflowError beyond the 32-bit range rather than wrap around to a wrong
  // count.
  virtual int32_t ItemAsInteger(int32_t index);
  virtual std::string ItemAsText(int32_t index);
  virtual std::u16string ItemAsWideText(int32_t index);
  virtual double ItemAsFloat(int32_t index);
  virtual bool ItemAsBoolean(int32_t index);

 protected:
  TKXJSONcustomlist() = default;
  // The value that the typed item operations read at index.
  virtual TKXCustomJSON* TypedItem(int32_t index) { return GetItem(index); }
  // Called after a child was replaced or removed.
  virtual void ChildrenChanged() {}
  // Destroys the children from the last to the first.
  void DestroyChildren();
  // Called before the children change: the tree now holds, or may hold, heap values.
  void NoteChange();
  TKXCustomJSON* const* Items() const { return items_; }

 private:
  friend class TKXJSONStreamer;
  // Adopts a child array drawn from the arena (the reader's exact-sized lists).
  void AdoptArenaItems(TKXCustomJSON** items, uint32_t count);

  TKXCustomJSON** items_ = nullptr;  // arena array or heap_items_.data()
  uint32_t count_ = 0;
  std::vector<TKXCustomJSON*> heap_items_;
  std::unique_ptr<TKXArena> arena_;  // set on the root of a tree built by the reader
};

class TKXSONList : public TKXJSONcustomlist {
 public:
  TKXSONList() = default;
  static TKXOwned<TKXSONList> New();
  ValueKind GetKind() const override { return ClassKind(); }
  static constexpr ValueKind ClassKind() { return ValueKind::js_List; }
};

// One node of the name index. Left and Right are positions in the tree's node pool; position 0 is
// the sentinel Bottom.
struct TKXBalNode {
  uint32_t Left;
  uint32_t Right;
  uint8_t Level;
  int32_t Position;
  std::u16string_view Key;
};

// An AA tree from member names to positions. Keys compare by UTF-16 code units as unsigned
// numbers, a prefix first; equal keys keep the first position.
class TKXBalTree {
 public:
  TKXBalTree() = default;
  TKXBalTree(const TKXBalTree&) = delete;
  TKXBalTree& operator=(const TKXBalTree&) = delete;
  ~TKXBalTree() { ClearNodes(); }

  int32_t FindPosition(std::u16string_view key) const;
  // Copies the key; true when a node was added.
  bool InsertKey(std::u16string_view key, int32_t position);
  void ClearNodes();

  int32_t NodeCount() const { return count_ == 0 ? 0 : static_cast<int32_t>(count_ - 1); }
  // Tree shape, for checks: the root's node index (0 for Bottom) and the pool.
  uint32_t RootNode() const { return root_; }
  const TKXBalNode& Node(uint32_t index) const { return nodes_[index]; }
  // Whether other is this very index, as the reader gives it to objects with the same names in
  // the same order (SharePool): a name's position found in one then holds in the other.
  bool SameIndexAs(const TKXBalTree& other) const {
    return nodes_ != nullptr && nodes_ == other.nodes_ && root_ == other.root_ &&
           count_ == other.count_;
  }

 private:
  friend class TKXJSON;
  friend class TKXJSONStreamer;
  // Inserts a key whose characters outlive the tree (or until the next ClearNodes).
  bool InsertView(std::u16string_view key, int32_t position);
  bool Insert(uint32_t& link, std::u16string_view key, int32_t position);
  // Makes room for one more node, moving an arena pool to the heap.
  void Reserve(uint32_t extra);
  // Uses an arena pool of capacity entries (Bottom included) for the reader's objects.
  void UseArenaPool(TKXBalNode* pool, uint32_t capacity);
  // Marks the pool full, so that the next insertion copies it to the heap first: pools that
  // the reader builds may be shared.
  void Seal() { capacity_ = count_; }
  // Uses other's sealed pool, read-only (same keys at the same positions).
  void SharePool(const TKXBalTree& other);

  TKXBalNode* nodes_ = nullptr;  // pool; nodes_[0] is Bottom
  uint32_t count_ = 0;           // nodes in use, Bottom included
  uint32_t capacity_ = 0;
  uint32_t root_ = 0;
  std::vector<TKXBalNode> heap_nodes_;
  std::forward_list<std::u16string> owned_keys_;
};

class TKXJSON : public TKXJSONcustomlist {
 public:
  explicit TKXJSON(bool index_member_names) : index_member_names_(index_member_names) {}
  ~TKXJSON() override;
  static TKXOwned<TKXJSON> New(bool index_member_names = true);

  void SetBooleanMember(const std::string& name, bool value) override;
  void SetIntegerMember(const std::string& name, int32_t value) override;
  void SetCurrencyMember(const std::string& name, int64_t ten_thousandths) override;
  void SetFloatMember(const std::string& name, double value) override;
  void SetTextMember(const std::string& name, const std::string& value) override;

  // A text key gives the member's value or none; other keys as for any container (so a number
  // gives the member pair at that position).
  TKXCustomJSON* ChildByKey(const TVariant& key) override;
  TKXCustomJSON* ItemWithName(int32_t index, std::string& name) override;
  ValueKind GetKind() const override { return ClassKind(); }
  static constexpr ValueKind ClassKind() { return ValueKind::js_Object; }

  // Appends a pair; none given returns -1 and adds nothing.
  int32_t AddMember(std::u16string_view name, TKXJSONPtr value);
  int32_t MemberIndex(std::u16string_view name) const;
  TKXCustomJSON* MemberValue(std::u16string_view name) const;
  // Empty for a position out of range or holding no pair.
  std::u16string MemberName(int32_t position) const;
  // Looks the position's name up again, so a repeated name gives its first member, and an empty
  // name gives none.
  TKXCustomJSON* MemberValueAt(int32_t position) const;

  bool IndexMemberNames() const { return index_member_names_; }
  const TKXBalTree& NameIndex() const { return names_; }

 protected:
  TKXCustomJSON* TypedItem(int32_t index) override { return MemberValueAt(index); }
  // Removal moves the last member and replacement may rename one: the index is built anew.
  void ChildrenChanged() override;

 private:
  friend class TKXJSONStreamer;
  template <class T>
  void SetMember(const std::string& name, const TVariant& value, T make);

  TKXBalTree names_;
  bool index_member_names_;
};

// ---- implementation details shared with the reader ----

// A bump allocator over pages of kPageBytes, freed all at once. An allocation larger than a
// quarter page gets a block of its own.
//
// Pages outlive their arena: when an arena goes, its pages are kept for the next arena (the next
// document read in this process), up to kMaxCachedBytes in all, so that a read does not pay for
// fresh pages (page faults and zeroing) that the previous read just gave back. The kept pages
// are memory the process still holds; ReleaseCachedPages gives them back to the system heap at
// once (the program calls it when it will read no document for a while). Small pages also mean
// that a small document holds at most one page it does not use. Arenas may live on different
// threads; the page cache is locked, the arena itself is not.
class TKXArena {
 public:
  static constexpr size_t kPageBytes = 32 * 1024;  // a power of two
  static constexpr size_t kMaxCachedBytes = 128 * 1024 * 1024;

  TKXArena() = default;
  TKXArena(const TKXArena&) = delete;
  TKXArena& operator=(const TKXArena&) = delete;
  ~TKXArena();

  void* Allocate(size_t size, size_t align) {
    const uintptr_t p = (reinterpret_cast<uintptr_t>(cur_) + align - 1) & ~(align - 1);
    if (p + size > reinterpret_cast<uintptr_t>(end_)) return AllocateSlow(size, align);
    cur_ = reinterpret_cast<char*>(p + size);
    return reinterpret_cast<void*>(p);
  }
  template <class T>
  T* AllocateArray(size_t count) {
    return static_cast<T*>(Allocate(sizeof(T) * count, alignof(T)));
  }
  // Gives back the end of the latest allocation: it shrinks from old_size to new_size bytes.
  void Shrink(void* latest, size_t old_size, size_t new_size) {
    if (static_cast<char*>(latest) + old_size == cur_) cur_ -= old_size - new_size;
  }

  // Bytes of pages kept for later arenas, and giving them back.
  static size_t CachedBytes();
  static void ReleaseCachedPages();

  // The arena that p was drawn from. REQUIRES: p came from Allocate of at most a quarter page
  // (every node does). Pages are aligned to their size and open with their arena's address.
  static TKXArena* Of(const void* p) {
    return *reinterpret_cast<TKXArena* const*>(reinterpret_cast<uintptr_t>(p) &
                                               ~uintptr_t{kPageBytes - 1});
  }
  // Set when a node drawn from this arena took something from outside it (a heap value or
  // text). Until then no node of the tree needs destroying: the root drops them with the
  // arena instead of visiting each.
  void NoteOutsideResources() { outside_resources_ = true; }
  bool HasOutsideResources() const { return outside_resources_; }

 private:
  static constexpr size_t kPageHeader = alignof(std::max_align_t);
  void* AllocateSlow(size_t size, size_t align);

  std::vector<char*> pages_;                     // kPageBytes each, back to the cache
  std::vector<std::unique_ptr<char[]>> blocks_;  // the large allocations, freed
  char* cur_ = nullptr;
  char* end_ = nullptr;
  bool outside_resources_ = false;
};

template <class T, class... Args>
T* TKXCustomJSON::Create(TKXArena* arena, Args&&... args) {
  if (arena == nullptr) return new T(std::forward<Args>(args)...);
  T* value = new (arena->Allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
  value->in_arena_ = true;
  return value;
}

}  // namespace rb

#include "json/TKXJSON.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "platform/CodePage.h"
#include "util/Errors.h"

namespace rb {

namespace {

[[noreturn]] void InvalidCast() {
  throw EInvalidCast("Invalid class typecast");
}

// A heap copy of text; the caller owns it (delete[]). Empty text needs no memory.
const char16_t* CopyText(std::u16string_view text) {
  if (text.empty()) return nullptr;
  char16_t* copy = new char16_t[text.size()];
  std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
  return copy;
}

}  // namespace

const char* ValueKindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::js_Base:
      return "js_Base";
    case ValueKind::js_Number:
      return "js_Number";
    case ValueKind::js_String:
      return "js_String";
    case ValueKind::js_Boolean:
      return "js_Boolean";
    case ValueKind::js_Null:
      return "js_Null";
    case ValueKind::js_List:
      return "js_List";
    case ValueKind::js_Object:
      return "js_Object";
  }
  return "js_Base";
}

void TKXJSONDeleter::operator()(TKXCustomJSON* value) const {
  if (value == nullptr) return;
  if (!value->in_arena_) {
    delete value;
    return;
  }
  // The memory goes back with the arena. Most nodes hold nothing else, and a tree of a large
  // document is mostly such nodes: their destructors would only cost a virtual call each.
  using C = TKXCustomJSON::NodeClass;
  switch (value->node_class_) {
    case C::kPlain:
      return;
    case C::kText:
      if (!value->owns_text_) return;
      break;
    case C::kMember:
      if (!value->owns_text_) {
        TKXJSONDeleter()(static_cast<TKXJSONobjectmethod*>(value)->value_);
        return;
      }
      break;
    case C::kOther:
      break;
  }
  value->~TKXCustomJSON();
}

// ---- TKXCustomJSON ----

void TKXCustomJSON::NoteOutsideResources() {
  if (in_arena_) TKXArena::Of(this)->NoteOutsideResources();
}

void TKXCustomJSON::SetBooleanMember(const std::string& name, bool value) {
  if (TKXCustomJSON* target = ChildByKey(TVariant::FromString(name))) {
    target->SetValue(TVariant::FromBoolean(value));
  }
}

void TKXCustomJSON::SetIntegerMember(const std::string& name, int32_t value) {
  if (TKXCustomJSON* target = ChildByKey(TVariant::FromString(name))) {
    target->SetValue(TVariant::FromInteger(value));
  }
}

void TKXCustomJSON::SetCurrencyMember(const std::string& name, int64_t ten_thousandths) {
  if (TKXCustomJSON* target = ChildByKey(TVariant::FromString(name))) {
    target->SetValue(TVariant::FromCurrency(ten_thousandths));
  }
}

void TKXCustomJSON::SetFloatMember(const std::string& name, double value) {
  if (TKXCustomJSON* target = ChildByKey(TVariant::FromString(name))) {
    target->SetValue(TVariant::FromDouble(value));
  }
}

void TKXCustomJSON::SetTextMember(const std::string& name, const std::string& value) {
  if (TKXCustomJSON* target = ChildByKey(TVariant::FromString(name))) {
    target->SetValue(TVariant::FromString(value));
  }
}

TVariant TKXCustomJSON::GetValue() const {
  return TVariant::Null();
}

void TKXCustomJSON::SetValue(const TVariant&) {}

TKXCustomJSON* TKXCustomJSON::GetItem(int32_t) const {
  return nullptr;
}

void TKXCustomJSON::SetItem(int32_t, TKXJSONPtr) {}

int32_t TKXCustomJSON::ItemCount() const {
  return 0;
}

TKXCustomJSON* TKXCustomJSON::ChildByKey(const TVariant&) {
  return this;
}

TKXOwned<TKXJSONnumber> TKXCustomJSON::NewNumber(long double value) {
  return TKXOwned<TKXJSONnumber>(new TKXJSONnumber(value));
}

TKXOwned<TKXJSONstring> TKXCustomJSON::NewString(std::u16string_view value) {
  return TKXOwned<TKXJSONstring>(new TKXJSONstring(value));
}

TKXOwned<TKXJSONboolean> TKXCustomJSON::NewBoolean(bool value) {
  TKXOwned<TKXJSONboolean> result(new TKXJSONboolean());
  result->SetValue(TVariant::FromBoolean(value));
  return result;
}

// ---- scalars ----

TVariant TKXJSONnumber::GetValue() const {
  // Overflow is decided on the rounded result: a value a little above DBL_MAX that rounds to it
  // (1.7976931348623158e308) is still a double, as it is for the floating-point unit.
  const long double stored = Value();
  const double value = static_cast<double>(stored);
  if (std::isinf(value) && std::isfinite(stored)) {
    throw EVariantOverflowError("Floating point overflow");
  }
  return TVariant::FromDouble(value);
}

void TKXJSONnumber::SetValue(const TVariant& value) {
  Store(value.ToDouble());
}

TKXJSONstring::~TKXJSONstring() {
  if (owns_text_) delete[] text_;
}

void TKXJSONstring::Assign(std::u16string_view value) {
  NoteOutsideResources();
  const char16_t* copy = CopyText(value);
  if (owns_text_) delete[] text_;
  text_ = copy;
  len_ = static_cast<uint32_t>(value.size());
  owns_text_ = true;
}

TVariant TKXJSONstring::GetValue() const {
  return TVariant::FromWide(std::u16string(Text()));
}

void TKXJSONstring::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Assign(u"");
  } else {
    Assign(value.ToWide());
  }
}

TVariant TKXJSONboolean::GetValue() const {
  return TVariant::FromBoolean(value_);
}

void TKXJSONboolean::SetValue(const TVariant& value) {
  value_ = value.ToBoolean();
}

TKXOwned<TKXJSONnull> TKXJSONnull::New() {
  return TKXOwned<TKXJSONnull>(new TKXJSONnull());
}

TVariant TKXJSONnull::GetValue() const {
  return TVariant::Null();
}

// ---- TKXJSONobjectmethod ----

TKXJSONobjectmethod::TKXJSONobjectmethod(std::u16string_view name, TKXJSONPtr value)
    : TKXCustomJSON(NodeClass::kMember),
      name_len_(static_cast<uint32_t>(name.size())),
      name_(CopyText(name)) {
  owns_text_ = true;
  value_ = value.release();
}

TKXJSONobjectmethod::~TKXJSONobjectmethod() {
  if (owns_text_) delete[] name_;
  name_ = nullptr;
  name_len_ = 0;
  TKXJSONDeleter()(value_);
}

void TKXJSONobjectmethod::SetPairValue(TKXJSONPtr value) {
  NoteOutsideResources();
  TKXJSONDeleter()(value_);
  value_ = value.release();
}

// ---- TKXJSONcustomlist ----

TKXJSONcustomlist::~TKXJSONcustomlist() {
  DestroyChildren();
}

void TKXJSONcustomlist::NoteChange() {
  if (arena_) {
    arena_->NoteOutsideResources();
  } else {
    NoteOutsideResources();
  }
}

void TKXJSONcustomlist::DestroyChildren() {
  if (arena_ && !arena_->HasOutsideResources()) {
    // The root of a read tree that nobody changed: every node below lives in the arena and
    // holds nothing outside it, so they all go with the arena, unvisited.
    count_ = 0;
    items_ = nullptr;
    heap_items_.clear();
    return;
  }
  // Last to first, each removal taking the last position.
  while (count_ > 0) {
    --count_;
    TKXCustomJSON* child = items_[count_];
    items_[count_] = nullptr;
    TKXJSONDeleter()(child);
  }
  heap_items_.clear();
}

void TKXJSONcustomlist::AdoptArenaItems(TKXCustomJSON** items, uint32_t count) {
  items_ = items;
  count_ = count;
}

TKXCustomJSON* TKXJSONcustomlist::GetItem(int32_t index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= count_) return nullptr;
  return items_[index];
}

void TKXJSONcustomlist::SetItem(int32_t index, TKXJSONPtr value) {
  if (index < 0 || static_cast<uint32_t>(index) >= count_) return;  // value is destroyed
  NoteChange();
  TKXCustomJSON* old = items_[index];
  items_[index] = value.release();
  TKXJSONDeleter()(old);
  ChildrenChanged();
}

TKXCustomJSON* TKXJSONcustomlist::ChildByKey(const TVariant& key) {
  if (key.IsNumeric()) return GetItem(key.ToInteger());
  return this;
}

TKXCustomJSON* TKXJSONcustomlist::ItemWithName(int32_t index, std::string& name) {
  name = std::to_string(index);
  return GetItem(index);
}

int32_t TKXJSONcustomlist::AddItem(TKXJSONPtr value) {
  if (!value) return -1;
  NoteChange();
  if (items_ != heap_items_.data()) {
    // The reader's exact-sized array: continue on the heap.
    heap_items_.assign(items_, items_ + count_);
  }
  heap_items_.push_back(value.get());
  value.release();  // owned by the list only once it is in
  items_ = heap_items_.data();
  return static_cast<int32_t>(count_++);
}

void TKXJSONcustomlist::RemoveItem(int32_t index) {
  if (index < 0 || static_cast<uint32_t>(index) >= count_) return;
  NoteChange();
  TKXCustomJSON* child = items_[index];
  const uint32_t last = count_ - 1;
  items_[index] = items_[last];
  items_[last] = nullptr;
  count_ = last;
  if (items_ == heap_items_.data()) heap_items_.resize(count_);  // keeps the buffer
  TKXJSONDeleter()(child);
  ChildrenChanged();
}

int32_t TKXJSONcustomlist::IndexOfItem(const TKXCustomJSON* value) const {
  for (uint32_t i = 0; i < count_; ++i) {
    if (items_[i] == value) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TKXJSONcustomlist::ItemAsInteger(int32_t index) {
  TKXCustomJSON* item = TypedItem(index);
  if (item == nullptr) return 0;
  if (dynamic_cast<TKXJSONnumber*>(item) == nullptr) InvalidCast();
  const double value = std::trunc(item->GetValue().ToDouble());
  if (!(value >= INT32_MIN && value <= INT32_MAX)) {
    throw EVariantOverflowError(
        "Range check error while converting variant of type (Double) into type (Integer)");
  }
  return static_cast<int32_t>(value);
}

std::string TKXJSONcustomlist::ItemAsText(int32_t index) {
  TKXCustomJSON* item = TypedItem(index);
  if (item == nullptr) return {};
  auto* text = dynamic_cast<TKXJSONstring*>(item);
  if (text == nullptr) InvalidCast();
  return platform::WideToAnsi(text->Text());
}

std::u16string TKXJSONcustomlist::ItemAsWideText(int32_t index) {
  TKXCustomJSON* item = TypedItem(index);
  if (item == nullptr) return {};
  auto* text = dynamic_cast<TKXJSONstring*>(item);
  if (text == nullptr) InvalidCast();
  return std::u16string(text->Text());
}

double TKXJSONcustomlist::ItemAsFloat(int32_t index) {
  TKXCustomJSON* item = TypedItem(index);
  if (item == nullptr) return 0;
  if (dynamic_cast<TKXJSONnumber*>(item) == nullptr) InvalidCast();
  return item->GetValue().ToDouble();
}

bool TKXJSONcustomlist::ItemAsBoolean(int32_t index) {
  TKXCustomJSON* item = TypedItem(index);
  if (item == nullptr) return false;
  auto* flag = dynamic_cast<TKXJSONboolean*>(item);
  if (flag == nullptr) InvalidCast();
  return flag->Value();
}

TKXOwned<TKXSONList> TKXSONList::New() {
  return TKXOwned<TKXSONList>(new TKXSONList());
}

// ---- TKXBalTree ----

int32_t TKXBalTree::FindPosition(std::u16string_view key) const {
  uint32_t node = root_;
  while (node != 0) {
    const TKXBalNode& n = nodes_[node];
    const int c = key.compare(n.Key);
    if (c == 0) return n.Position;
    node = c < 0 ? n.Left : n.Right;
  }
  return -1;
}

bool TKXBalTree::InsertKey(std::u16string_view key, int32_t position) {
  owned_keys_.emplace_front(key);
  const bool added = InsertView(owned_keys_.front(), position);
  if (!added) owned_keys_.pop_front();
  return added;
}

bool TKXBalTree::InsertView(std::u16string_view key, int32_t position) {
  Reserve(1);  // no reallocation while Insert holds references into the pool
  return Insert(root_, key, position);
}

bool TKXBalTree::Insert(uint32_t& link, std::u16string_view key, int32_t position) {
  if (link == 0) {
    const uint32_t index = count_++;
    nodes_[index] = TKXBalNode{0, 0, 1, position, key};
    link = index;
    return true;
  }
  const int c = key.compare(nodes_[link].Key);
  if (c == 0) return false;
  const bool added =
      c < 0 ? Insert(nodes_[link].Left, key, position) : Insert(nodes_[link].Right, key, position);
  // Skew: a left child on the same level takes the node's place.
  uint32_t node = link;
  const uint32_t left = nodes_[node].Left;
  if (nodes_[left].Level == nodes_[node].Level) {
    nodes_[node].Left = nodes_[left].Right;
    nodes_[left].Right = node;
    link = left;
  }
  // Split: two right children on the same level lift the middle one.
  node = link;
  const uint32_t right = nodes_[node].Right;
  if (nodes_[nodes_[right].Right].Level == nodes_[node].Level) {
    nodes_[node].Right = nodes_[right].Left;
    nodes_[right].Left = node;
    ++nodes_[right].Level;
    link = right;
  }
  return added;
}

void TKXBalTree::Reserve(uint32_t extra) {
  const uint32_t used = std::max<uint32_t>(count_, 1);
  if (nodes_ != nullptr && used + extra <= capacity_) return;
  const uint32_t capacity = std::max<uint32_t>({used + extra, capacity_ * 2, 8});
  if (nodes_ != heap_nodes_.data() || nodes_ == nullptr) {
    std::vector<TKXBalNode> copy;
    copy.reserve(capacity);
    if (nodes_ != nullptr) {
      copy.assign(nodes_, nodes_ + count_);
    } else {
      copy.push_back(TKXBalNode{0, 0, 0, -1, {}});  // Bottom
    }
    heap_nodes_ = std::move(copy);
  }
  count_ = used;
  heap_nodes_.resize(capacity);
  nodes_ = heap_nodes_.data();
  capacity_ = capacity;
}

void TKXBalTree::UseArenaPool(TKXBalNode* pool, uint32_t capacity) {
  ClearNodes();
  pool[0] = TKXBalNode{0, 0, 0, -1, {}};
  nodes_ = pool;
  count_ = 1;
  capacity_ = capacity;
  root_ = 0;
}

void TKXBalTree::SharePool(const TKXBalTree& other) {
  ClearNodes();
  nodes_ = other.nodes_;
  count_ = other.count_;
  capacity_ = other.count_;
  root_ = other.root_;
}

void TKXBalTree::ClearNodes() {
  // Nodes live in a pool, so clearing drops them all at once.
  root_ = 0;
  count_ = 0;
  capacity_ = 0;
  nodes_ = nullptr;
  heap_nodes_.clear();
  owned_keys_.clear();
}

// ---- TKXJSON ----

TKXJSON::~TKXJSON() {
  DestroyChildren();
  names_.ClearNodes();
}

TKXOwned<TKXJSON> TKXJSON::New(bool index_member_names) {
  return TKXOwned<TKXJSON>(new TKXJSON(index_member_names));
}

template <class T>
void TKXJSON::SetMember(const std::string& name, const TVariant& value, T make) {
  const std::u16string wide = platform::AnsiToWide(name);
  if (TKXCustomJSON* member = MemberValue(wide)) {
    member->SetValue(value);
  } else {
    AddMember(wide, make());
  }
}

void TKXJSON::SetBooleanMember(const std::string& name, bool value) {
  SetMember(name, TVariant::FromBoolean(value), [&] { return TKXJSONPtr(NewBoolean(value)); });
}

void TKXJSON::SetIntegerMember(const std::string& name, int32_t value) {
  SetMember(name, TVariant::FromInteger(value), [&] { return TKXJSONPtr(NewNumber(value)); });
}

void TKXJSON::SetCurrencyMember(const std::string& name, int64_t ten_thousandths) {
  SetMember(name, TVariant::FromCurrency(ten_thousandths), [&] {
    return TKXJSONPtr(NewNumber(static_cast<long double>(ten_thousandths) / 10000));
  });
}

void TKXJSON::SetFloatMember(const std::string& name, double value) {
  SetMember(name, TVariant::FromDouble(value), [&] { return TKXJSONPtr(NewNumber(value)); });
}

void TKXJSON::SetTextMember(const std::string& name, const std::string& value) {
  SetMember(name, TVariant::FromString(value),
            [&] { return TKXJSONPtr(NewString(platform::AnsiToWide(value))); });
}

TKXCustomJSON* TKXJSON::ChildByKey(const TVariant& key) {
  if (key.IsText()) return MemberValue(key.ToWide());
  return TKXJSONcustomlist::ChildByKey(key);
}

TKXCustomJSON* TKXJSON::ItemWithName(int32_t index, std::string& name) {
  name = platform::WideToAnsi(MemberName(index));
  return MemberValueAt(index);
}

int32_t TKXJSON::AddMember(std::u16string_view name, TKXJSONPtr value) {
  if (!value) return -1;
  auto* pair = new TKXJSONobjectmethod(name, std::move(value));
  const int32_t position = AddItem(TKXJSONPtr(pair));
  // The pair holds the name for as long as the index may refer to it.
  if (index_member_names_) names_.InsertView(pair->Name(), position);
  return position;
}

int32_t TKXJSON::MemberIndex(std::u16string_view name) const {
  if (index_member_names_) return names_.FindPosition(name);
  const int32_t count = ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    const auto* pair = dynamic_cast<const TKXJSONobjectmethod*>(Items()[i]);
    if (pair != nullptr && pair->Name() == name) return i;
  }
  return -1;
}

TKXCustomJSON* TKXJSON::MemberValue(std::u16string_view name) const {
  const auto* pair = dynamic_cast<const TKXJSONobjectmethod*>(GetItem(MemberIndex(name)));
  return pair != nullptr ? pair->Value() : nullptr;
}

std::u16string TKXJSON::MemberName(int32_t position) const {
  const auto* pair = dynamic_cast<const TKXJSONobjectmethod*>(GetItem(position));
  return pair != nullptr ? std::u16string(pair->Name()) : std::u16string();
}

TKXCustomJSON* TKXJSON::MemberValueAt(int32_t position) const {
  const std::u16string name = MemberName(position);
  if (name.empty()) return nullptr;
  return MemberValue(name);
}

void TKXJSON::ChildrenChanged() {
  if (!index_member_names_) return;
  names_.ClearNodes();
  const int32_t count = ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    if (const auto* pair = dynamic_cast<const TKXJSONobjectmethod*>(Items()[i])) {
      names_.InsertView(pair->Name(), i);
    }
  }
}

// ---- TKXArena ----

namespace {

// Under the address sanitizer a kept page is unreadable until an arena takes it again, so a
// tree used after its root was destroyed is still caught.
void PoisonPage([[maybe_unused]] char* page) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_POISON_MEMORY_REGION(page, TKXArena::kPageBytes);
#endif
}
void UnpoisonPage([[maybe_unused]] char* page) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_UNPOISON_MEMORY_REGION(page, TKXArena::kPageBytes);
#endif
}

struct PageCache {
  std::mutex lock;
  std::vector<char*> pages;
};

PageCache& Pages() {
  static PageCache* cache = new PageCache;  // never destroyed: arenas may outlive statics
  return *cache;
}

char* TakePage() {
  PageCache& cache = Pages();
  {
    std::lock_guard<std::mutex> hold(cache.lock);
    if (!cache.pages.empty()) {
      char* page = cache.pages.back();
      cache.pages.pop_back();
      UnpoisonPage(page);
      return page;
    }
  }
  return static_cast<char*>(
      ::operator new (TKXArena::kPageBytes, std::align_val_t{TKXArena::kPageBytes}));
}

void FreePage(char* page) {
  ::operator delete (page, std::align_val_t{TKXArena::kPageBytes});
}

}  // namespace

TKXArena::~TKXArena() {
  PageCache& cache = Pages();
  size_t kept = 0;
  {
    std::lock_guard<std::mutex> hold(cache.lock);
    const size_t room =
        kMaxCachedBytes / kPageBytes - std::min(cache.pages.size(), kMaxCachedBytes / kPageBytes);
    kept = std::min(room, pages_.size());
    for (size_t i = 0; i < kept; ++i) {
      PoisonPage(pages_[i]);
      cache.pages.push_back(pages_[i]);
    }
  }
  for (size_t i = kept; i < pages_.size(); ++i)
    FreePage(pages_[i]);
}

void* TKXArena::AllocateSlow(size_t size, size_t align) {
  if (size + align > kPageBytes / 4) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size + align));
    const uintptr_t p =
        (reinterpret_cast<uintptr_t>(blocks_.back().get()) + align - 1) & ~(align - 1);
    return reinterpret_cast<void*>(p);
  }
  pages_.reserve(pages_.size() + 1);  // so that the page is owned before anything can fail
  pages_.push_back(TakePage());
  char* page = pages_.back();
  TKXArena* self = this;
  std::memcpy(page, &self, sizeof self);  // for Of
  cur_ = page + kPageHeader;
  end_ = page + kPageBytes;
  return Allocate(size, align);
}

size_t TKXArena::CachedBytes() {
  PageCache& cache = Pages();
  std::lock_guard<std::mutex> hold(cache.lock);
  return cache.pages.size() * kPageBytes;
}

void TKXArena::ReleaseCachedPages() {
  std::vector<char*> pages;
  {
    PageCache& cache = Pages();
    std::lock_guard<std::mutex> hold(cache.lock);
    pages.swap(cache.pages);
  }
  for (char* page : pages) {
    UnpoisonPage(page);
    FreePage(page);
  }
}

}  // namespace rb

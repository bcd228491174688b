// A height-balanced (AVL) binary search tree of items, as used by the record set's field-name
// cache. Items decide their own order through Compare; the tree only links them.
//
// Ownership: the tree owns every node it holds. Insert takes the item; when an equal key is
// already present the given item is freed and the existing node's occurrence count grows.
// Search and Delete take a key item that stays the caller's. Nothing here raises; misses are
// reported through the Boolean results. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rb {

class TField;

// The code page's lower-case form of a name (the inverse of platform::AnsiUpper's mapping),
// so that "Ä" and "ä" meet in the cache.
std::string AnsiLowerName(std::string_view name);

class TBinTreeItem {
 public:
  TBinTreeItem() = default;
  TBinTreeItem(const TBinTreeItem&) = delete;
  TBinTreeItem& operator=(const TBinTreeItem&) = delete;
  virtual ~TBinTreeItem() = default;

  // Positive when other's key is greater than this one's, 0 when equal, negative when smaller.
  virtual int Compare(const TBinTreeItem& other) const = 0;
  // Copies this item's payload (never the links, balance or count) into target.
  virtual void Copy(TBinTreeItem& target) const = 0;
  virtual void List() = 0;

  TBinTreeItem* Left() const { return left_; }
  TBinTreeItem* Right() const { return right_; }
  int8_t Balance() const { return balance_; }
  int Count() const { return count_; }

 private:
  friend class TBinTree;
  TBinTreeItem* left_ = nullptr;
  TBinTreeItem* right_ = nullptr;
  int8_t balance_ = 0;  // -1 left subtree higher, 0 even, +1 right subtree higher
  int count_ = 0;       // occurrences of this key
};

// A field-name cache node: the name is lower-cased when the item is made, and the field found
// under it may be none (a cached miss). The field is not owned.
class TTreeItem : public TBinTreeItem {
 public:
  TTreeItem(TField* field, const std::string& name);

  int Compare(const TBinTreeItem& other) const override;
  void Copy(TBinTreeItem& target) const override;
  void List() override {}

  TField* Field() const { return field_; }
  const std::string& Name() const { return name_; }
  // Re-keys the item in place (lower-casing again), reusing its storage; for search keys only,
  // never for an item inside a tree.
  void SetName(std::string_view name);

 private:
  TField* field_;
  std::string name_;
};

class TBinTree {
 public:
  TBinTree() = default;
  TBinTree(const TBinTree&) = delete;
  TBinTree& operator=(const TBinTree&) = delete;
  ~TBinTree();

  // True when the item became a new node; false when its key was present (count + 1, item freed).
  bool Insert(std::unique_ptr<TBinTreeItem> item);
  // True when a node with key's key exists; Founded() then names it. A miss leaves Founded().
  bool Search(const TBinTreeItem& key);
  // True when a node with key's key was found, unlinked and freed.
  bool Delete(const TBinTreeItem& key);
  void Clear();

  TBinTreeItem* Root() const { return root_; }
  TBinTreeItem* Founded() const { return founded_; }
  int ItemCount() const { return item_count_; }

 private:
  using Node = TBinTreeItem*;
  void InsertAt(Node& p, Node item, bool& grown, bool& inserted);
  bool DeleteAt(Node& p, const TBinTreeItem& key, bool& shrunk);
  // Removes the right-most node below r, moving its payload and count into target.
  void DeleteRightmost(Node& r, Node target, Node& freed, bool& shrunk);
  static void RotateLeftRight(Node& p, Node l);
  static void RotateRightLeft(Node& p, Node r);
  static void GrewLeft(Node& p, bool& grown);
  static void GrewRight(Node& p, bool& grown);
  static void ShrankLeft(Node& p, bool& shrunk);
  static void ShrankRight(Node& p, bool& shrunk);

  Node root_ = nullptr;
  Node founded_ = nullptr;
  int item_count_ = 0;
};

}  // namespace rb

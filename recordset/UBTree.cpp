#include "recordset/UBTree.h"

#include <algorithm>
#include <utility>

namespace rb {

namespace {

struct LowerTable {
  unsigned char map[256] = {};
  constexpr LowerTable() {
    for (int c = 0; c < 256; ++c) {
      int lower = c;
      if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        lower = c + 0x20;
      } else if (c == 0x8A || c == 0x8C || c == 0x8E) {
        lower = c + 0x10;
      } else if (c == 0x9F) {
        lower = 0xFF;
      }
      map[c] = static_cast<unsigned char>(lower);
    }
  }
};

void LowerInto(std::string_view name, std::string& out) {
  static constexpr LowerTable table;  // names are looked up once per field and record
  // Mapped straight from the source: copying first and mapping in place reads back every byte
  // just written, which costs more than the look-up itself.
  // The target pointer is taken once: a char store may alias the string's own fields, so
  // indexing out would reload its data pointer for every byte.
  out.resize(name.size());
  char* target = out.data();
  for (size_t i = 0; i < name.size(); ++i)
    target[i] = static_cast<char>(table.map[static_cast<unsigned char>(name[i])]);
}

}  // namespace

std::string AnsiLowerName(std::string_view name) {
  std::string result;
  LowerInto(name, result);
  return result;
}

void TTreeItem::SetName(std::string_view name) {
  LowerInto(name, name_);
}

TTreeItem::TTreeItem(TField* field, const std::string& name)
    : field_(field), name_(AnsiLowerName(name)) {}

int TTreeItem::Compare(const TBinTreeItem& other) const {
  // Byte by byte rather than through memcmp: names are short and looked up per record.
  const std::string& a = static_cast<const TTreeItem&>(other).name_;
  size_t n = std::min(a.size(), name_.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(name_[i]);
    if (x != y) return x > y ? 1 : -1;
  }
  return a.size() > name_.size() ? 1 : (a.size() < name_.size() ? -1 : 0);
}

void TTreeItem::Copy(TBinTreeItem& target) const {
  auto& t = static_cast<TTreeItem&>(target);
  t.field_ = field_;
  t.name_ = name_;
}

TBinTree::~TBinTree() {
  Clear();
}

void TBinTree::Clear() {
  // Deleting the root over and over keeps the recursion depth at the tree's height.
  while (root_ != nullptr)
    Delete(*root_);
  founded_ = nullptr;
}

bool TBinTree::Insert(std::unique_ptr<TBinTreeItem> item) {
  if (!item) return false;
  bool grown = false;
  bool inserted = false;
  Node raw = item.release();
  InsertAt(root_, raw, grown, inserted);
  if (inserted) {
    ++item_count_;
  } else {
    delete raw;
  }
  return inserted;
}

void TBinTree::InsertAt(Node& p, Node item, bool& grown, bool& inserted) {
  if (p == nullptr) {
    p = item;
    item->left_ = item->right_ = nullptr;
    item->balance_ = 0;
    item->count_ = 1;
    grown = true;
    inserted = true;
    return;
  }
  int c = p->Compare(*item);
  if (c < 0) {
    InsertAt(p->left_, item, grown, inserted);
    if (grown) GrewLeft(p, grown);
  } else if (c > 0) {
    InsertAt(p->right_, item, grown, inserted);
    if (grown) GrewRight(p, grown);
  } else {
    ++p->count_;
    grown = false;
    inserted = false;
  }
}

// The double rotations, shared by insertion and deletion: p's left child l is right-heavy (or
// p's right child r is left-heavy); its inner child takes p's place with p and the child below it.
void TBinTree::RotateLeftRight(Node& p, Node l) {
  Node r = l->right_;
  l->right_ = r->left_;
  r->left_ = l;
  p->left_ = r->right_;
  r->right_ = p;
  p->balance_ = r->balance_ == -1 ? 1 : 0;
  l->balance_ = r->balance_ == 1 ? -1 : 0;
  r->balance_ = 0;
  p = r;
}

void TBinTree::RotateRightLeft(Node& p, Node r) {
  Node l = r->left_;
  r->left_ = l->right_;
  l->right_ = r;
  p->right_ = l->left_;
  l->left_ = p;
  p->balance_ = l->balance_ == 1 ? -1 : 0;
  r->balance_ = l->balance_ == -1 ? 1 : 0;
  l->balance_ = 0;
  p = l;
}

void TBinTree::GrewLeft(Node& p, bool& grown) {
  if (p->balance_ == 1) {
    p->balance_ = 0;
    grown = false;
  } else if (p->balance_ == 0) {
    p->balance_ = -1;
  } else {
    Node l = p->left_;
    if (l->balance_ == -1) {
      p->left_ = l->right_;
      l->right_ = p;
      p->balance_ = 0;
      l->balance_ = 0;
      p = l;
    } else {
      RotateLeftRight(p, l);
    }
    grown = false;
  }
}

void TBinTree::GrewRight(Node& p, bool& grown) {
  if (p->balance_ == -1) {
    p->balance_ = 0;
    grown = false;
  } else if (p->balance_ == 0) {
    p->balance_ = 1;
  } else {
    Node r = p->right_;
    if (r->balance_ == 1) {
      p->right_ = r->left_;
      r->left_ = p;
      p->balance_ = 0;
      r->balance_ = 0;
      p = r;
    } else {
      RotateRightLeft(p, r);
    }
    grown = false;
  }
}

// The left side lost a level: the mirror of a grown right side, except that the whole
// subtree keeps shrinking unless a balance moves away from 0 or the rotated child was even.
void TBinTree::ShrankLeft(Node& p, bool& shrunk) {
  if (p->balance_ == -1) {
    p->balance_ = 0;
  } else if (p->balance_ == 0) {
    p->balance_ = 1;
    shrunk = false;
  } else {
    Node r = p->right_;
    if (r->balance_ >= 0) {
      p->right_ = r->left_;
      r->left_ = p;
      if (r->balance_ == 0) {
        p->balance_ = 1;
        r->balance_ = -1;
        shrunk = false;
      } else {
        p->balance_ = 0;
        r->balance_ = 0;
      }
      p = r;
    } else {
      RotateRightLeft(p, r);
    }
  }
}

void TBinTree::ShrankRight(Node& p, bool& shrunk) {
  if (p->balance_ == 1) {
    p->balance_ = 0;
  } else if (p->balance_ == 0) {
    p->balance_ = -1;
    shrunk = false;
  } else {
    Node l = p->left_;
    if (l->balance_ <= 0) {
      p->left_ = l->right_;
      l->right_ = p;
      if (l->balance_ == 0) {
        p->balance_ = -1;
        l->balance_ = 1;
        shrunk = false;
      } else {
        p->balance_ = 0;
        l->balance_ = 0;
      }
      p = l;
    } else {
      RotateLeftRight(p, l);
    }
  }
}

bool TBinTree::Search(const TBinTreeItem& key) {
  Node p = root_;
  while (p != nullptr) {
    int c = p->Compare(key);
    if (c == 0) {
      founded_ = p;
      return true;
    }
    p = c < 0 ? p->left_ : p->right_;
  }
  return false;
}

bool TBinTree::Delete(const TBinTreeItem& key) {
  bool shrunk = false;
  if (!DeleteAt(root_, key, shrunk)) return false;
  --item_count_;
  return true;
}

bool TBinTree::DeleteAt(Node& p, const TBinTreeItem& key, bool& shrunk) {
  if (p == nullptr) return false;
  int c = p->Compare(key);
  if (c < 0) {
    if (!DeleteAt(p->left_, key, shrunk)) return false;
    if (shrunk) ShrankLeft(p, shrunk);
    return true;
  }
  if (c > 0) {
    if (!DeleteAt(p->right_, key, shrunk)) return false;
    if (shrunk) ShrankRight(p, shrunk);
    return true;
  }
  Node node = p;
  Node freed = p;
  if (p->right_ == nullptr) {
    p = p->left_;
    shrunk = true;
  } else if (p->left_ == nullptr) {
    p = p->right_;
    shrunk = true;
  } else {
    DeleteRightmost(p->left_, p, freed, shrunk);
    if (shrunk) ShrankLeft(p, shrunk);
  }
  // Founded must never dangle: the deleted key is gone, a moved key now lives in node.
  if (founded_ == node) {
    founded_ = nullptr;
  } else if (founded_ == freed) {
    founded_ = node;
  }
  delete freed;
  return true;
}

void TBinTree::DeleteRightmost(Node& r, Node target, Node& freed, bool& shrunk) {
  if (r->right_ != nullptr) {
    DeleteRightmost(r->right_, target, freed, shrunk);
    if (shrunk) ShrankRight(r, shrunk);
    return;
  }
  r->Copy(*target);
  target->count_ = r->count_;
  freed = r;
  r = r->left_;
  shrunk = true;
}

}  // namespace rb

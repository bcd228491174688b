#include "recordset/UBTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

namespace rb {
namespace {

int live_items = 0;

class IntItem : public TBinTreeItem {
 public:
  explicit IntItem(int key) : key(key) { ++live_items; }
  ~IntItem() override { --live_items; }
  int Compare(const TBinTreeItem& other) const override {
    int o = static_cast<const IntItem&>(other).key;
    return o > key ? 1 : (o < key ? -1 : 0);
  }
  void Copy(TBinTreeItem& target) const override { static_cast<IntItem&>(target).key = key; }
  void List() override {}
  int key;
};

int KeyOf(const TBinTreeItem* item) {
  return static_cast<const IntItem*>(item)->key;
}

// Checks order, stored balances against real heights, and the AVL bound; returns the height.
int CheckSubtree(const TBinTreeItem* p, int lo, int hi, int& nodes) {
  if (p == nullptr) return 0;
  ++nodes;
  int k = KeyOf(p);
  EXPECT_GT(k, lo);
  EXPECT_LT(k, hi);
  int hl = CheckSubtree(p->Left(), lo, k, nodes);
  int hr = CheckSubtree(p->Right(), k, hi, nodes);
  EXPECT_EQ(p->Balance(), hr - hl) << "at key " << k;
  EXPECT_LE(std::abs(hr - hl), 1) << "at key " << k;
  return 1 + std::max(hl, hr);
}

void CheckTree(const TBinTree& tree) {
  int nodes = 0;
  CheckSubtree(tree.Root(), INT32_MIN, INT32_MAX, nodes);
  EXPECT_EQ(nodes, tree.ItemCount());
}

bool Insert(TBinTree& tree, int key) {
  return tree.Insert(std::make_unique<IntItem>(key));
}

TEST(BinTree, InsertAscendingRotatesToBalancedRoot) {
  TBinTree tree;
  for (int k : {1, 2, 3})
    EXPECT_TRUE(Insert(tree, k));
  ASSERT_NE(tree.Root(), nullptr);
  EXPECT_EQ(KeyOf(tree.Root()), 2);
  EXPECT_EQ(KeyOf(tree.Root()->Left()), 1);
  EXPECT_EQ(KeyOf(tree.Root()->Right()), 3);
  for (auto* n : {tree.Root(), tree.Root()->Left(), tree.Root()->Right()})
    EXPECT_EQ(n->Balance(), 0);
}

TEST(BinTree, RotationShapesForEveryInsertOrder) {
  // Each order of three keys needs a different rotation (or none); all end in the same shape.
  std::vector<int> keys = {1, 2, 3};
  do {
    TBinTree tree;
    for (int k : keys)
      Insert(tree, k);
    EXPECT_EQ(KeyOf(tree.Root()), 2);
    CheckTree(tree);
  } while (std::next_permutation(keys.begin(), keys.end()));
}

TEST(BinTree, DuplicateKeyCountsOccurrenceAndFreesItem) {
  TBinTree tree;
  Insert(tree, 5);
  Insert(tree, 9);
  int before = live_items;
  EXPECT_FALSE(Insert(tree, 9));
  EXPECT_EQ(live_items, before);  // the duplicate item was freed
  EXPECT_EQ(tree.ItemCount(), 2);
  IntItem key(9);
  ASSERT_TRUE(tree.Search(key));
  EXPECT_EQ(tree.Founded()->Count(), 2);
}

TEST(BinTree, SearchMissLeavesFounded) {
  TBinTree tree;
  for (int k : {4, 2, 6})
    Insert(tree, k);
  IntItem two(2), missing(3);
  ASSERT_TRUE(tree.Search(two));
  TBinTreeItem* found = tree.Founded();
  EXPECT_FALSE(tree.Search(missing));
  EXPECT_EQ(tree.Founded(), found);
}

TEST(BinTree, DeleteRootTakesRightmostOfLeftSubtree) {
  TBinTree tree;
  for (int k : {1, 2, 3})
    Insert(tree, k);
  IntItem two(2);
  EXPECT_TRUE(tree.Delete(two));
  EXPECT_EQ(KeyOf(tree.Root()), 1);
  EXPECT_EQ(tree.Root()->Left(), nullptr);
  EXPECT_EQ(KeyOf(tree.Root()->Right()), 3);
  EXPECT_EQ(tree.ItemCount(), 2);
  EXPECT_FALSE(tree.Delete(two));
  CheckTree(tree);
}

TEST(BinTree, DeleteMovesCountWithKeyAndKeepsFoundedValid) {
  TBinTree tree;
  for (int k : {2, 1, 3})
    Insert(tree, k);
  Insert(tree, 1);  // key 1 now occurs twice
  IntItem one(1), two(2);
  ASSERT_TRUE(tree.Search(one));
  ASSERT_TRUE(tree.Delete(two));  // 1 moves into the root node
  ASSERT_NE(tree.Founded(), nullptr);
  EXPECT_EQ(KeyOf(tree.Founded()), 1);
  EXPECT_EQ(tree.Founded()->Count(), 2);
  ASSERT_TRUE(tree.Delete(one));
  EXPECT_EQ(tree.Founded(), nullptr);
}

TEST(BinTree, DeleteWithEvenSiblingStopsShrinking) {
  // Deleting 1 leaves 2 two levels lighter on the left with an even right child 4 (3 and 5
  // below it): the single rotation must leave 4 at -1, 2 at +1, and stop shrinking.
  TBinTree tree;
  for (int k : {2, 1, 4, 3, 5})
    Insert(tree, k);
  IntItem one(1);
  ASSERT_TRUE(tree.Delete(one));
  EXPECT_EQ(KeyOf(tree.Root()), 4);
  EXPECT_EQ(tree.Root()->Balance(), -1);
  EXPECT_EQ(tree.Root()->Left()->Balance(), 1);
  CheckTree(tree);
}

TEST(BinTree, RandomInsertDeleteKeepsInvariants) {
  std::mt19937 rng(12345);
  TBinTree tree;
  std::map<int, int> model;  // key -> occurrences
  for (int step = 0; step < 4000; ++step) {
    int key = static_cast<int>(rng() % 300);
    if (rng() % 3 != 0) {
      bool fresh = model.find(key) == model.end();
      EXPECT_EQ(Insert(tree, key), fresh);
      ++model[key];
    } else {
      IntItem k(key);
      EXPECT_EQ(tree.Delete(k), model.erase(key) == 1);
    }
    if (step % 97 == 0) CheckTree(tree);
  }
  CheckTree(tree);
  EXPECT_EQ(tree.ItemCount(), static_cast<int>(model.size()));
  for (auto [key, count] : model) {
    IntItem k(key);
    ASSERT_TRUE(tree.Search(k));
    EXPECT_EQ(tree.Founded()->Count(), count) << key;
  }
}

TEST(BinTree, DestructionFreesEveryNode) {
  int before = live_items;
  {
    TBinTree tree;
    for (int k = 0; k < 1000; ++k)
      Insert(tree, (k * 7919) % 1000);
    EXPECT_EQ(live_items, before + 1000);
  }
  EXPECT_EQ(live_items, before);
}

TEST(TreeItem, ComparesLowerCasedNamesOrdinally) {
  TTreeItem a(nullptr, "POT"), b(nullptr, "pot"), c(nullptr, "Id"), umlaut(nullptr, "\xC4rger");
  EXPECT_EQ(a.Name(), "pot");
  EXPECT_EQ(a.Compare(b), 0);
  EXPECT_LT(a.Compare(c), 0);  // "id" < "pot"
  EXPECT_GT(c.Compare(a), 0);
  EXPECT_EQ(umlaut.Name(), "\xE4rger");
  TTreeItem copy(nullptr, "x");
  a.Copy(copy);
  EXPECT_EQ(copy.Name(), "pot");
}

}  // namespace
}  // namespace rb

#include "containers/avl_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace qn::db::nosql::nosql_db {
namespace {

template <bool sized, bool unique>
class owned_tree : public avl_tree<int64_t, sized, unique> {
 public:
  using base = avl_tree<int64_t, sized, unique>;
  using node = typename base::node;
  ~owned_tree() { this->dispose_all(&free_node); }

  static void free_node(avl_node* n) { delete static_cast<node*>(n); }
  bool insert(int64_t key) {
    typename base::slot s;
    if (!this->find_slot(key, s)) return false;
    this->link_at(s, new node(key));
    return true;
  }
  bool erase(int64_t key) {
    node* n = this->find(key);
    if (n == nullptr) return false;
    this->unlink(n);
    free_node(n);
    return true;
  }
  std::vector<int64_t> keys() const {
    std::vector<int64_t> out;
    for (node* n = this->first(); n != nullptr; n = base::next(n)) out.push_back(n->key);
    return out;
  }
  std::vector<int64_t> keys_backwards() const {
    std::vector<int64_t> out;
    for (node* n = this->last(); n != nullptr; n = base::prev(n)) out.push_back(n->key);
    std::reverse(out.begin(), out.end());
    return out;
  }
  // Pre-order rendering with balances: "key/balance(left)(right)", "." for an empty subtree.
  std::string shape() const { return shape_of(this->root()); }

 private:
  static std::string shape_of(avl_node* n) {
    if (n == nullptr) return ".";
    std::string s = std::to_string(static_cast<node*>(n)->key) + "/" + std::to_string(n->balance);
    if (n->left == nullptr && n->right == nullptr) return s;
    return s + "(" + shape_of(n->left) + " " + shape_of(n->right) + ")";
  }
};

// Exact shapes after short sequences: each rotation case of insert and of remove, and the choice
// between predecessor and successor when a node with children is removed.
TEST(AvlTree, RotationsAndReplacementChoiceGiveTheExpectedShapes) {
  struct step {
    bool insert;
    int64_t key;
  };
  struct shape_case {
    const char* name;
    std::vector<step> steps;
    const char* shape;
  };
  const shape_case cases[] = {
      {"single right rotation", {{true, 3}, {true, 2}, {true, 1}}, "2/0(1/0 3/0)"},
      {"single left rotation", {{true, 1}, {true, 2}, {true, 3}}, "2/0(1/0 3/0)"},
      {"left-right double rotation", {{true, 3}, {true, 1}, {true, 2}}, "2/0(1/0 3/0)"},
      {"right-left double rotation", {{true, 1}, {true, 3}, {true, 2}}, "2/0(1/0 3/0)"},
      {"double rotation, grandchild leaning left",
       {{true, 50}, {true, 20}, {true, 80}, {true, 10}, {true, 30}, {true, 25}},
       "30/0(20/0(10/0 25/0) 50/-1(. 80/0))"},
      {"double rotation, grandchild leaning right",
       {{true, 50}, {true, 20}, {true, 80}, {true, 10}, {true, 30}, {true, 35}},
       "30/0(20/1(10/0 .) 50/0(35/0 80/0))"},
      {"balanced node takes its predecessor",
       {{true, 2}, {true, 1}, {true, 3}, {false, 2}},
       "1/-1(. 3/0)"},
      {"right-leaning node takes its successor",
       {{true, 2}, {true, 1}, {true, 3}, {true, 4}, {false, 2}},
       "3/0(1/0 4/0)"},
      {"left-leaning node takes its predecessor",
       {{true, 3}, {true, 2}, {true, 4}, {true, 1}, {false, 3}},
       "2/0(1/0 4/0)"},
      {"removal rotation over a balanced child",
       {{true, 5}, {true, 3}, {true, 8}, {true, 2}, {true, 4}, {false, 8}},
       "3/-1(2/0 5/1(4/0 .))"},
      {"removal rotation over a leaning child keeps walking",
       {{true, 5}, {true, 3}, {true, 8}, {true, 2}, {false, 8}},
       "3/0(2/0 5/0)"},
      {"removing the only child's parent", {{true, 1}, {true, 2}, {false, 1}}, "2/0"},
      {"removing the last node", {{true, 1}, {false, 1}}, "."},
  };
  for (const shape_case& c : cases) {
    owned_tree<true, true> tree;
    for (const step& s : c.steps) {
      ASSERT_TRUE(s.insert ? tree.insert(s.key) : tree.erase(s.key)) << c.name;
    }
    std::string why;
    EXPECT_TRUE(tree.is_sound(&why)) << c.name << ": " << why;
    EXPECT_EQ(tree.shape(), c.shape) << c.name;
  }
}

TEST(AvlTree, AscendingInsertsKeepTheHeightLogarithmic) {
  owned_tree<false, true> tree;
  for (int64_t k = 1; k <= 1000; ++k) ASSERT_TRUE(tree.insert(k));
  EXPECT_TRUE(tree.is_sound());
  EXPECT_LE(tree.height(), 14u);
  for (int64_t k = 1; k <= 1000; k += 2) ASSERT_TRUE(tree.erase(k));
  EXPECT_TRUE(tree.is_sound());
  EXPECT_EQ(tree.count(), 500u);
  EXPECT_LE(tree.height(), 13u);
}

TEST(AvlTree, UniqueTreeRefusesAPresentKeyAndMultiTreeKeepsInsertionOrder) {
  owned_tree<true, true> unique;
  EXPECT_TRUE(unique.insert(7));
  EXPECT_FALSE(unique.insert(7));
  EXPECT_EQ(unique.count(), 1u);

  // Equal keys in a multi tree: each new node goes after the others, so node addresses in order
  // show insertion order.
  owned_tree<true, false> multi;
  std::vector<avl_node*> made;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(multi.insert(i % 3 == 0 ? 5 : 100 + i));
    if (i % 3 == 0) made.push_back(multi.last_at_most(5));
  }
  std::vector<avl_node*> in_order;
  for (auto r = multi.equal_run(5); r.first != nullptr;
       r.first = owned_tree<true, false>::next(r.first)) {
    in_order.push_back(r.first);
    if (r.first == r.last) break;
  }
  EXPECT_EQ(in_order, made);
  EXPECT_TRUE(multi.is_sound());
}

TEST(AvlTree, RekeyMovesTheNodeOrPutsItBack) {
  owned_tree<true, true> tree;
  for (int64_t k : {10, 20, 30, 40}) ASSERT_TRUE(tree.insert(k));
  auto* n = tree.find(20);
  int64_t fresh = 35;
  EXPECT_TRUE(tree.rekey(n, fresh));
  EXPECT_EQ(fresh, 20);
  EXPECT_EQ(tree.keys(), (std::vector<int64_t>{10, 30, 35, 40}));
  fresh = 40;
  EXPECT_FALSE(tree.rekey(tree.find(10), fresh));
  EXPECT_EQ(tree.keys(), (std::vector<int64_t>{10, 30, 35, 40}));
  EXPECT_TRUE(tree.is_sound());
}

// A long random sequence of inserts and removals against std::multiset / std::set, checking the
// structure and every search answer after each step.
template <bool unique>
void run_model(uint32_t seed, int steps, int64_t key_range) {
  std::mt19937 rng(seed);
  owned_tree<true, unique> tree;
  std::multiset<int64_t> model;
  std::uniform_int_distribution<int64_t> key(0, key_range - 1);
  for (int i = 0; i < steps; ++i) {
    const int64_t k = key(rng);
    const bool insert = rng() % 100 < 55;
    if (insert) {
      const bool expected = !unique || !model.contains(k);
      ASSERT_EQ(tree.insert(k), expected) << "step " << i;
      if (expected) model.insert(k);
    } else {
      const bool expected = model.contains(k);
      ASSERT_EQ(tree.erase(k), expected) << "step " << i;
      if (expected) model.erase(model.find(k));
    }
    std::string why;
    ASSERT_TRUE(tree.is_sound(&why)) << "step " << i << ": " << why;
    ASSERT_TRUE(tree.is_ordered()) << "step " << i;
    ASSERT_EQ(tree.count(), model.size());
    // Every search against the model, for a probe key in and around the range.
    const int64_t probe = key(rng) + static_cast<int64_t>(rng() % 3) - 1;
    auto key_of = [](const auto* n) { return n != nullptr ? n->key : int64_t{-999}; };
    auto lb = model.lower_bound(probe);
    auto ub = model.upper_bound(probe);
    ASSERT_EQ(key_of(tree.first_at_least(probe)), lb == model.end() ? -999 : *lb);
    ASSERT_EQ(key_of(tree.first_above(probe)), ub == model.end() ? -999 : *ub);
    ASSERT_EQ(key_of(tree.last_at_most(probe)), ub == model.begin() ? -999 : *std::prev(ub));
    ASSERT_EQ(key_of(tree.last_below(probe)), lb == model.begin() ? -999 : *std::prev(lb));
    uint64_t rank = 0;
    const bool present = model.contains(probe);
    ASSERT_EQ(tree.rank_of(probe, rank), present);
    if (present) {
      // A multi tree ranks the first equal node met from the root: some copy of the key.
      const auto first_copy = static_cast<uint64_t>(std::distance(model.begin(), lb));
      const auto past_copies = static_cast<uint64_t>(std::distance(model.begin(), ub));
      ASSERT_GE(rank, first_copy);
      ASSERT_LT(rank, past_copies);
      ASSERT_EQ(key_of(tree.at(rank)), probe);
    }
    if (!model.empty()) {
      const uint64_t index = rng() % model.size();
      ASSERT_EQ(key_of(tree.at(index)), *std::next(model.begin(), static_cast<long>(index)));
    }
    ASSERT_EQ(tree.at(model.size()), nullptr);
    if (i % 97 == 0) {
      const std::vector<int64_t> all(model.begin(), model.end());
      ASSERT_EQ(tree.keys(), all);
      ASSERT_EQ(tree.keys_backwards(), all);
    }
  }
}

TEST(AvlTree, RandomSequencesMatchStdSet) {
  for (uint32_t seed : {1u, 2u, 3u}) run_model<true>(seed, 20000, 500);
}

TEST(AvlTree, RandomSequencesWithRepeatsMatchStdMultiset) {
  for (uint32_t seed : {4u, 5u, 6u}) run_model<false>(seed, 20000, 60);
}

TEST(AvlTree, RemoveRunTakesExactlyTheRun) {
  owned_tree<true, false> tree;
  for (int64_t k : {1, 2, 2, 2, 3, 4, 4, 5}) ASSERT_TRUE(tree.insert(k));
  EXPECT_EQ(tree.remove_run(tree.equal_run(2), &owned_tree<true, false>::free_node), 3u);
  EXPECT_EQ(tree.remove_run(tree.ordered_run(tree.first_above(3), tree.last_below(5)),
                            &owned_tree<true, false>::free_node),
            2u);
  EXPECT_EQ(tree.remove_run(tree.equal_run(9), &owned_tree<true, false>::free_node), 0u);
  EXPECT_EQ(tree.keys(), (std::vector<int64_t>{1, 3, 5}));
  EXPECT_TRUE(tree.is_sound());
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db

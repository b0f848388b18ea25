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
};

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

}  // namespace
}  // namespace qn::db::nosql::nosql_db

// The tree's backward walk: the set and map models (set_test, map_test) check every other part of
// the tree through the kinds, but no kind walks it backwards.
#include "containers/avl_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace qn::db::nosql::nosql_db {
namespace {

class owned_tree : public avl_tree<int64_t, true, true> {
 public:
  ~owned_tree() { dispose_all(&free_node); }
  static void free_node(avl_node* n) { delete static_cast<node*>(n); }
};

TEST(AvlTree, WalksBackwardsThroughEveryKey) {
  std::mt19937 rng(1);
  owned_tree tree;
  std::set<int64_t> model;
  for (int i = 0; i < 3000; ++i) {
    const auto k = static_cast<int64_t>(rng() % 500);
    owned_tree::slot s;
    if (rng() % 3 != 0) {
      if (tree.find_slot(k, s)) tree.link_at(s, new owned_tree::node(k));
      model.insert(k);
    } else if (owned_tree::node* n = tree.find(k)) {
      tree.unlink(n);
      owned_tree::free_node(n);
      model.erase(k);
    }
  }
  std::vector<int64_t> backwards;
  for (auto* n = tree.last(); n != nullptr; n = owned_tree::prev(n)) backwards.push_back(n->key);
  EXPECT_TRUE(std::equal(backwards.begin(), backwards.end(), model.rbegin(), model.rend()));
  EXPECT_EQ(backwards.size(), model.size());
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db

#include "engine/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <random>
#include <vector>

namespace qn::db::nosql {
namespace {

// Counts live instances so tests can see that the registry destroys what it owns.
class counted final : public ab_adt {
 public:
  static inline int live = 0;
  counted() : ab_adt("list", i32_type, u08_type) { ++live; }
  ~counted() override { --live; }
};

uint64_t create(container_registry& r, std::string_view name = "") {
  uint64_t slot = UINT64_MAX;
  EXPECT_TRUE(r.place_new(std::make_unique<counted>(), name, slot));
  return slot;
}

TEST(ContainerRegistry, NamesAreUniqueBytewiseAndClearAllRestoresAscendingOrder) {
  container_registry r;
  EXPECT_EQ(create(r, "ab"), 0u);
  EXPECT_EQ(create(r, "a"), 1u);
  EXPECT_EQ(create(r, "A"), 2u);
  uint64_t slot = 0;
  EXPECT_FALSE(r.place_new(std::make_unique<counted>(), "ab", slot));
  EXPECT_EQ(counted::live, 3);  // the refused container was destroyed
  EXPECT_EQ(create(r), 3u);     // the free list did not move
  ASSERT_TRUE(r.find_by_name("A", slot));
  EXPECT_EQ(slot, 2u);
  EXPECT_EQ(r.find_by_id(0), "ab");
  EXPECT_EQ(r.find_by_id(3), "");
  EXPECT_TRUE(r.release(0));
  EXPECT_FALSE(r.find_by_name("ab", slot));
  EXPECT_EQ(create(r, "ab"), 0u);  // the name is free again
  EXPECT_FALSE(r.place_new(nullptr, "", slot));
  EXPECT_FALSE(r.release(container_registry::capacity));
  EXPECT_TRUE(r.release(2));
  r.clear_all();
  EXPECT_EQ(counted::live, 0);
  EXPECT_EQ(r.free_count(), container_registry::capacity);
  EXPECT_FALSE(r.find_by_name("ab", slot));
  EXPECT_EQ(create(r, "ab"), 0u);  // not 2, the last released
  EXPECT_EQ(create(r), 1u);
}

// The free list against a plain list of numbers: creation pops the head (slots come in ascending
// order at first), release pushes the front, reserve_front moves a number to the front; every
// slot number handed out must agree.
TEST(ContainerRegistry, FreeListMatchesAModelUnderRandomOperations) {
  container_registry r;
  std::list<uint64_t> model;
  for (uint64_t i = 0; i < container_registry::capacity; ++i) model.push_back(i);
  std::vector<uint64_t> occupied;
  std::mt19937_64 rng(7);
  for (int step = 0; step < 20000; ++step) {
    const int op = static_cast<int>(rng() % 3);
    if (op == 0 || occupied.empty()) {
      const uint64_t slot = create(r);
      ASSERT_EQ(slot, model.front());
      model.pop_front();
      occupied.push_back(slot);
    } else if (op == 1) {
      const size_t at = rng() % occupied.size();
      const uint64_t slot = occupied[at];
      occupied[at] = occupied.back();
      occupied.pop_back();
      ASSERT_TRUE(r.release(slot));
      model.push_front(slot);
    } else {
      // Mostly numbers near the front, where the model's linear search stays cheap.
      const uint64_t slot = rng() % 64;
      r.reserve_front(slot);
      if (r.container_at(slot) == nullptr) {
        model.splice(model.begin(), model, std::find(model.begin(), model.end(), slot));
      }
    }
    ASSERT_EQ(r.free_count(), model.size());
  }
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(create(r), model.front());
    model.pop_front();
  }
  r.clear_all();
}

}  // namespace
}  // namespace qn::db::nosql

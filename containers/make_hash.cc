// Instantiates the hash kinds: hm_adt over every (key, value) pair, ht_adt over every key with the
// u08 value type that creation gives it.
#include <unistd.h>

#include <atomic>

#include "containers/factory.h"
#include "containers/hash.h"

namespace qn::db::nosql::nosql_db {

namespace {

std::atomic<uint64_t> chosen_slot_array_bytes{0};  // 0: physical memory

}  // namespace

uint64_t largest_slot_array_bytes() {
  static const uint64_t physical = [] {
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGE_SIZE);
    // Unknown: refuse nothing here and let the allocation decide.
    if (pages <= 0 || page_size <= 0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
  }();
  const uint64_t chosen = chosen_slot_array_bytes.load(std::memory_order_relaxed);
  return chosen != 0 ? chosen : physical;
}

void set_largest_slot_array_bytes(uint64_t bytes) {
  chosen_slot_array_bytes.store(bytes, std::memory_order_relaxed);
}

namespace {

// The working class over an integer key, the shell over any other.
template <template <class, class> class Kind, class K, class V>
std::unique_ptr<ab_adt> make_one(uint64_t capacity) {
  if constexpr (std::is_integral_v<K>) {
    return std::make_unique<Kind<K, V>>(capacity);
  } else {
    return std::make_unique<Kind<K, V>>();
  }
}

}  // namespace

std::unique_ptr<ab_adt> make_hash_container(bool is_table, type_descriptor key,
                                            type_descriptor value, uint64_t capacity) {
  std::unique_ptr<ab_adt> made;
  if (is_table) {
    if (value != u08_type) return nullptr;
    with_scalar_type(key, [&]<class K>() {
      made = make_one<ht_adt, K, uint8_t>(capacity);
      return true;
    });
    return made;
  }
  with_scalar_type(key, [&]<class K>() {
    return with_scalar_type(value, [&]<class V>() {
      made = make_one<hm_adt, K, V>(capacity);
      return true;
    });
  });
  return made;
}

}  // namespace qn::db::nosql::nosql_db

// Hash map and hash table kinds (hm_adt, ht_adt): direct-address tables over integer keys.
// Owns its slot array and every element; every operation takes this container's lock itself.
//
// Neither kind hashes. The capacity, fixed at creation, is the number of key slots; a key's slot
// is the key itself for unsigned key types and key - min(K) for signed ones, so the storable keys
// of a signed type run from min(K) upwards. A key is storable exactly when its slot is below the
// capacity; slot order is ascending key order. Each occupied slot points to one element allocated
// by itself: the value (hash map) or the key (hash table). The container keeps no entry count, and
// `count` answers the capacity.
//
// Over the six non-integer key types both classes are empty shells with the kind words
// "hashmap_not_allowed" / "hashtable_not_allowed": they override nothing, so `count` is 0 and every
// other operation, `save` included, is the failing default.
#pragma once

#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "containers/adt.h"

namespace qn::db::nosql::nosql_db {

// ---- key slots ----

// Slot of a key: the key itself (unsigned) or key - min(K) (signed), as an unsigned number.
template <std::integral K>
constexpr uint64_t slot_of(K key) {
  using U = std::make_unsigned_t<K>;
  if constexpr (std::is_signed_v<K>) {
    return static_cast<U>(static_cast<U>(key) ^ (U{1} << (sizeof(K) * 8 - 1)));
  } else {
    return key;
  }
}

// The key stored in a slot; inverse of slot_of for slots below 2^(bits of K).
template <std::integral K>
constexpr K key_of(uint64_t slot) {
  using U = std::make_unsigned_t<K>;
  if constexpr (std::is_signed_v<K>) {
    return static_cast<K>(static_cast<U>(static_cast<U>(slot) ^ (U{1} << (sizeof(K) * 8 - 1))));
  } else {
    return static_cast<K>(slot);
  }
}

// Number of slots that can ever hold a key of K: 2^(bits of K).
template <std::integral K>
constexpr uint64_t key_space() {
  return sizeof(K) == 8 ? std::numeric_limits<uint64_t>::max() : uint64_t{1} << (sizeof(K) * 8);
}

// Largest slot array this process will try to allocate: the machine's physical memory unless
// set_largest_slot_array_bytes chose another bound. A bigger array could be mapped lazily, but
// every walk over it (all, clear, save, destruction) would read more memory than the machine has
// and take minutes, so such a capacity is refused as an allocation failure instead.
uint64_t largest_slot_array_bytes();
// Sets that bound for creations and restores from now on; 0 goes back to physical memory.
void set_largest_slot_array_bytes(uint64_t bytes);

// The slot array of one hash container: `capacity` slots of owned elements of T, each null or
// pointing to one element. Only min(capacity, key space) slots are allocated, since no key ever
// reaches the slots above its type's range. Not locked; the owning container locks.
template <class T>
class slot_table {
 public:
  // Throws std::bad_alloc when the array cannot be allocated: the size in bytes of `capacity`
  // slots overflows 64 bits (capacity above 2^61), the allocated part exceeds
  // largest_slot_array_bytes(), or the allocation fails.
  slot_table(uint64_t capacity, uint64_t key_space) : capacity_(capacity) {
    if (capacity > std::numeric_limits<uint64_t>::max() / sizeof(T*)) throw std::bad_alloc();
    size_ = capacity < key_space ? capacity : key_space;
    if (size_ == 0) return;
    if (size_ * sizeof(T*) > largest_slot_array_bytes()) throw std::bad_alloc();
    slots_ = static_cast<T**>(std::calloc(size_, sizeof(T*)));
    if (slots_ == nullptr) throw std::bad_alloc();
  }
  ~slot_table() {
    clear();
    std::free(slots_);
  }
  slot_table(const slot_table&) = delete;
  slot_table& operator=(const slot_table&) = delete;

  uint64_t capacity() const { return capacity_; }
  bool is_storable(uint64_t slot) const { return slot < size_; }
  // The element in a slot; null when the slot is empty or not storable.
  T* at(uint64_t slot) const { return slot < size_ ? slots_[slot] : nullptr; }

  // Requires: the slot is storable and empty. Stores a new element.
  void fill(uint64_t slot, const T& v) {
    slots_[slot] = new T(v);
    ++count_;
  }
  // Requires: the slot is storable. Detaches its element (null when empty); the caller owns it.
  std::unique_ptr<T> take(uint64_t slot) {
    std::unique_ptr<T> element(std::exchange(slots_[slot], nullptr));
    count_ -= element != nullptr;
    return element;
  }
  // Requires: the slot is storable and empty. Stores an element the caller owned.
  void give(uint64_t slot, std::unique_ptr<T> element) {
    count_ += element != nullptr;
    slots_[slot] = element.release();
  }
  // Stores a new element in a storable, empty slot; false (nothing stored) for any other slot.
  bool fill_if_free(uint64_t slot, const T& v) {
    if (!is_storable(slot) || slots_[slot] != nullptr) return false;
    fill(slot, v);
    return true;
  }
  // Frees the element of a slot; false when the slot is empty or not storable.
  bool erase(uint64_t slot) {
    if (at(slot) == nullptr) return false;
    delete std::exchange(slots_[slot], nullptr);
    --count_;
    return true;
  }
  // Replaces `out` with the keys of the occupied slots, ascending.
  template <std::integral K>
  void list_keys(std::vector<K>& out) const {
    out.clear();
    visit([&](uint64_t slot, const T&) { out.push_back(key_of<K>(slot)); });
  }

  // Calls f(slot, element) for every occupied slot in ascending order. The walk ends at the
  // last element, so an empty or front-loaded table costs little however large its capacity.
  template <class F>
  void visit(F&& f) const {
    for (uint64_t slot = 0, seen = 0; seen < count_; ++slot) {
      if (slots_[slot] != nullptr) {
        ++seen;
        f(slot, *slots_[slot]);
      }
    }
  }
  uint64_t occupied() const { return count_; }
  // Writes only the occupied slots, so the untouched pages of a large, sparse table stay
  // unmapped; stops at the last element, as visit does.
  void clear() {
    for (uint64_t slot = 0; count_ > 0; ++slot) {
      if (slots_[slot] != nullptr) {
        delete std::exchange(slots_[slot], nullptr);
        --count_;
      }
    }
  }

 private:
  uint64_t capacity_;
  uint64_t size_ = 0;
  uint64_t count_ = 0;  // occupied slots
  T** slots_ = nullptr;
};

// ---- hash map ----

// The shell over a non-integer key: a container every typed command refuses. Its image record is
// its kind name and descriptors with no payload, so a restore gives back its slot and name.
template <class K, class V>
class hm_adt final : public adt<K, V> {
 public:
  hm_adt() : adt<K, V>(hashmap_not_allowed_kind, descriptor_of<K>(), descriptor_of<V>()) {}

  // No contents, so no lock to take: the record is the shared header alone.
  [[nodiscard]] bool save(image_writer& out) override {
    this->save_header(out);
    return out.ok();
  }
  [[nodiscard]] bool load(image_reader&) override { return true; }
};

// K to V with unique keys, one slot per storable key.
template <std::integral K, class V>
class hm_adt<K, V> final : public adt<K, V> {
 public:
  using keys = typename adt<K, V>::keys;

  // Throws std::bad_alloc when the slot array cannot be allocated.
  explicit hm_adt(uint64_t capacity)
      : adt<K, V>(hashmap_kind, descriptor_of<K>(), descriptor_of<V>()),
        table_(capacity, key_space<K>()) {}

  // The capacity never changes, so it is read without the lock.
  uint64_t count() override { return table_.capacity(); }

  // Payload: capacity, entry count, then (key, value) in ascending key order.
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock lock(this->lock_);
    this->save_header(out);
    out.put_u64(table_.capacity());
    out.put_u64(table_.occupied());
    table_.visit([&](uint64_t slot, const V& v) {
      out.put_scalar(key_of<K>(slot));
      out.put_scalar(v);
    });
    return out.ok();
  }
  // Reads the entry count and the entries (the capacity was read by whoever built this
  // container). Storable keys are stored, replacing a value already there; others are skipped.
  // False when the file ends early; the entries read before stay.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock lock(this->lock_);
    uint64_t n = 0;
    if (!in.get_u64(n) || !in.can_hold(n, encoded_size<K>() + encoded_size<V>())) return false;
    K key{};
    V value{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_scalar(key) || !in.get_scalar(value)) return false;
      const uint64_t slot = slot_of(key);
      if (!table_.is_storable(slot)) continue;
      if (V* old = table_.at(slot)) {
        *old = std::move(value);
      } else {
        table_.fill(slot, value);
      }
    }
    return true;
  }

  [[nodiscard]] bool all(keys& out) override {
    std::shared_lock lock(this->lock_);
    table_.list_keys(out);
    return true;
  }
  [[nodiscard]] bool equal(const K& key, keys& out) override {
    std::shared_lock lock(this->lock_);
    if (table_.at(slot_of(key)) == nullptr) return false;
    out.push_back(key);
    return true;
  }
  [[nodiscard]] bool clear() override {
    std::unique_lock lock(this->lock_);
    table_.clear();
    return true;
  }
  [[nodiscard]] bool erase_equal(const K& key) override {
    std::unique_lock lock(this->lock_);
    return table_.erase(slot_of(key));
  }
  // Refuses a key that is not storable or already present; never overwrites.
  [[nodiscard]] bool insert(const K& key, const V& value) override {
    std::unique_lock lock(this->lock_);
    return table_.fill_if_free(slot_of(key), value);
  }
  // Moves the entry of `from` to `to`, overwriting the value of `to` when it is present. When `to`
  // is not storable the entry stays under `from` and the answer is false.
  [[nodiscard]] bool replace_equal(const K& from, const K& to) override {
    std::unique_lock lock(this->lock_);
    const uint64_t old_slot = slot_of(from), new_slot = slot_of(to);
    if (table_.at(old_slot) == nullptr || !table_.is_storable(new_slot)) return false;
    std::unique_ptr<V> moved = table_.take(old_slot);
    if (V* present = table_.at(new_slot)) {
      *present = std::move(*moved);
    } else {
      table_.give(new_slot, std::move(moved));
    }
    return true;
  }
  [[nodiscard]] bool values_of(const K& key, out_list<V>& out) override {
    std::shared_lock lock(this->lock_);
    const V* v = table_.at(slot_of(key));
    if (v == nullptr) return false;
    out.push_back(*v);
    return true;
  }
  // Overwrites the value of a present key; never inserts.
  [[nodiscard]] bool assign_value(const K& key, const V& value) override {
    std::unique_lock lock(this->lock_);
    V* v = table_.at(slot_of(key));
    if (v == nullptr) return false;
    *v = value;
    return true;
  }

 private:
  slot_table<V> table_;
};

// ---- hash table ----

// The shell over a non-integer key, saved and loaded as the hash map's shell.
template <class K, class V>
class ht_adt final : public adt<K, V> {
 public:
  ht_adt() : adt<K, V>(hashtable_not_allowed_kind, descriptor_of<K>(), descriptor_of<V>()) {}

  // No contents, so no lock to take: the record is the shared header alone.
  [[nodiscard]] bool save(image_writer& out) override {
    this->save_header(out);
    return out.ok();
  }
  [[nodiscard]] bool load(image_reader&) override { return true; }
};

// A set of integer keys, one slot per storable key. V only fixes the class: creation always uses
// u08, and only that instantiation accepts `insert`.
template <std::integral K, class V>
class ht_adt<K, V> final : public adt<K, V> {
 public:
  using keys = typename adt<K, V>::keys;

  // Throws std::bad_alloc when the slot array cannot be allocated.
  explicit ht_adt(uint64_t capacity)
      : adt<K, V>(hashtable_kind, descriptor_of<K>(), descriptor_of<V>()),
        table_(capacity, key_space<K>()) {}

  uint64_t count() override { return table_.capacity(); }

  // Payload: capacity, key count, then each key widened to 64 bits (sign- or zero-extended) and
  // again at its own width, in ascending key order.
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock lock(this->lock_);
    this->save_header(out);
    out.put_u64(table_.capacity());
    out.put_u64(table_.occupied());
    table_.visit([&](uint64_t, const K& key) {
      using wide = std::conditional_t<std::is_signed_v<K>, int64_t, uint64_t>;
      out.put_scalar(static_cast<wide>(key));
      out.put_scalar(key);
    });
    return out.ok();
  }
  // Reads the key count and the keys; the 64-bit copy of each key is read and ignored. Storable
  // keys are made present, others skipped. False when the file ends early.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock lock(this->lock_);
    uint64_t n = 0;
    if (!in.get_u64(n) || !in.can_hold(n, 8 + sizeof(K))) return false;
    uint64_t wide = 0;
    K key{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_u64(wide) || !in.get_scalar(key)) return false;
      table_.fill_if_free(slot_of(key), key);
    }
    return true;
  }

  [[nodiscard]] bool all(keys& out) override {
    std::shared_lock lock(this->lock_);
    table_.list_keys(out);
    return true;
  }
  [[nodiscard]] bool equal(const K& key, keys& out) override {
    std::shared_lock lock(this->lock_);
    const K* stored = table_.at(slot_of(key));
    if (stored == nullptr) return false;
    out.push_back(*stored);
    return true;
  }
  [[nodiscard]] bool clear() override {
    std::unique_lock lock(this->lock_);
    table_.clear();
    return true;
  }
  [[nodiscard]] bool erase_equal(const K& key) override {
    std::unique_lock lock(this->lock_);
    return table_.erase(slot_of(key));
  }
  // Refuses a key that is not storable or already present. Only the u08 instantiation, the one
  // creation builds, accepts keys; the others keep the failing default's answer.
  [[nodiscard]] bool insert(const K& key, const V&) override {
    if constexpr (!std::is_same_v<V, uint8_t>) {
      return false;
    } else {
      std::unique_lock lock(this->lock_);
      return table_.fill_if_free(slot_of(key), key);
    }
  }
  // Removes `from` and makes `to` present (it stays present when it already was). False, with
  // nothing changed, when `from` is absent or `to` is not storable.
  [[nodiscard]] bool replace_equal(const K& from, const K& to) override {
    std::unique_lock lock(this->lock_);
    const uint64_t old_slot = slot_of(from), new_slot = slot_of(to);
    if (table_.at(old_slot) == nullptr || !table_.is_storable(new_slot)) return false;
    if (old_slot == new_slot) return true;
    std::unique_ptr<K> moved = table_.take(old_slot);
    if (table_.at(new_slot) == nullptr) {
      *moved = to;
      table_.give(new_slot, std::move(moved));
    }
    return true;
  }

 private:
  slot_table<K> table_;
};

}  // namespace qn::db::nosql::nosql_db

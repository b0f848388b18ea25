// The database registry: 1,048,576 container slots, the free list of slot numbers, the name index.
// Owns every container it holds. Not locked internally: the executor holds `lock()` around each
// command (shared to use containers, exclusive to create, erase, restore or clear).
//
// Lock order, once for the whole system: the registry lock first, then at most one container lock
// at a time (taken inside the container operations). Nothing takes them the other way round.
//
// Slot numbers are handed out from the head of the free list: ascending from 0 on a fresh
// registry, the most recently freed slot first. The free list is a circular doubly linked list
// over arrays indexed by slot number, with one sentinel entry after the last slot, so popping,
// pushing and reserving a number are O(1). Each link is stored as its distance from the ascending
// default (next = i + 1, prev = i - 1, modulo the array length), so an all-zero array is the full
// ascending list: building or clearing the registry takes three zeroed allocations that the
// kernel maps lazily, instead of writing a million links.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string_view>

#include "containers/adt.h"
#include "engine/change_log.h"
#include "values/byte_string_order.h"

namespace qn::db::nosql {

using nosql_db::ab_adt;

class container_registry {
 public:
  static constexpr uint64_t capacity = uint64_t{1} << 20;

  container_registry();
  ~container_registry();
  container_registry(const container_registry&) = delete;
  container_registry& operator=(const container_registry&) = delete;

  std::shared_mutex& lock() { return lock_; }

  // The log the executor reports changes to; null (the default) when nothing is logged. Set
  // before the registry serves any command and not changed while one runs.
  change_log* log() const { return log_; }
  void set_log(change_log* log) { log_ = log; }

  // The container in a slot, or null when the slot is free or not below the capacity.
  ab_adt* container_at(uint64_t slot) const { return slot < capacity ? slots_[slot] : nullptr; }
  // ---- the name index ----

  // The slot of a named container; false when no container has that name (byte for byte).
  [[nodiscard]] bool find_by_name(std::string_view name, uint64_t& slot) const;
  // The name of the container in a slot; empty for a free slot or an unnamed container. The
  // names live in the containers themselves, so the slot table is the index by slot number.
  std::string_view find_by_id(uint64_t slot) const;
  // Indexes `name` (a view into the container's own name buffer, which outlives the entry) under
  // `slot`; false, changing nothing, when the name is already indexed.
  [[nodiscard]] bool add_name(std::string_view name, uint64_t slot);
  // Drops a name from the index; false when it was not there.
  bool remove_name(std::string_view name);
  uint64_t named_count() const { return by_name_.size(); }

  // ---- the free list ----

  uint64_t free_count() const { return free_count_; }
  uint64_t occupied_count() const { return capacity - free_count_; }
  // The number at the head of the free list, not removed; false when no slot is free.
  [[nodiscard]] bool peek_free(uint64_t& slot) const;
  // Removes the head of the free list. Requires: a free slot.
  void pop_free();
  // Makes a free slot number the new head of the free list. Requires: the slot is free and not
  // on the list.
  void push_free_front(uint64_t slot);
  // Moves a free slot number to the head of the free list so the next creation takes it. Does
  // nothing for an occupied slot or one not below the capacity.
  void reserve_front(uint64_t slot);

  // ---- containers ----

  // Stores a container in a slot that was just taken off the free list. Requires: slot below
  // the capacity.
  void place(uint64_t slot, std::unique_ptr<ab_adt> container);
  // Creation's order: the head of the free list, the name refused when in use, the name copied
  // into the container and indexed, the head popped and the container placed there. Fails,
  // changing nothing and destroying `container`, when no slot is free, the name is in use or
  // `container` is null. On success writes the slot number.
  [[nodiscard]] bool place_new(std::unique_ptr<ab_adt> container, std::string_view name,
                               uint64_t& slot);
  // Whether a create with this name could succeed now (a free slot, the name not in use); lets
  // creation refuse before it builds anything.
  bool can_place(std::string_view name) const;

  // Destroys the container in a slot, drops its name and returns the slot number to the head of
  // the free list. False for a free slot or one not below the capacity.
  [[nodiscard]] bool release(uint64_t slot);

  // Destroys every container and rebuilds the free list in ascending order, as when created.
  void clear_all();

 private:
  // Link arrays hold capacity + 1 entries; the last is the sentinel.
  static constexpr uint64_t links = capacity + 1;
  static constexpr uint64_t sentinel = capacity;

  struct free_deleter {
    void operator()(void* p) const;
  };
  template <class T>
  using zeroed_array = std::unique_ptr<T[], free_deleter>;
  template <class T>
  static zeroed_array<T> allocate_zeroed(uint64_t n);

  void build_free_list();
  uint64_t next_free(uint64_t i) const { return (i + 1 + next_delta_[i]) % links; }
  uint64_t prev_free(uint64_t i) const { return (i + links - 1 + prev_delta_[i]) % links; }
  void set_next_free(uint64_t i, uint64_t v) {
    next_delta_[i] = static_cast<uint32_t>((v + 2 * links - i - 1) % links);
  }
  void set_prev_free(uint64_t i, uint64_t v) {
    prev_delta_[i] = static_cast<uint32_t>((v + links + 1 - i) % links);
  }
  void unlink_free(uint64_t slot);

  std::shared_mutex lock_;
  change_log* log_ = nullptr;
  zeroed_array<ab_adt*> slots_;
  // Free list links by slot number, meaningful only for free slots and the sentinel.
  zeroed_array<uint32_t> next_delta_;
  zeroed_array<uint32_t> prev_delta_;
  uint64_t free_count_ = 0;
  // Name index: views into each named container's own name buffer.
  std::map<std::string_view, uint64_t, byte_string_less> by_name_;
};

}  // namespace qn::db::nosql

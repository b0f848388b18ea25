#include "engine/registry.h"

namespace qn::db::nosql {

Registry::Registry()
    : slots_(new ab_adt*[capacity]()),
      next_free_(new uint32_t[capacity]),
      prev_free_(new uint32_t[capacity]) {
  build_free_list();
}

Registry::~Registry() {
  for (uint64_t slot = 0; slot < capacity && occupied_count() != 0; ++slot) {
    if (slots_[slot] != nullptr) {
      delete slots_[slot];
      slots_[slot] = nullptr;
      ++free_count_;
    }
  }
}

void Registry::build_free_list() {
  for (uint32_t i = 0; i < capacity; ++i) {
    next_free_[i] = i + 1 < capacity ? i + 1 : none;
    prev_free_[i] = i == 0 ? none : i - 1;
  }
  free_head_ = 0;
  free_tail_ = static_cast<uint32_t>(capacity - 1);
  free_count_ = capacity;
}

void Registry::unlink_free(uint32_t slot) {
  const uint32_t prev = prev_free_[slot], next = next_free_[slot];
  (prev == none ? free_head_ : next_free_[prev]) = next;
  (next == none ? free_tail_ : prev_free_[next]) = prev;
  --free_count_;
}

void Registry::push_free_front(uint32_t slot) {
  prev_free_[slot] = none;
  next_free_[slot] = free_head_;
  (free_head_ == none ? free_tail_ : prev_free_[free_head_]) = slot;
  free_head_ = slot;
  ++free_count_;
}

bool Registry::find_by_name(std::string_view name, uint64_t& slot) const {
  const auto it = by_name_.find(name);
  if (it == by_name_.end()) return false;
  slot = it->second;
  return true;
}

std::string_view Registry::name_of(uint64_t slot) const {
  const ab_adt* c = container_at(slot);
  return c != nullptr ? c->name() : std::string_view();
}

bool Registry::can_place(std::string_view name) const {
  return free_count_ != 0 && (name.empty() || !by_name_.contains(name));
}

bool Registry::place_new(std::unique_ptr<ab_adt> container, std::string_view name,
                         uint64_t& slot) {
  if (container == nullptr || !can_place(name)) return false;
  const uint32_t head = free_head_;
  if (!name.empty()) {
    container->set_name(name);
    by_name_.emplace(container->name(), head);
  }
  unlink_free(head);
  slots_[head] = container.release();
  slot = head;
  return true;
}

void Registry::reserve_front(uint64_t slot) {
  if (slot >= capacity || slots_[slot] != nullptr) return;
  const auto s = static_cast<uint32_t>(slot);
  unlink_free(s);
  push_free_front(s);
}

bool Registry::release(uint64_t slot) {
  ab_adt* c = container_at(slot);
  if (c == nullptr) return false;
  slots_[slot] = nullptr;
  if (!c->name().empty()) by_name_.erase(c->name());
  delete c;
  push_free_front(static_cast<uint32_t>(slot));
  return true;
}

void Registry::clear_all() {
  for (uint64_t slot = 0; slot < capacity && occupied_count() != 0; ++slot) {
    if (slots_[slot] != nullptr) {
      delete slots_[slot];
      slots_[slot] = nullptr;
      ++free_count_;
    }
  }
  by_name_.clear();
  build_free_list();
}

}  // namespace qn::db::nosql

#include "engine/registry.h"

#include <cstdlib>
#include <new>

namespace qn::db::nosql {

void container_registry::free_deleter::operator()(void* p) const { std::free(p); }

template <class T>
container_registry::zeroed_array<T> container_registry::allocate_zeroed(uint64_t n) {
  void* p = std::calloc(n, sizeof(T));
  if (p == nullptr) throw std::bad_alloc();
  return zeroed_array<T>(static_cast<T*>(p));
}

container_registry::container_registry() : slots_(allocate_zeroed<ab_adt*>(capacity)) { build_free_list(); }

container_registry::~container_registry() {
  for (uint64_t slot = 0; slot < capacity && occupied_count() != 0; ++slot) {
    if (slots_[slot] != nullptr) {
      delete slots_[slot];
      slots_[slot] = nullptr;
      ++free_count_;
    }
  }
}

// Fresh zeroed link arrays are the ascending list 0, 1, ..., capacity - 1 around the sentinel.
void container_registry::build_free_list() {
  next_delta_ = allocate_zeroed<uint32_t>(links);
  prev_delta_ = allocate_zeroed<uint32_t>(links);
  free_count_ = capacity;
}

void container_registry::unlink_free(uint64_t slot) {
  const uint64_t prev = prev_free(slot), next = next_free(slot);
  set_next_free(prev, next);
  set_prev_free(next, prev);
  --free_count_;
}

void container_registry::push_free_front(uint64_t slot) {
  const uint64_t head = next_free(sentinel);
  set_next_free(sentinel, slot);
  set_prev_free(slot, sentinel);
  set_next_free(slot, head);
  set_prev_free(head, slot);
  ++free_count_;
}

bool container_registry::find_by_name(std::string_view name, uint64_t& slot) const {
  const auto it = by_name_.find(name);
  if (it == by_name_.end()) return false;
  slot = it->second;
  return true;
}

std::string_view container_registry::find_by_id(uint64_t slot) const {
  const ab_adt* c = container_at(slot);
  return c != nullptr ? c->name() : std::string_view();
}

bool container_registry::add_name(std::string_view name, uint64_t slot) {
  return by_name_.emplace(name, slot).second;
}

bool container_registry::remove_name(std::string_view name) { return by_name_.erase(name) != 0; }

bool container_registry::peek_free(uint64_t& slot) const {
  if (free_count_ == 0) return false;
  slot = next_free(sentinel);
  return true;
}

void container_registry::pop_free() { unlink_free(next_free(sentinel)); }

void container_registry::place(uint64_t slot, std::unique_ptr<ab_adt> container) {
  delete slots_[slot];
  slots_[slot] = container.release();
}

bool container_registry::can_place(std::string_view name) const {
  return free_count_ != 0 && (name.empty() || !by_name_.contains(name));
}

bool container_registry::place_new(std::unique_ptr<ab_adt> container, std::string_view name,
                         uint64_t& slot) {
  uint64_t head = 0, ignored = 0;
  if (container == nullptr || !peek_free(head)) return false;
  if (!name.empty()) {
    if (find_by_name(name, ignored)) return false;
    container->set_name(name);
    if (!add_name(container->name(), head)) return false;
  }
  pop_free();
  place(head, std::move(container));
  slot = head;
  return true;
}

void container_registry::reserve_front(uint64_t slot) {
  if (slot >= capacity || slots_[slot] != nullptr) return;
  unlink_free(slot);
  push_free_front(slot);
}

bool container_registry::release(uint64_t slot) {
  ab_adt* c = container_at(slot);
  if (c == nullptr) return false;
  slots_[slot] = nullptr;
  if (!c->name().empty()) remove_name(c->name());
  delete c;
  push_free_front(slot);
  return true;
}

void container_registry::clear_all() {
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

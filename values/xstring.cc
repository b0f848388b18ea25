#include "values/xstring.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace qn::adt::string {

void xstring::grow_to(uint64_t n) {
  if (n + 1 <= capacity_) return;
  const uint64_t new_capacity = capacity_ == 0 ? n + 1 : 2 * (n + 1);
  auto* fresh = static_cast<char*>(std::calloc(new_capacity, 1));
  if (fresh == nullptr) throw std::bad_alloc();
  if (length_ != 0) std::memcpy(fresh, data_, length_);
  std::free(data_);
  data_ = fresh;
  capacity_ = new_capacity;
}

void xstring::assign(std::string_view bytes) {
  if (bytes.empty() && data_ == nullptr) return;
  grow_to(bytes.size());
  if (!bytes.empty()) std::memmove(data_, bytes.data(), bytes.size());
  length_ = bytes.size();
  data_[length_] = 0;
}

void xstring::resize(uint64_t n, char fill) {
  if (n == length_) return;
  if (n > length_) {
    grow_to(n);
    std::memset(data_ + length_, fill, n - length_);
  }
  length_ = n;
  data_[length_] = 0;
}

void xstring::append(std::string_view bytes) {
  if (bytes.empty()) return;
  const uint64_t old = length_;
  // The source may live inside this buffer; copy its offset before a reallocation moves it.
  const bool inside = data_ != nullptr && bytes.data() >= data_ && bytes.data() < data_ + length_;
  const uint64_t offset = inside ? static_cast<uint64_t>(bytes.data() - data_) : 0;
  grow_to(old + bytes.size());
  const char* src = inside ? data_ + offset : bytes.data();
  std::memmove(data_ + old, src, bytes.size());
  length_ = old + bytes.size();
  data_[length_] = 0;
}

void xstring::release() {
  std::free(data_);
  data_ = nullptr;
  length_ = capacity_ = 0;
}

}  // namespace qn::adt::string

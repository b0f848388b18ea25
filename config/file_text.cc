#include "config/file_text.h"

#include <cstdio>
#include <memory>

namespace qn::config {

bool read_file_text(const char* path, size_t max_size, std::string& text, bool& truncated) {
  text.clear();
  truncated = false;
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
  if (file == nullptr) return false;
  // The size found by seeking is only a hint for the buffer; reading goes on to the real end,
  // so a file that grows or a stream that cannot seek is still read correctly.
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file.get());
    if (size > 0 && static_cast<unsigned long>(size) <= max_size) {
      text.reserve(static_cast<size_t>(size));
    }
    std::rewind(file.get());
  }
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    if (text.size() + n > max_size) {
      truncated = true;
      text.clear();
      return true;
    }
    text.append(buffer, n);
  }
  return true;
}

}  // namespace qn::config

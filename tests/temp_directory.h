// Test helper shared by every folder: a fresh directory under /tmp, removed with everything in it
// when the helper goes. Test-only; when asked, it is also the current directory for its life.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace qn::testing_support {

class temp_directory {
 public:
  enum class current { keep, enter };

  explicit temp_directory(current mode = current::keep) {
    char pattern[] = "/tmp/zor_test_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty());
    if (mode == current::enter && !path_.empty()) {
      previous_ = std::filesystem::current_path();
      std::filesystem::current_path(path_);
    }
  }
  ~temp_directory() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  temp_directory(const temp_directory&) = delete;
  temp_directory& operator=(const temp_directory&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the directory.
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes `content` byte for byte to `name` inside the directory.
  void write(std::string_view name, std::string_view content) const {
    std::ofstream out(file(name), std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    EXPECT_TRUE(out.good()) << name;
  }

 private:
  std::string path_;
  std::filesystem::path previous_;
};

}  // namespace qn::testing_support

// Test helper: a fresh temporary directory made the current directory for the helper's life.
// Test-only; restores the previous directory and removes the files it was told about.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace qn::config::testing_support {

class temp_dir {
 public:
  temp_dir() {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
    char pattern[] = "/tmp/zor_config_test_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty());
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~temp_dir() {
    for (const std::string& f : files_) std::remove(f.c_str());
    if (!previous_.empty()) {
      EXPECT_EQ(chdir(previous_.c_str()), 0);
    }
    if (!path_.empty()) rmdir(path_.c_str());
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  // Writes `content` byte for byte to `name` in the directory.
  void write(const std::string& name, std::string_view content) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
    std::fclose(f);
    files_.push_back(name);
  }

 private:
  std::string previous_;
  std::string path_;
  std::vector<std::string> files_;
};

}  // namespace qn::config::testing_support

// Latency histogram of the load tool: log-linear buckets from 1 ns to about 39 hours with at most
// 1/64 relative error, so percentiles of millions of samples cost a few KiB and O(1) per sample.
// Not thread-safe: one histogram per driving thread, merged at the end.
#pragma once

#include <array>
#include <cstdint>

namespace qn::tools {

class latency_histogram {
 public:
  void record(uint64_t nanoseconds);
  void merge(const latency_histogram& other);

  uint64_t count() const { return count_; }
  uint64_t max() const { return max_; }
  // The smallest recorded value v such that at least `fraction` of the samples are <= v, to
  // within the bucket width (the bucket's upper bound is returned). 0 when empty.
  uint64_t percentile(double fraction) const;

 private:
  static constexpr int sub_buckets = 64;  // per power of two
  static constexpr int magnitudes = 42;   // rows of 64 buckets; the last ends near 2^47 ns
  static int bucket_of(uint64_t v);
  static uint64_t upper_bound_of(int bucket);

  std::array<uint64_t, sub_buckets * magnitudes> buckets_{};
  uint64_t count_ = 0;
  uint64_t max_ = 0;
};

}  // namespace qn::tools

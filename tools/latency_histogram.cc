#include "tools/latency_histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qn::tools {

// Values below 64 get a bucket each; above, each power of two [2^m, 2^(m+1)) is split into 64
// equal sub-buckets.
int latency_histogram::bucket_of(uint64_t v) {
  if (v < sub_buckets) return static_cast<int>(v);
  const int magnitude = std::bit_width(v) - 1;  // v in [2^magnitude, 2^(magnitude+1))
  const int shift = magnitude - 6;
  const int sub = static_cast<int>((v >> shift) - sub_buckets);
  const int bucket = (magnitude - 5) * sub_buckets + sub;
  return std::min(bucket, sub_buckets * magnitudes - 1);
}

uint64_t latency_histogram::upper_bound_of(int bucket) {
  if (bucket < sub_buckets) return static_cast<uint64_t>(bucket);
  const int magnitude = bucket / sub_buckets + 5;
  const int sub = bucket % sub_buckets;
  const int shift = magnitude - 6;
  return ((static_cast<uint64_t>(sub + sub_buckets + 1)) << shift) - 1;
}

void latency_histogram::record(uint64_t nanoseconds) {
  ++buckets_[bucket_of(nanoseconds)];
  ++count_;
  max_ = std::max(max_, nanoseconds);
}

void latency_histogram::merge(const latency_histogram& other) {
  for (size_t i = 0; i < buckets_.size(); ++i) buckets_[i] += other.buckets_[i];
  count_ += other.count_;
  max_ = std::max(max_, other.max_);
}

uint64_t latency_histogram::percentile(double fraction) const {
  if (count_ == 0) return 0;
  const auto wanted = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(count_)));
  uint64_t seen = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    seen += buckets_[i];
    if (seen >= std::max<uint64_t>(wanted, 1)) {
      return std::min(upper_bound_of(static_cast<int>(i)), max_);
    }
  }
  return max_;
}

}  // namespace qn::tools

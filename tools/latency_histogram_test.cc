#include "tools/latency_histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace qn::tools {
namespace {

TEST(LatencyHistogram, PercentilesWithinOneSixtyFourthOfExactAndMergeAdds) {
  std::mt19937_64 rng(3);
  std::lognormal_distribution<double> dist(10.0, 1.5);  // around 20 us, long tail
  latency_histogram h;
  std::vector<uint64_t> samples;
  for (int i = 0; i < 100000; ++i) {
    const auto v = static_cast<uint64_t>(dist(rng));
    samples.push_back(v);
    h.record(v);
  }
  std::sort(samples.begin(), samples.end());
  for (double f : {0.5, 0.9, 0.99, 0.999, 1.0}) {
    const uint64_t exact = samples[static_cast<size_t>(f * samples.size()) - 1];
    const uint64_t got = h.percentile(f);
    EXPECT_GE(got, exact) << f;
    EXPECT_LE(static_cast<double>(got), static_cast<double>(exact) * (1 + 1.0 / 32) + 1) << f;
  }
  EXPECT_EQ(h.max(), samples.back());
  EXPECT_EQ(h.percentile(1.0), samples.back());

  // Small values are exact; a merge adds counts; beyond the last bucket: counted, exact max.
  latency_histogram a, b;
  for (uint64_t v : {1, 2, 3, 63}) a.record(v);
  b.record(64);
  b.record(1ull << 50);
  a.merge(b);
  EXPECT_EQ(a.count(), 6u);
  EXPECT_EQ(a.percentile(0.5), 3u);
  EXPECT_EQ(a.percentile(4.0 / 6), 63u);
  EXPECT_EQ(a.max(), 1ull << 50);
  EXPECT_EQ(latency_histogram().percentile(0.5), 0u);
}

}  // namespace
}  // namespace qn::tools

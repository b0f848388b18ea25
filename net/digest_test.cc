#include "net/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::net {
namespace {

// These golden values pin the block digest (extension, word expansion, folding, chaining,
// recursion; it is reachable only through here), the four salts of digest_salts in digest.h and
// the base64 step between the two block digests: the user lists of existing configurations hold
// exactly these digests.
TEST(PasswordDigest, MatchesPinnedValues) {
  struct {
    std::string password;
    std::string expected;
  } cases[] = {
      {"", "12DAEE6B9AF8627206D9EF869649329A"},
      {"secret", "70247C2DC10A095E73EC7788C60C00FC"},
      {"admin", "EDCBA2F3DE21944288ECE6B1E7D71558"},  // examples/zor_ndb.toml
      // Wrapped, it spans two blocks; non-ASCII bytes seed the extension as negative chars.
      {"correct horse battery staple, seventy bytes long to span two blocks!!",
       "F9F3680E2D759D3580AA2EEDB85D48F5"},
      {"\xc3\xa9t\xc3\xa9", "FCD6A91C93B2B488C146638753E4D206"},
  };
  for (const auto& c : cases) EXPECT_EQ(password_digest(c.password), c.expected) << c.password;
}

}  // namespace
}  // namespace qn::net

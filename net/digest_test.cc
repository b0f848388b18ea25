#include "net/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::net {
namespace {

// Bytes 11, 48, 85, ... (i * 37 + 11, wrapping): a fixed input of any length.
std::string pattern(size_t n) {
  std::string m;
  for (size_t i = 0; i < n; ++i) m.push_back(static_cast<char>(i * 37 + 11));
  return m;
}

// Golden values computed once by this implementation. They pin the algorithm (extension, word
// expansion, folding, chaining, recursion); a change here breaks interoperability.
TEST(BlockDigest, MatchesPinnedValues) {
  struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"", ""},
      {pattern(63), "BCD4ACB926E35462AF84EE7BF931ECD8"},
      {pattern(64), "8934C05BDF81C2F856E678E1CCD1803A"},
      {pattern(65), "D3FEE47D34876EE8CE15B4CA2C5E8B57"},
      {pattern(200), "551D500C83253B7548F600BBAF8F8A2E"},
      {std::string(1, '\xc8'), "7AB4ABB2AC2D1995D733C08604FFFFF5"},  // seed from a negative char
  };
  for (const auto& c : cases) EXPECT_EQ(block_digest(c.input), c.expected) << c.input.size();
}

// These golden values also pin the four salts of digest_salts in digest.h and the base64 step
// between the two block digests: the user lists of existing configurations hold exactly these
// digests.
TEST(PasswordDigest, MatchesPinnedValues) {
  struct {
    std::string password;
    std::string expected;
  } cases[] = {
      {"", "12DAEE6B9AF8627206D9EF869649329A"},
      {"secret", "70247C2DC10A095E73EC7788C60C00FC"},
      {"pa55w0rd", "A89532BD69EF6E3655F68188EAA92D03"},
      {"root", "28BBB34C341571A2F8B0B252B7AE2BF2"},
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

// Command log records: the checksum, and how a cut or a flipped byte is classified.
#include "persistence/log_record.h"

#include <gtest/gtest.h>

namespace qn::db::nosql::log_record {
namespace {

TEST(LogRecord, crc32c_matches_the_standard_check_value) {
  EXPECT_EQ(crc32c("123456789"), 0xE3069283u);
  EXPECT_EQ(crc32c("6789", crc32c("12345")), 0xE3069283u);
}

std::string two_records() {
  std::string bytes;
  encode('s', 7, "s m w 1 2", "", bytes);
  encode('r', 0, "r a.img", std::string("qmdb\0\0", 6), bytes);
  return bytes;
}

// Two records read back in order. Every cut inside the second record leaves the first readable
// and the second torn; a byte changed in the first record, with the second after it, is
// corruption; in the last, a tear.
TEST(LogRecord, records_read_back_cuts_are_torn_and_flips_are_corrupt_unless_last) {
  const std::string bytes = two_records();
  uint64_t first_end = 0;
  record r;
  ASSERT_EQ(decode(bytes, first_end, r), outcome::ok);
  EXPECT_EQ(r.family, 's');
  EXPECT_EQ(r.slot, 7u);
  EXPECT_EQ(r.line, "s m w 1 2");
  EXPECT_TRUE(r.image.empty());
  uint64_t second_end = first_end;
  ASSERT_EQ(decode(bytes, second_end, r), outcome::ok);
  EXPECT_EQ(r.line, "r a.img");
  EXPECT_EQ(r.image, std::string("qmdb\0\0", 6));
  EXPECT_EQ(decode(bytes, second_end, r), outcome::end);
  for (uint64_t cut = first_end + 1; cut < bytes.size(); ++cut) {
    const std::string_view part(bytes.data(), cut);
    uint64_t at = 0;
    ASSERT_EQ(decode(part, at, r), outcome::ok);
    EXPECT_EQ(decode(part, at, r), outcome::torn) << cut;
    EXPECT_EQ(at, first_end);
  }
  for (uint64_t i = 0; i < bytes.size(); ++i) {
    std::string flipped = bytes;
    flipped[i] = static_cast<char>(flipped[i] ^ 0x20);
    uint64_t at = 0;
    outcome result = decode(flipped, at, r);
    if (i >= first_end) {
      ASSERT_EQ(result, outcome::ok);
      result = decode(flipped, at, r);
      EXPECT_EQ(result, outcome::torn) << i;
    } else if (i >= 8) {
      EXPECT_EQ(result, outcome::corrupt) << i;
    } else {
      EXPECT_NE(result, outcome::ok) << i;  // a changed length may reach past the end
    }
  }
}

// Start-up cuts a bad record off only when no good record follows it: zeros a power cut left, or
// a record cut short, end the log; a broken length with a good record after it is corruption.
TEST(LogRecord, a_bad_record_is_a_tail_unless_a_good_one_follows) {
  const std::string bytes = two_records();
  uint64_t first_end = 0;
  record r;
  ASSERT_EQ(decode(bytes, first_end, r), outcome::ok);
  std::string broken_length = bytes;
  broken_length[5] = '\x7f';
  const struct {
    const char* name;
    std::string log;
    uint64_t bad_at;
    bool is_corrupt;
  } cases[] = {
      {"zeros after a record", bytes.substr(0, first_end) + std::string(64, '\0'), first_end,
       false},
      {"the last record cut short", bytes.substr(0, bytes.size() - 3), first_end, false},
      {"a broken length before a record", broken_length, 0, true},
  };
  for (const auto& c : cases) {
    uint64_t at = c.bad_at;
    EXPECT_NE(decode(c.log, at, r), outcome::ok) << c.name;
    EXPECT_EQ(has_record_after(c.log, c.bad_at), c.is_corrupt) << c.name;
  }
}

}  // namespace
}  // namespace qn::db::nosql::log_record

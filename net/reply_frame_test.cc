#include "net/reply_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "net/test_client.h"

namespace qn::net {
namespace {

// The frame's whole layout is pinned end to end: the documented examples run through the real
// server and the command-line client, whose decoder reads docs/protocol.md's bytes, and the
// Python client's round trips cover every value type. This is the rule no client can see.
TEST(ReplyFrame, LongLabelsAndStringsKeepTheLowSixteenBitsOfTheirLength) {
  db::nosql::reply_item item;
  item.set_header(std::string(65536 + 3, 'L'), u08_type);
  std::string out;
  append_reply_item(item, out);
  EXPECT_EQ(testing::to_hex(out.substr(0, 2)), "0300");
  EXPECT_EQ(out.size(), 2u + 3u + 3u + 8u);
  item.set_header("", string_type);
  db::nosql::value_cell cell;
  cell.text.assign(65535 + 2, 's');  // bypasses the record's own cut
  item.values.push_back(cell);
  out.clear();
  append_reply_item(item, out);
  EXPECT_EQ(out.size(), 2u + 3u + 8u + 2u + 1u);  // length 65537 & 0xffff = 1
}

}  // namespace
}  // namespace qn::net

#include "net/reply_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/test_client.h"

namespace qn::net {
namespace {

using db::nosql::reply_item;
using db::nosql::reply_record;
using db::nosql::value_cell;

using testing::to_hex;

template <class T>
reply_item item_of(type_descriptor type, std::vector<T> values, std::string label = "") {
  reply_item item;
  item.set_header(label, type);
  for (const T& v : values) item.append(v);
  return item;
}

// The value layout of every type is pinned through the real server by the Python client's
// round trips (clients/python/tests/test_values.py); these are the frame's own rules.
TEST(ReplyFrame, LongLabelsAndStringsKeepTheLowSixteenBitsOfTheirLength) {
  reply_item item;
  item.set_header(std::string(65536 + 3, 'L'), u08_type);
  std::string out;
  append_reply_item(item, out);
  EXPECT_EQ(to_hex(out.substr(0, 2)), "0300");
  EXPECT_EQ(out.size(), 2u + 3u + 3u + 8u);
  item.set_header("", string_type);
  value_cell cell;
  cell.text.assign(65535 + 2, 's');  // bypasses the record's own cut
  item.values.push_back(cell);
  out.clear();
  append_reply_item(item, out);
  EXPECT_EQ(out.size(), 2u + 3u + 8u + 2u + 1u);  // length 65537 & 0xffff = 1
}

TEST(ReplyFrame, FrameLengthCoversStatusCountAndItems) {
  reply_record record;
  std::string frame = "left over";
  ASSERT_TRUE(build_reply_frame(record, frame));
  EXPECT_EQ(to_hex(frame), testing::empty_reply);
  record.resize(2);
  record[0] = item_of<uint64_t>(u64_type, {31}, "vkey");
  record[1].set_header("vkey(hex)", string_type);
  record[1].append_text("0x1f");
  ASSERT_TRUE(build_reply_frame(record, frame));
  const std::string items = "0400" + to_hex("vkey") + "030100" + "0100000000000000" +
                            "1f00000000000000" + "0900" + to_hex("vkey(hex)") + "040202" +
                            "0100000000000000" + "0400" + to_hex("0x1f");
  const size_t length = 1 + 8 + items.size() / 2;
  ASSERT_LT(length, 256u);
  const std::string prefix = to_hex(std::string(1, static_cast<char>(length)));
  EXPECT_EQ(to_hex(frame), prefix + "000000" + "00" + "0200000000000000" + items);
}

}  // namespace
}  // namespace qn::net

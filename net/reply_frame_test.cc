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

std::string wire(const reply_item& item) {
  std::string out;
  append_reply_item(item, out);
  return to_hex(out);
}

TEST(ReplyFrame, StatusFramesAreFiveBytes) {
  EXPECT_EQ(to_hex(status_frame(true)), "0100000000");
  EXPECT_EQ(to_hex(status_frame(false)), "0100000001");
}

TEST(ReplyFrame, EncodesEveryValueType) {
  const date d{2024, 2, 29};
  const time t{23, 59, 58, 0x01020304};
  const date_time dt{d, t};
  struct {
    reply_item item;
    std::string expected;  // label length, label, descriptor, count, values
  } cases[] = {
      {item_of<int8_t>(i08_type, {-2, 5}), "0000" "000000" "0200000000000000" "fe" "05"},
      {item_of<int16_t>(i16_type, {-2}), "0000" "010000" "0100000000000000" "feff"},
      {item_of<int32_t>(i32_type, {0x12345678}), "0000" "020000" "0100000000000000" "78563412"},
      {item_of<int64_t>(i64_type, {-1}),
       "0000" "030000" "0100000000000000" "ffffffffffffffff"},
      {item_of<uint8_t>(u08_type, {1}), "0000" "000100" "0100000000000000" "01"},
      {item_of<uint16_t>(u16_type, {0xabcd}), "0000" "010100" "0100000000000000" "cdab"},
      {item_of<uint32_t>(u32_type, {7}), "0000" "020100" "0100000000000000" "07000000"},
      {item_of<uint64_t>(u64_type, {0x0102030405060708ull}, "vkey"),
       "0400" "766b6579" "030100" "0100000000000000" "0807060504030201"},
      {item_of<float>(float_type, {1.0f}), "0000" "020201" "0100000000000000" "0000803f"},
      {item_of<double>(double_type, {-2.0}),
       "0000" "030201" "0100000000000000" "00000000000000c0"},
      {item_of<date>(date_type, {d}), "0000" "050203" "0100000000000000" "e807021d"},
      {item_of<time>(time_type, {t}), "0000" "050204" "0100000000000000" "173b3a04030201"},
      {item_of<date_time>(datetime_type, {dt}),
       "0000" "050205" "0100000000000000" "e807021d" "173b3a04030201"},
      {item_of<uint64_t>(u64_type, {}), "0000" "030100" "0000000000000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wire(c.item), c.expected) << int(c.item.type.category) << int(c.item.type.width);
  }
}

TEST(ReplyFrame, UntypedItemWritesNoValueBytes) {
  reply_item item;  // untyped descriptor 05 02 06
  item.values.resize(2);
  EXPECT_EQ(wire(item), "0000" "050206" "0200000000000000");
}

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

TEST(ReplyFrame, EmptyRecordIsThirteenBytes) {
  reply_record record;
  std::string frame = "left over";
  ASSERT_TRUE(build_reply_frame(record, frame));
  EXPECT_EQ(to_hex(frame), "09000000" "00" "0000000000000000");
}

TEST(ReplyFrame, FrameLengthCoversStatusCountAndItems) {
  reply_record record;
  record.resize(2);
  record[0] = item_of<uint64_t>(u64_type, {31}, "vkey");
  record[1].set_header("vkey(hex)", string_type);
  record[1].append_text("0x1f");
  std::string frame;
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

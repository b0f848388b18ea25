#include "client/frame.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/format.h"
#include "values/little_endian.h"

namespace qn::client {
namespace {

std::string from_hex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// A whole successful command reply frame: status, u64 item count, the items as given.
std::string success_frame(std::string_view items, uint64_t count) {
  std::string body(1, '\0');
  append_le(body, count);
  body.append(items);
  std::string frame;
  append_le(frame, static_cast<uint32_t>(body.size()));
  return frame + body;
}

// One item: label, descriptor (hex), value count and value bytes (hex).
std::string item(std::string_view label, std::string_view descriptor, uint64_t count,
                 std::string_view values) {
  std::string bytes;
  append_le(bytes, static_cast<uint16_t>(label.size()));
  bytes.append(label);
  bytes.append(from_hex(descriptor));
  append_le(bytes, count);
  return bytes + from_hex(values);
}

// A decoded value with the name of the variant alternative that holds it, so a value decoded
// into the wrong type shows.
std::string render(const value& v) {
  static constexpr const char* names[] = {"i08",  "i16",  "i32",      "i64",   "u08",
                                          "u16",  "u32",  "u64",      "float", "double",
                                          "date", "time", "datetime", "string"};
  return std::string(names[v.index()]) + " " + format_value(v);
}

std::string render(const command_reply& reply) {
  if (!reply.is_success) return "failed";
  std::string out = "ok";
  for (const reply_item& item : reply.items) {
    out += " [" + item.label + "|" + std::to_string(item.type.width) +
           std::to_string(item.type.sign) + std::to_string(item.type.category) + "|" +
           std::to_string(item.value_count) + ":";
    for (const value& v : item.values) out += " " + render(v) + ";";
    out += "]";
  }
  return out;
}

TEST(FrameTest, AppendsRequestFramesAndRefusesPayloadsTooLong) {
  std::string out = "x";  // frames are appended, never replacing what is there
  ASSERT_TRUE(append_request_frame("", out));
  ASSERT_TRUE(append_login_frame("", "", out));
  EXPECT_EQ(out, from_hex("7800000000080000000000000000000000"));
  // A view that claims the largest length: nothing is read from it when it is refused.
  const char byte = 'x';
  const std::string_view huge(&byte, max_request_payload + 1);
  EXPECT_FALSE(append_request_frame(huge, out));
  EXPECT_FALSE(append_login_frame(huge, "", out));
  EXPECT_EQ(out.size(), 17u);
}

TEST(FrameTest, DecodesLoginReplies) {
  struct case_t {
    std::string_view hex;
    decode_status status;
    bool is_accepted;
  } cases[] = {
      {"0100000000", decode_status::complete, true},
      {"0100000001", decode_status::complete, false},
      {"0100000002", decode_status::malformed, false},
      {"020000000000", decode_status::malformed, false},  // a login reply is one status byte
      {"00000000", decode_status::malformed, false},      // no status byte at all
      {"010000000000", decode_status::malformed, false},  // a byte beyond the frame
  };
  for (const auto& c : cases) {
    bool is_accepted = false;
    EXPECT_EQ(decode_login_reply(from_hex(c.hex), is_accepted), c.status) << c.hex;
    EXPECT_EQ(is_accepted, c.is_accepted) << c.hex;
  }
}

TEST(FrameTest, DecodesEveryScalarType) {
  struct case_t {
    std::string_view descriptor;
    std::string_view value_hex;
    std::string_view expected;
  } cases[] = {
      {"000000", "ff", "i08 -1"},
      {"010000", "0080", "i16 -32768"},
      {"030000", "0000000000000080", "i64 -9223372036854775808"},
      {"010100", "3412", "u16 4660"},
      {"020100", "ffffffff", "u32 4294967295"},
      {"030100", "ffffffffffffffff", "u64 18446744073709551615"},
      {"020201", "0000c03f", "float 1.5"},
      {"040202", "0300616263", R"(string "abc")"},
      {"050203", "e8070201", "date 2024-02-01"},
      {"050204", "0c1e0580f0fa02", "time 12:30:05.05"},
      {"050205", "e80702010c1e0580f0fa02", "datetime 2024-02-01T12:30:05.05"},
      // Widths the wire table maps to the wider form: any integer width above 2 is 8 bytes,
      // any floating width other than 2 is a double; a nonzero sign byte is unsigned.
      {"070000", "0100000000000000", "i64 1"},
      {"000700", "80", "u08 128"},
      {"090201", "000000000000f83f", "double 1.5"},
  };
  for (const auto& c : cases) {
    const std::string frame = success_frame(item("", c.descriptor, 1, c.value_hex), 1);
    command_reply reply;
    ASSERT_EQ(decode_command_reply(frame, reply), decode_status::complete) << c.expected;
    ASSERT_EQ(reply.items.size(), 1u);
    ASSERT_EQ(reply.items[0].values.size(), 1u) << c.expected;
    EXPECT_EQ(render(reply.items[0].values[0]), c.expected);
  }
}

// Whole frames, decoded or refused as malformed. (Every cut of a valid frame is the test below.)
TEST(FrameTest, DecodesLabelsCountsAndEmptyItemsAndRefusesMalformedFrames) {
  struct case_t {
    std::string name;
    std::string frame;
    std::string_view expected;
  } cases[] = {
      {"failure", from_hex("0100000001"), "failed"},
      {"no items", from_hex("09000000000000000000000000"), "ok"},
      {"item without values", success_frame(item("", "020000", 0, ""), 1), "ok [|200|0:]"},
      {"several values", success_frame(item("", "000100", 3, "010203"), 1),
       "ok [|010|3: u08 1; u08 2; u08 3;]"},
      // A category outside 0..5 marks an item without type: its values take no bytes.
      {"untyped item", success_frame(item("x", "050206", 5, "") + item("", "000100", 1, "09"), 2),
       "ok [x|526|5:] [|010|1: u08 9;]"},
      {"empty label and empty strings", success_frame(item("", "040202", 2, "00000100ff"), 1),
       R"(ok [|422|2: string ""; string "\xff";])"},
      {"status other than 0 and 1", from_hex("0100000002"), "malformed"},
      {"failure with extra bytes", from_hex("020000000100"), "malformed"},
      {"absurd item count", success_frame(item("", "000100", 1, "01"), ~uint64_t{0}), "malformed"},
      {"absurd value count", success_frame(item("", "030000", ~uint64_t{0} / 2, ""), 1),
       "malformed"},
      {"bytes after the last item", success_frame(item("", "000100", 1, "01") + '\0', 1),
       "malformed"},
      {"bytes after the whole frame", from_hex("010000000100"), "malformed"},
  };
  for (const auto& c : cases) {
    command_reply reply;
    reply.items.resize(3);  // decoding replaces whatever was there
    const decode_status status = decode_command_reply(c.frame, reply);
    ASSERT_NE(status, decode_status::incomplete) << c.name;
    EXPECT_EQ(status == decode_status::malformed ? "malformed" : render(reply), c.expected)
        << c.name;
  }
}

// Every cut of a frame that holds every type is refused: cut data under the original length
// field is incomplete; the same cut with the length field shrunk to fit is malformed.
TEST(FrameTest, RefusesEveryTruncationOfAValidFrame) {
  const std::string items =
      item("vkey", "030100", 1, "0700000000000000") + item("", "040202", 2, "020068690000") +
      item("t", "050205", 1, "e80702010c1e0580f0fa02") + item("", "020201", 1, "0000c03f");
  const std::string frame = success_frame(items, 4);
  command_reply reply;
  ASSERT_EQ(decode_command_reply(frame, reply), decode_status::complete);
  for (size_t size = 0; size < frame.size(); ++size) {
    const std::string cut = frame.substr(0, size);
    EXPECT_EQ(decode_command_reply(cut, reply), decode_status::incomplete) << size;
    if (size < 4) continue;
    std::string shrunk = cut;
    store_le(shrunk.data(), static_cast<uint32_t>(size - 4));
    EXPECT_EQ(decode_command_reply(shrunk, reply), decode_status::malformed) << size;
  }
}

// The hexadecimal dumps of docs/protocol.md: the fenced block after `heading`, each line read as
// its leading two-digit hexadecimal tokens (the rest of the line is commentary).
std::string documented_bytes(std::string_view heading) {
  std::ifstream in(ZOR_SOURCE_DIR "/docs/protocol.md");
  std::string line, bytes;
  bool is_after_heading = false, is_inside = false;
  while (std::getline(in, line)) {
    if (!is_after_heading) {
      is_after_heading = line.find(heading) != std::string::npos;
    } else if (line.starts_with("```")) {
      if (is_inside) return bytes;
      is_inside = true;
    } else if (is_inside) {
      std::istringstream tokens(line);
      std::string token;
      while (tokens >> token && token.size() == 2 && std::isxdigit(token[0]) &&
             std::isxdigit(token[1])) {
        bytes.push_back(static_cast<char>(std::stoi(token, nullptr, 16)));
      }
    }
  }
  return bytes;
}

TEST(FrameTest, AgreesWithTheProtocolDocument) {
  std::string login;
  ASSERT_TRUE(append_login_frame("admin", "pw", login));
  EXPECT_EQ(documented_bytes("Example: user `admin`"), login);
  std::string command;
  ASSERT_TRUE(append_request_frame("k", command));
  EXPECT_EQ(documented_bytes("Example, `k`"), command);

  command_reply reply;
  ASSERT_EQ(decode_command_reply(documented_bytes("### A complete example"), reply),
            decode_status::complete);
  EXPECT_EQ(render(reply), R"(ok [vkey|310|1: u64 2;] [vkey(hex)|422|1: string "0x2";])");
}

}  // namespace
}  // namespace qn::client

#include "client/frame.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

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

// A whole successful command reply: u64 item count `count`, then the items' bytes.
std::string success_frame(const std::string& items, uint64_t count) {
  std::string body(1, '\0');
  append_le(body, count);
  body += items;
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
  bytes += from_hex(descriptor);
  append_le(bytes, count);
  return bytes + from_hex(values);
}

// The decoded reply, each value with the name of the variant alternative that holds it, so a
// value decoded into the wrong type shows.
std::string render(const command_reply& reply) {
  static constexpr const char* names[] = {"i08",  "i16",  "i32",      "i64",   "u08",
                                          "u16",  "u32",  "u64",      "float", "double",
                                          "date", "time", "datetime", "string"};
  if (!reply.is_success) return "failed";
  std::string out = "ok";
  for (const reply_item& i : reply.items) {
    out += " [" + i.label + "|" + std::to_string(i.value_count) + ":";
    for (const value& v : i.values)
      out += std::string(" ") + names[v.index()] + " " + format_value(v);
    out += "]";
  }
  return out;
}

TEST(FrameTest, AppendsRequestFramesAndRefusesPayloadsTooLong) {
  std::string out = "x";  // frames are appended, never replacing what is there
  ASSERT_TRUE(append_request_frame("", out));
  ASSERT_TRUE(append_login_frame("", "", out));
  EXPECT_EQ(out, from_hex("7800000000080000000000000000000000"));
  const char byte = 'x';  // a view that claims the largest length: nothing is read from it
  const std::string_view huge(&byte, max_request_payload + 1);
  EXPECT_FALSE(append_request_frame(huge, out));
  EXPECT_FALSE(append_login_frame(huge, "", out));
  EXPECT_EQ(out.size(), 17u);
}

// An accepted login is every end-to-end client session's.
TEST(FrameTest, DecodesLoginReplies) {
  for (const auto& [hex, status, is_accepted_expected] :
       {std::tuple{"0100000001", decode_status::complete, false},
        {"0100000002", decode_status::malformed, false},
        {"020000000000", decode_status::malformed, false}}) {
    bool is_accepted = false;
    EXPECT_EQ(decode_login_reply(from_hex(hex), is_accepted), status) << hex;
    EXPECT_EQ(is_accepted, is_accepted_expected) << hex;
  }
}

// Every kind of reply once, and the malformed forms, one per failure class (the round-trip fuzz
// target fuzz_reply covers the rest).
TEST(FrameTest, DecodesCommandReplies) {
  const std::string every_type =
      item("i", "000000", 1, "ff") + item("", "030100", 1, "ffffffffffffffff") +
      item("", "020201", 1, "0000c03f") + item("", "030201", 1, "000000000000f83f") +
      item("s", "040202", 2, "03006162630000") + item("", "050203", 1, "e8070201") +
      item("", "050204", 1, "0c1e0580f0fa02") + item("", "050205", 1, "e80702010c1e0580f0fa02") +
      // Widths the wire table maps to the wider form, and a category without type (no bytes).
      item("", "070000", 1, "0100000000000000") + item("x", "050206", 5, "");
  struct case_t {
    std::string frame;
    std::string_view expected;
  } cases[] = {
      {success_frame(every_type, 10),
       R"(ok [i|1: i08 -1] [|1: u64 18446744073709551615] [|1: float 1.5] [|1: double 1.5])"
       R"( [s|2: string "abc" string ""] [|1: date 2024-02-01] [|1: time 12:30:05.05])"
       R"( [|1: datetime 2024-02-01T12:30:05.05] [|1: i64 1] [x|5:])"},
      {from_hex("0100000001"), "failed"},
      {from_hex("0100000002"), "malformed"},
      {from_hex("020000000100"), "malformed"},
      {success_frame(item("", "000100", 1, "01"), ~uint64_t{0}), "malformed"},
      {success_frame(item("", "030000", ~uint64_t{0} / 2, ""), 1), "malformed"},
      {success_frame(item("", "000100", 1, "01") + '\0', 1), "malformed"},
  };
  for (const auto& c : cases) {
    command_reply reply;
    reply.items.resize(3);  // decoding replaces whatever was there
    const decode_status status = decode_command_reply(c.frame, reply);
    EXPECT_EQ(status == decode_status::complete ? render(reply) : "malformed", c.expected);
    EXPECT_NE(status, decode_status::incomplete);
  }
  // Every cut is incomplete under the original length field, malformed with the field shrunk.
  const std::string frame = success_frame(every_type, 10);
  command_reply reply;
  for (size_t size = 0; size < frame.size(); ++size) {
    std::string cut = frame.substr(0, size);
    EXPECT_EQ(decode_command_reply(cut, reply), decode_status::incomplete) << size;
    if (size < 4) continue;
    store_le(cut.data(), static_cast<uint32_t>(size - 4));
    EXPECT_EQ(decode_command_reply(cut, reply), decode_status::malformed) << size;
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
  std::string login, command;
  ASSERT_TRUE(append_login_frame("admin", "pw", login));
  EXPECT_EQ(documented_bytes("Example: user `admin`"), login);
  ASSERT_TRUE(append_request_frame("k", command));
  EXPECT_EQ(documented_bytes("Example, `k`"), command);
  command_reply reply;
  ASSERT_EQ(decode_command_reply(documented_bytes("### A complete example"), reply),
            decode_status::complete);
  EXPECT_EQ(render(reply), R"(ok [vkey|1: u64 2] [vkey(hex)|1: string "0x2"])");
}

}  // namespace
}  // namespace qn::client

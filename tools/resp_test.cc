#include "tools/resp.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::tools {
namespace {

TEST(Resp, CommandsAreArraysOfBulkStrings) {
  struct {
    std::string_view line, encoded;
  } cases[] = {
      {"PING", "*1\r\n$4\r\nPING\r\n"},
      {"SET zb:42 42", "*3\r\n$3\r\nSET\r\n$5\r\nzb:42\r\n$2\r\n42\r\n"},
      {"  ZRANK  zb:zset 7 ", "*3\r\n$5\r\nZRANK\r\n$7\r\nzb:zset\r\n$1\r\n7\r\n"},
      {"", "*0\r\n"},
  };
  std::string out = "kept";
  for (const auto& c : cases) {
    out = "kept";
    append_resp_command(c.line, out);
    EXPECT_EQ(out, "kept" + std::string(c.encoded)) << c.line;
  }
}

// Every reply is also fed in every split: each proper prefix must be incomplete, and the whole
// reply followed by the start of the next must measure as the reply alone.
TEST(Resp, RepliesAreMeasuredWholeOrNotAtAll) {
  struct {
    std::string_view reply;
    resp_kind kind;
  } complete[] = {
      {"+OK\r\n", resp_simple},
      {"-ERR unknown command 'x'\r\n", resp_error},
      {":-12\r\n", resp_integer},
      {"$4\r\na\r\nb\r\n", resp_bulk},  // CR LF inside a bulk string is data
      {"$-1\r\n", resp_null},
      {"*0\r\n", resp_array},
      {"*3\r\n:1\r\n$-1\r\n*2\r\n+a\r\n-b\r\n", resp_array},
  };
  for (const auto& c : complete) {
    resp_kind kind{};
    size_t size = 0;
    for (size_t cut = 0; cut < c.reply.size(); ++cut) {
      EXPECT_EQ(parse_resp_reply(c.reply.substr(0, cut), kind, size), resp_parse::incomplete)
          << c.reply << " cut at " << cut;
    }
    const std::string followed = std::string(c.reply) + ":1\r\n+O";
    ASSERT_EQ(parse_resp_reply(followed, kind, size), resp_parse::complete) << c.reply;
    EXPECT_EQ(size, c.reply.size()) << c.reply;
    EXPECT_EQ(kind, c.kind) << c.reply;
  }
  const std::string_view malformed[] = {"?1\r\n",         "+OK\rX",
                                        ":1x\r\n",        "$-2\r\n",
                                        "$3\r\nabcd\r\n", "$99999999999999999999\r\n",
                                        "*1\r\n!\r\n",    "$536870913\r\n"};
  for (std::string_view m : malformed) {
    resp_kind kind{};
    size_t size = 0;
    EXPECT_EQ(parse_resp_reply(m, kind, size), resp_parse::malformed) << m;
  }
  resp_kind kind{};
  size_t size = 0;
  EXPECT_EQ(parse_resp_reply("+" + std::string(size_t{1} << 20, 'a') + "a", kind, size),
            resp_parse::malformed);
}

}  // namespace
}  // namespace qn::tools

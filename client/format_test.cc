#include "client/format.h"

#include <gtest/gtest.h>

#include <limits>

namespace qn::client {
namespace {

reply_item make_item(std::string label, type_descriptor type, std::vector<value> values) {
  reply_item item;
  item.label = std::move(label);
  item.type = type;
  item.value_count = values.size();
  item.values = std::move(values);
  return item;
}

command_reply success(std::vector<reply_item> items) { return {true, std::move(items)}; }

// The introspection reply: its seven columns, each holding the values given (none when missing).
command_reply introspection(const std::vector<std::vector<value>>& columns) {
  const std::pair<const char*, type_descriptor> heads[] = {
      {"skey", string_type}, {"vkey", u64_type},     {"vkey(hex)", string_type},
      {"count", u64_type},   {"ctype", string_type}, {"ktype", string_type},
      {"vtype", string_type}};
  std::vector<reply_item> items;
  for (size_t i = 0; i < std::size(heads); ++i) {
    items.push_back(make_item(heads[i].first, heads[i].second,
                              i < columns.size() ? columns[i] : std::vector<value>{}));
  }
  return success(std::move(items));
}

// One row per rule of the text forms (fuzz_text_forms round-trips the rest).
TEST(FormatTest, WritesEveryValueType) {
  struct case_t {
    value v;
    std::string_view expected;
  } cases[] = {
      {std::string("say \"hi\" a\\b"), R"("say \"hi\" a\\b")"},
      {std::string("\n\t\r\0\x1b", 5), R"("\n\t\r\x00\x1b")"},
      {std::string("caf\xc3\xa9"), "\"caf\xc3\xa9\""},             // valid UTF-8 stays readable
      {std::string("\xff\xc3\xc2\x85"), R"("\xff\xc3\xc2\x85")"},  // not UTF-8, cut, C1 control
      {int8_t{-128}, "-128"},  // bytes are numbers, not characters
      {0.1f, "0.1"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {time{1, 2, 3, 1}, "01:02:03.000000001"},
      {time{1, 2, 3, 4294967295u}, "01:02:03.4294967295"},  // out of range: shown whole
      {date_time{{2024, 1, 31}, {8, 0, 0, 5000}}, "2024-01-31T08:00:00.000005"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_value(c.v), c.expected) << c.expected;
}

// In the introspection table, names that need escapes, their width counted in characters; the
// plain table is the documented examples' (docs/commands.md).
TEST(FormatTest, PrintsRepliesForPeople) {
  using s = std::string;
  struct case_t {
    std::string name;
    command_reply reply;
    std::string_view expected;
  } cases[] = {
      {"introspection",
       introspection({{s("caf\xc3\xa9"), s("t\tab")},
                      {uint64_t{0}, uint64_t{1}},
                      {s("0x0"), s("0x1")},
                      {uint64_t{1}, uint64_t{2}},
                      {s("trie"), s("list")},
                      {s("string"), s("i08")},
                      {s("u08"), s("u08")}}),
       "skey     vkey  vkey(hex)  count  ctype  ktype   vtype\n"
       "caf\xc3\xa9        0  0x0            1  trie   string  u08\n"
       "\"t\\tab\"     1  0x1            2  list   i08     u08\n"},
      {"introspection of nothing", introspection({}),
       "skey  vkey  vkey(hex)  count  ctype  ktype  vtype\n"},
      {"labelled values", success({make_item("erase vkey", u64_type, {uint64_t{1}, uint64_t{2}})}),
       "erase vkey:\n  1\n  2\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_reply(c.reply), c.expected) << c.name;
}

TEST(FormatTest, WritesOneJsonObjectPerCommand) {
  struct case_t {
    std::string name;
    std::string command;
    result r;
    command_reply reply;
    std::string_view expected;
  } cases[] = {
      {"broken connection", "k", result::connection_closed, command_reply{},
       R"({"command":"k","status":"error","error":"connection closed: gone"})"
       "\n"},
      {"every kind of value", "g 0 all", result::ok,
       success({make_item("", i64_type, {int64_t{-9}, int64_t{18}}),
                make_item("", double_type, {0.5, std::numeric_limits<double>::quiet_NaN()}),
                make_item("", date_type, {date{2024, 2, 29}})}),
       R"({"command":"g 0 all","status":"ok","items":[)"
       R"({"label":"","type":"i64","values":[-9,18]},)"
       R"({"label":"","type":"double","values":[0.5,"nan"]},)"
       R"({"label":"","type":"date","values":["2024-02-29"]}]})"
       "\n"},
      {"strings", "g \"s\" all", result::ok,
       success({make_item("", string_type,
                          {std::string("q\"b\\n\n"), std::string("caf\xc3\xa9"),
                           std::string("\x01"), std::string("\xff\x00", 2)})}),
       R"({"command":"g \"s\" all","status":"ok","items":[{"label":"","type":"string","values":[)"
       R"("q\"b\\n\n","caf)"
       "\xc3\xa9"
       R"(","\u0001",{"hex":"ff00"}]}]})"
       "\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_json(c.command, c.r, c.reply, "connection closed: gone"), c.expected)
        << c.name;
  }
}

}  // namespace
}  // namespace qn::client

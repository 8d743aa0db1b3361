// binary! internals that Zot code does not reach directly: the byte-series
// helpers, the match test the parse engine uses, molds at deeper levels; and
// print's way out through the output hooks.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/output.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

struct BinaryTest : ::testing::Test {
  void SetUp() override { test::run("none"); }
  Cell* top = nullptr;
  void TearDown() override {
    if (top) stack::g_top = top;
  }
  // A binary of the bytes, kept on the argument stack for the test.
  Cell* bytes(const std::vector<u8>& b) {
    if (!top) top = stack::g_top;
    return binary::push_bytes(b.data(), u32(b.size()));
  }
  std::vector<u8> contents(const Cell* b) { return binary::bytes_of(b); }
};

TEST_F(BinaryTest, WritingHelpers) {
  Cell* b = bytes({1, 2, 3});
  binary::append_bytes(b, reinterpret_cast<const u8*>("\x04\x05"), 2);
  EXPECT_EQ(contents(b), (std::vector<u8>{1, 2, 3, 4, 5}));
  binary::insert_bytes(b, 1, reinterpret_cast<const u8*>("\x09"), 1);
  EXPECT_EQ(contents(b), (std::vector<u8>{1, 9, 2, 3, 4, 5}));
  binary::write_bytes_at(b, 4, reinterpret_cast<const u8*>("\x07\x07\x07"), 3);
  EXPECT_EQ(contents(b), (std::vector<u8>{1, 9, 2, 3, 7, 7, 7}));
  binary::append_int32_be(b, 0x01020304u);
  EXPECT_EQ(contents(b), (std::vector<u8>{1, 9, 2, 3, 7, 7, 7, 1, 2, 3, 4}));
  // Offsets count from the index.
  b->w1 = 7;
  binary::write_bytes_at(b, 5, reinterpret_cast<const u8*>("\xFF"), 1);
  b->w1 = 0;
  EXPECT_EQ(contents(b), (std::vector<u8>{1, 9, 2, 3, 7, 7, 7, 1, 2, 3, 4, 0, 0xFF}));
  // Growing past a buffer's room keeps every byte.
  std::vector<u8> many(5000, 0xAB);
  binary::insert_bytes(b, 2, many.data(), u32(many.size()));
  EXPECT_EQ(binary::length_at(b), 5013);
  EXPECT_EQ(binary::byte_at(b, 1), 9);
  EXPECT_EQ(binary::byte_at(b, 5001), 0xAB);
  EXPECT_EQ(binary::byte_at(b, 5002), 2);
}

TEST_F(BinaryTest, MatchHead) {
  Cell* b = bytes({0x61, 0x62, 0x63});
  Cell* key = bytes({0x61, 0x62});
  Cell* longer = bytes({0x61, 0x62, 0x63, 0x64});
  EXPECT_TRUE(binary::match_head(b, key, actions::kFindEqual));
  // A key longer than what is left never matches, and nothing is read past it.
  EXPECT_FALSE(binary::match_head(b, longer, actions::kFindEqual));
  b->w1 = 1;
  EXPECT_FALSE(binary::match_head(b, key, actions::kFindEqual));
  // Text matches by its UTF-8 bytes; a char! or integer! by the byte there.
  Cell text;
  string::make_from_utf8(&text, "bc", 2);
  EXPECT_TRUE(binary::match_head(b, &text, actions::kFindEqual));
  Cell c;
  make_cell(&c, T_CHAR, 0, 'b', 0);
  EXPECT_TRUE(binary::match_head(b, &c, actions::kFindEqual));
  make_cell(&c, T_CHAR, 0, 0x162, 0);  // a code point beyond a byte
  EXPECT_FALSE(binary::match_head(b, &c, actions::kFindEqual));
  Cell n;
  set_integer(&n, 0x62);
  EXPECT_TRUE(binary::match_head(b, &n, actions::kFindEqual));
  b->w1 = 3;
  EXPECT_FALSE(binary::match_head(b, &n, actions::kFindEqual));
  Cell* empty = bytes({});
  EXPECT_TRUE(binary::match_head(b, empty, actions::kFindEqual));
  // Not a prefix test without match: lengths count, and text never equals bytes.
  b->w1 = 0;
  EXPECT_EQ(binary::compare_bytes(b, key, actions::kEqual, false), 1);
  EXPECT_EQ(binary::compare_bytes(b, key, actions::kLesser, false), 1);
  EXPECT_EQ(binary::compare_bytes(key, b, actions::kLesser, false), -1);
  EXPECT_EQ(binary::compare_bytes(b, &text, actions::kEqual, false), actions::kNotComparable);
}

TEST_F(BinaryTest, MoldAtDeeperLevels) {
  std::vector<u8> v(33);
  for (u8 i = 0; i < 33; i++) v[i] = i;
  Cell* b = bytes(v);
  Cell out;
  string::make_at(&out, 16);
  actions::MoldOptions level2;
  level2.indent = 2;
  binary::mold(b, &out, level2, 1 << 20);
  std::string hex;
  for (u8 i = 0; i < 32; i++) hex += string::byte_to_hex(i);
  EXPECT_EQ(string::to_utf8(&out), "#{\n            " + hex + "\n            20\n        }");
  // The budget counts every character written.
  string::make_at(&out, 16);
  i32 left = binary::mold(b, &out, level2, 1000);
  EXPECT_EQ(left, 1000 - string::total_length(&out));
}

std::vector<std::pair<std::string, bool>> g_printed;
void capture(const Cell* s, bool new_line) { g_printed.emplace_back(string::to_utf8(s), new_line); }

using PrintTest = BinaryTest;

TEST_F(PrintTest, GoesThroughTheStringPrinters) {
  g_printed.clear();
  output::set_sink([](const char*, std::size_t) {});
  output::add_hooks(capture, nullptr);
  test::run("print [1 \"a\" [b c]] prin \"x\" prin 2 print \"\"");
  output::remove_hooks(capture, nullptr);
  output::set_sink(nullptr);
  ASSERT_EQ(g_printed.size(), 4u);
  EXPECT_EQ(g_printed[0], std::make_pair(std::string("1 a b c"), true));
  EXPECT_EQ(g_printed[1], std::make_pair(std::string("x"), false));
  EXPECT_EQ(g_printed[2], std::make_pair(std::string("2"), false));
  EXPECT_EQ(g_printed[3], std::make_pair(std::string(""), true));
}

}  // namespace
}  // namespace zot

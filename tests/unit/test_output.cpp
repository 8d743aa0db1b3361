#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/output.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

std::string g_out;
std::vector<std::size_t> g_writes;
void collect(const char* b, std::size_t n) {
  g_out.append(b, n);
  g_writes.push_back(n);
}

// A string! cell over a fresh buffer of the given unit holding the code points.
Cell make_text(const std::u32string& text, u32 unit, u32 head = 0) {
  mem::Node n = mem::alloc_units(u32(text.size()), unit);
  mem::Series* s = mem::series_of(n);
  for (std::size_t i = 0; i < text.size(); i++) std::memcpy(s->data() + i * unit, &text[i], unit);
  s->tail = u32(text.size() * unit);
  Cell c;
  make_cell(&c, T_STRING, head, n, 0);
  return c;
}

struct OutputTest : ::testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    output::init();
    g_out.clear();
    g_writes.clear();
    output::set_sink(collect);
  }
  void TearDown() override { output::set_sink(nullptr); }
};

TEST_F(OutputTest, WritesUtf8ByUnitWithLineFeeds) {
  struct Case {
    std::u32string text;
    u32 unit;
    bool new_line;
    const char* bytes;
  };
  const Case cases[] = {
      {U"abc", 1, true, "abc\n"},
      {U"caf\u00E9", 1, false, "caf\xC3\xA9"},
      {U"\u20AC1", 2, true, "\xE2\x82\xAC" "1\n"},
      {U"\U0001F600!", 4, true, "\xF0\x9F\x98\x80!\n"},
      {U"\x1B[31mX", 1, false, "\x1B[31mX"},  // escapes pass through
  };
  for (const auto& c : cases) {
    g_out.clear();
    Cell s = make_text(c.text, c.unit);
    output::print_string(&s, c.new_line);
    EXPECT_EQ(g_out, c.bytes);
  }
}

TEST_F(OutputTest, MultiByteCharacterAcrossTheFlushBoundary) {
  // 1,019 ASCII bytes then a 4-byte sequence: it must not be split.
  std::u32string text(1019, U'a');
  text += U'\U0001F600';
  text += std::u32string(2000, U'\u00E9');
  Cell s = make_text(text, 4);
  output::print_string(&s, false);
  std::string expected(1019, 'a');
  expected += "\xF0\x9F\x98\x80";
  for (int i = 0; i < 2000; i++) expected += "\xC3\xA9";
  EXPECT_EQ(g_out, expected);
  ASSERT_GT(g_writes.size(), 2u);
  for (std::size_t n : g_writes) EXPECT_LE(n, output::kFlushAt);
}

TEST_F(OutputTest, HeadIndexIsRespected) {
  Cell s = make_text(U"hello", 1, 2);
  output::print_string(&s, false);
  EXPECT_EQ(g_out, "llo");
}

std::vector<std::string> g_calls;
void first_printer(const Cell*, bool) { g_calls.push_back("first"); }
void second_printer(const Cell*, bool nl) { g_calls.push_back(nl ? "second+nl" : "second"); }
void listener(const char* t, std::size_t n, u32) { g_calls.push_back("heard:" + std::string(t, n)); }

TEST_F(OutputTest, HooksRunInTableOrderAndCanBeRemoved) {
  g_calls.clear();
  output::add_hooks(first_printer, listener);
  output::add_hooks(second_printer, nullptr);
  Cell s = make_text(U"x", 1);
  output::print_string(&s, true);
  output::print_c_text("raw");
  output::print_integer(-42);
  output::flush();
  EXPECT_EQ(g_out, "x\nraw-42");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"first", "second+nl", "heard:raw", "heard:-42"}));
  g_calls.clear();
  output::remove_hooks(first_printer, listener);
  output::print_string(&s, false);
  output::print_c_text("again");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"second"}));
}

TEST_F(OutputTest, NumberFormats) {
  output::print_byte_hex(0x0A);
  output::print_hex(0xBEEF);
  output::print_float(0.1);
  output::print_float32(0.1f);
  output::flush();
  EXPECT_EQ(g_out, "0A0000BEEF0.10.1");
}

}  // namespace
}  // namespace zot

// Text buffers: widening, building and changing, comparison, mold and form,
// loading bytes.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using mem::Series;

struct StringTest : ::testing::Test {
  void SetUp() override {
    test::ensure_runtime();
  }
};

// A string of the given unit holding text (the code points must fit the unit).
Cell str(const std::u32string& text, u32 unit = 1) {
  Cell c;
  c.header = 0;
  string::make_at_unit(&c, u32(text.size()), unit);
  for (char32_t cp : text) string::poke_char(string::buffer_of(&c), string::total_length(&c), u32(cp));
  EXPECT_EQ(string::buffer_of(&c)->unit(), unit);
  return c;
}

// The code points from the cell's index.
std::u32string text_of(const Cell& c) {
  Series* b = string::buffer_of(&c);
  std::u32string out;
  for (i32 i = string::index_of(&c); i < i32(b->length()); ++i) out += char32_t(string::char_at(&c, i));
  return out;
}

u32 unit_of(const Cell& c) { return string::buffer_of(&c)->unit(); }

std::string utf8(const Cell& c) { return string::to_utf8(&c); }

// ---------------------------------------------------------------------------
// Widening rules

// Random appends, inserts, pokes and writes against a reference text: after
// every step the content and the unit must be what the rules give. Appending
// 128-255 widens to unit 2; writing it in place does not; only reset narrows.
TEST_F(StringTest, WidthModelAgainstReference) {
  std::mt19937 rng(20240611);
  auto pick_cp = [&]() -> u32 {
    switch (rng() % 8) {
      case 0: return 128 + rng() % 128;
      case 1: return 256 + rng() % (0x10000 - 256);
      case 2: return 0x10000 + rng() % (0x110000 - 0x10000);
      default: return 32 + rng() % 95;
    }
  };
  for (int round = 0; round < 40; ++round) {
    Cell s;
    string::make_at(&s, 0);
    std::u32string ref;
    u32 want_unit = 1;
    auto write_rule = [&](u32 cp) {
      if (want_unit == 1 && cp > 0xFF) want_unit = cp > 0xFFFF ? 4 : 2;
      else if (want_unit == 2 && cp > 0xFFFF) want_unit = 4;
    };
    auto append_rule = [&](u32 cp) {
      if (want_unit == 1 && cp > 0x7F) want_unit = cp > 0xFFFF ? 4 : 2;
      else if (want_unit == 2 && cp > 0xFFFF) want_unit = 4;
    };
    for (int step = 0; step < 120; ++step) {
      u32 cp = pick_cp();
      u32 op = rng() % 10;
      i32 len = i32(ref.size());
      Series* b = string::buffer_of(&s);
      if (op <= 3 || len == 0) {
        string::append_char(b, cp);
        ref += char32_t(cp);
        append_rule(cp);
      } else if (op <= 5) {
        i32 at = i32(rng() % u32(len + 1));
        string::insert_char(b, at, cp);
        ref.insert(ref.begin() + at, char32_t(cp));
        write_rule(cp);
      } else if (op == 6) {
        i32 at = i32(rng() % u32(len + 1));  // the tail extends
        string::poke_char(b, at, cp);
        if (at == len) ref += char32_t(cp);
        else ref[size_t(at)] = char32_t(cp);
        write_rule(cp);
      } else if (op == 7) {
        i32 at = i32(rng() % u32(len));
        string::write_char(b, b->head_ptr() + u64(at) * b->unit(), cp);
        ref[size_t(at)] = char32_t(cp);
        write_rule(cp);
      } else if (op == 8) {
        // Bytes 128-255 of 8-bit text are appended as code points.
        char bytes[3] = {'x', char(128 + rng() % 128), 0};
        string::append_c_text(&s, bytes);
        ref += U'x';
        ref += char32_t(u8(bytes[1]));
        append_rule(u8(bytes[1]));
      } else if (rng() % 4 == 0) {
        string::reset(&s);
        ref.clear();
        want_unit = 1;
      } else {
        i32 at = i32(rng() % u32(len));
        i32 n = 1 + i32(rng() % u32(len - at));
        string::remove_part(&s, at, n);
        ref.erase(size_t(at), size_t(n));
      }
      ASSERT_EQ(unit_of(s), want_unit) << "round " << round << " step " << step;
      ASSERT_EQ(text_of(s), ref) << "round " << round << " step " << step;
    }
  }
}

TEST_F(StringTest, WideningEdgeCases) {
  Cell a = str(U"abc");
  string::append_char(string::buffer_of(&a), 233);
  EXPECT_EQ(unit_of(a), 2u);
  EXPECT_EQ(text_of(a), U"abc\u00E9");

  Cell b = str(U"abc");
  string::poke_char(string::buffer_of(&b), 0, 233);
  EXPECT_EQ(unit_of(b), 1u);
  EXPECT_EQ(text_of(b), U"\u00E9bc");

  string::append_char(string::buffer_of(&b), 0x1F600);
  EXPECT_EQ(unit_of(b), 4u);
  EXPECT_EQ(text_of(b), U"\u00E9bc\U0001F600");
  string::reset(&b);
  EXPECT_EQ(unit_of(b), 1u);
  EXPECT_EQ(string::total_length(&b), 0);

  // Widening a full buffer in place keeps every unit.
  Cell c = str(std::u32string(1000, U'\u00FF'));
  string::widen_to(string::buffer_of(&c), 1, 4);
  EXPECT_EQ(unit_of(c), 4u);
  EXPECT_EQ(text_of(c), std::u32string(1000, U'\u00FF'));
}

// ---------------------------------------------------------------------------
// Joining

TEST_F(StringTest, ConcatenateModesAndUnits) {
  struct Case {
    std::u32string target;
    u32 target_unit;
    i32 target_index;
    std::u32string source;
    u32 source_unit;
    i32 part;
    i32 offset;
    int mode;
    std::u32string want;
  };
  const Case cases[] = {
      {U"abc", 1, 0, U"de", 1, -1, 0, string::kConcatAppend, U"abcde"},
      {U"abc", 1, 2, U"de", 1, -1, 5, string::kConcatAppend, U"abcde"},  // offset unused
      {U"abc", 1, 0, U"defg", 1, 2, 0, string::kConcatAppend, U"abcde"},
      {U"abc", 1, 0, U"defg", 1, 0, 0, string::kConcatAppend, U"abc"},
      {U"abc", 1, 1, U"XY", 1, -1, 0, string::kConcatInsert, U"aXYbc"},
      {U"abc", 1, 1, U"XY", 1, -1, 1, string::kConcatInsert, U"abXYc"},
      {U"abc", 1, 0, U"XY", 1, -1, 3, string::kConcatInsert, U"abcXY"},
      {U"abcd", 1, 1, U"XY", 1, -1, 0, string::kConcatOverwrite, U"aXYd"},
      {U"abcd", 1, 3, U"XYZ", 1, -1, 0, string::kConcatOverwrite, U"abcXYZ"},
      {U"ab", 1, 0, U"\u4E2D", 2, -1, 0, string::kConcatAppend, U"ab\u4E2D"},
      {U"\U0001F600", 4, 0, U"ab", 1, -1, 0, string::kConcatInsert, U"ab\U0001F600"},
      {U"\u00E9\u00E9", 1, 1, U"\U0001F600x", 4, -1, 0, string::kConcatOverwrite, U"\u00E9\U0001F600x"},
  };
  for (const Case& c : cases) {
    for (bool keep : {false, true}) {
      SCOPED_TRACE(utf8(str(c.want, 4)) + (keep ? " keep" : ""));
      Cell t = str(c.target, c.target_unit);
      t.w1 = u32(c.target_index);
      Cell s = str(c.source, c.source_unit);
      string::concatenate(&t, &s, c.part, c.offset, keep, c.mode);
      t.w1 = 0;
      EXPECT_EQ(text_of(t), c.want);
      EXPECT_EQ(unit_of(t), std::max(c.target_unit, c.source_unit));
      // The source keeps its text; without keep it takes the target's unit.
      EXPECT_EQ(text_of(s), c.source);
      EXPECT_EQ(unit_of(s), keep ? c.source_unit : std::max(c.target_unit, c.source_unit));
    }
  }
}

TEST_F(StringTest, ConcatenateIntoItself) {
  struct Case {
    i32 source_index;
    i32 target_index;
    int mode;
    std::u32string want;
  };
  const Case cases[] = {
      {0, 0, string::kConcatAppend, U"abcdabcd"},
      {0, 0, string::kConcatInsert, U"abcdabcd"},
      {2, 0, string::kConcatInsert, U"cdabcd"},
      {0, 2, string::kConcatInsert, U"ababcdcd"},
      {1, 3, string::kConcatInsert, U"abcbcdd"},
      {0, 4, string::kConcatInsert, U"abcdabcd"},
      {1, 0, string::kConcatOverwrite, U"bcdd"},
      {0, 2, string::kConcatOverwrite, U"ababcd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(utf8(str(c.want)));
    Cell t = str(U"abcd");
    Cell s = t;
    s.w1 = u32(c.source_index);
    t.w1 = u32(c.target_index);
    string::concatenate(&t, &s, -1, 0, false, c.mode);
    t.w1 = 0;
    EXPECT_EQ(text_of(t), c.want);
  }
}

TEST_F(StringTest, AppendCTextAndMoveUnits) {
  Cell s;
  string::make_at(&s, 0);
  string::append_c_text(&s, "plain");
  EXPECT_EQ(unit_of(s), 1u);
  string::append_c_text_n(&s, "\xE9xyz", 2);
  EXPECT_EQ(unit_of(s), 2u);
  EXPECT_EQ(text_of(s), U"plain\u00E9x");

  Cell from = str(U"12\u4E2D45", 2);
  from.w1 = 1;
  Cell to = str(U"ab");
  to.w1 = 1;
  string::move_units(&from, &to, 3);
  to.w1 = 0;
  from.w1 = 0;
  EXPECT_EQ(text_of(to), U"a2\u4E2D4b");
  EXPECT_EQ(unit_of(to), 2u);
  EXPECT_EQ(text_of(from), U"15");
}

// ---------------------------------------------------------------------------
// Reading and small changes

TEST_F(StringTest, PositionsAndSearches) {
  Cell s = str(U"abcABC");
  s.w1 = 10;
  EXPECT_EQ(string::length_at(&s), 0);
  EXPECT_EQ(s.w1, 10u);
  EXPECT_EQ(series::clamped_length_at(&s), 0);
  EXPECT_EQ(s.w1, 6u);  // written back to the tail
  s.w1 = 9;
  EXPECT_EQ(string::index_pointer(&s), string::tail_pointer(&s));
  EXPECT_EQ(s.w1, 6u);
  EXPECT_TRUE(string::index_at_tail(&s));

  s.w1 = 1;
  EXPECT_EQ(string::length_at(&s), 5);
  EXPECT_EQ(string::find_char(&s, 'c'), 1);
  EXPECT_EQ(string::find_char(&s, 'a'), -1);
  EXPECT_EQ(string::find_char(&s, 'A'), 2);
  // Records of 2 units from index 1: b, A, C.
  EXPECT_TRUE(string::char_in_records(&s, 'a', 2, false));
  EXPECT_FALSE(string::char_in_records(&s, 'a', 2, true));
  EXPECT_FALSE(string::char_in_records(&s, 'c', 2, true));
  EXPECT_TRUE(string::char_in_records(&s, 'C', 2, true));

  EXPECT_TRUE(string::starts_with(&s, "bcA"));
  EXPECT_TRUE(string::starts_with(&s, ""));
  EXPECT_FALSE(string::starts_with(&s, "bca"));
  EXPECT_FALSE(string::starts_with(&s, "bcABCx"));
  Cell wide = str(U"\u0101x", 2);
  EXPECT_FALSE(string::starts_with(&wide, "\x01"));

  s.w1 = 0;
  string::remove_char(&s, 0);
  EXPECT_EQ(text_of(s), U"bcABC");
  string::remove_part(&s, 1, 2);
  EXPECT_EQ(text_of(s), U"bBC");
  string::remove_part(&s, 3, 1);  // at the tail: nothing
  EXPECT_EQ(text_of(s), U"bBC");
  string::truncate_at(string::buffer_of(&s), 5);  // past the tail: nothing
  EXPECT_EQ(text_of(s), U"bBC");
  string::truncate_at(string::buffer_of(&s), 1);
  EXPECT_EQ(text_of(s), U"b");
}

TEST_F(StringTest, CopyWidened) {
  Cell s = str(U"a\u00E9z");
  Series* d = string::copy_widened(string::buffer_of(&s), nullptr, 4, 0, 1, 3, 8);
  EXPECT_EQ(d->unit(), 4u);
  ASSERT_EQ(d->length(), 2u);
  EXPECT_EQ(string::get_char(d->head_ptr(), 4), 0xE9u);
  EXPECT_EQ(string::get_char(d->head_ptr() + 4, 4), u32('z'));
  EXPECT_GE(d->size, 32u);
}

// ---------------------------------------------------------------------------
// Comparison

TEST_F(StringTest, CompareAcrossWidthsAndCases) {
  using namespace actions;
  struct Case {
    std::u32string a;
    u32 ua;
    std::u32string b;
    u32 ub;
    i32 op;
    bool match;
    i32 want;
  };
  const Case cases[] = {
      {U"abc", 1, U"ABC", 1, kEqual, false, 0},
      {U"abc", 1, U"ABC", 1, kStrictEqual, false, 1},
      {U"abc", 1, U"ABC", 1, kSortOrder, false, 0},
      {U"abc", 1, U"ABC", 1, kCaseSortOrder, false, 1},
      {U"ABC", 1, U"abc", 1, kCaseSortOrder, false, -1},
      {U"abc", 1, U"ABC", 2, kEqual, false, 0},
      {U"abc", 4, U"ABC", 1, kEqual, false, 0},
      {U"abc", 2, U"abc", 4, kStrictEqual, false, 0},
      // Letters above 127 fold alike whatever the units on each side.
      {U"\u00E9t\u00E9", 1, U"\u00C9T\u00C9", 2, kEqual, false, 0},
      {U"\u00E9t\u00E9", 1, U"\u00C9T\u00C9", 4, kLesser, false, 0},
      {U"\u00E9", 2, U"\u00C9", 1, kStrictEqual, false, 1},
      {U"\U00010428", 4, U"\U00010400", 4, kEqual, false, 0},
      {U"abc", 1, U"abcd", 1, kLesser, false, -1},
      {U"abc", 1, U"abcd", 1, kEqual, false, 1},
      {U"abcd", 1, U"abc", 1, kGreater, false, 1},
      {U"abd", 1, U"abcd", 1, kLesser, false, 1},
      {U"_", 1, U"a", 1, kSortOrder, false, 1},
      {U"", 1, U"", 2, kEqual, false, 0},
      {U"", 1, U"a", 1, kLesser, false, -1},
      {U"a", 1, U"", 1, kLesser, false, 1},
      // Prefix tests.
      {U"abcdef", 1, U"ABC", 2, kEqual, true, 0},
      {U"abcdef", 1, U"ABC", 1, kStrictEqual, true, 1},
      {U"ab", 1, U"abc", 1, kEqual, true, 1},
      {U"ab", 1, U"", 1, kEqual, true, 0},
      {U"ab", 1, U"", 1, kFindEqual, true, 1},
  };
  for (const Case& c : cases) {
    Cell a = str(c.a, c.ua);
    Cell b = str(c.b, c.ub);
    SCOPED_TRACE(utf8(a) + " vs " + utf8(b) + " op " + std::to_string(c.op));
    EXPECT_EQ(string::compare_values(&a, &b, c.op, c.match), c.want);
  }
  // Sameness is the same node and index, not equal text.
  Cell a = str(U"x");
  Cell b = str(U"x");
  EXPECT_EQ(string::compare_values(&a, &a, kSame, false), 0);
  EXPECT_EQ(string::compare_values(&a, &b, kSame, false), -1);
  // An index past a shortened buffer counts as the tail.
  Cell c = str(U"xyz");
  c.w1 = 7;
  Cell empty = str(U"");
  EXPECT_EQ(string::compare_values(&c, &empty, kEqual, false), 0);
}

TEST_F(StringTest, MatchAtKeys) {
  using namespace actions;
  Cell s = str(U"x<Tag>y");
  s.w1 = 1;
  Cell tag = str(U"TAG");
  set_type(&tag, T_TAG);
  EXPECT_TRUE(string::angle_enclosed(&s, &tag));
  EXPECT_TRUE(string::match_at(&s, &tag, kEqual));
  EXPECT_FALSE(string::match_at(&s, &tag, kStrictEqual));
  Cell shorter = str(U"Ta");
  set_type(&shorter, T_TAG);
  EXPECT_FALSE(string::match_at(&s, &shorter, kEqual));  // no ">" after it

  Cell ch;
  make_cell(&ch, T_CHAR, 0, '<', 0);
  EXPECT_TRUE(string::match_at(&s, &ch, kEqual));
  s.w1 = 2;
  make_cell(&ch, T_CHAR, 0, 't', 0);
  EXPECT_TRUE(string::match_at(&s, &ch, kEqual));
  EXPECT_FALSE(string::match_at(&s, &ch, kStrictEqual));
  s.w1 = 7;
  EXPECT_FALSE(string::match_at(&s, &ch, kEqual));

  s.w1 = 2;
  Cell file = str(U"tAG>");
  set_type(&file, T_FILE);
  EXPECT_TRUE(string::match_at(&s, &file, kEqual));
}

// ---------------------------------------------------------------------------
// Mold and form

struct MoldCase {
  std::u32string text;
  bool all;
  std::string want;
};

std::string mold_of(const Cell& v, bool all, const Cell* limit, i32 part, i32* left = nullptr) {
  Cell out;
  string::make_at(&out, 0);
  i32 r = string::mold(&v, &out, {.limit = limit, .all = all}, part);
  if (left) *left = r;
  return utf8(out);
}

TEST_F(StringTest, MoldGoldenTable) {
  const std::string fifty(50, 'x');
  const MoldCase cases[] = {
      {U"abc", false, "\"abc\""},
      {U"", false, "\"\""},
      {U"a\"b", false, "{a\"b}"},
      {U"a\nb\nc", false, "\"a^/b^/c\""},
      {U"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
      {std::u32string(49, U'x'), false, "\"" + std::string(49, 'x') + "\""},
      {std::u32string(50, U'x'), false, "{" + fifty + "}"},
      {U"tab\there", false, "\"tab^-here\""},
      {U"cr\r", false, "\"cr^M\""},
      {std::u32string(U"nul\0", 4), false, "\"nul^@\""},
      {U"\x1B\x1C\x1D\x1F", false, "\"^[^\\^]^_\""},
      {U"\x1E", false, "\"^(1E)\""},
      {U"\x7F", false, "\"^~\""},
      {U"\u0085", false, "\"^(85)\""},
      {U"\u009F", false, "\"^(9F)\""},
      {U"\u00E9", false, "\"\u00E9\""},
      {U"\u00E9", true, "\"^(E9)\""},
      {U"\u0100\U0001F600", true, "\"^(100)^(1F600)\""},
      {U"\u4E2D", false, "\"\u4E2D\""},
      {U"a^b", false, "\"a^^b\""},
      {U"{a}}", false, "\"{a}}\""},  // braces stay plain between quotes
      // In braces: balanced pairs plain, a "}" at depth 0 and every "{" from
      // the first unclosed one on escaped; quotes plain, other escapes apply.
      {U"\"{a}", false, "{\"{a}}"},
      {U"\"{a", false, "{\"^{a}"},
      {U"\"}a", false, "{\"^}a}"},
      {U"\"a}{b}", false, "{\"a^}{b}}"},
      {U"\"{{a}", false, "{\"^{^{a^}}"},
      {U"\"{a}{b", false, "{\"{a}^{b}"},
      {U"\"{a{b}c}", false, "{\"{a{b}c}}"},
      {U"\"^\t\n", false, "{\"^^^-^/}"},
  };
  for (const MoldCase& c : cases) {
    Cell v = str(c.text, 4);
    SCOPED_TRACE(c.want);
    i32 left = 0;
    EXPECT_EQ(mold_of(v, c.all, nullptr, 1000, &left), c.want);
    EXPECT_EQ(left, 1000 - i32(c.text.size()) - 2);
    // The unit of the value does not change its molded text.
    if (c.text.find_first_of(U"\u0100\U0001F600\u4E2D") == std::u32string::npos) {
      Cell narrow = str(c.text, 1);
      EXPECT_EQ(mold_of(narrow, c.all, nullptr, 1000), c.want);
    }
  }
}

TEST_F(StringTest, MoldFromIndexAndWithLimit) {
  Cell lim;
  set_integer(&lim, 3);
  Cell v = str(U"abcdef");
  i32 left = 0;
  EXPECT_EQ(mold_of(v, false, &lim, 3, &left), "\"abc\"");
  EXPECT_EQ(left, -2);
  v.w1 = 2;
  EXPECT_EQ(mold_of(v, false, nullptr, 100), "\"cdef\"");
  // The choice of braces looks at the whole rest, not the limited stretch.
  Cell longer = str(std::u32string(60, U'y'));
  EXPECT_EQ(mold_of(longer, false, &lim, 3), "{yyy}");
  // A spent budget molds no units, only the delimiters.
  EXPECT_EQ(mold_of(longer, false, &lim, -4, &left), "{}");
  EXPECT_EQ(left, -6);
  // A molded value may be its own output buffer.
  Cell self = str(U"q\u00E9");
  string::mold(&self, &self, {}, 100);
  EXPECT_EQ(text_of(self), U"q\u00E9\"q\u00E9\"");
}

TEST_F(StringTest, Form) {
  Cell out = str(U">");
  Cell v = str(U"x\u4E2Dyz", 2);
  v.w1 = 1;
  EXPECT_EQ(string::form(&v, &out, nullptr, 100), 97);
  Cell lim;
  set_integer(&lim, 2);
  EXPECT_EQ(string::form(&v, &out, &lim, 2), 0);
  EXPECT_EQ(text_of(out), U">\u4E2Dyz\u4E2Dy");
  EXPECT_EQ(unit_of(v), 2u);
}

TEST_F(StringTest, EscapedCharAndHex) {
  struct Case {
    u32 cp;
    bool all;
    const char* want;
  };
  const Case cases[] = {
      {'a', false, "a"},       {'"', false, "^\""},     {'^', false, "^^"},
      {'\n', false, "^/"},     {30, false, "^(1E)"},    {127, false, "^~"},
      {0xA0, false, "\u00A0"}, {0xA0, true, "^(A0)"},   {0x10FFFF, true, "^(10FFFF)"},
  };
  for (const Case& c : cases) {
    Cell out;
    string::make_at(&out, 0);
    string::append_escaped_char(&out, c.cp, c.all);
    EXPECT_EQ(utf8(out), c.want) << c.cp;
  }

  struct Hex {
    i32 value;
    bool trim;
    const char* want;
  };
  const Hex hex[] = {
      {-1, false, "FFFFFFFF"}, {255, true, "FF"},         {0, true, "00"},       {0, false, "00000000"},
      {30, true, "1E"},        {0x100, true, "100"},      {255, false, "000000FF"}, {-16, false, "FFFFFFF0"},
      {INT32_MIN, false, "80000000"}, {-1, true, ""}, {-2, true, "E"}, {0x7FFFFFFF, true, "7FFFFFFF"},
  };
  for (const Hex& h : hex) EXPECT_STREQ(string::to_hex(h.value, h.trim), h.want) << h.value;
  EXPECT_STREQ(string::byte_to_hex(0x0F), "0F");
  EXPECT_STREQ(string::byte_to_hex(0xA5), "A5");

  bool error = true;
  EXPECT_DOUBLE_EQ(string::to_float("1.5e3", 5, &error), 1500.0);
  EXPECT_FALSE(error);
  string::to_float("1.5x", 4, &error);
  EXPECT_TRUE(error);
}

// ---------------------------------------------------------------------------
// Loading bytes and writing text out

TEST_F(StringTest, LoadUtf8) {
  struct Case {
    std::string bytes;
    std::u32string want;
    u32 unit;
  };
  const Case cases[] = {
      {"abc", U"abc", 1},
      {"", U"", 1},
      {"\xEF\xBB\xBF" "A", U"A", 1},
      {"\xEF\xBB\xBF", U"", 1},
      {"a\xC3\xA9", U"a\u00E9", 1},  // decoding keeps unit 1 up to 255
      {"a\xC3\xA9\xE4\xB8\xAD", U"a\u00E9\u4E2D", 2},
      {"a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z", U"a\u00E9\u4E2D\U0001F600z", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    Cell* top = stack::g_top;
    Cell* v = string::load_bytes(reinterpret_cast<const u8*>(c.bytes.data()), u32(c.bytes.size()),
                                 string::kEncodingUtf8);
    EXPECT_EQ(v, top);  // pushed
    EXPECT_EQ(stack::g_top, top + 1);
    EXPECT_TRUE(v->is(T_STRING));
    EXPECT_EQ(text_of(*v), c.want);
    EXPECT_EQ(unit_of(*v), c.unit);
    EXPECT_EQ(string::to_utf8(v), c.bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? c.bytes.substr(3) : c.bytes);
    stack::pop(1);
  }
  // Widening part-way through reserves room for the rest at the new unit.
  std::string astral = "\xF0\x9F\x98\x80";
  astral.append(300, 'q');
  Cell big;
  string::make_from_utf8(&big, astral.data(), astral.size());
  EXPECT_EQ(unit_of(big), 4u);
  std::u32string want(301, U'q');
  want[0] = U'\U0001F600';
  EXPECT_EQ(text_of(big), want);
  EXPECT_EQ(test::error_code_of([] {
              Cell t;
              string::load_bytes_at(reinterpret_cast<const u8*>("a\xC3(b"), 4, &t, string::kEncodingUtf8);
            }),
            error_code(Err::AccessInvalidUtf8));
}

TEST_F(StringTest, LoadUtf16le) {
  struct Case {
    std::vector<u8> bytes;
    std::u32string want;
    u32 unit;
  };
  const Case cases[] = {
      {{'a', 0, 0xE9, 0}, U"a\u00E9", 1},
      {{'a', 0, 0x2D, 0x4E}, U"a\u4E2D", 2},
      {{'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0}, U"a\U0001F600b", 4},
      // A lone surrogate half is kept as the code point it is.
      {{'a', 0, 0x3D, 0xD8}, U"a\xD83D", 4},
      {{0x3D, 0xD8, 'b', 0}, U"\xD83D" U"b", 4},
      {{}, U"", 1},
  };
  for (const Case& c : cases) {
    Cell t;
    string::load_bytes_at(c.bytes.data(), u32(c.bytes.size()), &t, string::kEncodingUtf16le);
    EXPECT_EQ(text_of(t), c.want);
    EXPECT_EQ(unit_of(t), c.unit);
  }
  // Dropping CRs, and filling an existing string.
  const u8 crlf[] = {'A', 0, '\r', 0, '\n', 0, 'B', 0};
  Cell target = str(U"\u4E2Dold text", 2);
  unicode::utf16le_to_string(crlf, 4, target.w2, true);
  EXPECT_EQ(text_of(target), U"A\nB");
  EXPECT_EQ(unit_of(target), 2u);
}

TEST_F(StringTest, Utf8IntoTargetAndCrlf) {
  Cell t = str(U"\u4E2D", 2);
  const char in[] = "A\r\nB\rC";
  std::size_t n = 0;
  unicode::utf8_into_string(reinterpret_cast<const u8*>(in), 6, t.w2, &n, true);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(text_of(t), U"A\nB\nC");
  EXPECT_EQ(unit_of(t), 2u);
  // A sequence cut at the end of the input stops the decoding there.
  Cell cut;
  string::make_from_utf8(&cut, "ab\xE4\xB8", 4);
  EXPECT_EQ(text_of(cut), U"ab");
}

TEST_F(StringTest, WriteOutUtf8AndUtf16) {
  Cell s;
  string::make_from_utf8(&s, "x\n\u00E9\U0001F600", 8);
  EXPECT_EQ(unit_of(s), 4u);
  s.w1 = 1;
  EXPECT_EQ(string::to_utf8(&s), "\n\u00E9\U0001F600");
  EXPECT_EQ(unicode::utf8_size_of(&s, 2), 3u);

  u8 buf[8];
  std::size_t w = unicode::write_utf8_bounded(&s, buf, 5, -1, true);
  EXPECT_EQ(w, 3u);  // the 4-byte sequence does not fit before the NUL
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "\n\u00E9");

  i32 part = -1;
  const u8* u8buf = unicode::to_utf8_buffer(&s, &part, true);  // from the head
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(u8buf)), "x\r\n\u00E9\U0001F600");
  EXPECT_EQ(part, 9);

  i32 units = -1;
  const u8* w16 = unicode::to_utf16_part(&s, &units, true);
  ASSERT_NE(w16, nullptr);
  const std::vector<u8> want = {'x', 0, '\r', 0, '\n', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};
  EXPECT_EQ(units, 6);
  EXPECT_EQ(std::vector<u8>(w16, w16 + want.size()), want);
}

using StringDeathTest = StringTest;

TEST_F(StringDeathTest, UnknownEncodingEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(string::load_bytes(reinterpret_cast<const u8*>("a"), 1, 1), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace zot

// string! actions: make and to, path access, compare, append/insert/change,
// find and select, sort (default and function comparators), swap, take,
// trim and the set operations on text.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/string_actions.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/comparator.h"
#include "runtime/services.h"
#include "runtime/unicode.h"
#include "tests/unit/series_fixture.h"

namespace zot {
namespace {

using test::char_cell;
using test::int_cell;

struct StringActions : ::testing::Test {
  Cell* top = nullptr;
  void SetUp() override {
    static bool registered = false;
    test::ensure_core_types();
    if (!registered) {
      registered = true;
      string::register_type();
      integer::register_type();
      char_::register_type();
    }
    top = stack::g_top;
  }
  void TearDown() override {
    stack::g_top = top;
    g_services.call_with_two = saved_call;
  }
  void (*saved_call)(const Cell*, const Cell*, const Cell*, Cell*) = g_services.call_with_two;
};

// A string of the given unit holding the code points (they must fit it).
Cell str(const std::u32string& text, u32 unit = 1, u32 type = T_STRING) {
  Cell c;
  c.header = 0;
  string::make_at_unit(&c, u32(text.size()), unit);
  for (char32_t cp : text) string::poke_char(string::buffer_of(&c), string::total_length(&c), u32(cp));
  set_type(&c, u8(type));
  return c;
}

Cell at(Cell c, i32 i) {
  c.w1 = u32(i);
  return c;
}

// The code points from the head, whatever the index.
std::u32string all_of(const Cell& c) {
  std::u32string out;
  for (i32 i = 0; i < string::total_length(&c); i++) out += char32_t(string::char_at(&c, i));
  return out;
}

u32 unit_of(const Cell& c) { return string::buffer_of(&c)->unit(); }

Cell none_cell() {
  Cell c;
  return *set_none(&c);
}

Cell bytes(std::initializer_list<u32> b) { return test::units(1, b, T_BINARY); }

// ---------------------------------------------------------------------------
// Registration

TEST_F(StringActions, RegistersOwnInheritedAndEmptySlots) {
  using namespace actions;
  const int own[] = {kMake, kTo, kForm, kMold, kEvalPath, kCompare, kAppend, kChange, kFind, kInsert, kSelect,
                     kSort, kSwap, kTake, kTrim};
  const int inherited[] = {kRandom, kReflect, kAt,   kBack, kClear,   kCopy, kHead, kHeadQ, kIndexQ, kLengthQ,
                           kMove,   kNext,    kPick, kPoke, kRemove, kReverse, kSkip, kTail, kTailQ, kModify};
  int seen = 0;
  for (int s : own) {
    EXPECT_NE(raw(T_STRING, s), nullptr) << "slot " << s;
    EXPECT_NE(raw(T_STRING, s), raw(T_SERIES, s)) << "slot " << s;
    seen++;
  }
  for (int s : inherited) {
    EXPECT_EQ(raw(T_STRING, s), raw(T_SERIES, s)) << "slot " << s;
    EXPECT_NE(raw(T_STRING, s), nullptr) << "slot " << s;
    seen++;
  }
  for (int s = 1; s <= kSlotCount; s++) {
    bool listed = std::find(std::begin(own), std::end(own), s) != std::end(own) ||
                  std::find(std::begin(inherited), std::end(inherited), s) != std::end(inherited);
    if (!listed) {
      EXPECT_EQ(raw(T_STRING, s), nullptr) << "slot " << s;
    }
  }
  EXPECT_EQ(seen, 35);
  EXPECT_EQ(raw(T_STRING, kInsert), raw(T_STRING, kAppend));
  EXPECT_STREQ(datatype::type_name(T_STRING), "string!");
}

// ---------------------------------------------------------------------------
// make and to

TEST_F(StringActions, MakeAndTo) {
  Cell proto = none_cell();
  Cell ten = int_cell(10);
  Cell* r = string::make(&proto, &ten, T_FILE);
  EXPECT_TRUE(r->is(T_FILE));
  EXPECT_EQ(string::total_length(r), 0);
  EXPECT_EQ(unit_of(*r), 1u);
  EXPECT_GE(string::buffer_of(r)->size, 10u);
  Cell f;
  set_float(&f, 2.9);
  EXPECT_EQ(string::total_length(string::make(&proto, &f, T_STRING)), 0);

  Cell neg = int_cell(-1);
  EXPECT_EQ(test::error_code_of([&] { string::make(&proto, &neg, T_STRING); }), error_code(Err::ScriptOutOfRange));
  Cell money;
  make_cell(&money, T_MONEY, 0, 0, 0);
  EXPECT_EQ(test::error_code_of([&] { string::make(&proto, &money, T_BINARY); }),
            error_code(Err::ScriptBadMakeArg));
  Cell none = none_cell();
  EXPECT_EQ(test::error_code_of([&] { string::to(&proto, &none, T_STRING); }), error_code(Err::ScriptBadToArg));

  // A block: each element formed, no separators.
  Cell b = test::block_of({int_cell(1), str(U"b"), char_cell('c')});
  EXPECT_EQ(all_of(*string::to(&proto, &b, T_STRING)), U"1bc");
  // Any other value is formed; text is copied from its index.
  Cell n = int_cell(-42);
  EXPECT_EQ(all_of(*string::to(&proto, &n, T_STRING)), U"-42");
  Cell src = at(str(U"abcd", 2), 1);
  Cell* copy = string::to(&proto, &src, T_FILE);
  EXPECT_TRUE(copy->is(T_FILE));
  EXPECT_EQ(all_of(*copy), U"bcd");
  EXPECT_NE(copy->w2, src.w2);
  // A make with a non-number spec converts.
  Cell c = char_cell(0x263A);
  EXPECT_EQ(all_of(*string::make(&proto, &c, T_STRING)), U"\u263A");
}

TEST_F(StringActions, ToStringDecodesUtf8AndReportsTheBadRest) {
  Cell proto = none_cell();
  Cell ok = bytes({0x41, 0xC3, 0xA9});
  EXPECT_EQ(all_of(*string::to(&proto, &ok, T_STRING)), U"A\u00E9");
  Cell from1 = at(ok, 1);
  EXPECT_EQ(all_of(*string::to(&proto, &from1, T_STRING)), U"\u00E9");

  Cell bad = bytes({0x61, 0x62, 0xFF, 0x63});
  EXPECT_EQ(test::error_code_of([&] { string::to(&proto, &bad, T_STRING); }), error_code(Err::AccessInvalidUtf8));
  const Cell* arg = last_error_arg(0);
  ASSERT_TRUE(arg->is(T_BINARY));
  EXPECT_EQ(test::contents(*arg), (std::vector<i64>{0xFF, 0x63}));
  Cell cut = bytes({0x61, 0xE2, 0x82});  // a sequence cut short by the end
  EXPECT_EQ(test::error_code_of([&] { string::to(&proto, &cut, T_STRING); }), error_code(Err::AccessInvalidUtf8));
  EXPECT_EQ(test::contents(*last_error_arg(0)), (std::vector<i64>{0xE2, 0x82}));
}

// ---------------------------------------------------------------------------
// compare

TEST_F(StringActions, CompareAcrossTextTypes) {
  Cell s = str(U"abc"), file = str(U"ABC", 2, T_FILE), bin = bytes({'a', 'b', 'c'});
  EXPECT_EQ(string::compare(&s, &file, actions::kEqual), 0);
  EXPECT_NE(string::compare(&s, &file, actions::kNotEqual), actions::kNotComparable);
  EXPECT_EQ(string::compare(&s, &file, actions::kStrictEqual), actions::kNotComparable);
  EXPECT_EQ(string::compare(&s, &file, actions::kLesser), actions::kNotComparable);
  EXPECT_EQ(string::compare(&s, &bin, actions::kEqual), actions::kNotComparable);
  Cell d = str(U"abd");
  EXPECT_LT(string::compare(&s, &d, actions::kLesser), 0);
  Cell upper = str(U"ABC");
  EXPECT_EQ(string::compare(&s, &upper, actions::kEqual), 0);
  EXPECT_NE(string::compare(&s, &upper, actions::kStrictEqual), 0);
}

// ---------------------------------------------------------------------------
// append, insert, change

struct EditCase {
  const char* what;
  std::u32string target;
  u32 unit;
  i32 index;
  Cell value;
  i32 part;
  bool only;
  i32 dup;
  std::u32string text;
  u32 unit_after;
  i32 index_after;
};

void run_edit(const EditCase& c, bool append, bool change) {
  Cell s = at(str(c.target, c.unit), c.index);
  Cell v = c.value;
  if (change)
    string::change(&s, &v, {.part = c.part, .dup = c.dup, .only = c.only});
  else
    string::append(&s, &v, {.part = c.part, .dup = c.dup, .only = c.only, .append = append});
  EXPECT_EQ(all_of(s), c.text) << c.what;
  EXPECT_EQ(unit_of(s), c.unit_after) << c.what;
  EXPECT_EQ(string::index_of(&s), c.index_after) << c.what;
}

TEST_F(StringActions, AppendTable) {
  const EditCase cases[] = {
      {"char 233 widens", U"abc", 1, 0, char_cell(233), -1, false, 1, U"abc\u00E9", 2, 0},
      {"char above 0xFFFF", U"abc", 1, 2, char_cell(0x1F600), -1, false, 1, U"abc\U0001F600", 4, 0},
      {"tag framed", U"abc", 1, 0, str(U"b", 1, T_TAG), -1, false, 1, U"abc<b>", 1, 0},
      {"tag /part 2", U"abc", 1, 0, str(U"xyz", 1, T_TAG), 2, false, 1, U"abc<x", 1, 0},
      {"tag /part 5", U"abc", 1, 0, str(U"xyz", 1, T_TAG), 5, false, 1, U"abc<xyz>", 1, 0},
      {"text /dup 3", U"a", 1, 0, str(U"bc"), -1, false, 3, U"abcbcbc", 1, 0},
      {"text /part 1", U"a", 1, 0, str(U"bc"), 1, false, 1, U"ab", 1, 0},
      {"text from its index", U"a", 1, 0, at(str(U"xyz"), 2), -1, false, 1, U"az", 1, 0},
      {"wider text widens", U"ab", 1, 1, str(U"\u263A", 2), -1, false, 1, U"ab\u263A", 2, 0},
      {"block formed", U"a", 1, 0, test::block_of({int_cell(1), str(U"b"), char_cell('c')}), -1, false, 1,
       U"a1bc", 1, 0},
      {"block /part counts values", U"a", 1, 0, test::block_of({int_cell(1), str(U"bb"), char_cell('c')}), 2,
       false, 1, U"a1bb", 1, 0},
      {"block /only /part counts units", U"a", 1, 0,
       test::block_of({int_cell(12), str(U"bbb"), char_cell('c')}), 4, true, 1, U"a12bb", 1, 0},
      {"block /dup", U"", 1, 0, test::block_of({int_cell(7), char_cell('x')}), -1, false, 2, U"7x7x", 1, 0},
      {"integer formed", U"n=", 1, 0, int_cell(-5), -1, false, 1, U"n=-5", 1, 0},
      {"empty text", U"ab", 1, 1, str(U""), -1, false, 4, U"ab", 1, 0},
  };
  for (const auto& c : cases) run_edit(c, true, false);
}

TEST_F(StringActions, InsertTable) {
  const EditCase cases[] = {
      {"at head", U"abc", 1, 0, str(U"X"), -1, false, 1, U"Xabc", 1, 1},
      {"inside /dup 2", U"abc", 1, 1, str(U"XY"), -1, false, 2, U"aXYXYbc", 1, 5},
      {"at tail moves to tail", U"abc", 1, 3, str(U"XY"), -1, false, 1, U"abcXY", 1, 5},
      {"index past tail", U"abc", 1, 9, char_cell('!'), -1, false, 1, U"abc!", 1, 4},
      {"char inside", U"abc", 2, 1, char_cell(0x263A), -1, false, 1, U"a\u263Abc", 2, 2},
      {"formed value inside", U"abc", 1, 1, int_cell(42), -1, false, 3, U"a424242bc", 1, 7},
      {"tag inside", U"ab", 1, 1, str(U"t", 1, T_TAG), -1, false, 1, U"a<t>b", 1, 4},
      {"block inside", U"ab", 1, 1, test::block_of({int_cell(1), int_cell(2)}), -1, false, 1, U"a12b", 1, 3},
      {"wide into narrow inside", U"ab", 1, 1, str(U"\u00E9\u263A", 2), -1, false, 1, U"a\u00E9\u263Ab", 2, 3},
  };
  for (const auto& c : cases) run_edit(c, false, false);
}

TEST_F(StringActions, ChangeTable) {
  const EditCase cases[] = {
      {"at head", U"abc", 1, 0, str(U"XY"), -1, false, 1, U"XYc", 1, 2},
      {"/part 2", U"abc", 1, 0, str(U"X"), 2, false, 1, U"Xc", 1, 1},
      {"/part 0 inserts", U"abc", 1, 1, str(U"X"), 0, false, 1, U"aXbc", 1, 2},
      {"longer than the rest", U"abc", 1, 2, str(U"WXYZ"), -1, false, 1, U"abWXYZ", 1, 6},
      {"/part beyond the rest", U"abc", 1, 1, str(U"Z"), 10, false, 1, U"aZ", 1, 2},
      {"char keeps unit 1", U"abc", 1, 1, char_cell(233), -1, false, 1, U"a\u00E9c", 1, 2},
      {"char 256 widens", U"abc", 1, 1, char_cell(256), -1, false, 1, U"a\u0100c", 2, 2},
      {"char /dup 3", U"abcdef", 1, 1, char_cell('x'), -1, false, 3, U"axxxef", 1, 4},
      {"at tail appends", U"ab", 1, 2, str(U"cd"), -1, false, 1, U"abcd", 1, 4},
      {"formed value", U"abcd", 1, 0, int_cell(99), -1, false, 1, U"99cd", 1, 2},
      {"/dup with /part", U"abcd", 1, 1, str(U"Z"), 1, false, 3, U"aZZZcd", 1, 4},
  };
  for (const auto& c : cases) run_edit(c, false, true);
}

TEST_F(StringActions, EditsOfAStringWithItself) {
  Cell s = str(U"abc");
  Cell same = s;
  string::append(&s, &same, {.append = true});
  EXPECT_EQ(all_of(s), U"abcabc");

  Cell t = at(str(U"abc"), 1);
  Cell whole = at(t, 0);
  string::append(&t, &whole, {});
  EXPECT_EQ(all_of(t), U"aabcbc");

  Cell u = str(U"abcd");
  Cell tail_part = at(u, 2);
  string::change(&u, &tail_part, {});
  EXPECT_EQ(all_of(u), U"cdcd");
  EXPECT_EQ(string::index_of(&u), 2);
}

TEST_F(StringActions, OversizedEditsRaiseNoMemoryAndChangeNothing) {
  const i32 huge = 0x40000000;
  Cell s = str(U"abc");
  Cell v = str(U"xyzw");
  EXPECT_EQ(test::error_code_of([&] { string::append(&s, &v, {.dup = huge, .append = true}); }),
            error_code(Err::InternalNoMemory));
  EXPECT_EQ(all_of(s), U"abc");
  // A formed value's size is known only once it is formed: it is taken back.
  Cell n = int_cell(12345);
  Cell in = at(s, 1);
  EXPECT_EQ(test::error_code_of([&] { string::append(&in, &n, {.dup = huge}); }),
            error_code(Err::InternalNoMemory));
  EXPECT_EQ(all_of(s), U"abc");
  EXPECT_EQ(test::error_code_of([&] { string::change(&in, &v, {.part = 1, .dup = huge}); }),
            error_code(Err::InternalNoMemory));
  EXPECT_EQ(all_of(s), U"abc");
}

TEST_F(StringActions, OwnerHearsBeforeAndAfter) {
  static std::vector<series::Change> heard;
  heard.clear();
  g_services.series_change = [](const Cell*, int c, const Cell*, i32, i32) {
    heard.push_back(series::Change(c));
    return true;
  };
  Cell s = str(U"abc");
  Cell v = str(U"d");
  Cell b = str(U"x");
  string::append(&s, &v, {.append = true});
  string::append(&s, &v, {});
  string::change(&s, &v, {});
  string::swap(&s, &b);
  string::trim(&s, {});
  g_services.series_change = nullptr;
  using C = series::Change;
  EXPECT_EQ(heard, (std::vector<C>{C::kAppend, C::kAppended, C::kInsert, C::kInserted, C::kChange, C::kChanged,
                                   C::kSwap, C::kSwap, C::kSwaped, C::kSwaped, C::kTrim, C::kTrimmed}));
}

// ---------------------------------------------------------------------------
// find and select

// The index found, or -1 for none.
i32 find_at(Cell s, Cell key, const actions::FindOptions& a = {}) {
  Cell* r = string::find(&s, &key, a);
  if (r->is(T_NONE)) return -1;
  EXPECT_EQ(r->type(), s.type());
  EXPECT_EQ(r->w2, s.w2);
  return string::index_of(r);
}

TEST_F(StringActions, FindTable) {
  Cell abcd = str(U"abcd");
  Cell wide = str(U"ab\u263Acd\u00E9", 2);
  Cell two = int_cell(2), zero = int_cell(0);
  Cell bits;
  {
    mem::Node n = mem::alloc_bytes(16);
    mem::Series* b = mem::series_of(n);
    std::memset(b->head_ptr(), 0, 16);
    b->head_ptr()['c' >> 3] |= u8(0x80u >> ('c' & 7));
    b->tail = b->head + 16;
    make_cell(&bits, T_BITSET, 0, n, 0);
  }
  actions::FindOptions case_, tail, last, rev, match, part2, skip2, part0, tail_match;
  case_.case_ = true;
  tail.tail = true;
  last.last = true;
  rev.reverse = true;
  match.match = true;
  part2.part = &two;
  skip2.skip = &two;
  part0.part = &zero;
  tail_match.tail = true;
  tail_match.match = true;
  struct Case {
    const char* what;
    Cell series;
    Cell key;
    actions::FindOptions args;
    i32 found;
  };
  Cell abab = str(U"abAB");
  Cell num = str(U"a12b12");
  const Case cases[] = {
      {"text folded", abcd, str(U"BC"), {}, 1},
      {"text /case", abcd, str(U"BC"), case_, -1},
      {"text /tail", abcd, str(U"bc"), tail, 3},
      {"char folded", abcd, char_cell('C'), {}, 2},
      {"char /case", abcd, char_cell('C'), case_, -1},
      {"missing", abcd, str(U"ce"), {}, -1},
      {"key longer than the rest", at(abcd, 2), str(U"cde"), {}, -1},
      {"from the index", at(abab, 1), str(U"ab"), {}, 2},
      {"/last", abab, str(U"ab"), last, 2},
      {"/last /case", abab, str(U"ab"), [] { actions::FindOptions a; a.last = a.case_ = true; return a; }(), 0},
      {"/reverse", at(abab, 3), char_cell('a'), rev, 2},
      {"/reverse at head", abab, char_cell('a'), rev, -1},
      {"/match at start", abcd, str(U"ab"), match, 0},
      {"/match elsewhere", abcd, str(U"bc"), match, -1},
      {"/match /tail", abcd, str(U"ab"), tail_match, 2},
      {"/part 2 inside", abcd, char_cell('b'), part2, 1},
      {"/part 2 outside", abcd, char_cell('c'), part2, -1},
      {"/part 0", abcd, char_cell('a'), part0, -1},
      {"/skip 2 misses odd", abcd, char_cell('b'), skip2, -1},
      {"/skip 2 hits even", abcd, char_cell('c'), skip2, 2},
      {"wide series, narrow key", wide, str(U"CD\u00C9"), {}, 3},
      {"wide key", abcd, str(U"\u263A", 2), {}, -1},
      {"wide char", wide, char_cell(0x263A), {}, 2},
      {"bitset", abcd, bits, {}, 2},
      {"formed integer", num, int_cell(12), {}, 1},
      {"formed integer /last", num, int_cell(12), last, 4},
      {"integer in binary", bytes({5, 12, 7}), int_cell(12), {}, 1},
      {"binary in binary", bytes({5, 12, 7}), bytes({12, 7}), {}, 1},
      {"empty series", str(U""), char_cell('a'), {}, -1},
      {"index at tail", at(abcd, 4), char_cell('a'), {}, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(find_at(c.series, c.key, c.args), c.found) << c.what;
}

TEST_F(StringActions, FindErrors) {
  Cell s = str(U"abc");
  Cell zero = int_cell(0), text = str(U"x");
  actions::FindOptions any, with, skip0, bad_part;
  any.any = true;
  with.with = &text;
  skip0.skip = &zero;
  bad_part.part = &text;  // a position in another series
  EXPECT_EQ(test::error_code_of([&] { find_at(s, str(U"a"), any); }), error_code(Err::InternalNotDone));
  EXPECT_EQ(test::error_code_of([&] { find_at(s, str(U"a"), with); }), error_code(Err::InternalNotDone));
  EXPECT_EQ(test::error_code_of([&] { find_at(s, str(U"a"), skip0); }), error_code(Err::ScriptOutOfRange));
  EXPECT_EQ(test::error_code_of([&] { find_at(s, str(U"a"), bad_part); }), error_code(Err::ScriptInvalidRefineArg));
  EXPECT_EQ(test::error_code_of([&] { find_at(s, bytes({'a'})); }), error_code(Err::ScriptInvalidArg));
  // A /part position in the same series bounds the search.
  actions::FindOptions pos;
  Cell limit = at(s, 2);
  pos.part = &limit;
  EXPECT_EQ(find_at(s, char_cell('b'), pos), 1);
  EXPECT_EQ(find_at(s, char_cell('c'), pos), -1);
}

TEST_F(StringActions, SelectTable) {
  auto sel = [](Cell s, Cell key, bool case_ = false) {
    actions::FindOptions o;
    o.case_ = case_;
    return *string::select(&s, &key, o);
  };
  Cell abc = str(U"abc");
  Cell r = sel(abc, char_cell('b'));
  ASSERT_TRUE(r.is(T_CHAR));
  EXPECT_EQ(r.w2, u32('c'));
  EXPECT_TRUE(sel(abc, char_cell('c')).is(T_NONE)) << "a match at the end has nothing after it";
  EXPECT_TRUE(sel(abc, char_cell('z')).is(T_NONE));
  EXPECT_EQ(sel(abc, str(U"AB")).w2, u32('c'));
  EXPECT_TRUE(sel(abc, str(U"AB"), true).is(T_NONE));
  // After the whole formed key, not inside it.
  EXPECT_EQ(sel(str(U"x12y"), int_cell(12)).w2, u32('y'));
  Cell b = sel(bytes({1, 2, 3}), int_cell(2));
  ASSERT_TRUE(b.is(T_INTEGER));
  EXPECT_EQ(b.int_value(), 3);
}

// ---------------------------------------------------------------------------
// sort

std::u32string sorted(Cell s, const actions::SortOptions& a = {}) {
  Cell* r = string::sort(&s, a);
  EXPECT_EQ(r->w2, s.w2);
  return all_of(s);
}

TEST_F(StringActions, SortTable) {
  Cell two = int_cell(2), three = int_cell(3), m2 = int_cell(-2), comp2 = int_cell(2);
  actions::SortOptions case_, rev, skip2, skip2_by2, skip2_all, part3, part_neg, stable_case_skip;
  case_.case_ = true;
  rev.reverse = true;
  skip2.skip = &two;
  skip2_by2.skip = &two;
  skip2_by2.comparator = &comp2;
  skip2_all.skip = &two;
  skip2_all.all = true;
  part3.part = &three;
  part_neg.part = &m2;
  stable_case_skip.case_ = stable_case_skip.stable = true;
  stable_case_skip.skip = &two;
  struct Case {
    const char* what;
    Cell s;
    actions::SortOptions args;
    std::u32string text;
  };
  const Case cases[] = {
      {"folded", str(U"cBa"), {}, U"aBc"},
      {"/case", str(U"cBa"), case_, U"Bac"},
      {"/reverse", str(U"cBa"), rev, U"cBa"},
      {"/reverse /case", str(U"cBa"), [] { actions::SortOptions a; a.reverse = a.case_ = true; return a; }(), U"caB"},
      {"/skip 2 by first unit", str(U"c1a2b3"), skip2, U"a2b3c1"},
      {"/skip 2 /compare 2", str(U"c1a3b2"), skip2_by2, U"c1b2a3"},
      {"/skip 2 /all", str(U"b2a9b1a1"), skip2_all, U"a1a9b1b2"},
      {"/part 3", str(U"dcbaZ"), part3, U"bcdaZ"},
      {"/part -2 sorts before the index", at(str(U"zyxw"), 3), part_neg, U"zxyw"},
      {"from the index", at(str(U"zcba"), 1), {}, U"zabc"},
      {"/stable /case keeps records in order", str(U"b1a2b0a9"), stable_case_skip, U"a2a9b1b0"},
      {"empty", str(U""), {}, U""},
  };
  for (const auto& c : cases) EXPECT_EQ(sorted(c.s, c.args), c.text) << c.what;
}

// The default order folds like comparison does, whatever the unit: the same
// letters sort alike in a unit-1, unit-2 and unit-4 buffer ("_" after the
// letters, as upper-case folding puts it).
TEST_F(StringActions, SortFoldsAlikeInEveryWidth) {
  const std::u32string letters = U"b_aZ^zA`B";
  std::u32string first;
  for (u32 unit : {1u, 2u, 4u}) {
    std::u32string got = sorted(str(letters, unit));
    if (unit == 1) first = got;
    EXPECT_EQ(got, first) << "unit " << unit;
    Cell a = str(letters, unit), b;
    // Agrees with the comparison of one-letter strings.
    for (std::size_t i = 1; i < got.size(); i++) {
      a = str(got.substr(i - 1, 1), unit);
      b = str(got.substr(i, 1), unit == 1 ? 2 : 1);
      EXPECT_LE(string::compare_values(&a, &b, actions::kSortOrder, false), 0) << "unit " << unit << " at " << i;
    }
  }
  EXPECT_EQ(first.find(U'_') > first.find(U'Z'), true);
}

// Stable sorts of many records against the standard stable sort, on every
// width, with and without /case and /reverse.
TEST_F(StringActions, StableSortMatchesReference) {
  std::mt19937 rng(77);
  const char32_t pool[] = {U'a', U'A', U'b', U'B', U'_', U'\u00E9', U'\u00C9', U'\u263A', U'1'};
  for (u32 unit : {1u, 2u, 4u}) {
    for (int variant = 0; variant < 4; variant++) {
      bool case_ = variant & 1, reverse = variant & 2;
      std::u32string text;
      for (int i = 0; i < 300; i++) {
        text += pool[rng() % (unit == 1 ? 7 : 9)];
        text += char32_t(U'0' + rng() % 10);  // the record's tag
      }
      Cell two = int_cell(2);
      actions::SortOptions a;
      a.skip = &two;
      a.case_ = case_;
      a.reverse = reverse;
      a.stable = true;
      std::vector<std::u32string> recs;
      for (std::size_t i = 0; i < text.size(); i += 2) recs.push_back(text.substr(i, 2));
      auto key = [&](char32_t c) { return case_ ? u32(c) : case_::upper_char(u32(c)); };
      std::stable_sort(recs.begin(), recs.end(), [&](const std::u32string& x, const std::u32string& y) {
        return reverse ? key(x[0]) > key(y[0]) : key(x[0]) < key(y[0]);
      });
      std::u32string want;
      for (auto& r : recs) want += r;
      EXPECT_EQ(sorted(str(text, unit), a), want) << "unit " << unit << " variant " << variant;
    }
  }
}

TEST_F(StringActions, SortErrors) {
  Cell two = int_cell(2), three = int_cell(3), zero = int_cell(0), other = str(U"x");
  struct Case {
    const char* what;
    std::u32string text;
    actions::SortOptions args;
    Err err;
  };
  actions::SortOptions skip3, skip0, all, cmp_int_noskip, cmp_int_all, cmp_out, cmp_bad, part_bad, skip_odd;
  skip3.skip = &three;
  skip0.skip = &zero;
  all.all = true;
  cmp_int_noskip.comparator = &two;
  cmp_int_all.comparator = &two;
  cmp_int_all.skip = &two;
  cmp_int_all.all = true;
  cmp_out.comparator = &three;
  cmp_out.skip = &two;
  cmp_bad.comparator = &other;
  part_bad.part = &other;
  skip_odd.skip = &two;
  const Case cases[] = {
      {"/skip 3 on two units", U"ab", skip3, Err::ScriptInvalidRefineArg},
      {"/skip not dividing", U"abc", skip_odd, Err::ScriptInvalidRefineArg},
      {"/skip 0", U"ab", skip0, Err::ScriptInvalidRefineArg},
      {"/all without /skip", U"ab", all, Err::ScriptBadRefines},
      {"/compare integer without /skip", U"ab", cmp_int_noskip, Err::ScriptBadRefines},
      {"/compare integer with /all", U"abcd", cmp_int_all, Err::ScriptBadRefines},
      {"/compare outside the record", U"abcd", cmp_out, Err::ScriptOutOfRange},
      {"/compare of a wrong type", U"ab", cmp_bad, Err::ScriptInvalidRefineArg},
      {"/part in another series", U"ab", part_bad, Err::ScriptInvalidRefineArg},
  };
  for (const auto& c : cases) {
    Cell s = str(c.text);
    EXPECT_EQ(test::error_code_of([&] { sorted(s, c.args); }), error_code(c.err)) << c.what;
    EXPECT_EQ(all_of(s), c.text) << c.what;
  }
}

// ---- function comparators, through a C++ stand-in for the evaluator

enum TestFn : u32 { kLessLogic, kDiffInteger, kFoldedLess, kRaises, kRandom, kRecordsLess, kDescFloat };
int g_calls = 0;
std::mt19937 g_rng;

void test_call(const Cell* fn, const Cell* first, const Cell* second, Cell* answer) {
  g_calls++;
  switch (TestFn(fn->w1)) {
    case kLessLogic:
      set_logic(answer, first->w2 < second->w2);
      return;
    case kDiffInteger:  // positive: first before second
      set_integer(answer, i32(second->w2) - i32(first->w2));
      return;
    case kFoldedLess:
      set_logic(answer, case_::upper_char(first->w2) < case_::upper_char(second->w2));
      return;
    case kRaises:
      if (g_calls > 5) raise_error(Err::ScriptInvalidArg, first);
      set_logic(answer, first->w2 < second->w2);
      return;
    case kRandom:
      switch (g_rng() % 4) {
        case 0: set_logic(answer, g_rng() & 1); return;
        case 1: set_integer(answer, i32(g_rng() % 5) - 2); return;
        case 2: set_none(answer); return;
        default: *answer = *fn; return;
      }
    case kRecordsLess:
      EXPECT_TRUE(first->is(T_STRING));
      set_logic(answer, string::compare_values(first, second, actions::kCaseSortOrder, false) < 0);
      return;
    case kDescFloat:
      set_float(answer, double(first->w2) > double(second->w2) ? 0.5 : -0.5);
      return;
  }
}

Cell function_cell(TestFn f) {
  Cell c;
  return *make_cell(&c, T_FUNCTION, f, 0, 0);
}

TEST_F(StringActions, FunctionComparatorOrdersLikeTheBlockConvention) {
  g_services.call_with_two = &test_call;
  struct Case {
    const char* what;
    TestFn fn;
    std::u32string text;
    u32 unit;
    bool reverse;
    bool stable;
    std::u32string want;
  };
  const Case cases[] = {
      {"less-than sorts ascending", kLessLogic, U"dbca", 1, false, false, U"abcd"},
      {"/reverse descending", kLessLogic, U"dbca", 1, true, false, U"dcba"},
      {"integer answers", kDiffInteger, U"d\u263Abca", 2, false, false, U"abcd\u263A"},
      {"float answers", kDescFloat, U"adbc", 1, false, false, U"dcba"},
      {"stable keeps equal letters in order", kFoldedLess, U"bAaBab", 1, false, true, U"AaabBb"},
  };
  for (const auto& c : cases) {
    Cell fn = function_cell(c.fn);
    actions::SortOptions a;
    a.comparator = &fn;
    a.reverse = c.reverse;
    a.stable = c.stable;
    EXPECT_EQ(sorted(str(c.text, c.unit), a), c.want) << c.what;
  }
  // Whole records under /all with /skip arrive as strings.
  Cell fn = function_cell(kRecordsLess), two = int_cell(2);
  actions::SortOptions a;
  a.comparator = &fn;
  a.skip = &two;
  a.all = true;
  EXPECT_EQ(sorted(str(U"b2a9b1a1"), a), U"a1a9b1b2");
}

TEST_F(StringActions, ComparatorAnswersAndArgumentOrder) {
  struct Case {
    Cell answer;
    i32 order;
  };
  Cell f;
  set_float(&f, -0.25);
  Cell z;
  set_float(&z, 0.0);
  const Case cases[] = {{datatype::g_true, 1}, {datatype::g_false, -1}, {int_cell(7), 1}, {int_cell(-7), -1},
                        {int_cell(0), 0},      {f, -1},                 {z, 0},           {none_cell(), -1},
                        {str(U"x"), 1}};
  for (const auto& c : cases) EXPECT_EQ(comparator::order_of_answer(&c.answer), c.order);

  // The same comparator orders integers (as a block sort hands them) and
  // chars alike: order(a, b) asks the function about (b, a).
  g_services.call_with_two = &test_call;
  Cell fn = function_cell(kLessLogic);
  Cell one = int_cell(1), two = int_cell(2), ca = char_cell(1), cb = char_cell(2);
  EXPECT_EQ(comparator::order(&fn, &one, &two, false), -1);
  EXPECT_EQ(comparator::order(&fn, &ca, &cb, false), -1);
  EXPECT_EQ(comparator::order(&fn, &two, &one, false), 1);
  EXPECT_EQ(comparator::order(&fn, &one, &two, true), 1);
}

TEST_F(StringActions, ComparatorRaisingLeavesTheStringIntact) {
  g_services.call_with_two = &test_call;
  Cell fn = function_cell(kRaises);
  for (bool stable : {false, true}) {
    for (u32 unit : {1u, 2u}) {
      std::u32string text = U"the quick brown fox jumps over the lazy dog";
      Cell s = str(text, unit);
      g_calls = 0;
      actions::SortOptions a;
      a.comparator = &fn;
      a.stable = stable;
      EXPECT_EQ(test::error_code_of([&] { sorted(s, a); }), error_code(Err::ScriptInvalidArg));
      EXPECT_EQ(all_of(s), text) << "stable " << stable << " unit " << unit;
      EXPECT_EQ(unit_of(s), unit);
    }
  }
}

TEST_F(StringActions, InconsistentComparatorGivesAPermutation) {
  g_services.call_with_two = &test_call;
  Cell fn = function_cell(kRandom);
  std::mt19937 rng(5);
  for (bool stable : {false, true}) {
    for (int round = 0; round < 5; round++) {
      g_rng.seed(u32(round * 31 + stable));
      std::u32string text;
      for (int i = 0; i < 700; i++) text += char32_t(U'a' + rng() % 26);
      Cell s = str(text, 2);
      actions::SortOptions a;
      a.comparator = &fn;
      a.stable = stable;
      std::u32string got = sorted(s, a);
      std::u32string x = got, y = text;
      std::sort(x.begin(), x.end());
      std::sort(y.begin(), y.end());
      EXPECT_EQ(x, y) << "stable " << stable << " round " << round;
    }
  }
}

// A Zot function as comparator, through the evaluator: it orders, and an
// error inside it leaves the string as it was.
Cell zot_function(const std::string& source) {
  Cell code;
  lexer::scan(&code, reinterpret_cast<const u8*>(source.data()), u32(source.size()), lexer::Options{});
  return interp::do_block(&code);
}

TEST_F(StringActions, ZotFunctionComparators) {
  Cell less = zot_function("func [a b] [a < b]");
  Cell s = str(U"dbca");
  actions::SortOptions a;
  a.comparator = &less;
  EXPECT_EQ(sorted(s, a), U"abcd");
  Cell failing = zot_function("func [a b] [1 / 0]");
  Cell t = str(U"ba");
  actions::SortOptions f;
  f.comparator = &failing;
  EXPECT_EQ(test::error_code_of([&] { sorted(t, f); }), error_code(Err::MathZeroDivide));
  EXPECT_EQ(all_of(t), U"ba");
}

// ---------------------------------------------------------------------------
// swap, take

TEST_F(StringActions, SwapExchangesCodePoints) {
  Cell a = at(str(U"abc"), 1), b = str(U"\u263Axy", 2);
  string::swap(&a, &b);
  EXPECT_EQ(all_of(a), U"a\u263Ac");
  EXPECT_EQ(unit_of(a), 2u);
  EXPECT_EQ(all_of(b), U"bxy");
  Cell t = at(str(U"ab"), 2), u = str(U"cd");
  string::swap(&t, &u);  // one at its tail: nothing
  EXPECT_EQ(all_of(t), U"ab");
  EXPECT_EQ(all_of(u), U"cd");
  Cell n = int_cell(1);
  EXPECT_EQ(test::error_code_of([&] { string::swap(&a, &n); }), error_code(Err::ScriptInvalidArg));
  // A byte series takes no code point above 255, and stays as it was.
  Cell bin = bytes({1, 2});
  Cell w = str(U"\u263A", 2);
  EXPECT_EQ(test::error_code_of([&] { string::swap(&bin, &w); }), error_code(Err::ScriptInvalidArg));
  EXPECT_EQ(test::contents(bin), (std::vector<i64>{1, 2}));
  EXPECT_EQ(all_of(w), U"\u263A");
}

TEST_F(StringActions, TakeGivesACharForOneUnit) {
  Cell s = str(U"a\u263Ab", 2);
  Cell* r = string::take(&s, nullptr, false, false);
  ASSERT_TRUE(r->is(T_CHAR));
  EXPECT_EQ(r->w2, u32('a'));
  r = string::take(&s, nullptr, false, true);
  EXPECT_EQ(r->w2, u32('b'));
  Cell one = int_cell(1);
  r = string::take(&s, &one, false, false);
  ASSERT_TRUE(r->is(T_STRING)) << "/part takes a string, even of one unit";
  EXPECT_EQ(all_of(*r), U"\u263A");
  EXPECT_TRUE(string::take(&s, nullptr, false, false)->is(T_NONE));
  Cell b = bytes({9, 8});
  r = string::take(&b, nullptr, false, false);
  ASSERT_TRUE(r->is(T_INTEGER));
  EXPECT_EQ(r->int_value(), 9);
}

// ---------------------------------------------------------------------------
// trim

TEST_F(StringActions, TrimTable) {
  struct Case {
    const char* what;
    std::u32string text;
    bool head, tail, lines, all;
    std::u32string want;
  };
  const Case cases[] = {
      {"both ends, inside kept", U"  a  b  ", false, false, false, false, U"a  b"},
      {"line spaces dropped", U" a \t\n  b \n c", false, false, false, false, U"a\nb\nc"},
      {"final line feed kept once", U"a  \n", false, false, false, false, U"a\n"},
      {"final line feeds kept once", U"a \n\n \n", false, false, false, false, U"a\n"},
      {"/tail drops it", U"a  \n", false, true, false, false, U"a"},
      {"/head only", U"  a  ", true, false, false, false, U"a  "},
      {"/tail only", U"  a  ", false, true, false, false, U"  a"},
      {"/head keeps line spaces", U" a \n b", true, false, false, false, U"a \n b"},
      {"unicode spaces", U"\u3000\u00A0a\u2003", false, false, false, false, U"a"},
      {"/lines", U"  a \n b  ", false, false, true, false, U"a b"},
      {"/lines runs", U"a\t\t\n\nb\u2028c ", false, false, true, false, U"a b c"},
      {"/all", U" a b \t\r\n", false, false, false, true, U"ab"},
      {"/all keeps other spaces", U" a\u00A0b ", false, false, false, true, U"a\u00A0b"},
      {"only spaces", U"   ", false, false, false, false, U""},
  };
  for (const auto& c : cases) {
    for (u32 unit : {2u, 4u}) {
      Cell s = str(c.text, unit);
      actions::TrimOptions o;
      o.head = c.head, o.tail = c.tail, o.lines = c.lines, o.all = c.all;
      string::trim(&s, o);
      EXPECT_EQ(all_of(s), c.want) << c.what << " unit " << unit;
    }
  }
  // From the index only.
  Cell s = at(str(U"x  a  "), 1);
  string::trim(&s, {});
  EXPECT_EQ(all_of(s), U"xa");
}

TEST_F(StringActions, TrimWithAndAuto) {
  struct Case {
    Cell with;
    std::u32string want;
  };
  const Case cases[] = {
      {str(U"ab"), U"c-c"}, {at(str(U"xab"), 1), U"c-c"}, {char_cell('-'), U"abcabc"},
      {int_cell('a'), U"bc-bc"}, {bytes({'c', '-'}), U"abab"},
  };
  for (const auto& c : cases) {
    Cell s = str(U"abc-abc");
    Cell w = c.with;
    actions::TrimOptions o;
    o.with = &w;
    string::trim(&s, o);
    EXPECT_EQ(all_of(s), c.want);
  }
  Cell s = str(U" a ");
  actions::TrimOptions auto_only;
  auto_only.auto_ = true;
  EXPECT_EQ(test::error_code_of([&] { string::trim(&s, auto_only); }),
            error_code(Err::InternalNotDone));
  EXPECT_EQ(all_of(s), U" a ");
}

// ---------------------------------------------------------------------------
// Set operations

TEST_F(StringActions, SetOperationsTable) {
  struct Case {
    const char* what;
    int op;
    std::u32string a, b;
    bool case_;
    i32 skip;
    std::u32string want;
  };
  const Case cases[] = {
      {"unique", string::kUnique, U"abcabc", U"", false, 0, U"abc"},
      {"unique folds", string::kUnique, U"aAbB", U"", false, 0, U"ab"},
      {"unique /case", string::kUnique, U"aAbBa", U"", true, 0, U"aAbB"},
      {"union", string::kUnion, U"ab", U"bc", false, 0, U"abc"},
      {"intersect", string::kIntersect, U"abcd", U"dBx", false, 0, U"bd"},
      {"exclude", string::kExclude, U"abcd", U"dBx", false, 0, U"ac"},
      {"difference", string::kDifference, U"ab", U"bc", false, 0, U"ac"},
      {"unique records", string::kUnique, U"a1b2a3", U"", false, 2, U"a1b2"},
      {"union records", string::kUnion, U"a1", U"b2a3", false, 2, U"a1b2"},
      {"wide", string::kUnion, U"\u263Aa", U"\u00E9", false, 0, U"\u263Aa\u00E9"},
  };
  for (const auto& c : cases) {
    Cell* base = stack::g_base;
    Cell* top_before = stack::g_top;
    stack::Frame* ctop = stack::g_ctop;
    stack::push_native_frame(nullptr);
    Cell a = str(c.a, c.a.find(U'\u263A') != std::u32string::npos ? 2 : 1);
    stack::push(&a);
    Cell b = str(c.b);
    if (c.op != string::kUnique) stack::push(&b);
    Cell skip = int_cell(c.skip);
    string::set_operation(c.case_, c.skip ? &skip : nullptr, c.op);
    Cell r = *stack::g_base;
    EXPECT_EQ(stack::g_top, stack::g_base + 1) << c.what;
    stack::g_base = base;
    stack::g_top = top_before;
    stack::g_ctop = ctop;
    EXPECT_TRUE(r.is(T_STRING)) << c.what;
    EXPECT_EQ(string::index_of(&r), 0) << c.what;
    EXPECT_EQ(all_of(r), c.want) << c.what;
  }
  Cell zero = int_cell(0);
  EXPECT_EQ(test::error_code_of([&] {
              stack::push_native_frame(nullptr);
              Cell a = str(U"ab");
              stack::push(&a);
              string::set_operation(false, &zero, string::kUnique);
            }),
            error_code(Err::ScriptInvalidRefineArg));
}

// ---------------------------------------------------------------------------
// Path access

TEST_F(StringActions, PathAccess) {
  Cell s = str(U"abc");
  Cell path = none_cell();
  Cell two = int_cell(2);
  Cell* r = string::eval_path(&s, &two, nullptr, {.path = &path, .get = true});
  ASSERT_TRUE(r->is(T_CHAR));
  EXPECT_EQ(r->w2, u32('b'));
  Cell x = char_cell('X');
  string::eval_path(&s, &two, &x, {.path = &path});
  EXPECT_EQ(all_of(s), U"aXc");
  Cell key = char_cell('x');
  r = string::eval_path(&s, &key, nullptr, {.path = &path, .get = true});
  EXPECT_EQ(r->w2, u32('c')) << "a key selects the unit after it";
  Cell y = char_cell('Y');
  string::eval_path(&s, &key, &y, {.path = &path});
  EXPECT_EQ(all_of(s), U"aXY");
  Cell missing = char_cell('q');
  EXPECT_EQ(test::error_code_of([&] { string::eval_path(&s, &missing, &y, {.path = &path}); }),
            error_code(Err::ScriptBadPathSet));
  Cell word;
  make_cell(&word, T_WORD, 0, 1, 0);
  EXPECT_EQ(test::error_code_of([&] { string::eval_path(&s, &word, nullptr, {.path = &path, .get = true}); }),
            error_code(Err::ScriptInvalidPath));
}

}  // namespace
}  // namespace zot

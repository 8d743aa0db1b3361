// tuple! and handle!: text, conversion, byte-wise math with clamping, fields,
// reverse, comparison.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "runtime/actions.h"
#include "tests/unit/scalar_fixture.h"

namespace zot {
namespace {

using namespace test;

class TupleTest : public ::testing::Test {
 protected:
  void SetUp() override { ensure_scalar_types(); }
};

Cell Issue(const char* name) { return Word(name, T_ISSUE); }

TEST_F(TupleTest, GoldenText) {
  struct {
    Cell v;
    const char* text;
  } cases[] = {
      {Tup({1, 2, 3}), "1.2.3"},
      {Tup({255, 255, 255, 0}), "255.255.255.0"},
      {Tup({0, 0, 0}), "0.0.0"},
      {Tup({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), "1.2.3.4.5.6.7.8.9.10.11.12"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(form_of(c.v), c.text);
    EXPECT_EQ(mold_of(c.v), c.text);
  }
  Cell t = Tup({1, 2, 3, 4, 5});
  EXPECT_EQ(t.header, u32(T_TUPLE) | (5u << 19));
  EXPECT_EQ(t.w1, 0x04030201u);
  EXPECT_EQ(t.w2, 0x05u);
  EXPECT_EQ(t.w3, 0u);
}

TEST_F(TupleTest, HandleText) {
  Cell h;
  handle::make_at(&h, 42, handle::kWindow);
  EXPECT_EQ(form_of(h), "0000002Ah");
  EXPECT_EQ(mold_of(h), "handle!");
  EXPECT_EQ(mold_of(h, true), "#[handle! 0000002Ah window]");
  handle::make_at(&h, 0xDEADBEEF, handle::kNull);
  EXPECT_EQ(mold_of(h, true), "#[handle! DEADBEEFh]");
  handle::make_at(&h, 1, 99);  // a kind without a name prints none
  EXPECT_EQ(mold_of(h, true), "#[handle! 00000001h]");
  EXPECT_EQ(h.w3, 0xFFFFFFFFu);
}

TEST_F(TupleTest, HandleSlotsAndCompare) {
  EXPECT_EQ(actions::raw(T_HANDLE, actions::kAdd), nullptr) << "nothing is inherited from integer!";
  EXPECT_EQ(actions::raw(T_HANDLE, actions::kMake), nullptr);
  Cell a, b, c;
  handle::make_at(&a, 0xFFFFFFFF, 1);  // -1 as a signed value
  handle::make_at(&b, 1, 3);
  handle::make_at(&c, 1, 0);
  EXPECT_EQ(handle::compare(&a, &b, actions::kLesser), -1);
  EXPECT_EQ(handle::compare(&b, &a, actions::kLesser), 1);
  EXPECT_EQ(handle::compare(&b, &c, actions::kEqual), 0) << "the kind is not compared";
  Cell i = I(1);
  EXPECT_EQ(handle::compare(&b, &i, actions::kEqual), 1);
}

TEST_F(TupleTest, Conversion) {
  struct {
    Cell spec;
    const char* text;
  } cases[] = {
      {ints({}), "0.0.0"},
      {ints({1, 2}), "1.2.0"},
      {block_of({F(1.9), I(2), char_cell('A')}), "1.2.65"},
      {ints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), "1.2.3.4.5.6.7.8.9.10.11.12"},
      {units(1, {1, 2}, T_BINARY), "1.2.0"},
      {units(1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, T_BINARY), "1.2.3.4.5.6.7.8.9.10.11.12"},
      {at_index(units(1, {9, 8, 7, 6}, T_BINARY), 1), "8.7.6"},
      {Issue("FFF"), "255.255.255"},
      {Issue("F80"), "255.136.0"},
      {Issue("FF000080"), "255.0.0.128"},
      {Issue("0a0B0c"), "10.11.12"},
      {Tup({9, 9, 9}), "9.9.9"},
  };
  for (auto& c : cases) EXPECT_EQ(form_of(made(tuple::make, c.spec, T_TUPLE)), c.text);

  struct {
    Cell spec;
    Err err;
  } refused[] = {
      {ints({256}), Err::ScriptBadToArg},
      {ints({-1}), Err::ScriptBadToArg},
      {ints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), Err::ScriptBadToArg},
      {block_of({Str("a")}), Err::ScriptBadToArg},
      {block_of({F(std::nan(""))}), Err::ScriptBadToArg},
      {Issue("12345"), Err::ScriptInvalidData},
      {Issue("GG0"), Err::ScriptInvalidData},
      {I(1), Err::ScriptBadToArg},
  };
  for (auto& r : refused)
    EXPECT_EQ(error_code_of([&] { made(tuple::to, r.spec, T_TUPLE); }), code(r.err));

  {
    ScanStub scan(Tup({1, 2, 3}));
    EXPECT_EQ(form_of(made(tuple::to, Str("1.2.3"), T_TUPLE)), "1.2.3");
  }
  ScanStub scan(I(1));
  EXPECT_EQ(error_code_of([] { made(tuple::to, Str("1"), T_TUPLE); }), code(Err::ScriptBadToArg));
}

TEST_F(TupleTest, Makers) {
  Cell* top = stack::g_top;
  const i32 ints[] = {1, 258, -1};
  EXPECT_EQ(form_of(*tuple::push_from_ints(2, ints)), "1.2.0");
  EXPECT_EQ(form_of(*tuple::push_from_ints(3, ints)), "1.2.255");
  stack::g_top = top;
  Cell c;
  EXPECT_EQ(form_of(*tuple::make_rgba_at(&c, 1, 2, 3, -1)), "1.2.3");
  EXPECT_EQ(form_of(*tuple::make_rgba_at(&c, 1, 2, 3, 4)), "1.2.3.4");
  Cell z = Tup({0, 0, 0, 0}), nz = Tup({0, 0, 0, 1});
  EXPECT_TRUE(tuple::zero_q(&z));
  EXPECT_FALSE(tuple::zero_q(&nz));
}

TEST_F(TupleTest, Math) {
  struct {
    const char* what;
    actions::FrameFn fn;
    Cell a, b;
    const char* text;
  } cases[] = {
      {"1.2.3 + 1", tuple::add, Tup({1, 2, 3}), I(1), "2.3.4"},
      {"200.200.200 + 100", tuple::add, Tup({200, 200, 200}), I(100), "255.255.255"},
      {"255.255.255 + 1", tuple::add, Tup({255, 255, 255}), I(1), "255.255.255"},
      {"1.2.3 - 5", tuple::subtract, Tup({1, 2, 3}), I(5), "0.0.0"},
      {"1.2.3 + 1.1.1.1", tuple::add, Tup({1, 2, 3}), Tup({1, 1, 1, 1}), "2.3.4.1"},
      {"1.2.3.4 - 1.1.1", tuple::subtract, Tup({1, 2, 3, 4}), Tup({1, 1, 1}), "0.1.2.4"},
      {"10.20.30 * 0.5", tuple::multiply, Tup({10, 20, 30}), F(0.5), "5.10.15"},
      {"10.20.30 * 50%", tuple::multiply, Tup({10, 20, 30}), Pct(0.5), "5.10.15"},
      {"10.20.30 / 0.0", tuple::divide, Tup({10, 0, 30}), F(0.0), "255.0.255"},  // inf and NaN
      {"1.2.3 * 300", tuple::multiply, Tup({1, 2, 3}), I(300), "255.255.255"},
      {"10.20.30 / 3", tuple::divide, Tup({10, 20, 30}), I(3), "3.6.10"},
      {"10.20.30 // 7", tuple::remainder, Tup({10, 20, 30}), I(7), "3.6.2"},
      {"12.12.12 and 10", tuple::and_, Tup({12, 12, 12}), I(10), "8.8.8"},
      {"12.12.12 or 3", tuple::or_, Tup({12, 12, 12}), I(3), "15.15.15"},
      {"12.12.12 xor 1.2.3", tuple::xor_, Tup({12, 12, 12}), Tup({1, 2, 3}), "13.14.15"},
      // Overflow of the integer math: 255 above zero, 0 below.
      {"1.2.3 + max", tuple::add, Tup({1, 2, 3}), I(2147483647), "255.255.255"},
      {"0.0.0 - min", tuple::subtract, Tup({0, 0, 0}), I(-2147483647 - 1), "255.255.255"},
      {"1.2.3 * min", tuple::multiply, Tup({1, 2, 3}), I(-2147483647 - 1), "0.0.0"},
      // A number first: the tuple goes first.
      {"2 * 1.2.3", tuple::multiply, I(2), Tup({1, 2, 3}), "2.4.6"},
      {"1.5 + 1.2.3", tuple::add, F(1.5), Tup({1, 2, 3}), "2.3.4"},
  };
  for (auto& c : cases) EXPECT_EQ(form_of(math(c.fn, c.a, c.b)), c.text) << c.what;

  Cell grown = math(tuple::add, Tup({1, 2, 3}), Tup({1, 1, 1, 1, 1}));
  EXPECT_EQ(tuple::count_of(&grown), 5);
  Cell marked = Tup({1, 2, 3});
  marked.header |= kCellNewLine;
  EXPECT_EQ(math(tuple::add, marked, I(1)).header, marked.header) << "the same count keeps the header";

  struct {
    const char* what;
    actions::FrameFn fn;
    Cell a, b;
    Err err;
  } failures[] = {
      {"/ 0", tuple::divide, Tup({1, 2, 3}), I(0), Err::MathZeroDivide},
      {"// 0", tuple::remainder, Tup({1, 2, 3}), I(0), Err::MathZeroDivide},
      {"/ 0.0.0", tuple::divide, Tup({1, 2, 3}), Tup({1, 0, 1}), Err::MathZeroDivide},
      {"5 - 1.2.3", tuple::subtract, I(5), Tup({1, 2, 3}), Err::ScriptNotRelated},
      {"5 / 1.2.3", tuple::divide, I(5), Tup({1, 2, 3}), Err::ScriptNotRelated},
      {"+ string", tuple::add, Tup({1, 2, 3}), Str("a"), Err::ScriptInvalidType},
      {"+ pair", tuple::add, Tup({1, 2, 3}), P(1, 2), Err::ScriptInvalidType},
      {"and 1.5", tuple::and_, Tup({1, 2, 3}), F(1.5), Err::ScriptCannotUse},
  };
  for (auto& f : failures)
    EXPECT_EQ(error_code_of([&] { math(f.fn, f.a, f.b); }), code(f.err)) << f.what;
}

TEST_F(TupleTest, Compare) {
  struct {
    Cell a, b;
    i32 expected;
  } cases[] = {
      {Tup({1, 2, 3, 4}), Tup({1, 2, 4}), -1},
      {Tup({1, 2, 3}), Tup({1, 2, 3, 0}), 0},
      {Tup({1, 2, 3, 1}), Tup({1, 2, 3}), 1},
      {Tup({2, 0, 0}), Tup({1, 255, 255}), 1},
      {Tup({1, 2, 3}), I(1), actions::kNotComparable},
  };
  for (auto& c : cases)
    for (i32 op : {actions::kEqual, actions::kStrictEqual, actions::kLesser})
      EXPECT_EQ(tuple::compare(&c.a, &c.b, op), c.expected) << form_of(c.a) << " " << op;
}

TEST_F(TupleTest, FieldsByPathAndPick) {
  const Cell t = Tup({1, 2, 3, 4, 5});
  EXPECT_EQ(path_get(tuple::eval_path, t, I(2)).int_value(), 2);
  EXPECT_EQ(pick_of(tuple::pick, t, I(5)).int_value(), 5);
  EXPECT_EQ(form_of(path_set(tuple::eval_path, t, I(2), I(300))), "1.255.3.4.5");
  EXPECT_EQ(form_of(path_set(tuple::eval_path, t, I(2), I(-4))), "1.0.3.4.5");

  Cell none;
  set_none(&none);
  Cell cut = path_set(tuple::eval_path, t, I(4), none);
  EXPECT_EQ(form_of(cut), "1.2.3");
  EXPECT_EQ(cut.w1, 0x030201u) << "bytes past the count are 0";
  EXPECT_EQ(cut.w2, 0u);
  EXPECT_EQ(form_of(path_set(tuple::eval_path, t, I(2), none)), "1.0.0");
  EXPECT_EQ(form_of(path_set(tuple::eval_path, Tup({1, 2, 3, 4, 5, 6}), I(6), none)), "1.2.3.4.5");

  EXPECT_EQ(error_code_of([&] { path_get(tuple::eval_path, t, I(6)); }), code(Err::ScriptOutOfRange));
  EXPECT_EQ(error_code_of([&] { path_set(tuple::eval_path, t, I(0), I(1)); }), code(Err::ScriptOutOfRange));
  EXPECT_EQ(error_code_of([&] { path_get(tuple::eval_path, t, Word("x")); }), code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([&] { path_set(tuple::eval_path, t, I(1), F(1.0)); }), code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([&] { pick_of(tuple::pick, t, I(0)); }), code(Err::ScriptOutOfRange));
}

TEST_F(TupleTest, ComplementAndLength) {
  Cell t = Tup({0, 255, 16, 1});
  tuple::complement(&t);
  EXPECT_EQ(form_of(t), "255.0.239.254");
  EXPECT_EQ(tuple::length_q(&t), 4);
  EXPECT_EQ(t.w2, 0u);
}

TEST_F(TupleTest, Reverse) {
  struct {
    Cell part, skip;
    bool has_part, has_skip;
    const char* text;
  } cases[] = {
      {I(0), I(0), false, false, "6.5.4.3.2.1"},
      {I(0), I(2), false, true, "5.6.3.4.1.2"},
      {I(3), I(0), true, false, "3.2.1.4.5.6"},
      {I(4), I(2), true, true, "3.4.1.2.5.6"},
      {I(100), I(3), true, true, "4.5.6.1.2.3"},
      {I(0), I(6), false, true, "1.2.3.4.5.6"},  // one record: unchanged
  };
  for (auto& c : cases) {
    Cell t = Tup({1, 2, 3, 4, 5, 6}), part = c.part, skip = c.skip;
    tuple::reverse(&t, c.has_part ? &part : nullptr, c.has_skip ? &skip : nullptr);
    EXPECT_EQ(form_of(t), c.text);
  }

  struct {
    Cell part, skip;
    bool has_part, has_skip;
    Err err;
  } failures[] = {
      {I(0), I(4), false, true, Err::ScriptInvalidRefineArg},  // 4 does not divide 6
      {I(0), I(7), false, true, Err::ScriptInvalidRefineArg},
      {I(0), I(0), false, true, Err::ScriptOutOfRange},
      {I(-1), I(0), true, false, Err::ScriptOutOfRange},
      {F(1.5), I(0), true, false, Err::ScriptInvalidRefineArg},
      {I(0), F(2.0), false, true, Err::ScriptInvalidRefineArg},
      // A /part beyond the bytes is cut to them, so a skip of 4 no longer fits.
      {I(100), I(4), true, true, Err::ScriptInvalidRefineArg},
  };
  for (auto& f : failures) {
    Cell t = Tup({1, 2, 3, 4, 5, 6}), part = f.part, skip = f.skip;
    EXPECT_EQ(error_code_of([&] {
                tuple::reverse(&t, f.has_part ? &part : nullptr, f.has_skip ? &skip : nullptr);
              }),
              code(f.err));
  }
}

}  // namespace
}  // namespace zot

// pair!: text, conversion, integer math with its point2D! fallbacks, fields,
// comparison.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "runtime/actions.h"
#include "tests/unit/scalar_fixture.h"

namespace zot {
namespace {

using namespace test;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");
constexpr i32 kMin = -2147483647 - 1;

class PairTest : public ::testing::Test {
 protected:
  void SetUp() override { ensure_scalar_types(); }
};

TEST_F(PairTest, GoldenText) {
  struct {
    Cell v;
    const char* text;
  } cases[] = {
      {P(10, 20), "10x20"}, {P(-5, -7), "-5x-7"}, {P(0, 0), "0x0"}, {P(kMin, 2147483647), "-2147483648x2147483647"}};
  for (auto& c : cases) {
    EXPECT_EQ(form_of(c.v), c.text);
    EXPECT_EQ(mold_of(c.v), c.text);
  }
}

TEST_F(PairTest, Make) {
  struct {
    Cell spec;
    const char* text;
  } cases[] = {
      {P(1, 2), "1x2"},
      {I(3), "3x3"},
      {F(2.7), "2x2"},
      {F(-2.7), "-2x-2"},
      {ints({1, 2, 3}), "1x2"},
      {block_of({F(1.9), F(-1.9)}), "1x-1"},
      {P2(1.5f, -2.5f), "1x-2"},
  };
  for (auto& c : cases) EXPECT_EQ(form_of(made(pair::make, c.spec, T_PAIR)), c.text);

  struct {
    Cell spec;
    Err err;
  } refused[] = {
      {ints({1}), Err::SyntaxMalconstruct},
      {block_of({I(1), Str("a")}), Err::SyntaxMalconstruct},
      {F(kNaN), Err::ScriptInvalidArg},
      {F(kInf), Err::ScriptInvalidArg},
      {F(1e10), Err::ScriptInvalidArg},
      {block_of({I(1), F(kNaN)}), Err::ScriptInvalidArg},
      {P2(float(kNaN), 1.0f), Err::ScriptInvalidArg},
      {P2(1.0f, float(kInf)), Err::ScriptInvalidArg},
      {Logic(true), Err::ScriptBadToArg},
      {Tm(1), Err::ScriptBadToArg},
  };
  for (auto& r : refused)
    EXPECT_EQ(error_code_of([&] { made(pair::make, r.spec, T_PAIR); }), code(r.err)) << form_of(r.spec);

  {
    ScanStub scan(P(4, 5));
    EXPECT_EQ(form_of(made(pair::make, Str("4x5"), T_PAIR)), "4x5");
  }
  ScanStub scan(I(4));
  EXPECT_EQ(error_code_of([] { made(pair::make, Str("4"), T_PAIR); }), code(Err::ScriptBadToArg));
}

TEST_F(PairTest, Math) {
  struct {
    const char* what;
    actions::FrameFn fn;
    Cell a, b;
    const char* text;  // pair or point text of the result
  } cases[] = {
      {"10x20 + 1", pair::add, P(10, 20), I(1), "11x21"},
      {"10x20 + 3x4", pair::add, P(10, 20), P(3, 4), "13x24"},
      {"10x20 - 3x4", pair::subtract, P(10, 20), P(3, 4), "7x16"},
      {"10x20 * 2", pair::multiply, P(10, 20), I(2), "20x40"},
      {"4x6 / 2", pair::divide, P(4, 6), I(2), "2x3"},
      {"7x9 // 4", pair::remainder, P(7, 9), I(4), "3x1"},
      {"6x3 and 3", pair::and_, P(6, 3), I(3), "2x3"},
      {"6x3 or 1", pair::or_, P(6, 3), I(1), "7x3"},
      {"6x3 xor 5x1", pair::xor_, P(6, 3), P(5, 1), "3x2"},
      {"10x20 + 0.5", pair::add, P(10, 20), F(0.5), "10x20"},
      {"10x20 + 2.9", pair::add, P(10, 20), F(2.9), "12x22"},
      // A float multiplies or divides into a point.
      {"10x20 * 1.5", pair::multiply, P(10, 20), F(1.5), "(15, 30)"},
      {"10x20 * 50%", pair::multiply, P(10, 20), Pct(0.5), "(5, 10)"},
      {"10x20 / 4.0", pair::divide, P(10, 20), F(4.0), "(2.5, 5)"},
      {"10x20 / inf", pair::divide, P(10, 20), F(kInf), "(0, 0)"},
      {"1x2 / 0.0", pair::divide, P(1, 2), F(0.0), "(1.#INF, 1.#INF)"},
      // Inexact division and overflow go on in point2D! math.
      {"3x4 / 2", pair::divide, P(3, 4), I(2), "(1.5, 2)"},
      {"4x3 / 2", pair::divide, P(4, 3), I(2), "(2, 1.5)"},
      {"max x + 1", pair::add, P(2147483647, 0), I(1), "(2.147484e9, 1)"},
      {"min y - 1", pair::subtract, P(0, kMin), I(1), "(-1, -2.147484e9)"},
      {"big * big", pair::multiply, P(65536, 1), P(65536, 1), "(4.294967e9, 1)"},
      {"10x20 + 3e9", pair::add, P(10, 20), F(3e9), "(3e9, 3e9)"},
      {"1x2 + point", pair::add, P(1, 2), P2(0.5f, 0.25f), "(1.5, 2.25)"},
  };
  for (auto& c : cases) EXPECT_EQ(form_of(math(c.fn, c.a, c.b)), c.text) << c.what;

  struct {
    const char* what;
    actions::FrameFn fn;
    Cell a, b;
    Err err;
  } failures[] = {
      {"/ 0", pair::divide, P(1, 2), I(0), Err::MathZeroDivide},
      {"/ 0x1", pair::divide, P(1, 2), P(0, 1), Err::MathZeroDivide},
      {"// 0", pair::remainder, P(1, 2), I(0), Err::MathZeroDivide},
      {"min / -1", pair::divide, P(kMin, 2), I(-1), Err::MathOverflow},
      {"+ nan", pair::add, P(1, 2), F(kNaN), Err::ScriptInvalidArg},
      {"+ inf", pair::add, P(1, 2), F(kInf), Err::ScriptInvalidArg},
      {"* inf", pair::multiply, P(1, 2), F(kInf), Err::ScriptInvalidArg},
      {"* nan", pair::multiply, P(1, 2), F(kNaN), Err::ScriptInvalidArg},
      {"/ nan", pair::divide, P(1, 2), F(kNaN), Err::ScriptInvalidArg},
      {"and 3e9", pair::and_, P(1, 2), F(3e9), Err::ScriptInvalidArg},
      {"+ string", pair::add, P(1, 2), Str("a"), Err::ScriptInvalidType},
      {"+ time", pair::add, P(1, 2), Tm(1), Err::ScriptInvalidType},
      {"+ point3D", pair::add, P(1, 2), P3(1, 2, 3), Err::ScriptInvalidType},
  };
  for (auto& f : failures)
    EXPECT_EQ(error_code_of([&] { math(f.fn, f.a, f.b); }), code(f.err)) << f.what;
}

TEST_F(PairTest, SignAndOrder) {
  Cell r = run_frame(pair::absolute, {P(-3, 4)});
  EXPECT_EQ(form_of(r), "3x4");
  EXPECT_EQ(error_code_of([] { run_frame(pair::absolute, {P(kMin, 0)}); }), code(Err::MathOverflow));
  Cell n = P(kMin, 5);
  pair::negate(&n);
  EXPECT_EQ(form_of(n), "-2147483648x-5");
  Cell v = P(1, 2);
  pair::reverse(&v, nullptr, nullptr);
  EXPECT_EQ(form_of(v), "2x1");
}

TEST_F(PairTest, Round) {
  struct {
    Cell v;
    Cell scale;
    bool has_scale;
    const char* text;
  } cases[] = {
      {P(17, 23), I(5), true, "15x25"},
      {P(17, 23), P(5, 10), true, "15x20"},
      {P(17, -23), I(0), false, "17x-23"},
      {P(17, 22), F(2.5), true, "17x22"},  // 17.5 and 22.5, truncated back
      {P(-7, 7), I(2), true, "-8x8"},
  };
  for (auto& c : cases) {
    Cell v = c.v, s = c.scale;
    pair::round(&v, test::round_options(c.has_scale ? &s : nullptr, ""));
    EXPECT_EQ(form_of(v), c.text);
  }
  Cell v = P(1, 2), money;
  make_cell(&money, T_MONEY, 0, 0, 0);
  EXPECT_EQ(error_code_of([&] { pair::round(&v, test::round_options(&money, "")); }),
            code(Err::ScriptNotRelated));
}

TEST_F(PairTest, FieldsByPathAndPick) {
  const Cell p = P(10, -20);
  EXPECT_EQ(path_get(pair::eval_path, p, Word("x")).int_value(), 10);
  EXPECT_EQ(path_get(pair::eval_path, p, Word("Y")).int_value(), -20);
  EXPECT_EQ(path_get(pair::eval_path, p, I(2)).int_value(), -20);
  EXPECT_EQ(pick_of(pair::pick, p, I(1)).int_value(), 10);
  EXPECT_EQ(pick_of(pair::pick, p, Word("y", T_LIT_WORD)).int_value(), -20);
  EXPECT_EQ(form_of(path_set(pair::eval_path, p, Word("x"), I(5))), "5x-20");
  EXPECT_EQ(form_of(path_set(pair::eval_path, p, I(2), I(7))), "10x7");

  EXPECT_EQ(error_code_of([&] { path_get(pair::eval_path, p, I(3)); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([&] { path_get(pair::eval_path, p, Word("z")); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([&] { path_set(pair::eval_path, p, Word("x"), F(1.5)); }),
            code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([&] { pick_of(pair::pick, p, I(3)); }), code(Err::ScriptOutOfRange));
  EXPECT_EQ(error_code_of([&] { pick_of(pair::pick, p, Word("z")); }), code(Err::ScriptCannotUse));
}

TEST_F(PairTest, Compare) {
  struct {
    Cell a, b;
    i32 expected;
  } cases[] = {
      {P(1, 2), P(1, 2), 0},
      {P(1, 2), P(1, 3), -1},
      {P(2, 0), P(1, 9), 1},
      {P(-1, 5), P(0, 0), -1},
      {P(1, 2), P2(1.0f, 2.0f), 0},
      {P(1, 2), P2(1.0f, 2.5f), 1},  // the point decides: not equal
      {P(1, 2), I(2), actions::kNotComparable},
  };
  for (auto& c : cases) EXPECT_EQ(pair::compare(&c.a, &c.b, actions::kEqual), c.expected);

  Cell a = P(1, 2), b = P(1, 2), n = I(2), lt = P(1, 3);
  EXPECT_TRUE(actions::compare(&a, &b, actions::kEqual));
  EXPECT_TRUE(actions::compare(&a, &lt, actions::kLesser));
  EXPECT_FALSE(actions::compare(&a, &n, actions::kEqual));
  EXPECT_EQ(error_code_of([&] { actions::compare(&a, &n, actions::kLesser); }), code(Err::ScriptInvalidCompare));
}

}  // namespace
}  // namespace zot

// point2D! and point3D!: text, conversion, float math, rounding, fields and
// the tolerant comparison.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "runtime/actions.h"
#include "tests/unit/scalar_fixture.h"

namespace zot {
namespace {

using namespace test;

constexpr float kInf = std::numeric_limits<float>::infinity();

class PointTest : public ::testing::Test {
 protected:
  void SetUp() override { ensure_scalar_types(); }
};

TEST_F(PointTest, GoldenText) {
  struct {
    Cell v;
    const char* text;
  } cases[] = {
      {P2(1, 2.5f), "(1, 2.5)"},
      {P3(1, 2, 3), "(1, 2, 3)"},
      {P2(0.1f, 0.2f), "(0.1, 0.2)"},
      {P2(-1.5f, 1e10f), "(-1.5, 1e10)"},
      {P2(0, -0.0f), "(0, 0)"},
      {P2(1.0f / 3.0f, 123456789.0f), "(0.3333333, 1.234568e8)"},
      {P3(std::nanf(""), kInf, -kInf), "(1.#NaN, 1.#INF, -1.#INF)"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(form_of(c.v), c.text);
    EXPECT_EQ(mold_of(c.v), c.text);
  }
}

TEST_F(PointTest, Make) {
  struct {
    Cell spec;
    u32 type;
    const char* text;
  } cases[] = {
      {P(1, 2), T_POINT2D, "(1, 2)"},
      {P(1, 2), T_POINT3D, "(1, 2, 0)"},
      {I(3), T_POINT2D, "(3, 3)"},
      {F(1.5), T_POINT3D, "(1.5, 1.5, 1.5)"},
      {block_of({I(1), F(2.5), I(9)}), T_POINT2D, "(1, 2.5)"},
      {ints({1, 2, 3}), T_POINT3D, "(1, 2, 3)"},
      {P2(1, 2), T_POINT3D, "(1, 2, 0)"},
      {P2(4, 5), T_POINT2D, "(4, 5)"},
  };
  for (auto& c : cases) {
    actions::MakeFn f = c.type == T_POINT2D ? point2d::make : point3d::make;
    Cell r = made(f, c.spec, c.type);
    EXPECT_EQ(r.type(), c.type);
    EXPECT_EQ(form_of(r), c.text);
  }

  struct {
    Cell spec;
    u32 type;
    Err err;
  } refused[] = {
      {ints({1, 2}), T_POINT3D, Err::SyntaxMalconstruct},
      {ints({1}), T_POINT2D, Err::SyntaxMalconstruct},
      {block_of({I(1), Str("a")}), T_POINT2D, Err::SyntaxMalconstruct},
      {P3(1, 2, 3), T_POINT2D, Err::ScriptBadToArg},
      {Logic(true), T_POINT3D, Err::ScriptBadToArg},
      {Tup({1, 2, 3}), T_POINT2D, Err::ScriptBadToArg},
  };
  for (auto& r : refused) {
    actions::MakeFn f = r.type == T_POINT2D ? point2d::make : point3d::make;
    EXPECT_EQ(error_code_of([&] { made(f, r.spec, r.type); }), code(r.err)) << form_of(r.spec);
  }

  {
    ScanStub scan(P3(1, 2, 3));
    EXPECT_EQ(form_of(made(point3d::make, Str("(1, 2, 3)"), T_POINT3D)), "(1, 2, 3)");
    EXPECT_EQ(error_code_of([] { made(point2d::make, Str("(1, 2, 3)"), T_POINT2D); }), code(Err::ScriptBadToArg));
  }
}

TEST_F(PointTest, MakeFromLiteralCells) {
  const Cell two[] = {I(1), F(2.5)};
  const Cell three[] = {I(1), I(2), F(-3)};
  const Cell bad[] = {I(1), Str("x")};
  Cell out;
  ASSERT_TRUE(point2d::make_from_cells(&out, two, 2));
  EXPECT_EQ(form_of(out), "(1, 2.5)");
  ASSERT_TRUE(point2d::make_from_cells(&out, three, 3));
  EXPECT_EQ(out.type(), T_POINT3D);
  EXPECT_EQ(form_of(out), "(1, 2, -3)");
  EXPECT_FALSE(point2d::make_from_cells(&out, bad, 2));
  EXPECT_FALSE(point2d::make_from_cells(&out, three, 4));
}

TEST_F(PointTest, Math) {
  struct {
    const char* what;
    actions::FrameFn fn;
    Cell a, b;
    const char* text;
  } cases[] = {
      {"(1, 2) + 1x1", point2d::add, P2(1, 2), P(1, 1), "(2, 3)"},
      {"(1, 2) + 1", point2d::add, P2(1, 2), I(1), "(2, 3)"},
      {"(1, 2) * 2.5", point2d::multiply, P2(1, 2), F(2.5), "(2.5, 5)"},
      {"(1, 2) * 50%", point2d::multiply, P2(1, 2), Pct(0.5), "(0.5, 1)"},
      {"(1, 2) / 0", point2d::divide, P2(1, -2), I(0), "(1.#INF, -1.#INF)"},
      {"(1, 2) - 0.5", point2d::subtract, P2(1, 2), F(0.5), "(0.5, 1.5)"},
      {"(5, 7) // 2", point2d::remainder, P2(5, 7), I(2), "(1, 1)"},
      {"(1, 2) * (3, 4)", point2d::multiply, P2(1, 2), P2(3, 4), "(3, 8)"},
      {"(1, 2, 3) - (1, 1, 1)", point3d::subtract, P3(1, 2, 3), P3(1, 1, 1), "(0, 1, 2)"},
      {"(1, 2, 3) / 2", point3d::divide, P3(1, 2, 3), I(2), "(0.5, 1, 1.5)"},
      {"(0.1, 0) + 0.2", point2d::add, P2(0.1f, 0), F(0.2), "(0.3, 0.2)"},
      {"big * big", point2d::multiply, P2(1e30f, 1), F(1e30), "(1.#INF, 1e30)"},
  };
  for (auto& c : cases) EXPECT_EQ(form_of(math(c.fn, c.a, c.b)), c.text) << c.what;

  EXPECT_EQ(error_code_of([] { math(point2d::add, P2(1, 2), Str("x")); }), code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([] { math(point3d::add, P3(1, 2, 3), P(1, 1)); }), code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([] { math(point3d::add, P3(1, 2, 3), P2(1, 1)); }), code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([] { math(point2d::add, P2(1, 2), Tm(1)); }), code(Err::ScriptInvalidType));
}

TEST_F(PointTest, SignAndOrder) {
  EXPECT_EQ(form_of(run_frame(point3d::absolute, {P3(-1, 2, -0.5f)})), "(1, 2, 0.5)");
  Cell v = P2(1, -2);
  point2d::negate(&v);
  EXPECT_EQ(form_of(v), "(-1, 2)");
  point2d::reverse(&v, nullptr, nullptr);
  EXPECT_EQ(form_of(v), "(2, -1)");
  Cell w = P3(1, 2, 3);
  point3d::reverse(&w, nullptr, nullptr);
  EXPECT_EQ(form_of(w), "(3, 2, 1)");
}

TEST_F(PointTest, Round) {
  struct {
    Cell v;
    Cell scale;
    bool has_scale;
    const char* text;
  } cases[] = {
      {P2(1.4f, 2.6f), I(0), false, "(1, 3)"},
      {P2(17, 23), I(5), true, "(15, 25)"},
      {P2(17, 23), P(5, 10), true, "(15, 20)"},
      {P2(17, 23), P2(5, 10), true, "(15, 20)"},
      {P2(1.26f, 3e9f), F(0.5), true, "(1.5, 3e9)"},
      {P3(17, 23, 2.5f), P2(5, 10), true, "(15, 20, 2.5)"},  // z keeps its value (scale 0.0)
      {P3(17, 23, 29), I(10), true, "(20, 20, 30)"},
  };
  for (auto& c : cases) {
    Cell v = c.v, s = c.scale;
    auto f = v.is(T_POINT2D) ? point2d::round : point3d::round;
    f(&v, round_options(c.has_scale ? &s : nullptr, ""));
    EXPECT_EQ(form_of(v), c.text);
  }
  Cell v = P2(1, 2), money;
  make_cell(&money, T_MONEY, 0, 0, 0);
  EXPECT_EQ(error_code_of([&] { point2d::round(&v, test::round_options(&money, "")); }),
            code(Err::ScriptNotRelated));
}

TEST_F(PointTest, FieldsByPathAndPick) {
  const Cell p = P3(1, 2.5f, -3);
  EXPECT_DOUBLE_EQ(path_get(point3d::eval_path, p, Word("y")).float_value(), 2.5);
  EXPECT_DOUBLE_EQ(path_get(point3d::eval_path, p, Word("Z")).float_value(), -3);
  EXPECT_DOUBLE_EQ(path_get(point3d::eval_path, p, I(1)).float_value(), 1);
  EXPECT_DOUBLE_EQ(pick_of(point3d::pick, p, Word("z")).float_value(), -3);
  EXPECT_EQ(pick_of(point3d::pick, p, I(2)).type(), T_FLOAT);
  EXPECT_EQ(form_of(path_set(point3d::eval_path, p, Word("x"), F(0.25))), "(0.25, 2.5, -3)");
  EXPECT_EQ(form_of(path_set(point2d::eval_path, P2(1, 2), I(2), I(7))), "(1, 7)");

  EXPECT_EQ(error_code_of([] { path_get(point2d::eval_path, P2(1, 2), I(3)); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([] { path_get(point2d::eval_path, P2(1, 2), Word("z")); }),
            code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([] { path_get(point2d::eval_path, P2(1, 2), F(1)); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([&] { path_set(point3d::eval_path, p, Word("x"), Str("1")); }),
            code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([] { pick_of(point2d::pick, P2(1, 2), Word("z")); }), code(Err::ScriptCannotUse));
  EXPECT_EQ(error_code_of([] { pick_of(point2d::pick, P2(1, 2), I(0)); }), code(Err::ScriptOutOfRange));
}

TEST_F(PointTest, Compare) {
  // Coordinates a few units in the last place apart, as float round-off leaves them.
  Cell third = P2(0.3f, 0.3f);
  Cell sum = P2(std::nextafterf(0.3f, 1.0f), std::nextafterf(std::nextafterf(0.3f, 0.0f), 0.0f));
  struct {
    Cell a, b;
    i32 op, expected;
  } cases[] = {
      {sum, third, actions::kEqual, 0},
      {sum, third, actions::kNotEqual, 0},
      {sum, third, actions::kStrictEqual, 1},
      {sum, third, actions::kSame, 1},
      {third, third, actions::kSame, 0},
      {P2(1, 2), P2(1, 3), actions::kLesser, -1},
      {P2(2, 0), P2(1, 9), actions::kLesser, 1},
      {P2(1, 2), P(1, 2), actions::kEqual, 0},
      {P2(1, 2), P(1, 2), actions::kSame, 0},
      {P2(std::nanf(""), 0), P2(std::nanf(""), 0), actions::kEqual, 1},
      {P3(1, 2, 3), P3(1, 2, 4), actions::kLesser, -1},
      {P3(1, 2, 3), P2(1, 2), actions::kEqual, actions::kNotComparable},
      {P2(1, 2), I(1), actions::kEqual, actions::kNotComparable},
  };
  for (auto& c : cases) {
    auto f = c.a.is(T_POINT2D) ? point2d::compare : point3d::compare;
    EXPECT_EQ(f(&c.a, &c.b, c.op), c.expected) << form_of(c.a) << " " << form_of(c.b) << " op " << c.op;
  }
}

}  // namespace
}  // namespace zot

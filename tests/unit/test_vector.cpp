// vector!: making from specs, element-wise math per element kind (wrapping
// integer overflow), a scalar on either side, append/insert/change, compare,
// the mold forms, and the refusal of values of another kind.

#include <gtest/gtest.h>

#include <string>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "runtime/services.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::load;
using test::mold;
using test::err;
using test::Case;

struct VectorTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell eval(const std::string& text) {
  Cell code = load(text);
  return interp::do_block(&code);
}


TEST_F(VectorTest, MakeTable) {
  const Case cases[] = {
      {"make vector! 3", "make vector! [0 0 0]"},
      {"make vector! 2.7", "make vector! [0 0]"},
      {"make vector! []", "make vector! [integer! 32 []]"},
      {"make vector! [integer! 16 [1 2 3]]", "make vector! [integer! 16 [1 2 3]]"},
      {"make vector! [INTEGER! 16 [1 2 3]]", "make vector! [integer! 16 [1 2 3]]"},
      {"make vector! [integer! 16 5 [1 2]]", "make vector! [integer! 16 [1 2 0 0 0]]"},
      {"make vector! [integer! 32 2]", "make vector! [0 0]"},
      {"make vector! [integer! 8 [127 128]]", "make vector! [integer! 8 [127 -128]]"},
      {"pick make vector! [integer! 8 [127 200]] 2", "-56"},
      {"make vector! [percent! 16 [50%]]", "make vector! [50%]"},
      {"make vector! [percent! [50% 25%]]", "make vector! [50% 25%]"},
      {"make vector! [float! 32 [1.5 0.1]]", "make vector! [float! 32 [1.5 0.1]]"},
      {"make vector! [float! 64 [1.5]]", "make vector! [1.5]"},
      {"make vector! [1.5 2.0]", "make vector! [1.5 2.0]"},
      {"make vector! [#\"a\" #\"b\"]", "make vector! [#\"a\" #\"b\"]"},
      {"make vector! [char! 8 [#\"a\" #\"b\"]]", "make vector! [char! 8 [#\"a\" #\"b\"]]"},
      {"make vector! [char! 16 [#\"^(1234)\"]]", "make vector! [char! 16 [#\"\u1234\"]]"},
      // Char elements read unsigned: a code point is never negative.
      {"pick make vector! [char! 8 [#\"^(E9)\"]] 1", "#\"\u00E9\""},
      {"make vector! [char! 8 [#\"^(1F)\"]]", "make vector! [char! 8 [#\"^_\"]]"},
      {"make vector! [percent! 32 [50%]]", "make vector! [50%]"},
      {"make vector! [1.5 2.0]", "make vector! [1.5 2.0]"},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, MakeErrorsTable) {
  const Case cases[] = {
      {"make vector! [float! [1.0]]", err(Err::ScriptInvalidSpecField)},
      {"make vector! [integer! 8]", err(Err::ScriptInvalidSpecField)},
      {"make vector! [integer! 8 'x]", err(Err::ScriptInvalidSpecField)},
      {"make vector! [integer! 8 -1]", err(Err::ScriptInvalidSpecField)},
      {"make vector! [integer! 12 [1]]", err(Err::ScriptBadMakeArg)},
      {"make vector! [float! 16 [1.0]]", err(Err::ScriptBadMakeArg)},
      {"make vector! [integer!]", err(Err::ScriptBadMakeArg)},
      {"make vector! [money! 8 [1]]", err(Err::ScriptBadMakeArg)},
      {"make vector! [\"a\"]", err(Err::ScriptInvalidType)},
      {"make vector! [1 2.0]", err(Err::ScriptInvalidArg)},
      {"make vector! [integer! 8 [1 #\"a\"]]", err(Err::ScriptInvalidArg)},
      {"make vector! [integer! 8 [1 \"a\"]]", err(Err::ScriptInvalidType)},
      {"make vector! \"a\"", err(Err::InternalNotDone)},
      {"make vector! -1", err(Err::ScriptOutOfRange)},
  };
  ZOT_CHECK_TABLE(cases);
}

// One table per element kind: math with a scalar and with another vector.
TEST_F(VectorTest, IntegerMathTable) {
  const Case cases[] = {
      {"v: make vector! [1 2 3] v + 1 v", "make vector! [2 3 4]"},
      {"v: make vector! [1 2 3] v - 1", "make vector! [0 1 2]"},
      {"v: make vector! [1 2 3] v * 2.9", "make vector! [2 4 6]"},
      {"v: make vector! [7 -7] v / 2", "make vector! [3 -3]"},
      {"v: make vector! [7 -7] remainder v 2", "make vector! [1 -1]"},
      {"v: make vector! [12] v and 10", "make vector! [8]"},
      {"v: make vector! [12] v or 3", "make vector! [15]"},
      {"v: make vector! [12] v xor 4", "make vector! [8]"},
      {"v: make vector! [2147483647 -2] v * 2", "make vector! [-2 -4]"},
      {"v: make vector! [2147483647] v + 1", "make vector! [-2147483648]"},
      {"v: make vector! [-2147483648] v - 1", "make vector! [2147483647]"},
      {"v: make vector! [1 2 3] w: make vector! [10 20] v + w", "make vector! [11 22]"},
      {"v: make vector! [1 2 3] w: make vector! [10 20] v + w v", "make vector! [1 2 3]"},
      {"v: make vector! [5 6] w: make vector! [integer! 8 [1 2]] v - w", "make vector! [4 4]"},
      {"v: make vector! [integer! 8 [100]] w: make vector! [integer! 16 [1000]] v + w",
       "make vector! [integer! 16 [1100]]"},
      {"v: make vector! [1 2] (next v) + 5 v", "make vector! [1 7]"},
      {"v: make vector! [1 2] v / 0", err(Err::MathZeroDivide)},
      {"v: make vector! [1 2] try [v / 0] v", "make vector! [1 2]"},
      {"v: make vector! [-2147483648] v / -1", err(Err::MathOverflow)},
      {"v: make vector! [5] remainder v 0", err(Err::MathZeroDivide)},
      {"v: make vector! [1] v + #\"a\"", err(Err::InternalNotDone)},
      {"v: make vector! [1] v + \"a\"", err(Err::InternalNotDone)},
      {"v: make vector! [1] v + make vector! [1.0]", err(Err::ScriptNotSameType)},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, Integer8And16MathTable) {
  const Case cases[] = {
      {"v: make vector! [integer! 8 [100 -100]] v + 100", "make vector! [integer! 8 [-56 0]]"},
      {"v: make vector! [integer! 8 [127]] v + 1", "make vector! [integer! 8 [-128]]"},
      {"v: make vector! [integer! 8 [-128]] v * -1", "make vector! [integer! 8 [-128]]"},
      {"v: make vector! [integer! 16 [30000]] v + 10000", "make vector! [integer! 16 [-25536]]"},
      {"v: make vector! [integer! 16 [300]] v * 300", "make vector! [integer! 16 [24464]]"},
      {"v: make vector! [integer! 16 [-7]] v / 2", "make vector! [integer! 16 [-3]]"},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, CharMathTable) {
  const Case cases[] = {
      {"v: make vector! [#\"a\" #\"b\"] v + 1", "make vector! [#\"b\" #\"c\"]"},
      {"v: make vector! [char! 8 [#\"A\"]] v or 32", "make vector! [char! 8 [#\"a\"]]"},
      {"v: make vector! [#\"a\"] w: make vector! [#\"^(01)\"] v + w", "make vector! [#\"b\"]"},
      {"v: make vector! [#\"a\"] v / 0", err(Err::MathZeroDivide)},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, FloatMathTable) {
  const Case cases[] = {
      {"v: make vector! [1.5 2.5] v * 2", "make vector! [3.0 5.0]"},
      {"v: make vector! [1.5 2.5] v + 50%", "make vector! [2.0 3.0]"},
      {"v: make vector! [1.0] v / 0", "make vector! [1.#INF]"},
      {"v: make vector! [7.5] remainder v 2", "make vector! [1.5]"},
      {"v: make vector! [float! 32 [0.1]] v * 3", "make vector! [float! 32 [0.3]]"},
      {"v: make vector! [1.5] w: make vector! [float! 32 [0.5]] v + w", "make vector! [2.0]"},
      {"v: make vector! [1.5] v and 1", err(Err::ScriptCannotUse)},
      {"v: make vector! [] v and 1", "make vector! [integer! 32 []]"},
      {"v: make vector! [1.5] v + #\"a\"", err(Err::InternalNotDone)},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, PercentMathTable) {
  const Case cases[] = {
      {"v: make vector! [percent! [50%]] v * 2", "make vector! [100%]"},
      {"v: make vector! [percent! [50%]] v + 0.25", "make vector! [75%]"},
      {"v: make vector! [percent! [50%]] v - 10%", "make vector! [40%]"},
      {"v: make vector! [percent! [50%]] w: make vector! [percent! [50%]] v * w", "make vector! [25%]"},
      {"v: make vector! [percent! [50%]] v xor 1", err(Err::ScriptCannotUse)},
  };
  ZOT_CHECK_TABLE(cases);
}

// A scalar on the left (the math of integer!, char! and float! hands over):
// 10 - v and 12 / v take the scalar first; 0 - v is no identity.
TEST_F(VectorTest, ScalarOnTheLeft) {
  struct Scalar {
    int op;
    i32 scalar;
    const char* vector;
    const char* result;
  };
  const Scalar cases[] = {
      {integer::kOpSubtract, 10, "[1 2 3]", "make vector! [9 8 7]"},
      {integer::kOpSubtract, 0, "[1 2 3]", "make vector! [-1 -2 -3]"},
      {integer::kOpAdd, 10, "[1 2 3]", "make vector! [11 12 13]"},
      {integer::kOpDivide, 12, "[1 2 3]", "make vector! [12 6 4]"},
      {integer::kOpDivide, 1, "[1 2 4]", "make vector! [1 0 0]"},
      {integer::kOpRemainder, 7, "[2 4]", "make vector! [1 3]"},
  };
  for (const auto& c : cases) {
    std::string got;
    int code = test::error_code_of([&] {
      Cell v = eval(std::string("make vector! ") + c.vector);
      Cell s;
      set_integer(&s, c.scalar);
      Cell* r = vector::do_math(c.op, &s, &v);
      got = mold(*r);
    });
    EXPECT_EQ(code, -1);
    EXPECT_EQ(got, c.result) << c.op << " " << c.scalar;
  }
  // A zero element refuses the division before any element changes.
  Cell v;
  int code = test::error_code_of([&] {
    v = eval("make vector! [1 0 2]");
    Cell s;
    set_integer(&s, 6);
    vector::do_math(integer::kOpDivide, &s, &v);
  });
  EXPECT_EQ(code, error_code(Err::MathZeroDivide));
  EXPECT_EQ(mold(v), "make vector! [1 0 2]");
}

TEST_F(VectorTest, SeriesChangesTable) {
  const Case cases[] = {
      {"x: make vector! [1 2] append x 3", "make vector! [1 2 3]"},
      {"x: make vector! [1 2] append x [3 4]", "make vector! [1 2 3 4]"},
      {"x: make vector! [1 2] append next x 3", "make vector! [1 2 3]"},
      {"x: make vector! [1] append/dup x 0 3", "make vector! [1 0 0 0]"},
      {"x: make vector! [1] append/dup x [2 3] 2", "make vector! [1 2 3 2 3]"},
      {"x: make vector! [1] append/part x [2 3 4] 2", "make vector! [1 2 3]"},
      {"x: make vector! [1] append x []", "make vector! [1]"},
      {"x: make vector! [1 2] insert x [7 8]", "make vector! [1 2]"},
      {"x: make vector! [1 2] insert x [7 8] x", "make vector! [7 8 1 2]"},
      {"x: make vector! [1 2] insert next x 9 x", "make vector! [1 9 2]"},
      {"x: make vector! [1 2] insert/dup tail x 5 2 x", "make vector! [1 2 5 5]"},
      {"x: make vector! [integer! 8 [1]] append x 300 x", "make vector! [integer! 8 [1 44]]"},
      {"y: make vector! [1 2 3 4 5] change y 9 y", "make vector! [9 2 3 4 5]"},
      {"y: make vector! [1 2 3 4 5] change y 9", "make vector! [2 3 4 5]"},
      {"y: make vector! [1 2 3 4 5] change/part next y [7 7 7] 1 y", "make vector! [1 7 7 7 3 4 5]"},
      {"y: make vector! [1 2 3] change/part y [0] 3 y", "make vector! [0]"},
      {"y: make vector! [1 2 3] change/dup next y 0 4 y", "make vector! [1 0 0 0 0]"},
      {"y: make vector! [1 2] change y make vector! [5 6 7] y", "make vector! [5 6 7]"},
      {"y: make vector! [1 2 3] change next y y y", "make vector! [1 1 2 3]"},
      {"x: make vector! [1 2 3] poke x 2 9 x", "make vector! [1 9 3]"},
      {"x: make vector! [1 2 3] copy next x", "make vector! [2 3]"},
      {"x: make vector! [integer! 16 [1 2 3]] copy x", "make vector! [integer! 16 [1 2 3]]"},
      {"x: make vector! [1 2 3] length? next x", "2"},
      {"x: make vector! [1 2 3] x/2", "2"},
      {"x: make vector! [1.5 2.5] pick x 2", "2.5"},
      {"x: make vector! [percent! [50%]] pick x 1", "50%"},
      {"x: make vector! [1 2 3] remove next x x", "make vector! [1 3]"},
  };
  ZOT_CHECK_TABLE(cases);
}

// A value of another kind is refused and nothing is stored.
TEST_F(VectorTest, WrongKindsAreRefused) {
  const Case cases[] = {
      {"x: make vector! [1 2] append x 1.5", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1 2] append x [3 1.5]", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1 2] try [append x [3 1.5]] x", "make vector! [1 2]"},
      {"x: make vector! [1 2] append x \"a\"", err(Err::ScriptInvalidType)},
      {"x: make vector! [1 2] insert x #\"a\"", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1.5] append x 1", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1.5] append x 50%", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1 2] change x 1.5", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1 2] change x make vector! [1.5]", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1 2] poke x 1 1.5", err(Err::ScriptInvalidArg)},
      {"x: make vector! [1 2] try [poke x 1 1.5] x", "make vector! [1 2]"},
      {"x: make vector! [#\"a\"] poke x 1 65", err(Err::ScriptInvalidArg)},
  };
  ZOT_CHECK_TABLE(cases);
  // The element service answers false for another kind and stores nothing.
  test::error_code_of([&] {
    Cell v = eval("make vector! [1 2]");
    Cell f;
    zot::set_float(&f, 1.5);
    EXPECT_FALSE(vector::set_at(&v, 0, &f));
    Cell out;
    vector::get_at(&v, 0, &out);
    EXPECT_TRUE(out.is(T_INTEGER));
    EXPECT_EQ(out.int_value(), 1);
  });
}

TEST_F(VectorTest, CompareTable) {
  const Case cases[] = {
      {"(make vector! [1 2]) = (make vector! [1 2])", "true"},
      {"(make vector! [1 2]) = (make vector! [1 2 3])", "false"},
      {"(make vector! [1 2]) < (make vector! [1 2 3])", "true"},
      {"(make vector! [1 3]) > (make vector! [1 2 3])", "true"},
      {"(make vector! [1 2]) = (make vector! [integer! 8 [1 2]])", "true"},
      {"(make vector! [-1]) < (make vector! [integer! 8 [1]])", "true"},
      {"(make vector! [1.5]) < (make vector! [float! 32 [2.0]])", "true"},
      {"(make vector! []) = (make vector! [integer! 8 []])", "true"},
      {"x: make vector! [1] same? x x", "true"},
      {"same? make vector! [1] make vector! [1]", "false"},
      {"(make vector! [1]) = (make vector! [1.0])", err(Err::ScriptNotSameType)},
      {"(make vector! [1]) = 1", "false"},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, TextTable) {
  const Case cases[] = {
      {"form make vector! [1 2 3]", "\"1 2 3\""},
      {"form make vector! [#\"a\" #\"^/\"]", "\"a ^^/\""},
      {"mold/only make vector! [1 2 3]", "\"1 2 3\""},
      {"mold/only make vector! [integer! 16 [1 2 3]]", "\"integer! 16 [1 2 3]\""},
      {"mold next make vector! [1 2 3]", "\"make vector! [2 3]\""},
      {"mold tail make vector! [1 2 3]", "\"make vector! [integer! 32 []]\""},
      {"mold/part make vector! [integer! 16 [1 2 3]] 20", "\"make vector! [intege\""},
      {"mold make vector! [float! 32 [1.0 0.5]]", "\"make vector! [float! 32 [1.0 0.5]]\""},
      {"mold make vector! [percent! 64 [12.5%]]", "\"make vector! [12.5%]\""},
  };
  ZOT_CHECK_TABLE(cases);
}

TEST_F(VectorTest, BodyOfGivesTheElementsAsABlock) {
  test::error_code_of([&] {
    Cell v = eval("next make vector! [integer! 8 [1 2 3]]");
    Cell out;
    vector::to_block(&v, &out);
    EXPECT_EQ(mold(out), "[2 3]");
  });
}

}  // namespace
}  // namespace zot

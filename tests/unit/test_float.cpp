// float!: IEEE arithmetic and the mixed number types, the tolerant
// comparison, rounding, conversions and the number formatting of every kind.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

Cell I(i32 v) {
  Cell c;
  return *set_integer(&c, v);
}
Cell F(double d) {
  Cell c;
  return *set_float(&c, d);
}
Cell T(TypeId t, double d) {
  Cell c = F(d);
  set_type(&c, t);
  return c;
}
Cell C(u32 cp) {
  Cell c;
  return *make_cell(&c, T_CHAR, 0, cp, 0);
}

Cell call_frame(actions::FrameFn f, const Cell& a, const Cell& b) {
  test::ensure_runtime();
  stack::push_native_frame(nullptr);
  stack::push(&a);
  stack::push(&b);
  f();
  Cell r = stack::g_base[0];
  stack::drop_frame();
  return r;
}

Cell call_round(const Cell& value, const Cell* scale, const std::string& flag) {
  test::ensure_runtime();
  stack::push_native_frame(nullptr);
  stack::push(&value);
  Cell* s = scale ? stack::push(scale) : nullptr;
  float_::round(stack::g_base, test::round_options(s, flag));
  Cell r = stack::g_base[0];
  stack::drop_frame();
  return r;
}

// Same double, bit for bit (NaN equals NaN, 0.0 differs from -0.0).
bool same_double(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return float_::bits_of(a) == float_::bits_of(b);
}

struct PrettyGuard {
  bool saved = float_::g_pretty;
  explicit PrettyGuard(bool on) { float_::set_pretty(on); }
  ~PrettyGuard() { float_::set_pretty(saved); }
};

// ---------------------------------------------------------------------------
// Arithmetic

TEST(FloatMath, IeeeResultsFlowThrough) {
  struct {
    const char* what;
    actions::FrameFn fn;
    double a, b, expected;
  } cases[] = {
      {"0.1 + 0.2", float_::add, 0.1, 0.2, 0.30000000000000004},
      {"1.5 - 2", float_::subtract, 1.5, 2.0, -0.5},
      {"1e308 * 10", float_::multiply, 1e308, 10.0, kInf},
      {"1 / 0", float_::divide, 1.0, 0.0, kInf},
      {"-1 / 0", float_::divide, -1.0, 0.0, -kInf},
      {"0 / 0", float_::divide, 0.0, 0.0, kNaN},
      {"rem 5.5 2", float_::remainder, 5.5, 2.0, 1.5},
      {"rem -5.5 2", float_::remainder, -5.5, 2.0, -1.5},
      {"rem 5 0", float_::remainder, 5.0, 0.0, kNaN},
      {"rem 5 inf", float_::remainder, 5.0, kInf, 5.0},
      {"rem 5 -inf", float_::remainder, 5.0, -kInf, 5.0},
      {"rem inf inf", float_::remainder, kInf, kInf, kNaN},
      {"rem inf 2", float_::remainder, kInf, 2.0, kNaN},
      {"rem 5 nan", float_::remainder, 5.0, kNaN, kNaN},
  };
  for (auto& c : cases) {
    Cell r = call_frame(c.fn, F(c.a), F(c.b));
    EXPECT_EQ(r.type(), T_FLOAT) << c.what;
    EXPECT_TRUE(same_double(r.float_value(), c.expected)) << c.what << ": " << r.float_value();
  }
  EXPECT_EQ(test::error_code_of([] { float_::do_math_op(1.0, 2.0, integer::kOpAnd); }),
            error_code(Err::ScriptCannotUse));
}

TEST(FloatMath, ResultTypesOfMixedOperands) {
  struct {
    Cell a, b;
    TypeId type;
    double expected;
  } cases[] = {
      {F(1.5), I(2), T_FLOAT, 3.5},
      {F(1.5), C('a'), T_FLOAT, 98.5},
      {F(1.0), T(T_PERCENT, 0.5), T_FLOAT, 1.5},
      {T(T_PERCENT, 0.5), T(T_PERCENT, 0.25), T_PERCENT, 0.75},
      {T(T_PERCENT, 0.5), F(1.0), T_PERCENT, 1.5},
      {T(T_PERCENT, 0.5), T(T_TIME, 1.0), T_TIME, 1.5},
      {T(T_TIME, 60.0), F(1.5), T_TIME, 61.5},
      {F(1.5), T(T_TIME, 60.0), T_TIME, 61.5},
      {T(T_TIME, 60.0), T(T_TIME, 1.0), T_TIME, 61.0},
      {I(1), T(T_PERCENT, 0.5), T_FLOAT, 1.5},
  };
  for (auto& c : cases) {
    Cell r = call_frame(float_::add, c.a, c.b);
    EXPECT_EQ(r.type(), c.type) << c.expected;
    EXPECT_EQ(r.float_value(), c.expected);
  }
  const int invalid = error_code(Err::ScriptInvalidType);
  Cell p = T(T_PERCENT, 0.5), t = T(T_TIME, 1.0), ch = C('a'), f = F(1.0), none = datatype::g_none;
  EXPECT_EQ(test::error_code_of([&] { call_frame(float_::add, p, ch); }), invalid);
  EXPECT_EQ(test::error_code_of([&] { call_frame(float_::add, t, ch); }), invalid);
  EXPECT_EQ(test::error_code_of([&] { call_frame(float_::add, f, none); }), invalid);
}

TEST(FloatMath, AbsoluteNegatePower) {
  Cell r = call_frame(float_::absolute, F(-0.0), I(0));
  EXPECT_TRUE(same_double(r.float_value(), 0.0));
  EXPECT_EQ(call_frame(float_::absolute, F(-2.5), I(0)).float_value(), 2.5);
  for (double d : {0.0, -0.0}) {
    Cell v = F(d);
    float_::negate(&v);
    EXPECT_TRUE(same_double(v.float_value(), 0.0)) << d;  // never -0.0
  }
  Cell v = F(1.5);
  float_::negate(&v);
  EXPECT_EQ(v.float_value(), -1.5);

  EXPECT_EQ(call_frame(float_::power, F(2.0), I(3)).float_value(), 8.0);
  EXPECT_EQ(call_frame(float_::power, F(9.0), F(0.5)).float_value(), 3.0);
  EXPECT_EQ(call_frame(float_::power, F(0.0), I(-1)).float_value(), kInf);
  Cell b = F(2.0), pct = T(T_PERCENT, 0.5);
  EXPECT_EQ(test::error_code_of([&] { call_frame(float_::power, b, pct); }), error_code(Err::ScriptExpectArg));
}

// ---------------------------------------------------------------------------
// Comparison

TEST(FloatCompare, StrictAgainstNearEquality) {
  using namespace actions;
  const double sum = 0.1 + 0.2;
  double ten_ulps = 1.0, eleven_ulps = 1.0;
  for (int i = 0; i < 10; i++) ten_ulps = std::nextafter(ten_ulps, 2.0);
  eleven_ulps = std::nextafter(ten_ulps, 2.0);
  struct {
    Cell a, b;
    i32 op, expected;
  } cases[] = {
      {F(sum), F(0.3), kEqual, 0},
      {F(sum), F(0.3), kNotEqual, 0},  // 0: the values are near-equal
      {F(sum), F(0.3), kStrictEqual, 1},
      {F(sum), F(0.3), kGreater, 1},
      {F(1.0), F(ten_ulps), kEqual, 0},
      {F(1.0), F(eleven_ulps), kEqual, 1},
      {F(-1.0), F(-ten_ulps), kEqual, 0},
      {F(1e-17), F(2e-17), kEqual, 0},  // absolute tolerance near zero
      {F(1e-300), F(-1e-300), kEqual, 0},
      {F(0.0), F(-0.0), kEqual, 0},
      {F(0.0), F(-0.0), kStrictEqual, 0},
      {F(0.0), F(-0.0), kSame, 1},
      {F(1.5), F(1.5), kSame, 0},
      {F(kInf), F(kInf), kEqual, 0},
      {F(kInf), F(DBL_MAX), kEqual, 1},  // an infinity is near nothing finite
      {F(kNaN), F(kNaN), kEqual, 1},
      {F(kNaN), F(1.0), kLesser, 1},     // every ordering with NaN is false
      {F(kNaN), F(1.0), kGreaterOrEqual, -1},
      {F(1.0), F(kNaN), kGreater, -1},
      {F(1.0), I(1), kEqual, 0},
      {F(1.0), I(1), kStrictEqual, 1},
      {F(1.5), I(2), kLesser, -1},
      {F(0.5), T(T_PERCENT, 0.5), kEqual, 0},
      {F(0.5), T(T_PERCENT, 0.5), kStrictEqual, 1},
      {F(0.5), T(T_PERCENT, 0.5), kFindEqual, 1},
      {F(97.0), C('a'), kEqual, kNotComparable},
      {F(1.0), datatype::g_none, kLesser, kNotComparable},
  };
  for (auto& c : cases)
    EXPECT_EQ(float_::compare(&c.a, &c.b, c.op), c.expected)
        << c.a.float_value() << " op " << c.op << " " << c.b.float_value();
}

TEST(FloatCompare, NearEqualSingle) {
  float one = 1.0f, ten = one, eleven;
  for (int i = 0; i < 10; i++) ten = std::nextafter(ten, 2.0f);
  eleven = std::nextafter(ten, 2.0f);
  EXPECT_TRUE(float_::near_equal_single(one, ten));
  EXPECT_FALSE(float_::near_equal_single(one, eleven));
  EXPECT_TRUE(float_::near_equal_single(0.0f, -0.0f));
  EXPECT_TRUE(float_::near_equal_single(-1e-45f, 1e-45f));  // across zero, ordered
  EXPECT_FALSE(float_::near_equal_single(std::nanf(""), std::nanf("")));
  EXPECT_TRUE(float_::near_equal_single(FLT_MAX, std::numeric_limits<float>::infinity()));
  EXPECT_FALSE(float_::near_equal_single(-FLT_MAX, std::numeric_limits<float>::infinity()));
}

// ---------------------------------------------------------------------------
// Rounding

TEST(FloatRound, ModesAtTiesAndBetween) {
  struct {
    double value;
    const char* flag;
    double expected;
  } cases[] = {
      {2.5, "", 3.0},           {-2.5, "", -3.0},         {2.4, "", 2.0},
      {2.6, "", 3.0},           {2.5, "even", 2.0},       {3.5, "even", 4.0},
      {-2.5, "even", -2.0},     {2.5, "half-down", 2.0},  {-2.5, "half-down", -2.0},
      {-1.5, "floor", -2.0},    {1.5, "floor", 1.0},      {-1.5, "ceiling", -1.0},
      {1.2, "ceiling", 2.0},    {-2.6, "down", -2.0},     {2.6, "down", 2.0},
      {2.5, "half-ceiling", 3.0}, {-2.5, "half-ceiling", -2.0}, {-2.6, "half-ceiling", -3.0},
      {1e300, "", 1e300},       {kInf, "", kInf},
  };
  for (auto& c : cases) {
    Cell r = call_round(F(c.value), nullptr, c.flag);
    EXPECT_EQ(r.type(), T_FLOAT);
    EXPECT_EQ(r.float_value(), c.expected) << c.value << " " << c.flag;
  }
}

TEST(FloatRound, ScalesAndResultTypes) {
  Cell hundredth = F(0.01);
  Cell r = call_round(F(1.23456), &hundredth, "");
  EXPECT_EQ(r.type(), T_FLOAT);
  EXPECT_EQ(r.float_value(), 1.23);

  Cell one = I(1);
  r = call_round(F(2.5), &one, "");
  EXPECT_EQ(r.type(), T_INTEGER);
  EXPECT_EQ(r.int_value(), 3);
  r = call_round(F(-2.5), &one, "");
  EXPECT_EQ(r.int_value(), -3);

  Cell ten = I(10);
  r = call_round(F(-15.0), &ten, "ceiling");
  EXPECT_EQ(r.int_value(), -10);

  Cell second = T(T_TIME, 1.0);
  r = call_round(F(2.5), &second, "");
  EXPECT_EQ(r.type(), T_TIME);
  EXPECT_EQ(r.float_value(), 3.0);

  // A scale below the value's precision leaves it alone (and its type).
  Cell tiny = F(1e-300);
  r = call_round(F(1e300), &tiny, "");
  EXPECT_EQ(r.type(), T_FLOAT);
  EXPECT_EQ(r.float_value(), 1e300);

  // A zero scale leaves the value as it is, zero included (no NaN).
  Cell zero = I(0);
  for (double d : {0.0, 2.5}) {
    r = call_round(F(d), &zero, "");
    EXPECT_EQ(r.type(), T_FLOAT);
    EXPECT_EQ(r.float_value(), d);
  }

  // percent! rounds to whole percents by default.
  r = call_round(T(T_PERCENT, 0.12345), nullptr, "");
  EXPECT_EQ(r.type(), T_PERCENT);
  EXPECT_EQ(r.float_value(), 0.12);

  // A subnormal scale still rounds to its multiples.
  Cell sub = F(1e-310);
  r = call_round(F(2.6e-310), &sub, "");
  EXPECT_NEAR(r.float_value() / 1e-310, 3.0, 1e-9) << r.float_value();
}

TEST(FloatRound, Overflow) {
  const int overflow = error_code(Err::MathOverflow);
  Cell one = I(1), big = F(1e308), money;
  make_cell(&money, T_MONEY, 0, 0, 0);
  // Integer scales give integer! results: beyond the 32-bit range raises.
  for (double d : {1e10, -3e9, 2147483648.0}) {
    Cell v = F(d);
    EXPECT_EQ(test::error_code_of([&] { call_round(v, &one, ""); }), overflow) << d;
  }
  Cell edge = F(2147483647.0), low = F(-2147483648.4);
  EXPECT_EQ(call_round(edge, &one, "").int_value(), integer::kMax);
  EXPECT_EQ(call_round(low, &one, "").int_value(), integer::kMin);
  // Rounding a finite value up to infinity.
  Cell v = F(1.7e308);
  EXPECT_EQ(test::error_code_of([&] { call_round(v, &big, ""); }), overflow);
  EXPECT_EQ(test::error_code_of([&] { call_round(v, &money, ""); }), error_code(Err::ScriptNotRelated));
}

// ---------------------------------------------------------------------------
// Parity

TEST(FloatParity, WholePartAtAnyMagnitude) {
  struct {
    double d;
    bool even, odd;
  } cases[] = {
      {3.7, false, true},  {4.2, true, false},   {-3.0, false, true},   {-0.5, true, false},
      {1e10, true, false}, {1e10 + 1, false, true}, {-1e10 - 1, false, true},
      {9007199254740993.0, true, false},  // rounds to 2^53
      {1e300, true, false}, {kInf, false, false}, {kNaN, false, false},
  };
  for (auto& c : cases) {
    Cell v = F(c.d);
    EXPECT_EQ(float_::even(&v), c.even) << c.d;
    EXPECT_EQ(float_::odd(&v), c.odd) << c.d;
  }
}

// ---------------------------------------------------------------------------
// Conversions

Cell binary_of(std::initializer_list<u8> bytes) {
  mem::Node n = mem::alloc_bytes(16);
  u8* p = mem::alloc_tail_bytes(n, u32(bytes.size()));
  for (u8 b : bytes) *p++ = b;
  Cell c;
  return *make_cell(&c, T_BINARY, 0, n, 0);
}

Cell block_of(std::initializer_list<Cell> cells) {
  mem::Node n = mem::alloc_cells(4);
  for (const Cell& c : cells) *mem::alloc_tail_cell(n) = c;
  Cell b;
  return *make_cell(&b, T_BLOCK, 0, n, 0);
}

TEST(FloatMake, Conversions) {
  test::ensure_runtime();
  Cell proto;
  make_cell(&proto, T_DATATYPE, T_FLOAT, 0, 0);
  struct {
    Cell spec;
    int type;
    double expected;
  } cases[] = {
      {I(3), T_FLOAT, 3.0},
      {C('a'), T_FLOAT, 97.0},
      {T(T_TIME, 1.5), T_FLOAT, 1.5},
      {T(T_PERCENT, 0.5), T_FLOAT, 0.5},
      {F(0.5), T_PERCENT, 0.5},
      {binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), T_FLOAT, 1.0},
      {binary_of({0x01}), T_FLOAT, 4.9406564584124654e-324},
      {block_of({I(15), I(1)}), T_FLOAT, 150.0},
      {block_of({F(2.5), F(-1.9)}), T_FLOAT, 0.25},
  };
  for (auto& c : cases) {
    Cell* r = float_::make(&proto, &c.spec, c.type);
    EXPECT_EQ(r->type(), c.type);
    EXPECT_EQ(r->float_value(), c.expected);
  }
  const int bad = error_code(Err::ScriptBadToArg);
  Cell errors[] = {block_of({I(1), I(2), I(3)}), block_of({I(1)}), block_of({I(1), datatype::g_none}),
                   datatype::g_none, datatype::g_true};
  for (Cell& e : errors) EXPECT_EQ(test::error_code_of([&] { float_::make(&proto, &e, T_FLOAT); }), bad);
}

// ---------------------------------------------------------------------------
// Formatting

TEST(FloatForm, PrettyAndPlainForms) {
  struct {
    double d;
    const char* pretty;
    const char* plain;
  } cases[] = {
      {0.1 + 0.2, "0.3", "0.3"},
      {0.7999999999999999, "0.8", "0.7999999999999999"},
      {-0.7999999999999999, "-0.8", "-0.7999999999999999"},
      {0.57 * 100, "57.0", "56.99999999999999"},
      {1234567890.123499, "1234567890.1235", "1234567890.123499"},
      {1.0 / 3, "0.3333333333333333", "0.3333333333333333"},
      {1e23, "1.0e23", "9.999999999999999e22"},
      {1.299999999999999e30, "1.3e30", "1.299999999999999e30"},
      {1.0, "1.0", "1.0"},
      {100.0, "100.0", "100.0"},
      {-2.5, "-2.5", "-2.5"},
      {1e15, "1000000000000000.0", "1000000000000000.0"},
      {1e16, "1.0e16", "1.0e16"},
      {1e20, "1.0e20", "1.0e20"},
      {1.5e-7, "1.5e-7", "1.5e-7"},
      {0.0001, "0.0001", "0.0001"},
      {0.00001, "1.0e-5", "1.0e-5"},
      {123.456, "123.456", "123.456"},
      {1e-20, "0.0", "1.0e-20"},
      {-0.0, "0.0", "-0.0"},
      {kInf, "1.#INF", "1.#INF"},
      {-kInf, "-1.#INF", "-1.#INF"},
      {kNaN, "1.#NaN", "1.#NaN"},
  };
  for (auto& c : cases) {
    for (bool pretty : {true, false}) {
      PrettyGuard g(pretty);
      int len;
      const char* t = float_::form_float(c.d, float_::kFormFloat, &len);
      EXPECT_EQ(std::string(t, std::size_t(len)), pretty ? c.pretty : c.plain) << c.d << " pretty " << pretty;
    }
  }
}

TEST(FloatForm, Kinds) {
  PrettyGuard g(true);
  struct {
    double d;
    int kind;
    const char* text;
  } cases[] = {
      {double(0.1f), float_::kFormSingle, "0.1"},
      {3.0, float_::kFormSingle, "3.0"},
      {double(1e10f), float_::kFormSingle, "1.0e10"},
      {50.0, float_::kFormPercent, "50%"},
      {12.5, float_::kFormPercent, "12.5%"},
      {0.0, float_::kFormPercent, "0%"},
      {1e-20, float_::kFormSinglePercent, "0%"},
      {33.33333333333333, float_::kFormPercent, "33.33333333333%"},
      {1234567.0, float_::kFormSeconds, "1234570"},
      {0.000012345678, float_::kFormSeconds, "0.0000123457"},
      {59.5, float_::kFormSeconds, "59.5"},
      {3.0, float_::kFormPoint, "3"},
      {0.0, float_::kFormPoint, "0"},
      {2.5, float_::kFormPoint, "2.5"},
      {kInf, float_::kFormPercent, "1.#INF"},
  };
  for (auto& c : cases) {
    int len;
    const char* t = float_::form_float(c.d, c.kind, &len);
    EXPECT_EQ(std::string(t, std::size_t(len)), c.text) << c.d << " kind " << c.kind;
  }
}

std::string text_of(const Cell& v, bool mold, i32* left) {
  Cell out;
  out.header = 0;
  string::make_at(&out, 16);
  *left = mold ? float_::mold(&v, &out, {}, 100) : float_::form(&v, &out, nullptr, 100);
  return string::to_utf8(&out);
}

TEST(FloatForm, FormAndMoldSlots) {
  test::ensure_runtime();
  PrettyGuard g(true);
  struct {
    double d;
    const char* form;
    const char* mold;
  } cases[] = {
      {0.1 + 0.2, "0.3", "0.30000000000000004"},
      {1.0, "1.0", "1.0"},
      {1e17, "1.0e17", "1.0e17"},
      {1e16, "1.0e16", "10000000000000000.0"},
      {-0.0, "0.0", "-0.0"},
      {kNaN, "1.#NaN", "1.#NaN"},
  };
  for (auto& c : cases) {
    i32 left;
    EXPECT_EQ(text_of(F(c.d), false, &left), c.form);
    EXPECT_EQ(left, 100 - i32(std::strlen(c.form)));
    EXPECT_EQ(text_of(F(c.d), true, &left), c.mold);
    EXPECT_EQ(left, 100 - i32(std::strlen(c.mold)));
  }
}

TEST(FloatRegistry, Slots) {
  float_::register_type();
  using namespace actions;
  EXPECT_EQ(get<kMake>(T_FLOAT), &float_::make);
  EXPECT_EQ(get<kTo>(T_FLOAT), &float_::make);
  EXPECT_EQ(get<kRound>(T_FLOAT), &float_::round);
  EXPECT_EQ(raw(T_FLOAT, kAnd), nullptr);
  EXPECT_EQ(raw(T_FLOAT, kComplement), nullptr);
  EXPECT_STREQ(datatype::type_name(T_FLOAT), "float!");
}

}  // namespace
}  // namespace zot

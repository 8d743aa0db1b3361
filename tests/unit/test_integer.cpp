// integer! and char!: arithmetic and its overflow rules, power, rounding,
// comparison, conversions and text, called the way the dispatch calls them.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

Cell I(i32 v) {
  Cell c;
  return *set_integer(&c, v);
}
Cell F(double d) {
  Cell c;
  return *set_float(&c, d);
}
Cell C(u32 cp) {
  Cell c;
  return *char_::make_at(&c, cp);
}
Cell typed_float(TypeId t, double d) {
  Cell c = F(d);
  set_type(&c, t);
  return c;
}

// Calls a frame slot with the operands in a native frame; answers the frame's
// first cell.
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

Cell call_round(actions::RoundFn f, const Cell& value, const Cell* scale, const std::string& mode) {
  test::ensure_runtime();
  stack::push_native_frame(nullptr);
  stack::push(&value);
  Cell* s = scale ? stack::push(scale) : nullptr;
  f(stack::g_base, test::round_options(s, mode));
  Cell r = stack::g_base[0];
  stack::drop_frame();
  return r;
}

template <class F>
int error_of(F&& fn) {
  return test::error_code_of(std::forward<F>(fn));
}

const int kZeroDivide = error_code(Err::MathZeroDivide);
const int kOverflow = error_code(Err::MathOverflow);

void expect_int(const Cell& c, i32 v, const char* what) {
  ASSERT_EQ(c.type(), T_INTEGER) << what;
  EXPECT_EQ(c.int_value(), v) << what;
}
void expect_float(const Cell& c, double d, const char* what) {
  ASSERT_EQ(c.type(), T_FLOAT) << what;
  EXPECT_EQ(c.float_value(), d) << what;
}

// ---------------------------------------------------------------------------
// Arithmetic

struct MathCase {
  const char* what;
  actions::FrameFn fn;
  i32 a, b;
  bool is_float;
  double expected;
};

TEST(IntegerMath, ResultsAndOverflowToFloat) {
  const MathCase cases[] = {
      {"7 + 2", integer::add, 7, 2, false, 9},
      {"max + 1", integer::add, integer::kMax, 1, true, 2147483648.0},
      {"min + -1", integer::add, integer::kMin, -1, true, -2147483649.0},
      {"min - 1", integer::subtract, integer::kMin, 1, true, -2147483649.0},
      {"0 - min", integer::subtract, 0, integer::kMin, true, 2147483648.0},
      {"65536 * 65536", integer::multiply, 65536, 65536, true, 4294967296.0},
      {"-3 * 4", integer::multiply, -3, 4, false, -12},
      {"6 / 2", integer::divide, 6, 2, false, 3},
      {"7 / 2", integer::divide, 7, 2, true, 3.5},
      {"-7 / 2", integer::divide, -7, 2, true, -3.5},
      {"min / 1", integer::divide, integer::kMin, 1, false, integer::kMin},
      {"rem 7 -2", integer::remainder, 7, -2, false, 1},
      {"rem -7 2", integer::remainder, -7, 2, false, -1},
      {"rem min 2", integer::remainder, integer::kMin, 2, false, 0},
      {"12 and 10", integer::and_, 12, 10, false, 8},
      {"12 or 3", integer::or_, 12, 3, false, 15},
      {"12 xor 10", integer::xor_, 12, 10, false, 6},
  };
  for (const MathCase& m : cases) {
    Cell r = call_frame(m.fn, I(m.a), I(m.b));
    if (m.is_float) expect_float(r, m.expected, m.what);
    else expect_int(r, i32(m.expected), m.what);
  }
}

TEST(IntegerMath, DivisionErrors) {
  struct {
    actions::FrameFn fn;
    i32 a, b;
    int code;
  } cases[] = {
      {integer::divide, 1, 0, kZeroDivide},
      {integer::remainder, 1, 0, kZeroDivide},
      {integer::divide, integer::kMin, -1, kOverflow},
      {integer::remainder, integer::kMin, -1, kOverflow},
  };
  for (auto& c : cases) {
    Cell a = I(c.a), b = I(c.b);
    EXPECT_EQ(error_of([&] { call_frame(c.fn, a, b); }), c.code) << c.a << " " << c.b;
  }
}

TEST(IntegerMath, ShareOpWithoutResultCellWrapsAndTruncates) {
  // Callers without a result cell get the plain 32-bit answer.
  EXPECT_EQ(integer::do_math_op(integer::kMax, 1, integer::kOpAdd, nullptr), integer::kMin);
  EXPECT_EQ(integer::do_math_op(7, 2, integer::kOpDivide, nullptr), 3);
  // A char! result cell keeps its type.
  Cell c = C('a');
  EXPECT_EQ(integer::do_math_op(97, 1, integer::kOpAdd, &c), 98);
  EXPECT_EQ(c.type(), T_CHAR);
  EXPECT_EQ(c.w2, 98u);
}

TEST(IntegerMath, MixedWithFloatTypes) {
  expect_float(call_frame(integer::add, I(1), F(0.5)), 1.5, "1 + 0.5");
  Cell p = call_frame(integer::multiply, I(2), typed_float(T_PERCENT, 0.5));
  EXPECT_EQ(p.type(), T_FLOAT);  // integer with percent gives float
  EXPECT_EQ(p.float_value(), 1.0);
  Cell t = call_frame(integer::add, I(2), typed_float(T_TIME, 3.0));
  EXPECT_EQ(t.type(), T_TIME);
  EXPECT_EQ(t.float_value(), 5.0);
  // and~ has no float meaning.
  Cell a = I(1), b = F(1.0);
  EXPECT_EQ(error_of([&] { call_frame(integer::and_, a, b); }), error_code(Err::ScriptCannotUse));
  Cell none;
  set_none(&none);
  EXPECT_EQ(error_of([&] { call_frame(integer::add, a, none); }), error_code(Err::ScriptInvalidType));
}

TEST(IntegerMath, AbsoluteNegateComplementParity) {
  test::ensure_runtime();
  expect_int(call_frame(integer::absolute, I(-5), I(0)), 5, "abs -5");
  Cell m = I(integer::kMin);
  EXPECT_EQ(error_of([&] { call_frame(integer::absolute, m, m); }), kOverflow);
  Cell v = I(5);
  integer::negate(&v);
  expect_int(v, -5, "negate 5");
  EXPECT_EQ(error_of([&] { integer::negate(&m); }), kOverflow);
  Cell c = I(0);
  expect_int(*integer::complement(&c), -1, "complement 0");
  Cell e = I(-4), o = I(-3);
  EXPECT_TRUE(integer::even(&e));
  EXPECT_FALSE(integer::odd(&e));
  EXPECT_TRUE(integer::odd(&o));
}

TEST(IntegerMath, Power) {
  struct {
    i32 base;
    Cell exponent;
    bool is_float;
    double expected;
  } cases[] = {
      {2, I(10), false, 1024},       {2, I(30), false, 1073741824},
      {2, I(31), true, 2147483648.0}, {-2, I(31), false, integer::kMin},
      {-2, I(32), true, 4294967296.0},
      {2, I(-1), true, 0.5},          {0, I(0), false, 1},
      {3, F(2.0), true, 9.0},         {10, I(9), false, 1000000000},
      {10, I(10), true, 1e10},        {-1, I(integer::kMax), false, -1},
      {1, I(integer::kMax), false, 1},
  };
  for (auto& c : cases) {
    Cell r = call_frame(integer::power, I(c.base), c.exponent);
    std::string what = std::to_string(c.base) + " ** " + std::to_string(c.exponent.w2);
    if (c.is_float) expect_float(r, c.expected, what.c_str());
    else expect_int(r, i32(c.expected), what.c_str());
  }
  Cell b = I(2), s;
  set_none(&s);
  EXPECT_EQ(error_of([&] { call_frame(integer::power, b, s); }), error_code(Err::ScriptExpectArg));
}

// ---------------------------------------------------------------------------
// Rounding

struct RoundCase {
  i32 value, scale;
  const char* flag;  // "", "even", "down", "half-down", "floor", "ceiling", "half-ceiling"
  i32 expected;
};

Cell round_with(const Cell& value, const Cell* scale, const std::string& flag) {
  return call_round(integer::round, value, scale, flag);
}

TEST(IntegerRound, ModesAtTiesAndBetween) {
  const RoundCase cases[] = {
      {15, 10, "", 20},           {-15, 10, "", -20},          {14, 10, "", 10},
      {16, 10, "", 20},           {25, 10, "even", 20},        {35, 10, "even", 40},
      {-25, 10, "even", -20},     {15, 10, "half-down", 10},   {-15, 10, "half-down", -10},
      {-15, 10, "floor", -20},    {15, 10, "floor", 10},       {-15, 10, "ceiling", -10},
      {11, 10, "ceiling", 20},    {-19, 10, "down", -10},      {19, 10, "down", 10},
      {15, 10, "half-ceiling", 20}, {-15, 10, "half-ceiling", -10},
      {7, 0, "", 7},              {20, 10, "", 20},            {15, -10, "", 20},
      {integer::kMin, 10, "", integer::kMin},
      // A floor or ceiling toward zero stays in range near the limits.
      {integer::kMax, 10, "floor", 2147483640}, {integer::kMin + 1, 10, "ceiling", -2147483640},
      {integer::kMax, 10, "down", 2147483640},
  };
  for (const RoundCase& c : cases) {
    Cell scale = I(c.scale);
    Cell r = round_with(I(c.value), &scale, c.flag);
    std::string what = std::to_string(c.value) + " to " + std::to_string(c.scale) + " " + c.flag;
    expect_int(r, c.expected, what.c_str());
  }
  expect_int(round_with(I(5), nullptr, ""), 5, "no scale");
}

TEST(IntegerRound, OverflowAndHandOver) {
  Cell max = I(integer::kMax), ten = I(10), min_scale = I(integer::kMin);
  for (const char* flag : {"", "ceiling", "half-ceiling"})
    EXPECT_EQ(error_of([&] { round_with(max, &ten, flag); }), kOverflow) << flag;
  EXPECT_EQ(error_of([&] { round_with(ten, &min_scale, ""); }), kOverflow);
  // A float scale hands over to float rounding: 7 to 2.5 is 7.5.
  Cell f = F(2.5);
  expect_float(round_with(I(7), &f, ""), 7.5, "7 to 2.5");
}

// ---------------------------------------------------------------------------
// Comparison

TEST(IntegerCompare, OpsAcrossTypes) {
  using namespace actions;
  struct {
    Cell a, b;
    i32 op, expected;
  } cases[] = {
      {I(1), I(2), kLesser, -1},          {I(2), I(2), kEqual, 0},
      {I(-1), I(1), kGreater, -1},        {I(97), C('a'), kEqual, 0},
      {I(97), C('a'), kStrictEqual, 1},   {I(1), F(1.0), kEqual, 0},
      {I(1), F(1.0), kStrictEqual, 1},    {I(1), F(1.5), kLesser, -1},
      {I(97), C('a'), kFindEqual, 1},     {I(3), I(3), kStrictEqual, 0},
  };
  for (auto& c : cases) EXPECT_EQ(integer::compare(&c.a, &c.b, c.op), c.expected) << c.a.w2 << " op " << c.op;
  Cell i = I(1), n;
  set_none(&n);
  EXPECT_EQ(integer::compare(&i, &n, kEqual), kNotComparable);

  Cell a = C('a'), b = C('b');
  EXPECT_EQ(char_::compare(&a, &b, kLesser), -1);
  Cell n97 = I(97);
  EXPECT_EQ(char_::compare(&a, &n97, kEqual), 0);
  EXPECT_EQ(char_::compare(&a, &n97, kStrictEqual), 1);
  Cell f = F(97.0);
  EXPECT_EQ(char_::compare(&a, &f, kEqual), kNotComparable);
}

// ---------------------------------------------------------------------------
// char! arithmetic

TEST(CharMath, StaysInRange) {
  Cell r = call_frame(char_::add, C('a'), I(1));
  EXPECT_EQ(r.type(), T_CHAR);
  EXPECT_EQ(r.w2, u32('b'));
  r = call_frame(char_::divide, C('a'), I(2));
  EXPECT_EQ(r.type(), T_CHAR);
  EXPECT_EQ(r.w2, 48u);  // truncated, never a float
  r = call_frame(char_::add, C('a'), F(1.9));
  EXPECT_EQ(r.w2, u32('b'));
  r = call_frame(char_::subtract, C('b'), C('a'));
  EXPECT_EQ(r.type(), T_CHAR);
  EXPECT_EQ(r.w2, 1u);

  struct {
    Cell a, b;
    actions::FrameFn fn;
    int code;
  } errors[] = {
      {C(0x10FFFF), I(1), char_::add, kOverflow},
      {C('a'), C('b'), char_::subtract, kOverflow},
      {C(0x10000), I(0x11), char_::multiply, kOverflow},     // above 0x10FFFF
      {C(0x10000), I(65536), char_::multiply, kOverflow},    // 2^32 would wrap to 0
      {C('a'), I(0), char_::divide, kZeroDivide},
      {C('a'), F(1e300), char_::add, kOverflow},
      {C('a'), F(std::nan("")), char_::add, kOverflow},
  };
  for (auto& e : errors) EXPECT_EQ(error_of([&] { call_frame(e.fn, e.a, e.b); }), e.code) << e.a.w2;
  Cell a = C('a'), s;
  set_none(&s);
  EXPECT_EQ(error_of([&] { call_frame(char_::add, a, s); }), error_code(Err::ScriptInvalidType));
}

// ---------------------------------------------------------------------------
// Conversions

Cell binary_of(std::initializer_list<u8> bytes, i32 index = 0) {
  mem::Node n = mem::alloc_bytes(16);
  u8* p = mem::alloc_tail_bytes(n, u32(bytes.size()));
  for (u8 b : bytes) *p++ = b;
  Cell c;
  make_cell(&c, T_BINARY, u32(index), n, 0);
  return c;
}

TEST(IntegerTo, Conversions) {
  test::ensure_runtime();
  Cell proto;
  make_cell(&proto, T_DATATYPE, T_INTEGER, 0, 0);
  struct {
    Cell spec;
    i32 expected;
  } cases[] = {
      {I(5), 5},
      {C('a'), 97},
      {F(-1.9), -1},
      {F(2147483647.0), integer::kMax},
      {F(-2147483648.0), integer::kMin},
      {typed_float(T_PERCENT, 2.5), 2},
      {typed_float(T_TIME, 90.5), 91},
      {typed_float(T_TIME, 90.4), 90},
      {binary_of({0x01, 0x02, 0x03, 0x04, 0x05}), 0x01020304},
      {binary_of({0xFF, 0xFF, 0xFF, 0xFE}), -2},
      {binary_of({0x01, 0x02}), 0x0102},
      {binary_of({0x09, 0x01, 0x02}, 1), 0x0102},
      {binary_of({}), 0},
  };
  for (auto& c : cases) expect_int(*integer::to(&proto, &c.spec, T_INTEGER), c.expected, "to integer!");

  Cell t = datatype::g_true, f = datatype::g_false;
  expect_int(*integer::make(&proto, &t, T_INTEGER), 1, "make true");
  expect_int(*integer::make(&proto, &f, T_INTEGER), 0, "make false");
  EXPECT_EQ(error_of([&] { integer::to(&proto, &t, T_INTEGER); }), error_code(Err::ScriptBadToArg));
  for (double d : {2147483648.0, -2147483649.0, std::nan(""), HUGE_VAL}) {
    Cell big = F(d);
    EXPECT_EQ(error_of([&] { integer::to(&proto, &big, T_INTEGER); }), error_code(Err::ScriptTypeLimit)) << d;
  }
}

TEST(CharMake, Conversions) {
  test::ensure_runtime();
  Cell proto;
  make_cell(&proto, T_DATATYPE, T_CHAR, 0, 0);
  struct {
    Cell spec;
    u32 expected;
  } cases[] = {
      {I(97), 97},
      {C(0x10FFFF), 0x10FFFF},
      {F(65.9), 65},
      {F(-0.5), 0},
      {binary_of({0xC3, 0xA9, 0x41}), 0xE9},
      {binary_of({0x41}), 'A'},
  };
  for (auto& c : cases) {
    Cell* r = char_::make(&proto, &c.spec, T_CHAR);
    EXPECT_EQ(r->type(), T_CHAR);
    EXPECT_EQ(r->w2, c.expected);
  }
  Cell s;
  s.header = 0;
  string::make_from_utf8(&s, "xyz", 3);
  s.w1 = 1;
  EXPECT_EQ(char_::make(&proto, &s, T_CHAR)->w2, u32('y'));

  Cell empty;
  empty.header = 0;
  string::make_at(&empty, 1);
  const int out_of_range = error_code(Err::ScriptOutOfRange);
  const int bad_to = error_code(Err::ScriptBadToArg);
  struct {
    Cell spec;
    int code;
  } errors[] = {
      {I(0x110000), out_of_range}, {I(-1), out_of_range}, {F(1114112.0), out_of_range},
      {F(-1.0), out_of_range},     {F(1e300), out_of_range}, {F(std::nan("")), out_of_range},
      {empty, bad_to},             {binary_of({}), bad_to},  {binary_of({0xC3}), bad_to},
      {datatype::g_none, bad_to},
  };
  for (auto& e : errors) EXPECT_EQ(error_of([&] { char_::make(&proto, &e.spec, T_CHAR); }), e.code);
}

// ---------------------------------------------------------------------------
// Text

std::string formed(const Cell& v, bool mold, i32* left = nullptr) {
  Cell out;
  out.header = 0;
  string::make_at(&out, 16);
  i32 r = mold ? (v.is(T_CHAR) ? char_::mold(&v, &out, {}, 100)
                               : integer::mold(&v, &out, {}, 100))
               : (v.is(T_CHAR) ? char_::form(&v, &out, nullptr, 100) : integer::form(&v, &out, nullptr, 100));
  if (left) *left = r;
  return string::to_utf8(&out);
}

TEST(IntegerText, FormsAndMolds) {
  test::ensure_runtime();
  struct {
    i32 v;
    const char* text;
  } cases[] = {{0, "0"}, {-5, "-5"}, {7, "7"}, {integer::kMax, "2147483647"}, {integer::kMin, "-2147483648"},
               {-10, "-10"}, {1000000, "1000000"}};
  for (auto& c : cases) {
    i32 left;
    EXPECT_EQ(formed(I(c.v), false, &left), c.text);
    EXPECT_EQ(left, 100 - i32(std::strlen(c.text)));
    EXPECT_EQ(formed(I(c.v), true), c.text);
  }
}

TEST(CharText, FormsAndMolds) {
  test::ensure_runtime();
  struct {
    u32 cp;
    const char* form;
    const char* mold;
  } cases[] = {
      {'a', "a", "#\"a\""},       {'\n', "\n", "#\"^/\""},   {'\t', "\t", "#\"^-\""},
      {0, "", "#\"^@\""},        {0x1E, "\x1E", "#\"^(1E)\""},
      {0x7F, "\x7F", "#\"^~\""},  {0xE9, "\xC3\xA9", "#\"\xC3\xA9\""},
      {0x85, "\xC2\x85", "#\"^(85)\""}, {'"', "\"", "#\"^\"\""}, {'^', "^", "#\"^^\""},
  };
  for (auto& c : cases) {
    if (c.cp != 0) {
      EXPECT_EQ(formed(C(c.cp), false), c.form) << c.cp;
    }
    i32 left;
    std::string m = formed(C(c.cp), true, &left);
    EXPECT_EQ(m, c.mold) << c.cp;
  }
  i32 left;
  formed(C('a'), true, &left);
  EXPECT_EQ(left, 96);
  formed(C('a'), false, &left);
  EXPECT_EQ(left, 99);
  EXPECT_EQ(formed(C(0), false).size(), 1u);
}

// ---------------------------------------------------------------------------
// Registration

TEST(IntegerRegistry, CharInheritsFromInteger) {
  integer::register_type();
  char_::register_type();
  using namespace actions;
  EXPECT_EQ(get<kAdd>(T_INTEGER), &integer::add);
  EXPECT_EQ(get<kAdd>(T_CHAR), &char_::add);
  EXPECT_EQ(get<kAbsolute>(T_CHAR), &integer::absolute);
  EXPECT_EQ(get<kEven>(T_CHAR), &integer::even);
  EXPECT_EQ(get<kTo>(T_CHAR), &char_::make);
  EXPECT_EQ(raw(T_CHAR, kNegate), nullptr);
  EXPECT_EQ(raw(T_CHAR, kRound), nullptr);
  EXPECT_EQ(raw(T_INTEGER, kAppend), nullptr);
  EXPECT_STREQ(datatype::type_name(T_CHAR), "char!");
}

}  // namespace
}  // namespace zot

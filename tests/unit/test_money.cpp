// money!: the digit-by-digit arithmetic and its limits, currencies, rounding
// modes at their ties, comparison, conversions, text and paths, called the way
// the dispatch calls them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "datatypes/money.h"
#include "runtime/services.h"
#include "runtime/symbol.h"
#include "tests/unit/series_fixture.h"

namespace zot {
namespace {

struct MoneyTest : ::testing::Test {
  void SetUp() override {
    static bool done = false;
    test::ensure_runtime();
    if (done) return;
    done = true;
    money::register_type();
  }
};

Cell I(i32 v) { return test::int_cell(v); }
Cell F(double d) {
  Cell c;
  return *set_float(&c, d);
}
Cell Word(const char* text) {
  Cell c;
  return *make_cell(&c, T_WORD, 0, symbol::make(text), 0);
}
// A money value from its source text.
Cell M(const char* text) {
  Cell c;
  set_unset(&c);
  bool ok = money::scan_text(text, std::strlen(text), &c);
  EXPECT_TRUE(ok) << text;
  return c;
}

Cell Str(const char* text) {
  Cell c;
  set_unset(&c);
  return *string::make_from_utf8(&c, text, std::strlen(text));
}

std::string formed(const Cell& v) { return test::form_text(v); }
std::string molded(const Cell& v, bool all = false) { return test::mold_text(v, false, all); }

int error_of(std::function<void()> fn) { return test::error_code_of(fn); }
int code(Err e) { return error_code(e); }

Cell math(void (*f)(), const Cell& a, const Cell& b) { return test::run_frame(f, {a, b}); }

Cell made(bool make, const Cell& spec) {
  Cell s = spec;
  return make ? *money::make(nullptr, &s, T_MONEY) : *money::to(nullptr, &s, T_MONEY);
}

Cell rounded(const Cell& v, const Cell* scale, const char* mode) {
  Cell r = v;
  Cell s = scale ? *scale : I(0);
  std::string m = mode;
  money::round(&r, test::round_options(scale ? &s : nullptr, m));
  return r;
}

i32 digits_setting = 2;
const Cell* digits_source() {
  static Cell c;
  return set_integer(&c, digits_setting);
}

// ---------------------------------------------------------------------------

TEST_F(MoneyTest, FormsAndMolds) {
  const struct {
    const char* source;
    const char* form;
    const char* mold;
    const char* mold_all;
  } cases[] = {
      {"$1234.5", "$1'234.50", "$1234.50", "$1234.50000"},
      {"-EUR$12", "-EUR$12.00", "-EUR$12.00", "-EUR$12.00000"},
      {"$0.1", "$0.10", "$0.10", "$0.10000"},
      {"$0.00999", "$0.00", "$0.00", "$0.00999"},
      {"-$0", "$0.00", "$0.00", "$0.00000"},
      {"$12'345'678'901'234'567.12345", "$12'345'678'901'234'567.12", "$12345678901234567.12",
       "$12345678901234567.12345"},
      {"$999999", "$999'999.00", "$999999.00", "$999999.00000"},
      {"usd$007,5", "USD$7.50", "USD$7.50", "USD$7.50000"},
  };
  for (const auto& c : cases) {
    Cell m = M(c.source);
    EXPECT_EQ(formed(m), c.form) << c.source;
    EXPECT_EQ(molded(m), c.mold) << c.source;
    EXPECT_EQ(molded(m, true), c.mold_all) << c.source;
  }
  g_services.money_digits = digits_source;
  digits_setting = 0;
  EXPECT_EQ(formed(M("$1234.5")), "$1'234");
  digits_setting = 9;
  EXPECT_EQ(formed(M("$1234.5")), "$1'234.50000");
  digits_setting = -1;
  EXPECT_EQ(molded(M("$1.5")), "$1");
  g_services.money_digits = nullptr;

  Cell out;
  set_unset(&out);
  string::make_at(&out, 16);
  Cell m = M("$1234.5");
  EXPECT_EQ(money::form(&m, &out, nullptr, 50), 50 - 9);
}

TEST_F(MoneyTest, LexerMakerAndTextScanner) {
  Cell c;
  set_unset(&c);
  ASSERT_NE(money::from_text(&c, 1, "GBP", "1'000", 5, "2599999", 7), nullptr);
  EXPECT_EQ(molded(c, true), "-GBP$1000.25999");
  set_unset(&c);
  EXPECT_EQ(money::from_text(&c, 0, "XYZ", "1", 1, "", 0), nullptr);
  EXPECT_TRUE(c.is(T_UNSET));
  EXPECT_EQ(money::from_text(&c, 0, nullptr, "123456789012345678", 18, "", 0), nullptr);
  EXPECT_NE(money::from_text(&c, 0, nullptr, "000012345678901234567", 21, "", 0), nullptr);

  const char* refused[] = {"$", "1", "$.5", "$'1", "$1''0", "$1'", "$1.", "$1.123456", "XYZ$1",
                           "$1x", "US$1", "$1.5.5", "$123456789012345678", "$1.2'3"};
  for (const char* t : refused) {
    set_unset(&c);
    EXPECT_FALSE(money::scan_text(t, std::strlen(t), &c)) << t;
  }
  EXPECT_EQ(money::currency_index(symbol::make("usd")), 155);
  EXPECT_EQ(money::currency_index(symbol::make("ZOT")), 123);
  EXPECT_EQ(money::currency_index(symbol::make("dollar")), -1);
}

TEST_F(MoneyTest, Arithmetic) {
  struct Case {
    void (*op)();
    Cell a;
    Cell b;
    const char* result;  // mold/all
  };
  const Case cases[] = {
      {money::add, M("$0.1"), M("$0.2"), "$0.30000"},
      {money::add, M("$99999999999999998"), I(1), "$99999999999999999.00000"},
      {money::add, M("-$5"), M("$3.25"), "-$1.75000"},
      {money::add, M("$5"), M("-$5"), "$0.00000"},
      {money::add, M("USD$1"), M("$1"), "USD$2.00000"},
      {money::add, M("$1"), M("USD$1"), "USD$2.00000"},
      {money::add, M("$0"), M("EUR$1"), "EUR$1.00000"},
      {money::add, M("$1"), F(1.123456), "$2.12345"},
      {money::subtract, M("$1"), M("$3.5"), "-$2.50000"},
      {money::subtract, I(10), M("$0.00001"), "$9.99999"},
      {money::multiply, I(2), M("$3"), "$6.00000"},
      {money::multiply, M("$3"), F(2.5), "$7.50000"},
      {money::multiply, M("-$3"), I(-2), "$6.00000"},
      {money::multiply, M("$0.00001"), F(0.5), "$0.00000"},
      {money::multiply, M("$200"), F(0.5), "$100.00000"},
      {money::multiply, M("$99999999999999999"), I(1), "$99999999999999999.00000"},
      {money::divide, M("$1"), I(3), "$0.33333"},
      {money::divide, M("-$1"), I(3), "-$0.33333"},
      {money::divide, M("$0"), I(3), "$0.00000"},
      {money::divide, M("$1"), M("$0.00001"), ""},  // a float
      {money::divide, M("$10000000000000000"), F(0.5), "$20000000000000000.00000"},
      {money::remainder, M("$10"), M("$4"), "$2.00000"},
      {money::remainder, M("-$10"), M("$4"), "-$2.00000"},
      {money::remainder, M("$10"), M("-$4"), "$2.00000"},
      {money::remainder, M("$7.5"), I(2), "$1.50000"},
  };
  for (const auto& c : cases) {
    Cell r = math(c.op, c.a, c.b);
    if (!*c.result) continue;
    EXPECT_EQ(molded(r, true), c.result) << c.result;
  }
  Cell percent = F(0.5);
  set_type(&percent, T_PERCENT);
  EXPECT_EQ(molded(math(money::multiply, M("$200"), percent)), "$100.00");
  EXPECT_EQ(molded(math(money::divide, M("$1"), I(3))), "$0.33");

  // Money by money is a ratio.
  Cell q = math(money::divide, M("$10"), M("$4"));
  ASSERT_TRUE(q.is(T_FLOAT));
  EXPECT_EQ(q.float_value(), 2.5);
  EXPECT_EQ(math(money::divide, M("$1"), M("$0.00001")).float_value(), 100000.0);
  // $0.1 + $0.2 is exactly $0.3.
  Cell sum = math(money::add, M("$0.1"), M("$0.2"));
  Cell three = M("$0.3");
  EXPECT_EQ(std::memcmp(&sum, &three, sizeof sum), 0);
}

TEST_F(MoneyTest, ArithmeticFailures) {
  struct Case {
    void (*op)();
    Cell a;
    Cell b;
    Err e;
  };
  const Case cases[] = {
      {money::add, M("$99999999999999999"), M("$1"), Err::ScriptTypeLimit},
      {money::subtract, M("-$99999999999999999.99999"), M("$0.00001"), Err::ScriptTypeLimit},
      {money::multiply, M("$99999999999"), M("$99999999999"), Err::ScriptInvalidType},
      {money::multiply, M("$99999999999"), I(99999999), Err::ScriptTypeLimit},
      {money::multiply, M("$10000000000000000"), I(10), Err::ScriptTypeLimit},
      {money::divide, M("$99999999999999999"), F(0.5), Err::ScriptTypeLimit},
      {money::divide, M("$1"), I(0), Err::MathZeroDivide},
      {money::divide, M("$1"), M("$0"), Err::MathZeroDivide},
      {money::remainder, M("$1"), M("-$0"), Err::MathZeroDivide},
      {money::add, M("USD$1"), M("EUR$1"), Err::ScriptWrongDenom},
      {money::remainder, M("USD$1"), M("EUR$1"), Err::ScriptWrongDenom},
      {money::divide, I(10), M("$2"), Err::ScriptInvalidType},
      {money::remainder, F(10), M("$2"), Err::ScriptInvalidType},
      {money::add, M("$1"), Word("x"), Err::ScriptInvalidType},
      {money::add, M("$1"), F(1e17), Err::ScriptBadMakeArg},
      {money::add, M("$1"), F(1e-6), Err::ScriptBadMakeArg},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { math(c.op, c.a, c.b); }), code(c.e)) << molded(c.a);
  }
}

TEST_F(MoneyTest, RoundingModesAtTies) {
  struct Case {
    const char* value;
    const char* mode;
    const char* result;
  };
  const Case cases[] = {
      {"$2.5", "", "$3.00"},           {"-$2.5", "", "-$3.00"},          {"$2.49999", "", "$2.00"},
      {"$2.5", "even", "$2.00"},       {"$3.5", "even", "$4.00"},        {"-$2.5", "even", "-$2.00"},
      {"$2.6", "even", "$3.00"},       {"$2.5", "half-down", "$2.00"},   {"$2.50001", "half-down", "$3.00"},
      {"$2.5", "half-ceiling", "$3.00"}, {"-$2.5", "half-ceiling", "-$2.00"}, {"-$2.6", "half-ceiling", "-$3.00"},
      {"$2.9", "down", "$2.00"},       {"-$2.9", "down", "-$2.00"},      {"$2.1", "floor", "$2.00"},
      {"-$2.1", "floor", "-$3.00"},    {"$2.1", "ceiling", "$3.00"},     {"-$2.1", "ceiling", "-$2.00"},
      {"$2", "ceiling", "$2.00"},      {"-$2", "floor", "-$2.00"},       {"EUR$2.5", "", "EUR$3.00"},
      {"$0", "ceiling", "$0.00"},      {"$99999999999999999.5", "down", "$99999999999999999.00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(molded(rounded(M(c.value), nullptr, c.mode)), c.result) << c.value << " " << c.mode;
  }
  // Scales: ties of any scale follow the mode.
  struct ScaleCase {
    const char* value;
    Cell scale;
    const char* mode;
    const char* result;
  };
  const ScaleCase scaled[] = {
      {"$1.2345", M("$0.01"), "", "$1.23000"},   {"$1.235", M("$0.01"), "", "$1.24000"},
      {"$1.235", M("$0.01"), "even", "$1.24000"}, {"$1.245", M("$0.01"), "even", "$1.24000"},
      {"$1.235", M("$0.01"), "half-down", "$1.23000"}, {"$17", I(5), "", "$15.00000"},
      {"$17.5", I(5), "", "$20.00000"},          {"$25", I(10), "even", "$20.00000"},
      {"$35", I(10), "even", "$40.00000"},       {"$1.23456", F(0.001), "down", "$1.23400"},
      {"$7", M("-$2"), "", "$8.00000"},          {"$7", M("$0"), "", "$7.00000"},
  };
  for (const auto& c : scaled) {
    EXPECT_EQ(molded(rounded(M(c.value), &c.scale, c.mode), true), c.result) << c.value << " " << c.mode;
  }
  Cell text = Word("x");
  EXPECT_EQ(error_of([&] { rounded(M("$1"), &text, ""); }), code(Err::ScriptNotRelated));
  Cell bad = F(0.000001);
  EXPECT_EQ(error_of([&] { rounded(M("$1"), &bad, ""); }), code(Err::ScriptBadMakeArg));
  EXPECT_EQ(error_of([] { rounded(M("$99999999999999999.5"), nullptr, ""); }), code(Err::ScriptTypeLimit));
}

TEST_F(MoneyTest, Compare) {
  using namespace actions;
  struct Case {
    Cell a;
    Cell b;
    i32 op;
    i32 result;
  };
  const Case cases[] = {
      {M("$1"), M("$1.00"), kEqual, 0},
      {M("$1"), M("$1.00001"), kLesser, -1},
      {M("-$2"), M("-$1"), kLesser, -1},
      {M("-$0"), M("$0"), kEqual, 0},
      {M("-$1"), M("$0"), kLesser, -1},
      {M("USD$1"), M("$1"), kEqual, 0},
      {M("USD$1"), M("EUR$1"), kEqual, 1},
      {M("USD$1"), M("$1"), kStrictEqual, 1},
      {M("USD$1"), M("USD$1"), kSame, 0},
      {M("USD$1"), M("$1"), kFindEqual, 0},
      {M("$1"), M("USD$1"), kFindEqual, 1},
      {M("USD$1"), M("$2"), kLesser, -1},
      {M("$5"), M("AED$1"), kSortOrder, -1},
      {M("USD$0"), M("AED$1"), kSortOrder, 1},
      {M("USD$1"), M("USD$2"), kSortOrder, -1},
      {M("$3"), I(3), kEqual, 0},
      {M("$3"), I(2), kGreater, 1},
      {M("-$3"), I(-2147483647 - 1), kGreater, 1},
      {M("$3"), I(3), kStrictEqual, 1},
      {M("$1.5"), F(1.5), kEqual, 0},
      {M("$1"), F(1e20), kLesser, -1},
      {M("$1"), F(-1e20), kGreater, 1},
      {M("$0"), F(1e-6), kLesser, -1},
      {M("$0"), F(-1e-6), kGreater, 1},
      {M("-$1"), F(1e-6), kLesser, -1},
      {M("$1"), Word("x"), kEqual, kNotComparable},
      {M("$1"), Word("x"), kStrictEqual, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(money::compare(&c.a, &c.b, c.op), c.result) << molded(c.a) << " op " << c.op;
  }
  Cell nan = F(std::nan("")), one = M("$1");
  EXPECT_EQ(money::compare(&one, &nan, kEqual), kNotComparable);
  Cell usd = M("USD$1"), eur = M("EUR$2");
  EXPECT_EQ(error_of([&] { money::compare(&usd, &eur, kLesser); }), code(Err::ScriptWrongDenom));
  Cell fine = F(1.123456);
  EXPECT_EQ(error_of([&] { money::compare(&one, &fine, kEqual); }), code(Err::ScriptBadMakeArg));
}

TEST_F(MoneyTest, Conversions) {
  Cell pos = M("$12.99");
  EXPECT_EQ(money::to_integer(&pos), 12);
  Cell neg = M("-$12.99"), big = M("$3000000000"), low = M("-$2147483648.9");
  EXPECT_EQ(money::to_integer(&neg), -12);
  EXPECT_EQ(money::to_integer(&low), -2147483647 - 1);
  EXPECT_EQ(error_of([&] { money::to_integer(&big); }), code(Err::ScriptTypeLimit));

  Cell c;
  set_unset(&c);
  EXPECT_EQ(molded(*money::from_integer_at(&c, -2147483647 - 1)), "-$2147483648.00");
  EXPECT_EQ(molded(*money::from_integer_at(&c, 2147483647)), "$2147483647.00");
  Cell tenth = M("$0.1"), tiny = M("-$0.00001"), huge = M("$99999999999999999.99999");
  EXPECT_EQ(money::to_float(&tenth), 0.1);
  EXPECT_EQ(money::to_float(&tiny), -0.00001);
  EXPECT_EQ(money::to_float(&huge), 1e17);

  EXPECT_TRUE(money::float_too_big(1e17));
  EXPECT_TRUE(money::float_too_big(-INFINITY));
  EXPECT_FALSE(money::float_too_big(99999999999999984.0));
  EXPECT_TRUE(money::float_too_small(-9e-6));
  EXPECT_FALSE(money::float_too_small(0.0));
  EXPECT_TRUE(money::float_in_range(1e-5));

  // to and make: strict floats, text, integers.
  EXPECT_EQ(molded(made(false, F(1.5)), true), "$1.50000");
  EXPECT_EQ(molded(made(false, F(-0.00001)), true), "-$0.00001");
  EXPECT_EQ(molded(made(false, I(-7))), "-$7.00");
  EXPECT_EQ(molded(made(false, Str("-USD$1'000.5"))), "-USD$1000.50");
  EXPECT_EQ(molded(made(true, Word("eur"))), "EUR$0.00");
  const Cell bad_to[] = {F(1.123456), F(1e17), F(1e-6), F(std::nan("")), Str("abc"),
                         Str(" $1"), Word("x")};
  for (const Cell& v : bad_to) {
    int e = error_of([&] { made(false, v); });
    EXPECT_TRUE(e == code(Err::ScriptBadMakeArg) || e == code(Err::ScriptBadToArg)) << e;
  }
  EXPECT_EQ(error_of([] { made(false, Str("$1x")); }), code(Err::ScriptBadToArg));
  EXPECT_EQ(error_of([] { made(false, F(1.123456)); }), code(Err::ScriptBadMakeArg));

  // make with a spec block.
  EXPECT_EQ(molded(made(true, test::block_of({Word("USD"), I(1), I(50)})), true), "USD$1.00050");
  EXPECT_EQ(molded(made(true, test::block_of({I(-1), I(50000)})), true), "-$1.50000");
  EXPECT_EQ(molded(made(true, test::block_of({F(2.25)})), true), "$2.25000");
  const Cell bad_specs[] = {test::block_of({}),
                            test::block_of({Word("USD")}),
                            test::block_of({Word("XYZ"), I(1)}),
                            test::block_of({F(1.5), I(1)}),
                            test::block_of({I(1), I(100000)}),
                            test::block_of({I(1), I(-1)}),
                            test::block_of({I(1), I(1), I(1)}),
                            test::block_of({Word("USD"), I(1), I(1), I(1)}),
                            test::block_of({Str("1")})};
  for (const Cell& b : bad_specs) EXPECT_EQ(error_of([&] { made(true, b); }), code(Err::ScriptBadMakeArg));
  EXPECT_EQ(error_of([] { made(true, Word("XYZ")); }), code(Err::ScriptBadMakeArg));

  // The binary decoders' maker gives back the packed digits.
  Cell m = M("-USD$12345678901234567.89012");
  u8 bytes[16];
  std::memcpy(bytes, &m, 16);
  set_unset(&c);
  money::init_cell(&c, 1, bytes[4], bytes + 5);
  EXPECT_EQ(std::memcmp(&c, &m, 16), 0);
}

TEST_F(MoneyTest, SignsPathsAndParity) {
  Cell zero = M("$0");
  money::negate(&zero);
  EXPECT_EQ(money::sign(&zero), 0);
  EXPECT_FALSE(money::below_zero(&zero));
  EXPECT_EQ(formed(zero), "$0.00");
  Cell neg = M("-EUR$3.5");
  EXPECT_TRUE(money::below_zero(&neg));
  Cell abs = test::run_frame(money::absolute, {neg});
  EXPECT_EQ(molded(abs), "EUR$3.50");
  money::set_currency(&abs, 0);
  EXPECT_EQ(molded(abs), "$3.50");

  EXPECT_TRUE(money::even(&neg) == false);
  Cell two = M("$2.9"), three = M("$3");
  EXPECT_TRUE(money::even(&two));
  EXPECT_TRUE(money::odd(&three));

  Cell usd = M("USD$1.25");
  Cell* top = stack::g_top;
  Cell code_word = Word("code"), amount_word = Word("Amount"), one = I(1), two_i = I(2);
  Cell* c = money::eval_path(&usd, &code_word, nullptr, {.path = &code_word, .get = true});
  ASSERT_TRUE(c->is(T_WORD));
  EXPECT_STREQ(symbol::name_text(c->w2), "USD");
  EXPECT_EQ(molded(*money::eval_path(&usd, &amount_word, nullptr, {.path = &amount_word, .get = true})), "$1.25");
  EXPECT_EQ(molded(*money::pick(&usd, 2, &two_i)), "$1.25");
  EXPECT_EQ(money::pick(&usd, 1, &one)->w2, c->w2);
  Cell plain = M("$1");
  EXPECT_TRUE(money::pick(&plain, 1, &one)->is(T_NONE));
  stack::g_top = top;
  Cell other = Word("cents"), three_i = I(3);
  EXPECT_EQ(error_of([&] { money::eval_path(&usd, &other, nullptr, {.path = &other, .get = true}); }),
            code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_of([&] { money::eval_path(&usd, &code_word, &one, {.path = &code_word}); }),
            code(Err::ScriptBadPathSet));
  EXPECT_EQ(error_of([&] { money::pick(&usd, 3, &three_i); }), code(Err::ScriptOutOfRange));
}

}  // namespace
}  // namespace zot

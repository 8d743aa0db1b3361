#include "runtime/dtoa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

using namespace zot;

std::string text(double v, int digits, bool keep_point) {
  int len = -1;
  const char* t = dtoa::float_to_text(v, digits, keep_point, &len);
  EXPECT_EQ(len, int(std::strlen(t)));
  return std::string(t, len);
}

double read(const std::string& s, int adjust = 0, int* unread = nullptr) {
  return dtoa::text_to_float(s.data(), s.data() + s.size(), adjust, unread);
}

u64 bits(double v) {
  u64 b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

struct TextCase {
  double value;
  int digits;
  bool keep_point;
  const char* expected;
};

TEST(Dtoa, FloatToTextLayout) {
  const double inf = std::numeric_limits<double>::infinity();
  const TextCase cases[] = {
      // shortest round-trip digits, point kept (mold of float!)
      {0.1, 0, true, "0.1"},
      {0.30000000000000004, 0, true, "0.30000000000000004"},
      {1.0, 0, true, "1.0"},
      {-0.0, 0, true, "-0.0"},
      {0.0, 0, true, "0.0"},
      {123456789012345680.0, 0, true, "1.2345678901234568e17"},
      {1e-7, 0, true, "0.0000001"},
      {1e16, 0, true, "10000000000000000.0"},
      {1e-8, 0, true, "1.0e-8"},
      {1e17, 0, true, "1.0e17"},
      {1e20, 0, true, "1.0e20"},
      {-2.5e-10, 0, true, "-2.5e-10"},
      {100.0, 0, true, "100.0"},
      {-123.456, 0, true, "-123.456"},
      {0.001234, 0, true, "0.001234"},
      {5e-324, 0, true, "5.0e-324"},
      {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
      {99999999999999990.0, 0, true, "99999999999999980.0"},
      // specials and zero
      {inf, 0, true, "1.#INF"},
      {-inf, 0, true, "-1.#INF"},
      {std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
      {-std::numeric_limits<double>::quiet_NaN(), 0, false, "1.#NaN"},
      {0.0, 6, false, "0"},
      {-0.0, 6, false, "-0"},
      // no kept point
      {100.0, 0, false, "100"},
      {1e20, 0, false, "1e20"},
      {1.5e20, 0, false, "1.5e20"},
      // six significant digits (seconds of time!)
      {0.000012345678, 6, false, "0.0000123457"},
      {1234567.0, 6, false, "1234570"},
      {59.9999999, 6, false, "60"},
      {1.5, 6, false, "1.5"},
      {12.3456789, 6, false, "12.3457"},
      {1e-9, 6, false, "1e-9"},
      {0.125, 2, false, "0.12"},  // ties go to even
      {0.375, 2, false, "0.38"},
      {0.1, 20, true, "0.10000000000000000555"},
      {1e23, 30, true, "9.9999999999999991611392e22"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text(c.value, c.digits, c.keep_point), c.expected)
        << "value " << c.value << " digits " << c.digits << " keep " << c.keep_point;
  }
}

TEST(Dtoa, DigitsStep) {
  dtoa::Digits d;
  dtoa::float_to_digits(-1234.5, 0, &d);
  EXPECT_STREQ(d.digits, "12345");
  EXPECT_EQ(d.count, 5);
  EXPECT_EQ(d.decpt, 4);
  EXPECT_TRUE(d.negative);

  dtoa::float_to_digits(0.000999996, 4, &d);  // rounding carries into a new digit
  EXPECT_STREQ(d.digits, "1");
  EXPECT_EQ(d.decpt, -2);

  dtoa::float_to_digits(-std::numeric_limits<double>::infinity(), 0, &d);
  EXPECT_EQ(d.decpt, dtoa::kDecptSpecial);
  EXPECT_TRUE(d.negative);
  dtoa::float_to_digits(-0.0, 0, &d);
  EXPECT_EQ(d.decpt, dtoa::kDecptZero);
  EXPECT_TRUE(d.negative);

  // A huge digit count yields the exact expansion: 2^-1074 has 751 digits.
  dtoa::float_to_digits(5e-324, 100000, &d);
  EXPECT_EQ(d.count, 751);
  EXPECT_EQ(std::strncmp(d.digits, "4940656458412465441765687928682213723650", 40), 0);
  EXPECT_EQ(d.decpt, -323);
  EXPECT_EQ(text(5e-324, 100000, true).size(), 751u + 6u);  // "d." + 750 + "e-324"
}

struct ReadCase {
  const char* text;
  int adjust;
  double expected;
  int unread;
};

TEST(Dtoa, TextToFloat) {
  const double inf = std::numeric_limits<double>::infinity();
  const ReadCase cases[] = {
      {"0.1", 0, 0.1, 0},
      {"+12.5", 0, 12.5, 0},
      {"-12.5", 0, -12.5, 0},
      {"0.30000000000000004", 0, 0.30000000000000004, 0},
      {"000123.4500", 0, 123.45, 0},
      {".5", 0, 0.5, 0},
      {"5.", 0, 5.0, 0},
      {"1e10", 0, 1e10, 0},
      {"1E+10", 0, 1e10, 0},
      {"2.5e-3", 0, 0.0025, 0},
      {"1e400", 0, inf, 0},
      {"-1e400", 0, -inf, 0},
      {"1e-400", 0, 0.0, 0},
      {"1.7976931348623157e308", 0, 1.7976931348623157e308, 0},
      {"1.7976931348623159e308", 0, inf, 0},  // rounds past the largest double
      {"4.9406564584124654e-324", 0, 5e-324, 0},
      {"2.4703282292062328e-324", 0, 5e-324, 0},  // just above half the least subnormal
      {"123456789012345680", 0, 123456789012345680.0, 0},
      // exponents far beyond 32 bits never wrap
      {"1e99999999999999999999", 0, inf, 0},
      {"1e-99999999999999999999", 0, 0.0, 0},
      {"1e4294967297", 0, inf, 0},
      {"1e-4294967297", 0, 0.0, 0},
      {"0.0000000000000000000000000000000000000001e40", 0, 1.0, 0},
      // the adjustment is applied before rounding
      {"12.5", -2, 0.125, 0},
      {"50", -2, 0.5, 0},
      {"0.3", -2, 0.003, 0},
      {"1e-321", -2, 1e-323, 0},
      // zeros
      {"0", 0, 0.0, 0},
      {"-0", 0, 0.0, 0},
      {"-000", 0, 0.0, 0},
      {"0.0", 0, 0.0, 0},
      {"", 0, 0.0, 0},
      // what reading leaves over
      {"1.5x", 0, 1.5, 1},
      {"2e", 0, 2.0, 1},
      {"2e+", 0, 2.0, 2},
      {"3e5z9", 0, 3e5, 2},
  };
  for (const auto& c : cases) {
    int unread = -1;
    double v = read(c.text, c.adjust, &unread);
    EXPECT_EQ(bits(v), bits(c.expected)) << c.text << " adjust " << c.adjust << " gave " << v;
    EXPECT_EQ(unread, c.unread) << c.text;
  }
  EXPECT_EQ(bits(read("-0")), bits(0.0));    // a lone zero loses its sign
  EXPECT_EQ(bits(read("-0.0")), bits(-0.0));  // as molded -0.0 reads back
  EXPECT_EQ(bits(read("-1e-400")), bits(-0.0));
  EXPECT_EQ(bits(read("0.125", 0)), bits(read("12.5", -2)));
  const char seven[] = "7";
  EXPECT_EQ(dtoa::text_to_float(seven, seven + 1, 0, nullptr), 7.0);  // unread may be left out
}

TEST(Dtoa, SpecialTexts) {
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    const char* text;
    double expected;
  } cases[] = {{"1.#INF", inf}, {"-1.#INF", -inf}, {"+1.#inf", inf}, {"1.#Inf", inf}};
  for (const auto& c : cases) {
    int unread = -1;
    EXPECT_EQ(read(c.text, 0, &unread), c.expected) << c.text;
    EXPECT_EQ(unread, 0) << c.text;
  }
  for (const char* t : {"1.#NaN", "1.#nan", "-1.#NAN"}) {
    int unread = -1;
    EXPECT_TRUE(std::isnan(read(t, 0, &unread))) << t;
    EXPECT_EQ(unread, 0) << t;
  }
  // Two integer digits are no special: reading stops at the ".".
  int unread = -1;
  EXPECT_EQ(read("12.#INF", 0, &unread), 12.0);
  EXPECT_EQ(unread, 4);  // "12." is read
}

TEST(Dtoa, LongDigitStringsRoundCorrectly) {
  // The midpoint between 1 and the next double, written out exactly, is a
  // tie that goes to 1.0; any non-zero digit far beyond it must round up.
  std::string half = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(read(half), 1.0);
  std::string above = half + std::string(900, '0') + "1";
  EXPECT_EQ(read(above), std::nextafter(1.0, 2.0));
  std::string below = "1.00000000000000011102230246251565404236316680908203124" + std::string(900, '9');
  EXPECT_EQ(read(below), 1.0);
  // Many integer digits: the digits beyond the kept ones still count as powers.
  std::string big = "1" + std::string(1000, '0');
  EXPECT_EQ(read(big), std::numeric_limits<double>::infinity());
  std::string ten22 = "1" + std::string(22, '0');
  EXPECT_EQ(read(ten22), 1e22);
  std::string tiny = "0." + std::string(1000, '0') + "1e1005";
  EXPECT_EQ(read(tiny), 1e4);
}

TEST(Dtoa, RandomTextsMatchCorrectRounding) {
  // The C library's strtod is correctly rounded too; the adjustment must
  // give the same double as writing the shifted exponent directly.
  std::mt19937 rng(7);
  for (int i = 0; i < 50000; i++) {
    std::string digits;
    int nd = 1 + int(rng() % 25);
    for (int k = 0; k < nd; k++) digits += char('0' + rng() % 10);
    int point = int(rng() % (nd + 1));
    int exp = int(rng() % 660) - 340;
    int adjust = (rng() & 1) ? -2 : 0;
    std::string s = digits.substr(0, point) + "." + digits.substr(point) + "e" + std::to_string(exp);
    std::string shifted = digits.substr(0, point) + "." + digits.substr(point) + "e" + std::to_string(exp + adjust);
    double expected = std::strtod(shifted.c_str(), nullptr);
    ASSERT_EQ(bits(read(s, adjust)), bits(expected)) << s << " adjust " << adjust;
  }
}

TEST(Dtoa, RandomBitPatternsRoundTrip) {
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 200000; i++) {
    u64 b = rng();
    double v;
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v)) continue;
    for (bool keep : {true, false}) {
      int len = 0;
      const char* t = dtoa::float_to_text(v, 0, keep, &len);
      std::string s(t, len);
      int unread = -1;
      double back = dtoa::text_to_float(s.data(), s.data() + s.size(), 0, &unread);
      ASSERT_EQ(unread, 0) << s;
      if (v == 0.0 && !keep) continue;  // "-0" reads as +0.0
      ASSERT_EQ(bits(back), b) << s;
    }
    // 17 significant digits always identify a double.
    int len = 0;
    const char* t = dtoa::float_to_text(v, 17, true, &len);
    ASSERT_EQ(bits(dtoa::text_to_float(t, t + len, 0, nullptr)), b) << t;
  }
}

}  // namespace

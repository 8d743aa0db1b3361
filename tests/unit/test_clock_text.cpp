// The mold of every time! and date! loads back to the very same value: random
// times of every size and random dates in every zone, through the text.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/time.h"
#include "datatypes/float.h"
#include "datatypes/series.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

struct ClockText : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// The value the mold of v loads back to (none when it does not load).
Cell reloaded(const Cell& v, std::string* text) {
  *text = test::mold(v);
  Cell back;
  set_none(&back);
  test::error_code_of([&] {
    Cell code = test::load(*text);
    if (series::total_length(&code) == 1) back = *block::cell_at(&code, 0);
  });
  return back;
}

TEST_F(ClockText, TimesLoadBackExactly) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 4000; i++) {
    // Magnitudes from a microsecond to a thousand years, either sign.
    double s = unit(rng) * std::pow(10.0, double(rng() % 17) - 6.0);
    if (rng() % 4 == 0) s = std::floor(s);
    if (rng() % 2) s = -s;
    Cell t;
    set_float(&t, 0.0);
    time::make_at(&t, s);
    std::string text;
    Cell back = reloaded(t, &text);
    ASSERT_TRUE(back.is(T_TIME)) << text;
    EXPECT_EQ(float_::bits_of(back.float_value()), float_::bits_of(s)) << text;
  }
}

TEST_F(ClockText, DatesLoadBackExactlyInEveryZone) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> day(0.0, 86400.0);
  for (int i = 0; i < 4000; i++) {
    i32 zone_hours = i32(rng() % 31) - 15;
    i32 zone_minutes = i32(rng() % 4) * 15;
    if (zone_hours == 0 && rng() % 2) zone_minutes = -zone_minutes;
    double local = day(rng);
    if (rng() % 4 == 0) local = std::floor(local);
    Cell d;
    set_none(&d);
    date::make_at(&d, 1900 + i32(rng() % 300), 1 + i32(rng() % 12), 1 + i32(rng() % 28), local, zone_hours,
                  zone_minutes, true);
    std::string text;
    Cell back = reloaded(d, &text);
    ASSERT_TRUE(back.is(T_DATE)) << text;
    EXPECT_EQ(back.w1, d.w1) << text;
    EXPECT_EQ(float_::bits_of(date::time_of(&back)), float_::bits_of(date::time_of(&d))) << text;
  }
}

}  // namespace
}  // namespace zot

// date!: calendar arithmetic, normalisation across months, leap years and
// zones, weeks, the math with integers, times and dates, epoch seconds, text,
// comparison and paths, called the way the dispatch calls them.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "datatypes/date.h"
#include "datatypes/time.h"
#include "runtime/symbol.h"
#include "tests/unit/series_fixture.h"

namespace zot {
namespace {

struct DateTest : ::testing::Test {
  void SetUp() override {
    static bool done = false;
    test::ensure_runtime();
    if (done) return;
    done = true;
    time::register_type();
    date::register_type();
  }
};

Cell I(i32 v) { return test::int_cell(v); }
Cell Tm(double s) {
  Cell c;
  set_float(&c, 0.0);
  return *time::make_at(&c, s);
}
Cell Word(const char* text) {
  Cell c;
  return *make_cell(&c, T_WORD, 0, symbol::make(text), 0);
}
// A date with a local time of day and a zone (hours and minutes).
Cell D(i32 y, i32 m, i32 d, double local = -1, i32 zh = 0, i32 zm = 0) {
  Cell c;
  return *date::make_at(&c, y, m, d, local < 0 ? 0.0 : local, zh, zm, local >= 0);
}
double H(double h, double m = 0, double s = 0) { return h * 3600 + m * 60 + s; }

i64 epoch(const Cell& d) { return date::to_epoch(&d); }
i32 to_int(const Cell& d) { return date::to_integer(&d); }

std::string text(const Cell& v) { return test::form_text(v); }

int error_of(std::function<void()> fn) { return test::error_code_of(fn); }
int code(Err e) { return error_code(e); }

Cell to_date(const Cell& spec, bool make) {
  Cell s = spec;
  return make ? *date::make(nullptr, &s, T_DATE) : *date::to(nullptr, &s, T_DATE);
}

Cell math(void (*f)(), const Cell& a, const Cell& b) { return test::run_frame(f, {a, b}); }

Cell get(const Cell& d, const Cell& element) {
  Cell* top = stack::g_top;
  Cell v = d, e = element;
  Cell r = *date::eval_path(&v, &e, nullptr, {.path = &e, .get = true});
  stack::g_top = top;
  return r;
}
Cell set(const Cell& d, const char* field, const Cell& value) {
  Cell v = d, e = Word(field), n = value;
  date::eval_path(&v, &e, &n, {.path = &e});
  return v;
}

// ---------------------------------------------------------------------------

TEST_F(DateTest, DayNumbersRoundTripAndAgreeWithLeapYears) {
  EXPECT_EQ(date::day_number(1970, 1, 1), date::kEpochDay);
  EXPECT_EQ(date::day_number(0, 3, 1), 0);
  // Every day from 1 March of year -1200 to 2800: the word of a day number
  // gives back the day number, and days follow one another.
  i64 first = date::day_number(-1200, 3, 1), last = date::day_number(2800, 3, 1);
  u32 prev = date::word_of_days(first - 1, 0);
  for (i64 g = first; g < last; g++) {
    u32 w = date::word_of_days(g, 0);
    ASSERT_EQ(date::day_number(w), g) << g;
    i32 y = date::year_of(w), m = date::month_of(w), d = date::day_of(w);
    if (d == 1) {
      // The month before ended on its last day; February by the leap rule.
      static const int kLen[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      i32 pm = date::month_of(prev), py = date::year_of(prev);
      int len = kLen[pm - 1] + (pm == 2 && date::leap_year(py) ? 1 : 0);
      ASSERT_EQ(date::day_of(prev), len) << py << "-" << pm;
      ASSERT_EQ(m, pm % 12 + 1);
      ASSERT_EQ(y, pm == 12 ? py + 1 : py);
    } else {
      ASSERT_EQ(d, date::day_of(prev) + 1);
    }
    prev = w;
  }
  EXPECT_TRUE(date::leap_year(2000));
  EXPECT_FALSE(date::leap_year(1900));
  EXPECT_TRUE(date::leap_year(-4));
}

TEST_F(DateTest, ToRollsOverAndMakeRefuses) {
  struct Case {
    std::vector<i32> spec;
    const char* to;
    bool make_ok;
  };
  const Case cases[] = {
      {{31, 2, 2024}, "2-Mar-2024", false}, {{29, 2, 2023}, "1-Mar-2023", false},
      {{29, 2, 2024}, "29-Feb-2024", true}, {{29, 2, 1900}, "1-Mar-1900", false},
      {{29, 2, 2000}, "29-Feb-2000", true}, {{0, 3, 2024}, "29-Feb-2024", false},
      {{32, 12, 2023}, "1-Jan-2024", false}, {{1, 13, 2023}, "1-Jan-2024", false},
      {{1, 0, 2024}, "1-Dec-2023", false},  {{2024, 1, 15}, "15-Jan-2024", true},
      {{15, 1, 2024, 10, 30}, "15-Jan-2024/10:30:00", true},
      {{15, 1, 2024, 24, 0}, "16-Jan-2024/0:00:00", false},
      {{15, 1, 2024, 10, 60}, "15-Jan-2024/11:00:00", false},
      {{15, 1, 2024, 10, 30, 0, 5, 30}, "15-Jan-2024/10:30:00+05:30", true},
      {{15, 1, 2024, 10, 30, 0, -5}, "15-Jan-2024/10:30:00-05:00", true},
  };
  for (const auto& c : cases) {
    Cell spec = test::ints({});
    for (i32 v : c.spec) {
      Cell i = I(v);
      block::append_cell(&spec, &i);
    }
    EXPECT_EQ(text(to_date(spec, false)), c.to) << c.to;
    int e = error_of([&] { to_date(spec, true); });
    if (c.make_ok) {
      EXPECT_EQ(e, -1) << c.to;
      EXPECT_EQ(text(to_date(spec, true)), c.to);
    } else {
      EXPECT_EQ(e, code(Err::ScriptBadToArg)) << c.to;
    }
  }
  // Time and zone as time! values; a zone needs the second in the integer form.
  Cell spec = test::block_of({I(5), I(1), I(2024), Tm(H(10, 30)), Tm(-H(3, 30))});
  EXPECT_EQ(text(to_date(spec, true)), "5-Jan-2024/10:30:00-03:30");
  Cell bad[] = {test::block_of({I(5), I(1)}), test::block_of({I(5), I(1), I(2024), I(10), Tm(H(1))}),
                test::block_of({I(5), Tm(1), I(2024)}), test::block_of({I(1), I(1), I(20000)})};
  for (const Cell& b : bad) EXPECT_EQ(error_of([&] { to_date(b, false); }), code(Err::ScriptBadToArg));
  EXPECT_EQ(error_of([&] { to_date(Tm(5), false); }), code(Err::ScriptBadToArg));
  EXPECT_EQ(error_of([&] { to_date(I(5), true); }), code(Err::ScriptBadToArg));
}

TEST_F(DateTest, FieldSettersRollOver) {
  EXPECT_EQ(text(set(D(2024, 3, 1), "day", I(0))), "29-Feb-2024");
  EXPECT_EQ(text(set(D(2024, 1, 31), "day", I(32))), "1-Feb-2024");
  EXPECT_EQ(text(set(D(2024, 1, 15), "month", I(13))), "15-Jan-2025");
  EXPECT_EQ(text(set(D(2024, 1, 15), "month", I(0))), "15-Dec-2023");
  EXPECT_EQ(text(set(D(2024, 1, 15), "month", I(-12))), "15-Dec-2022");
  EXPECT_EQ(text(set(D(2024, 1, 31), "month", I(2))), "2-Mar-2024");
  EXPECT_EQ(text(set(D(2023, 1, 31), "month", I(2))), "3-Mar-2023");
  EXPECT_EQ(text(set(D(2024, 2, 29), "year", I(2023))), "1-Mar-2023");
  EXPECT_EQ(text(set(D(2024, 1, 10), "yearday", I(60))), "29-Feb-2024");
  EXPECT_EQ(text(set(D(2024, 1, 10, H(9)), "weekday", I(7))), "14-Jan-2024/9:00:00");
  EXPECT_EQ(text(set(D(2024, 5, 5), "week", I(1))), "1-Jan-2024");
  EXPECT_EQ(text(set(D(2024, 5, 5), "week", I(2))), "7-Jan-2024");
  EXPECT_EQ(text(set(D(2024, 5, 5, H(8), 2), "time", Tm(H(25)))), "6-May-2024/1:00:00+02:00");
  Cell none;
  set_none(&none);
  EXPECT_EQ(text(set(D(2024, 5, 5, H(8), 2), "time", none)), "5-May-2024");
  Cell when = D(2024, 5, 5, H(8), 2);
  EXPECT_EQ(text(set(when, "date", D(2023, 2, 1))), "1-Feb-2023");
  EXPECT_EQ(text(set(when, "date", D(2023, 2, 1, H(3)))), "1-Feb-2023/8:00:00+02:00");
}

TEST_F(DateTest, WeeksAndWeekdays) {
  struct Case {
    i32 y, m, d;
    i32 weekday, yearday, week, isoweek;
  };
  const Case cases[] = {
      {2024, 1, 1, 1, 1, 1, 1},      {2024, 1, 7, 7, 7, 2, 1},     {2024, 1, 6, 6, 6, 1, 1},
      {2021, 1, 1, 5, 1, 1, 53},     {2021, 1, 3, 7, 3, 2, 53},    {2021, 1, 4, 1, 4, 2, 1},
      {2022, 1, 1, 6, 1, 1, 52},     {2005, 1, 1, 6, 1, 1, 53},    {2023, 1, 1, 7, 1, 1, 52},
      {2014, 12, 29, 1, 363, 53, 1}, {2024, 12, 31, 2, 366, 53, 1}, {2020, 12, 31, 4, 366, 53, 53},
      {1970, 1, 1, 4, 1, 1, 1},
  };
  for (const auto& c : cases) {
    u32 w = D(c.y, c.m, c.d).w1;
    EXPECT_EQ(date::weekday(w), c.weekday) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(date::year_day(w), c.yearday) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(date::week(w), c.week) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(date::iso_week(w), c.isoweek) << c.y << "-" << c.m << "-" << c.d;
  }
  // The lexer's week date 2024-W10-3 and ordinal date 2024-060.
  Cell d = D(2024, 1, 1);
  date::set_week(&d, 10);
  date::set_weekday(&d, 3);
  EXPECT_EQ(text(d), "6-Mar-2024");
  date::set_week(&d, 1);
  EXPECT_EQ(text(d), "1-Jan-2024");
  Cell e = D(2021, 6, 1);
  date::set_week(&e, 1);
  EXPECT_EQ(text(e), "4-Jan-2021");
  date::set_yearday(&e, 365);
  EXPECT_EQ(text(e), "31-Dec-2021");
}

TEST_F(DateTest, ZonesKeepLocalOrMoment) {
  Cell d = D(2024, 1, 1, H(10), 2);
  EXPECT_EQ(d.float_value(), H(8));
  EXPECT_EQ(text(d), "1-Jan-2024/10:00:00+02:00");
  EXPECT_EQ(text(set(d, "timezone", I(0))), "1-Jan-2024/8:00:00");
  EXPECT_EQ(text(set(d, "zone", I(0))), "1-Jan-2024/10:00:00");
  EXPECT_EQ(text(set(d, "zone", Tm(-H(5, 30)))), "1-Jan-2024/10:00:00-05:30");
  EXPECT_EQ(text(set(D(2024, 1, 1, H(23)), "timezone", Tm(H(5, 30)))), "2-Jan-2024/4:30:00+05:30");
  EXPECT_EQ(text(set(D(2024, 1, 1, H(1)), "timezone", I(-2))), "31-Dec-2023/23:00:00-02:00");
  // A stored time before the local midnight keeps the local date.
  Cell early = D(2024, 1, 1, H(1), 2);
  EXPECT_EQ(early.float_value(), -H(1));
  EXPECT_EQ(text(early), "1-Jan-2024/1:00:00+02:00");
  // Zone and time fields read the local values.
  EXPECT_EQ(get(early, Word("zone")).float_value(), H(2));
  EXPECT_EQ(get(early, Word("time")).float_value(), H(1));
  EXPECT_EQ(get(early, Word("hour")).int_value(), 1);
  EXPECT_TRUE(get(D(2024, 1, 1), Word("zone")).is(T_NONE));
  // Hour, minute and second change the local time, whatever the zone's minutes.
  Cell india = D(2024, 1, 1, H(0, 10), 5, 30);
  EXPECT_EQ(text(set(india, "minute", I(45))), "1-Jan-2024/0:45:00+05:30");
  EXPECT_EQ(text(set(india, "hour", I(23))), "1-Jan-2024/23:10:00+05:30");
  EXPECT_EQ(text(set(india, "second", I(75))), "1-Jan-2024/0:11:15+05:30");
}

TEST_F(DateTest, MathWithIntegersTimesAndDates) {
  struct Case {
    Cell a;
    Cell b;
    bool add;
    const char* result;
  };
  const Case cases[] = {
      {D(2024, 1, 1), I(1), true, "2-Jan-2024"},
      {D(2024, 3, 1), I(1), false, "29-Feb-2024"},
      {D(2023, 3, 1), I(1), false, "28-Feb-2023"},
      {D(2024, 1, 1), I(366), true, "1-Jan-2025"},
      {D(2024, 1, 1, H(23)), Tm(H(2)), true, "2-Jan-2024/1:00:00"},
      {D(2023, 12, 31, H(22)), Tm(H(26)), true, "2-Jan-2024/0:00:00"},
      {D(2024, 1, 1, H(1)), Tm(H(2)), false, "31-Dec-2023/23:00:00"},
      {D(2024, 1, 1, H(23), 2), Tm(H(2)), true, "2-Jan-2024/1:00:00+02:00"},
      {D(2024, 1, 1), Tm(H(0, 30)), true, "1-Jan-2024/0:30:00"},
  };
  for (const auto& c : cases) {
    Cell r = math(c.add ? date::add : date::subtract, c.a, c.b);
    EXPECT_EQ(text(r), c.result) << c.result;
  }
  // time! + date! hands over to the date math.
  EXPECT_EQ(text(math(time::add, Tm(H(2)), D(2024, 1, 1, H(23)))), "2-Jan-2024/1:00:00");
  // The difference of two dates counts whole days; the times count.
  Cell diff = math(date::subtract, D(2024, 1, 1), D(2023, 12, 31));
  ASSERT_TRUE(diff.is(T_INTEGER));
  EXPECT_EQ(diff.int_value(), 1);
  EXPECT_EQ(math(date::subtract, D(2024, 1, 1, H(1)), D(2023, 12, 31, H(23))).int_value(), 0);
  EXPECT_EQ(math(date::subtract, D(2023, 12, 31), D(2024, 3, 1)).int_value(), -61);
  Cell a = D(2024, 1, 1, H(1)), b = D(2023, 12, 31, H(23));
  date::difference(&a, &b);
  ASSERT_TRUE(a.is(T_TIME));
  EXPECT_EQ(a.float_value(), H(2));

  EXPECT_EQ(error_of([] { math(date::add, D(2024, 1, 1), D(2024, 1, 1)); }), code(Err::ScriptNotRelated));
  EXPECT_EQ(error_of([] { math(date::add, D(2024, 1, 1), Word("x")); }), code(Err::ScriptInvalidType));
  // Beyond the 15-bit year the result is refused, not wrapped.
  EXPECT_EQ(error_of([] { math(date::add, D(16383, 12, 31), I(1)); }), code(Err::ScriptTypeLimit));
  EXPECT_EQ(error_of([] { math(date::add, D(2024, 1, 1, 0), Tm(1e300)); }), code(Err::ScriptTypeLimit));
}

TEST_F(DateTest, EpochSecondsIn64Bits) {
  EXPECT_EQ(epoch(D(1970, 1, 1, 0)), 0);
  EXPECT_EQ(to_int(D(1970, 1, 1, 0)), 0);
  EXPECT_EQ(epoch(D(2024, 1, 1, H(1), 2)), 1704063600);  // 2023-12-31T23:00Z
  EXPECT_EQ(epoch(D(2024, 1, 1, H(1, 0, 0.4), 2)), 1704063600);
  EXPECT_EQ(epoch(D(1969, 12, 31, H(23, 59, 59))), -1);
  Cell c;
  EXPECT_EQ(text(to_date(I(86399), false)), "1-Jan-1970/23:59:59");
  EXPECT_EQ(text(to_date(I(-1), false)), "31-Dec-1969/23:59:59");
  EXPECT_EQ(text(to_date(I(2147483647), false)), "19-Jan-2038/3:14:07");
  EXPECT_EQ(text(to_date(I(-2147483647 - 1), false)), "13-Dec-1901/20:45:52");
  // Past 2038 both ways.
  const i64 y2100 = 4102444800;
  EXPECT_EQ(epoch(D(2100, 1, 1, 0)), y2100);
  EXPECT_EQ(text(*date::from_epoch(&c, y2100 + 61)), "1-Jan-2100/0:01:01");
  EXPECT_EQ(date::to_epoch(date::from_epoch(&c, -y2100)), -y2100);
  EXPECT_EQ(error_of([] { to_int(D(2100, 1, 1, 0)); }), code(Err::ScriptTypeLimit));
}

TEST_F(DateTest, Forms) {
  Cell neg = D(-50, 1, 1);
  const struct {
    Cell d;
    const char* text;
  } cases[] = {
      {D(2024, 1, 5), "5-Jan-2024"},
      {D(2024, 3, 15, H(10, 30), 5, 30), "15-Mar-2024/10:30:00+05:30"},
      {D(50, 1, 1), "1-Jan-0050"},
      {D(150, 1, 1), "1-Jan-150"},
      {D(0, 12, 9), "9-Dec-0000"},
      {neg, "1/Jan/-0050"},
      {D(2024, 9, 30, H(1, 2, 3.5), -11, 45), "30-Sep-2024/1:02:03.5-11:45"},
      {D(2024, 1, 1, 0), "1-Jan-2024/0:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text(c.d), c.text);
    EXPECT_EQ(test::mold_text(c.d), c.text);
  }
  Cell out;
  set_unset(&out);
  string::make_at(&out, 16);
  Cell d = D(2024, 3, 15, H(10, 30), 5, 30);
  EXPECT_EQ(date::form(&d, &out, nullptr, 100), 100 - 26);
}

TEST_F(DateTest, CompareByMoment) {
  using namespace actions;
  struct Case {
    Cell a;
    Cell b;
    i32 op;
    i32 result;
  };
  const Case cases[] = {
      {D(2024, 1, 1), D(2024, 1, 1), kEqual, 0},
      {D(2024, 1, 1), D(2024, 1, 2), kLesser, -1},
      {D(2024, 1, 1), D(2024, 1, 1, 0), kEqual, 0},
      {D(2024, 1, 1), D(2024, 1, 1, H(10)), kLesser, -1},
      {D(2024, 1, 1, H(10), 2), D(2024, 1, 1, H(8)), kEqual, 0},
      {D(2024, 1, 1, H(10), 2), D(2024, 1, 1, H(8)), kSame, 0},
      {D(2024, 1, 1, H(10), 2), D(2024, 1, 1, H(8, 0, 1)), kLesser, -1},
      // Equal moments whose local dates differ.
      {D(2024, 1, 1, H(1), 2), D(2023, 12, 31, H(23)), kEqual, 0},
      {D(2024, 1, 1, H(1), 2), D(2023, 12, 31, H(23, 30)), kLesser, -1},
      {D(2024, 1, 1, H(1), 2), D(2023, 12, 31, H(22, 30)), kGreater, 1},
      {D(2024, 1, 1, 0.1 + 0.2), D(2024, 1, 1, 0.3), kEqual, 0},
      {D(2024, 1, 1, 0.1 + 0.2), D(2024, 1, 1, 0.3), kSame, 1},
      {D(2023, 1, 1), D(2024, 1, 1), kSortOrder, -1},
  };
  for (const auto& c : cases) {
    i32 r = date::compare(&c.a, &c.b, c.op);
    EXPECT_EQ(r, c.result) << text(c.a) << " vs " << text(c.b) << " op " << c.op;
  }
  Cell d = D(2024, 1, 1), i = I(5);
  EXPECT_EQ(date::compare(&d, &i, kEqual), kNotComparable);
}

TEST_F(DateTest, PathsAndPick) {
  Cell d = D(2024, 3, 15, H(10, 30, 15.5), 5, 30);
  const struct {
    const char* word;
    i32 number;
    double value;
  } fields[] = {
      {"year", 2, 2024}, {"month", 3, 3},   {"day", 4, 15},      {"hour", 7, 10},       {"minute", 8, 30},
      {"second", 9, 15.5}, {"weekday", 10, 5}, {"yearday", 11, 75}, {"julian", 11, 75}, {"week", 13, 11},
      {"isoweek", 14, 11}, {"YEAR", 2, 2024},
  };
  for (const auto& f : fields) {
    Cell by_word = get(d, Word(f.word));
    Cell by_number = get(d, I(f.number));
    double v = by_word.is(T_FLOAT) ? by_word.float_value() : by_word.int_value();
    EXPECT_EQ(v, f.value) << f.word;
    EXPECT_EQ(by_word.w2, by_number.w2) << f.word;
    Cell* top = stack::g_top;
    Cell w = Word(f.word);
    EXPECT_EQ(date::pick(&d, 0, &w)->w2, by_word.w2);
    stack::g_top = top;
  }
  EXPECT_EQ(text(get(d, Word("date"))), "15-Mar-2024");
  EXPECT_EQ(get(d, Word("timezone")).float_value(), H(5, 30));

  EXPECT_EQ(error_of([&] { get(d, Word("fortnight")); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_of([&] { get(d, I(15)); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_of([&] {
              Cell v = d;
              date::pick(&v, 15, nullptr);
            }),
            code(Err::ScriptOutOfRange));
  EXPECT_EQ(error_of([&] { set(d, "year", Tm(1)); }), code(Err::ScriptInvalidArg));
  EXPECT_EQ(error_of([&] { set(d, "date", I(1)); }), code(Err::ScriptInvalidArg));
  EXPECT_EQ(error_of([&] { set(d, "zone", Word("x")); }), code(Err::ScriptInvalidArg));
  EXPECT_EQ(error_of([&] { set(d, "second", Word("x")); }), code(Err::ScriptInvalidArg));
}

}  // namespace
}  // namespace zot

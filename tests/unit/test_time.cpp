// time!, percent! and triple!: text, conversion, arithmetic, fields.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/float.h"
#include "runtime/actions.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/scalar_fixture.h"

namespace zot {
namespace {

using namespace test;

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override { ensure_scalar_types(); }
};

TEST_F(TimeTest, GoldenText) {
  // Form rounds the seconds to six significant digits; mold writes every
  // digit they need to load back to the same value (null: as form).
  struct {
    double seconds;
    const char* form;
    const char* mold;
  } cases[] = {
      {0, "0:00:00", nullptr},
      {5400, "1:30:00", nullptr},
      {3723.5, "1:02:03.5", nullptr},
      {-5400, "-1:30:00", nullptr},
      {90000, "25:00:00", nullptr},
      {0.5, "0:00:00.5", nullptr},
      {1.25, "0:00:01.25", nullptr},
      {12.3456789, "0:00:12.3457", "0:00:12.3456789"},
      {0.000001, "0:00:00.000001", nullptr},
      {3600.0000001, "1:00:00", "1:00:00.0000001"},  // below the smallest formed second
      {36000000000.0, "10000000:00:00", nullptr},
      // Six significant digits that round up to a whole minute carry into
      // the minute and the hour: never ":60".
      {59.9999999, "0:01:00", "0:00:59.9999999"},
      {3599.9999999, "1:00:00", "0:59:59.9999999"},
      {7199.9999996, "2:00:00", "1:59:59.9999996"},
      {-59.9999999, "-0:01:00", "-0:00:59.9999999"},
      {119.9999995, "0:02:00", "0:01:59.9999995"},
      {59.9999, "0:00:59.9999", nullptr},
      {std::numeric_limits<double>::infinity(), "1.#INF", nullptr},
  };
  for (auto& c : cases) {
    Cell t = Tm(c.seconds);
    EXPECT_EQ(form_of(t), c.form) << c.seconds;
    EXPECT_EQ(mold_of(t), c.mold ? c.mold : c.form) << c.seconds;
  }
}

TEST_F(TimeTest, FormIntoCountsThePartBudget) {
  Cell out;
  set_unset(&out);
  string::make_at(&out, 8);
  EXPECT_EQ(time::form_into(3723.5, &out, 100), 100 - 9);
  EXPECT_EQ(string::to_utf8(&out), "1:02:03.5");
}

TEST_F(TimeTest, PercentAndTripleText) {
  struct {
    double fraction;
    const char* text;
  } cases[] = {{0.5, "50%"}, {0.125, "12.5%"}, {1.5, "150%"}, {0.0, "0%"}, {-0.25, "-25%"}, {0.07, "7%"}};
  for (auto& c : cases) {
    EXPECT_EQ(form_of(Pct(c.fraction)), c.text);
    EXPECT_EQ(mold_of(Pct(c.fraction)), c.text);
  }
  Cell t;
  triple::make_at(&t, 1, -2, 3);
  EXPECT_EQ(form_of(t), "make triple! [1 -2 3]");
  EXPECT_EQ(mold_of(t), "make triple! [1 -2 3]");
}

TEST_F(TimeTest, PercentInheritsFloatArithmetic) {
  Cell r = math(actions::get<actions::kAdd>(T_PERCENT), Pct(0.5), Pct(0.25));
  EXPECT_EQ(r.type(), T_PERCENT);
  EXPECT_DOUBLE_EQ(r.float_value(), 0.75);
  EXPECT_EQ(actions::raw(T_TRIPLE, actions::kMake), nullptr) << "a triple! only prints";
}

TEST_F(TimeTest, MakeFromValuesAndBlocks) {
  struct {
    Cell spec;
    double seconds;
  } cases[] = {
      {ints({1, 30}), 5400},
      {ints({-1, 30}), -5400},
      {ints({}), 0},
      {ints({1, 2, 3}), 3723},
      {block_of({I(0), I(0), F(1.5)}), 1.5},
      {I(90), 90},
      {F(1.5), 1.5},
      {Pct(0.5), 0.5},
      {Tm(42), 42},
  };
  for (auto& c : cases) {
    Cell r = made(time::make, c.spec, T_TIME);
    EXPECT_EQ(r.type(), T_TIME);
    EXPECT_DOUBLE_EQ(r.float_value(), c.seconds) << form_of(r);
  }
  EXPECT_EQ(form_of(made(time::make, ints({-1, 30}), T_TIME)), "-1:30:00");

  std::vector<Cell> refused = {ints({1, -30}), block_of({F(1.5)}), ints({1, 2, 3, 4}),
                               block_of({I(1), Str("a")}), ints({0, 0, -1}), Logic(true)};
  for (auto& spec : refused)
    EXPECT_EQ(error_code_of([&] { made(time::make, spec, T_TIME); }), code(Err::ScriptBadToArg));
}

TEST_F(TimeTest, MakeFromTextNeedsATime) {
  {
    ScanStub scan(Tm(90));
    EXPECT_DOUBLE_EQ(made(time::make, Str("0:01:30"), T_TIME).float_value(), 90);
  }
  ScanStub scan(I(90));
  EXPECT_EQ(error_code_of([] { made(time::make, Str("90"), T_TIME); }), code(Err::ScriptBadToArg));
}

TEST_F(TimeTest, Math) {
  struct {
    const char* what;
    actions::FrameFn fn;
    Cell a, b;
    TypeId type;
    double expected;
  } cases[] = {
      {"1:00 + 0:30", time::add, Tm(3600), Tm(1800), T_TIME, 5400},
      {"1:00 + 5", time::add, Tm(3600), I(5), T_TIME, 3605},
      {"1:00 + 1.5", time::add, Tm(3600), F(1.5), T_TIME, 3601.5},
      {"1:00 - 0:30", time::subtract, Tm(3600), Tm(1800), T_TIME, 1800},
      {"1:00 * 2", time::multiply, Tm(3600), I(2), T_TIME, 7200},
      {"0:00:10 * 1.5", time::multiply, Tm(10), F(1.5), T_TIME, 15},
      {"1:30 / 0:30", time::divide, Tm(5400), Tm(1800), T_FLOAT, 3.0},
      {"1:30 / 2", time::divide, Tm(5400), I(2), T_TIME, 2700},
      {"1:30 / 0.5", time::divide, Tm(5400), F(0.5), T_TIME, 10800},
  };
  for (auto& c : cases) {
    Cell r = math(c.fn, c.a, c.b);
    EXPECT_EQ(r.type(), c.type) << c.what;
    EXPECT_DOUBLE_EQ(r.float_value(), c.expected) << c.what;
  }
  EXPECT_EQ(form_of(math(time::divide, Tm(5400), I(2))), "0:45:00");

  Cell date;
  make_cell(&date, T_DATE, 0, 0, 0);
  EXPECT_EQ(error_code_of([] { math(time::multiply, Tm(1), Tm(2)); }), code(Err::ScriptNotRelated));
  EXPECT_EQ(error_code_of([&] { math(time::subtract, Tm(1), date); }), code(Err::ScriptNotRelated));
  EXPECT_EQ(error_code_of([] { math(time::add, Tm(1), P(1, 2)); }), code(Err::ScriptInvalidType));
  EXPECT_EQ(error_code_of([] { math(time::add, Tm(1), Str("a")); }), code(Err::ScriptInvalidType));
}

// time + date is date + time.
TEST_F(TimeTest, AddWithADateAddsToTheDate) {
  EXPECT_EQ(test::run("1:00 + 1-Jan-2020/10:00"), "1-Jan-2020/11:00:00");
  EXPECT_EQ(test::run("(2:00 + 31-Dec-2019/23:00) = (31-Dec-2019/23:00 + 2:00)"), "true");
}

TEST_F(TimeTest, Round) {
  struct {
    double seconds;
    Cell scale;
    bool has_scale;
    double expected;
  } cases[] = {
      {5025, I(60), true, 5040},           // round/to 1:23:45 60 -> 1:24:00
      {5025, Tm(60), true, 5040},          // a time scale
      {1.5, I(0), false, 2},               // whole seconds
      {3e9 + 0.4, I(1), true, 3e9},        // no 32-bit integer on the way
      {-90, I(60), true, -120},            // half away from zero
  };
  for (auto& c : cases) {
    Cell v = Tm(c.seconds), s = c.scale;
    time::round(&v, test::round_options(c.has_scale ? &s : nullptr, ""));
    EXPECT_EQ(v.type(), T_TIME);
    EXPECT_DOUBLE_EQ(v.float_value(), c.expected) << c.seconds;
  }
  Cell v = Tm(1);
  Cell money;
  make_cell(&money, T_MONEY, 0, 0, 0);
  EXPECT_EQ(error_code_of([&] { time::round(&v, test::round_options(&money, "")); }),
            code(Err::ScriptNotRelated));
}

TEST_F(TimeTest, ParityOfTheWholeSecondWithinTheMinute) {
  struct {
    double seconds;
    bool even;
  } cases[] = {{3603, false}, {4, true}, {2.9999999, false}, {-3, false}, {62, true}, {0, true}};
  for (auto& c : cases) {
    Cell t = Tm(c.seconds);
    EXPECT_EQ(time::even(&t), c.even) << c.seconds;
    EXPECT_EQ(time::odd(&t), !c.even) << c.seconds;
  }
  Cell nan = Tm(std::nan(""));
  EXPECT_FALSE(time::even(&nan));
  EXPECT_FALSE(time::odd(&nan));
}

TEST_F(TimeTest, FieldsByPathAndPick) {
  const Cell t = Tm(-(3600 + 30 * 60 + 15.5));  // -1:30:15.5
  struct {
    Cell element;
    TypeId type;
    double value;
  } reads[] = {
      {words::g_words[words::hour], T_INTEGER, -1},
      {Word("MINUTE"), T_INTEGER, 30},  // letter case does not matter
      {I(3), T_FLOAT, -15.5},
  };
  for (auto& r : reads) {
    Cell v = path_get(time::eval_path, t, r.element);
    EXPECT_EQ(v.type(), r.type);
    EXPECT_DOUBLE_EQ(v.is(T_INTEGER) ? v.int_value() : v.float_value(), r.value);
    Cell p = pick_of(time::pick, t, r.element);
    EXPECT_EQ(p.type(), r.type);
  }

  EXPECT_EQ(form_of(path_set(time::eval_path, Tm(5400), Word("minute"), I(45))), "1:45:00");
  EXPECT_EQ(form_of(path_set(time::eval_path, Tm(5400), Word("hour"), I(3))), "3:30:00");
  EXPECT_EQ(form_of(path_set(time::eval_path, Tm(5400), I(3), F(1.5))), "1:30:01.5");

  EXPECT_EQ(error_code_of([&] { path_get(time::eval_path, t, I(4)); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([&] { path_get(time::eval_path, t, Word("day")); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([&] { path_get(time::eval_path, t, F(1)); }), code(Err::ScriptInvalidPath));
  EXPECT_EQ(error_code_of([&] { path_set(time::eval_path, t, Word("hour"), F(1.5)); }),
            code(Err::ScriptInvalidArg));
  EXPECT_EQ(error_code_of([&] { path_set(time::eval_path, t, I(3), Str("1")); }), code(Err::ScriptInvalidArg));
  EXPECT_EQ(error_code_of([&] { pick_of(time::pick, t, I(0)); }), code(Err::ScriptOutOfRange));
  EXPECT_EQ(error_code_of([&] { pick_of(time::pick, t, Word("day")); }), code(Err::ScriptCannotUse));
}

// The object holder hears the old and the new whole value; the holder
// request is used once.
TEST_F(TimeTest, PathSetNotifiesTheHolder) {
  EXPECT_EQ(test::run("heard: copy [] o: make object! [start: 1:30 on-change*: func [word old new] ["
                      "append heard reduce [word old new]]] o/start/minute: 45 heard"),
            "[start 1:30:00 1:45:00]");
  EXPECT_EQ(scalar::g_holder.value, nullptr);
  // The holder request is used once: a copy of the field tells nobody.
  EXPECT_EQ(test::run("t: o/start t/minute: 10 reduce [t o/start heard]"), "[1:10:00 1:45:00 [start 1:30:00 1:45:00]]");
}

TEST_F(TimeTest, RegisteredSlotsInheritFromFloat) {
  ASSERT_NE(actions::raw(T_FLOAT, actions::kCompare), nullptr);
  EXPECT_EQ(actions::raw(T_TIME, actions::kCompare), actions::raw(T_FLOAT, actions::kCompare));
  EXPECT_EQ(actions::raw(T_TIME, actions::kPower), nullptr);
  EXPECT_EQ(actions::raw(T_PERCENT, actions::kPower), actions::raw(T_FLOAT, actions::kPower));
  Cell a = Tm(3600), b = Tm(7200), n = I(3600);
  EXPECT_TRUE(actions::compare(&a, &b, actions::kLesser));
  EXPECT_TRUE(actions::compare(&a, &n, actions::kEqual));
  Cell neg = Tm(5400);
  actions::get<actions::kNegate>(T_TIME)(&neg);
  EXPECT_EQ(form_of(neg), "-1:30:00");
}

}  // namespace
}  // namespace zot

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "runtime/services.h"
#include "tests/unit/series_fixture.h"

namespace zot {
namespace {

using test::at_index;
using test::contents;
using test::int_cell;
using test::run_frame;
using test::units;
using V = std::vector<i64>;

// The same actions run on a block and on raw series of units 1, 2, 4 and 8,
// each holding 10 20 30 40 50.
std::vector<Cell> five_of_every_width() {
  test::ensure_core_types();
  return {test::ints({10, 20, 30, 40, 50}), units(1, {10, 20, 30, 40, 50}),
          units(2, {10, 20, 30, 40, 50}), units(4, {10, 20, 30, 40, 50}),
          units(8, {10, 20, 30, 40, 50}, T_VECTOR)};
}

TEST(SeriesCursor, PositionsStayWithinHeadAndTail) {
  struct Case {
    const char* what;
    actions::FrameFn f;
    i32 start;
    i32 offset;  // -999: no second argument
    i32 index;
  };
  const Case cases[] = {
      {"at 1 keeps", &series::at, 2, 1, 2},     {"at 0 keeps", &series::at, 2, 0, 2},
      {"at -1 back", &series::at, 2, -1, 1},    {"at 3", &series::at, 1, 3, 3},
      {"at far", &series::at, 1, 99, 5},        {"at far back", &series::at, 3, -99, 0},
      {"skip 2", &series::skip, 1, 2, 3},       {"skip -1", &series::skip, 1, -1, 0},
      {"skip far", &series::skip, 0, 1000, 5},  {"skip far back", &series::skip, 4, -1000, 0},
      {"next", &series::next, 1, -999, 2},      {"next at tail", &series::next, 5, -999, 5},
      {"back", &series::back, 3, -999, 2},      {"back at head", &series::back, 0, -999, 0},
      {"head", &series::head, 4, -999, 0},      {"tail", &series::tail, 1, -999, 5},
  };
  for (const Cell& s : five_of_every_width()) {
    for (const auto& c : cases) {
      Cell r = c.offset == -999 ? run_frame(c.f, {at_index(s, c.start)})
                                : run_frame(c.f, {at_index(s, c.start), int_cell(c.offset)});
      EXPECT_EQ(series::index_of(&r), c.index) << c.what << " unit " << series::buffer_of(&s)->unit();
      EXPECT_EQ(r.w2, s.w2);
    }
  }
}

TEST(SeriesCursor, PredicatesAndIndex) {
  for (const Cell& s : five_of_every_width()) {
    EXPECT_EQ(run_frame(&series::head_q, {s}).w1, 1u);
    EXPECT_EQ(run_frame(&series::head_q, {at_index(s, 1)}).w1, 0u);
    EXPECT_EQ(run_frame(&series::tail_q, {at_index(s, 5)}).w1, 1u);
    EXPECT_EQ(run_frame(&series::tail_q, {at_index(s, 7)}).w1, 1u);  // past a shortened tail
    EXPECT_EQ(run_frame(&series::tail_q, {at_index(s, 4)}).w1, 0u);
    Cell i = run_frame(&series::index_q, {at_index(s, 2)});
    EXPECT_TRUE(i.is(T_INTEGER));
    EXPECT_EQ(i.int_value(), 3);
    Cell past = at_index(s, 9);
    EXPECT_EQ(series::length_q(&past), 0);
    EXPECT_EQ(series::index_of(&past), 9) << "length? only reads";
    EXPECT_EQ(series::clamped_length_at(&past), 0);
    EXPECT_EQ(series::index_of(&past), 5) << "an index past the tail is moved back to it";
    Cell mid = at_index(s, 2);
    EXPECT_EQ(series::length_q(&mid), 3);
  }
}

TEST(SeriesCursor, NonIntegerOffsetIsInvalidArg) {
  Cell b = test::ints({1, 2});
  Cell none;
  set_none(&none);
  EXPECT_EQ(test::error_code_of([&] { run_frame(&series::at, {b, none}); }),
            error_code(Err::ScriptInvalidArg));
  EXPECT_EQ(test::error_code_of([&] { run_frame(&series::skip, {b, none}); }),
            error_code(Err::ScriptInvalidArg));
}

TEST(SeriesElements, PickAndPokeByPosition) {
  for (Cell s : five_of_every_width()) {
    u32 unit = series::buffer_of(&s)->unit();
    if (s.is(T_VECTOR)) continue;  // vector elements belong to the vector datatype
    Cell at2 = at_index(s, 2);
    struct Pick {
      i32 n;
      i64 want;  // -1: none
    };
    for (Pick p : {Pick{1, 30}, Pick{3, 50}, Pick{4, -1}, Pick{0, -1}, Pick{-1, 20}, Pick{-2, 10}, Pick{-3, -1}}) {
      Cell* r = series::pick(&at2, p.n, nullptr);
      if (p.want < 0) {
        EXPECT_TRUE(r->is(T_NONE)) << "pick " << p.n << " unit " << unit;
      } else {
        EXPECT_TRUE(r->is(unit == 16 ? T_INTEGER : T_CHAR)) << unit;
        EXPECT_EQ(r->w2, u32(p.want)) << "pick " << p.n << " unit " << unit;
      }
    }
    Cell v = unit == 16 ? int_cell(7) : test::char_cell(7);
    series::poke(&at2, -1, &v, nullptr);
    EXPECT_EQ(contents(s), (V{10, 7, 30, 40, 50})) << unit;
    for (i32 n : {0, 4, -3})
      EXPECT_EQ(test::error_code_of([&] { series::poke(&at2, n, &v, nullptr); }),
                error_code(Err::ScriptOutOfRange))
          << n;
  }
}

TEST(SeriesElements, PokeChecksTheValueBeforeChanging) {
  test::ensure_core_types();
  Cell text = units(1, {65, 66});
  Cell bin = units(1, {1, 2}, T_BINARY);
  Cell i = int_cell(0x1FF), c = test::char_cell(0x263A), none;
  set_none(&none);
  EXPECT_EQ(test::error_code_of([&] { series::poke(&text, 1, &i, nullptr); }), error_code(Err::ScriptInvalidArg));
  EXPECT_EQ(test::error_code_of([&] { series::poke(&bin, 1, &none, nullptr); }), error_code(Err::ScriptInvalidArg));
  EXPECT_EQ(contents(text), (V{65, 66}));
  series::poke(&bin, 2, &i, nullptr);  // the low 8 bits
  EXPECT_EQ(contents(bin), (V{1, 0xFF}));
  Cell* b = series::pick(&bin, 2, nullptr);
  EXPECT_TRUE(b->is(T_INTEGER));
  // A code point that does not fit widens the text.
  series::poke(&text, 2, &c, nullptr);
  EXPECT_EQ(series::buffer_of(&text)->unit(), 2u);
  EXPECT_EQ(contents(text), (V{65, 0x263A}));
}

// remove, reverse, take, copy and clear on every width: (action, start index, result contents).
TEST(SeriesActions, ModifyEveryWidthAlike) {
  struct Case {
    const char* what;
    std::function<void(Cell*)> act;
    V want;
    i32 want_index;
  };
  const Case cases[] = {
      {"remove", [](Cell* s) { series::remove(s, nullptr, nullptr); }, {10, 30, 40, 50}, 1},
      {"remove/part 2", [](Cell* s) { Cell p = int_cell(2); series::remove(s, &p, nullptr); }, {10, 40, 50}, 1},
      {"remove/part 0", [](Cell* s) { Cell p = int_cell(0); series::remove(s, &p, nullptr); }, {10, 20, 30, 40, 50}, 1},
      {"remove/part past tail", [](Cell* s) { Cell p = int_cell(99); series::remove(s, &p, nullptr); }, {10}, 1},
      {"remove/part position",
       [](Cell* s) { Cell p = at_index(*s, 3); series::remove(s, &p, nullptr); }, {10, 40, 50}, 1},
      {"remove/part position before",
       [](Cell* s) { Cell p = at_index(*s, 0); series::remove(s, &p, nullptr); }, {10, 20, 30, 40, 50}, 1},
      {"reverse", [](Cell* s) { series::reverse(s, nullptr, nullptr); }, {10, 50, 40, 30, 20}, 1},
      {"reverse/part 2", [](Cell* s) { Cell p = int_cell(2); series::reverse(s, &p, nullptr); }, {10, 30, 20, 40, 50}, 1},
      {"reverse/part past tail",
       [](Cell* s) { Cell p = int_cell(50); series::reverse(s, &p, nullptr); }, {10, 50, 40, 30, 20}, 1},
      {"reverse/skip 2",
       [](Cell* s) { Cell p = int_cell(4), k = int_cell(2); series::reverse(s, &p, &k); }, {10, 40, 50, 20, 30}, 1},
      {"reverse/skip whole",
       [](Cell* s) { Cell k = int_cell(4); series::reverse(s, nullptr, &k); }, {10, 20, 30, 40, 50}, 1},
      {"clear", [](Cell* s) { series::clear(s); }, {10}, 1},
  };
  for (std::size_t w = 0; w < 5; w++) {
    for (const auto& c : cases) {
      Cell s = at_index(five_of_every_width()[w], 1);
      c.act(&s);
      EXPECT_EQ(contents(s), c.want) << c.what << " width #" << w;
      EXPECT_EQ(series::index_of(&s), c.want_index) << c.what;
    }
  }
}

TEST(SeriesActions, ReverseSkipErrors) {
  test::ensure_core_types();
  Cell s = test::ints({1, 2, 3, 4, 5});
  auto code = [&](i32 size, i32 part) {
    return test::error_code_of([&] {
      Cell k = int_cell(size), p = int_cell(part);
      series::reverse(&s, &p, &k);
    });
  };
  EXPECT_EQ(code(2, 5), error_code(Err::ScriptInvalidRefineArg));  // not a multiple
  EXPECT_EQ(code(6, 5), error_code(Err::ScriptInvalidRefineArg));  // clamped count 5 < 6
  EXPECT_EQ(code(0, 4), error_code(Err::ScriptOutOfRange));
  EXPECT_EQ(contents(s), (V{1, 2, 3, 4, 5}));
  Cell none;
  set_none(&none);
  EXPECT_EQ(test::error_code_of([&] { series::remove(&s, &none, nullptr); }),
            error_code(Err::ScriptInvalidRefineArg));
}

TEST(SeriesActions, TakeFromEveryWidth) {
  struct Case {
    const char* what;
    i32 start;
    i32 part;  // -999: no /part
    bool last;
    V taken;   // empty + none_result: none
    bool none_result;
    V left;
  };
  const Case cases[] = {
      {"take", 1, -999, false, {20}, false, {10, 30, 40, 50}},
      {"take/last", 1, -999, true, {50}, false, {10, 20, 30, 40}},
      {"take/part 2", 1, 2, false, {20, 30}, false, {10, 40, 50}},
      {"take/last/part 2", 0, 2, true, {40, 50}, false, {10, 20, 30}},
      {"take/part 0 takes nothing", 1, 0, false, {}, false, {10, 20, 30, 40, 50}},
      {"take/part -2 backwards", 3, -2, false, {20, 30}, false, {10, 40, 50}},
      {"take/part -9 backwards clamps", 2, -9, false, {10, 20}, false, {30, 40, 50}},
      {"take/part 99 clamps", 3, 99, false, {40, 50}, false, {10, 20, 30}},
      {"take at tail", 5, -999, false, {}, true, {10, 20, 30, 40, 50}},
  };
  for (std::size_t w = 0; w < 5; w++) {
    for (const auto& c : cases) {
      Cell s = at_index(five_of_every_width()[w], c.start);
      Cell p = int_cell(c.part);
      Cell* r = series::take(&s, c.part == -999 ? nullptr : &p, false, c.last);
      if (c.none_result) {
        EXPECT_TRUE(r->is(T_NONE)) << c.what;
      } else {
        EXPECT_EQ(r->type(), s.type()) << c.what;
        EXPECT_EQ(series::index_of(r), 0);
        EXPECT_EQ(contents(*r), c.taken) << c.what << " width #" << w;
        EXPECT_EQ(series::buffer_of(r)->unit(), series::buffer_of(&s)->unit());
      }
      EXPECT_EQ(contents(s), c.left) << c.what << " width #" << w;
    }
  }
}

TEST(SeriesActions, CopyParts) {
  struct Case {
    const char* what;
    i32 start;
    Cell part;
    V want;
  };
  Cell pair;
  make_cell(&pair, T_PAIR, 0, 2, 4);
  Cell absent;
  set_unset(&absent);
  const Case cases[] = {
      {"whole from index", 1, absent, {20, 30, 40, 50}},
      {"part 2", 1, int_cell(2), {20, 30}},
      {"part -2 backwards", 3, int_cell(-2), {20, 30}},
      {"part -9 backwards from head", 2, int_cell(-9), {10, 20}},
      {"part 2x4", 1, pair, {30, 40}},
      {"part beyond", 3, int_cell(10), {40, 50}},
      {"index past tail", 8, absent, {}},
  };
  for (std::size_t w = 0; w < 5; w++) {
    for (const auto& c : cases) {
      Cell s = at_index(five_of_every_width()[w], c.start);
      Cell r;
      set_unset(&r);
      Cell part = c.part;
      series::copy(&s, &r, part.is(T_UNSET) ? nullptr : &part, false, nullptr);
      EXPECT_EQ(contents(r), c.want) << c.what << " width #" << w;
      EXPECT_NE(r.w2, s.w2);
      EXPECT_EQ(r.type(), s.type());
    }
  }
  // A same-series position as /part, and the new-line flag carried over.
  Cell s = test::new_line(test::ints({1, 2, 3, 4}));
  Cell end = at_index(s, 3), r;
  series::copy(&s, &r, &end, false, nullptr);
  EXPECT_EQ(contents(r), (V{1, 2, 3}));
  EXPECT_TRUE(r.header & kCellNewLine);
}

TEST(SeriesActions, MoveWithinAndBetweenSeries) {
  test::ensure_core_types();
  struct Case {
    const char* what;
    i32 from, count, to;
    V want;
  };
  const Case within[] = {
      {"forward", 0, 2, 4, {30, 40, 10, 20, 50}},
      {"to the tail", 0, 1, 5, {20, 30, 40, 50, 10}},
      {"backward", 3, 2, 0, {40, 50, 10, 20, 30}},
      {"into itself: unchanged", 0, 3, 1, {10, 20, 30, 40, 50}},
      {"just after itself", 0, 2, 2, {10, 20, 30, 40, 50}},
      {"far after, little room left", 0, 3, 4, {40, 10, 20, 30, 50}},
  };
  for (std::size_t w = 0; w < 5; w++) {
    for (const auto& c : within) {
      Cell s = five_of_every_width()[w];
      Cell src = at_index(s, c.from), dst = at_index(s, c.to), p = int_cell(c.count);
      series::move(&src, &dst, &p);
      EXPECT_EQ(contents(s), c.want) << c.what << " width #" << w;
    }
  }
  // Between two series of the same width.
  for (u32 unit : {1u, 2u, 4u, 16u}) {
    Cell a = unit == 16 ? test::ints({1, 2, 3}) : units(unit, {1, 2, 3});
    Cell b = unit == 16 ? test::ints({7, 8}) : units(unit, {7, 8});
    Cell src = at_index(a, 1), dst = at_index(b, 1), p = int_cell(5);
    Cell* r = series::move(&src, &dst, &p);
    EXPECT_EQ(r->w2, b.w2);
    EXPECT_EQ(contents(a), (V{1})) << unit;
    EXPECT_EQ(contents(b), (V{7, 2, 3, 8})) << unit;
  }
  // Text of different widths moves code point by code point, widening the target.
  Cell narrow = units(1, {65, 66}), wide = units(2, {0x263A});
  Cell p1 = int_cell(1);
  series::move(&wide, &narrow, &p1);
  EXPECT_EQ(contents(narrow), (V{0x263A, 65, 66}));
  EXPECT_EQ(contents(wide), V{});
  // Block against text, and mixed widths of bytes, are refused.
  Cell blk = test::ints({1}), txt = units(1, {65}), bin = units(1, {1}, T_BINARY), w2 = units(2, {1});
  EXPECT_EQ(test::error_code_of([&] { series::move(&blk, &txt, nullptr); }), error_code(Err::ScriptMoveBad));
  EXPECT_EQ(test::error_code_of([&] { series::move(&w2, &bin, nullptr); }), error_code(Err::ScriptMoveBad));
  Cell i = int_cell(3);
  EXPECT_EQ(test::error_code_of([&] { series::move(&blk, &i, nullptr); }), error_code(Err::ScriptExpectArg));
}

// A deterministic generator for the random slot: always the largest choice.
i32 always_last(i32 n, bool) { return n; }

TEST(SeriesActions, RandomShufflesWithTheGenerator) {
  test::ensure_core_types();
  auto saved = g_services;
  g_services.random_range = &always_last;
  for (std::size_t w = 0; w < 5; w++) {
    Cell s = five_of_every_width()[w];
    series::random(&s, false, false, false);
    // Each position swaps with the last one left: 50 10 20 30 40 ... rotated.
    EXPECT_EQ(contents(s), (V{50, 10, 20, 30, 40})) << w;
    if (s.is(T_VECTOR)) continue;
    Cell one = s;
    series::random(&one, false, false, true);
    EXPECT_EQ(one.w2, 40u) << "/only picks one element";
  }
  Cell empty = at_index(test::ints({1}), 1);
  series::random(&empty, false, false, true);
  EXPECT_TRUE(empty.is(T_NONE));
  g_services.random_range = nullptr;
  Cell b = test::ints({1, 2});
  EXPECT_EQ(test::error_code_of([&] { series::random(&b, false, false, false); }),
            error_code(Err::InternalNotDone));
  g_services = saved;
}

// ---- owner notifications: each modifying action tells the owner before and after.

struct Heard {
  series::Change change;
  i32 index;
  i32 part;
};
std::vector<Heard> g_heard;
bool g_owned = true;

bool listen(const Cell*, int change, const Cell*, i32 index, i32 part) {
  auto c = series::Change(change);
  g_heard.push_back({c, index, part});
  return g_owned;
}

std::string heard_text() {
  std::string s;
  for (const auto& h : g_heard)
    s += std::string(series::change_word(h.change)) + " " + std::to_string(h.index) + " " +
         std::to_string(h.part) + "; ";
  return s;
}

TEST(SeriesOwnership, EveryModificationNotifiesTwice) {
  test::ensure_core_types();
  struct Case {
    std::function<void(Cell*)> act;
    const char* owned;    // what an owner hears
    const char* unowned;  // what is heard when the first notification found no owner
  };
  const Case cases[] = {
      {[](Cell* s) {
         Cell v = is_any_block(s->type()) ? int_cell(9) : test::char_cell(9);
         series::poke(s, 1, &v, nullptr);
       }, "poke 1 1; poked 1 1; ", "poke 1 1; "},
      {[](Cell* s) { series::clear(s); }, "clear 1 4; cleared 1 0; ", "clear 1 4; cleared 1 0; "},
      {[](Cell* s) { series::remove(s, nullptr, nullptr); }, "remove 1 1; removed 1 0; ",
       "remove 1 1; removed 1 0; "},
      {[](Cell* s) { series::reverse(s, nullptr, nullptr); }, "reverse 1 4; reversed 1 4; ",
       "reverse 1 4; reversed 1 4; "},
      {[](Cell* s) { Cell p = int_cell(2); series::take(s, &p, false, false); }, "take 1 2; taken 1 0; ",
       "take 1 2; taken 1 0; "},
      {[](Cell* s) { Cell d = at_index(*s, 4), p = int_cell(1); series::move(s, &d, &p); },
       "move 1 1; moved 3 1; ", "move 1 1; moved 3 1; "},
      {[](Cell* s) { series::random(s, false, false, false); }, "random 1 4; randomized 1 4; ", "random 1 4; "},
  };
  auto saved = g_services;
  g_services.random_range = &always_last;
  g_services.series_change = &listen;
  for (bool owned : {true, false}) {
    g_owned = owned;
    for (std::size_t w = 0; w < 5; w++) {
      for (const auto& c : cases) {
        if (w == 4 && &c == &cases[0]) continue;  // vector elements: not here
        Cell s = at_index(five_of_every_width()[w], 1);
        g_heard.clear();
        c.act(&s);
        EXPECT_EQ(heard_text(), owned ? c.owned : c.unowned) << "width #" << w;
      }
    }
  }
  // Nothing changes, nothing is heard.
  g_heard.clear();
  Cell t = at_index(test::ints({1}), 1);
  series::clear(&t);
  Cell p = int_cell(0);
  series::remove(&t, &p, nullptr);
  EXPECT_EQ(heard_text(), "");
  g_services.series_change = nullptr;
  g_services = saved;
}

}  // namespace
}  // namespace zot

// The model test of changes under owner handlers: for every series datatype,
// every changing action, and a handler that (on the first notification only)
// clears, shrinks, grows, widens or replaces the series, or changes the value
// being put in, the action either works on the series as the handler left it
// or raises an error; afterwards every series involved is sound.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "interpreter/eval.h"
#include "runtime/rooted.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"
#include "tests/unit/series_check.h"

namespace zot {
namespace {

struct Kind {
  const char* name;
  const char* make;   // the owned series (6 elements)
  const char* other;  // a second owned series of the same kind
  const char* elem;   // one element
  const char* value;  // a series value that the kind takes in
  const char* more;   // what a growing handler appends, many times
};

const Kind kKinds[] = {
    {"block", "[1 2 3 4 5 6]", "[7 8 9]", "99", "[a b c d]", "[x y z]"},
    {"paren", "to paren! [1 2 3 4 5 6]", "to paren! [7 8 9]", "99", "[a b c d]", "[x y z]"},
    {"hash", "make hash! [1 2 3 4 5 6]", "make hash! [7 8 9]", "99", "[a b c d]", "[x y z]"},
    {"string", "copy \"abcdef\"", "copy \"ghi\"", "#\"x\"", "copy \"wxyz\"", "\"xyz\""},
    {"wide string", "copy \"ab\u00e9\u20acef\"", "copy \"gh\u00ee\"", "#\"\u03bb\"", "copy \"w\u00ffyz\"",
     "\"x\u20acz\""},
    {"binary", "#{010203040506}", "#{070809}", "255", "#{AABBCCDD}", "#{EEFF}"},
    {"vector", "make vector! [1 2 3 4 5 6]", "make vector! [7 8 9]", "99", "[10 11 12 13]", "[14 15]"},
    {"float vector", "make vector! [1.5 2.5 3.5 4.5 5.5 6.5]", "make vector! [7.5 8.5]", "9.5", "[1.0 2.0 3.0]",
     "[4.0 5.0]"},
    {"map", "#[a: 1 b: 2 c: 3]", "#[d: 4]", "99", "[e 5 f 6]", "[g 7]"},
    {"bitset", "make bitset! #{FF00FF}", "make bitset! #{0F}", "3", "[1 2 3]", "[7]"},
};

// What the handler does, once, to the series it is told of (t) or to the
// value being put in (v).
const char* const kHandlers[] = {
    "clear head t",
    "clear skip head t 2",
    "loop 40 [append t MORE]",
    "append head t \"\U0001F600\"",
    "o/s: copy [1] victim: copy \"hello world\"",
    "clear head v",
    "loop 40 [append v MORE]",
    "insert head t MORE",
};

// The changing actions, on the owned series S (and the second one, S2).
const char* const kActions[] = {
    "poke S 2 ELEM",
    "o/s/2: ELEM",
    "o/s/(1 + 1): ELEM",
    "clear next S",
    "clear S",
    "remove next S",
    "remove/part next S 3",
    "reverse next S",
    "reverse/part next S 4",
    "move/part next S S2 3",
    "move/part next S tail S 2",
    "move/part skip S 3 S 2",
    "take next S",
    "take/part next S 3",
    "take/last S",
    "take/part/last S 2",
    "append S v",
    "append/dup S v 3",
    "append/only S v",
    "append S ELEM",
    "insert next S v",
    "insert/part next S v 2",
    "insert/dup next S ELEM 5",
    "change next S v",
    "change/part next S v 3",
    "change next S ELEM",
    "change/dup next S ELEM 4",
    "put S ELEM ELEM",
    "swap next S S2",
    "swap next S next S",
    "trim S",
    "sort S",
    "remove-each x S [true]",
};

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
  return s;
}

struct OwnerHandlers : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

TEST_F(OwnerHandlers, EveryActionLeavesEverySeriesSound) {
  int ran = 0, heard = 0;
  for (const Kind& k : kKinds) {
    for (const char* handler : kHandlers) {
      for (const char* action : kActions) {
        std::string h = replace_all(handler, "MORE", k.more);
        std::string a = replace_all(replace_all(replace_all(action, "ELEM", k.elem), "S2", "o/s2"), "S", "o/s");
        std::string source = std::string("done: false v: ") + k.value +
                             "\no: make object! [s: " + k.make + " s2: " + k.other +
                             " on-deep-change*: func [o w t a n i p] [if not done [done: true " + h + "]]]" +
                             "\nkeep: reduce [o/s o/s2 v] try [" + a + "] append keep reduce [o/s o/s2 v done] keep";
        // Every eleventh case runs with the collector on, a spread over kinds,
        // handlers and actions: in the stress build each allocation of the
        // handler and the action then collects and moves buffers (all of them
        // so would take minutes there).
        Rooted out;
        bool collecting = ran % 11 == 0;
        int code = test::error_code_of([&] {
          std::optional<test::CollectingOn> on;
          if (collecting) on.emplace();
          Rooted code = test::load(source);
          out = interp::do_block(&code.cell);
        });
        std::string where = std::string(k.name) + " | " + h + " | " + a;
        ASSERT_TRUE(out.cell.is(T_BLOCK)) << where << "\n" << source << "\nerror " << code;
        for (i32 i = 0; i < series::total_length(&out.cell); i++) {
          Cell c = *block::cell_at(&out.cell, i);
          std::string bad = test::unsound(c);
          EXPECT_EQ(bad, "") << where << " (value " << i << ")";
          // Molding walks every cell and unit (a type without a mold raises).
          if (bad.empty()) test::error_code_of([&] { test::mold_text(c); });
        }
        ran++;
        const Cell* last = block::cell_at(&out.cell, series::total_length(&out.cell) - 1);
        heard += last->is(T_LOGIC) && last->w1;
      }
    }
  }
  EXPECT_EQ(ran, int(std::size(kKinds) * std::size(kHandlers) * std::size(kActions)));
  // Most cases reach a handler (the rest fail or change nothing first).
  EXPECT_GT(heard, ran / 2);
}

}  // namespace
}  // namespace zot

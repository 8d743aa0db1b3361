// bitset!: set operations against a model of the members (negated operands
// included), the text form, spec walking, and the errors of the spec rules.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::load;
using test::mold;
using test::run;

struct BitsetTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// A bitset as the model sees it: the stored bits and what lies past them.
struct Model {
  std::vector<bool> bits;
  bool negated = false;
  bool has(std::size_t i) const { return i < bits.size() ? bits[i] : negated; }
};

Cell make_bits(const Model& m) {
  Cell c;
  bitset::make_at(&c, u32(m.bits.size() / 8), false);
  for (std::size_t i = 0; i < m.bits.size(); i++)
    if (m.bits[i]) bitset::buffer(&c)[i >> 3] |= u8(0x80u >> (i & 7));
  if (m.negated) bitset::series_of(&c)->flags |= bitset::kNegated;
  return c;
}

// Runs do_bitwise on a fresh frame holding the two operands.
Cell combine(const Cell& a, const Cell& b, int op) {
  Cell* base = stack::g_base;
  Cell* top = stack::g_top;
  stack::g_base = stack::g_top;
  stack::push(&a);
  stack::push(&b);
  bitset::do_bitwise(op);
  Cell r = stack::g_base[0];
  stack::g_base = base;
  stack::g_top = top;
  return r;
}

bool model_op(int op, bool x, bool y) {
  switch (op) {
    case bitset::kOpOr: case bitset::kOpUnion: return x || y;
    case bitset::kOpAnd: case bitset::kOpIntersect: return x && y;
    case bitset::kOpXor: case bitset::kOpDifference: return x != y;
    case bitset::kOpExclude: return x && !y;
    default: return x;  // unique
  }
}

TEST_F(BitsetTest, SetOperationsMatchTheModelWithNegatedOperands) {
  std::mt19937 rng(1234);
  const int ops[] = {bitset::kOpOr,    bitset::kOpAnd,     bitset::kOpXor,        bitset::kOpUnique,
                     bitset::kOpUnion, bitset::kOpIntersect, bitset::kOpExclude, bitset::kOpDifference};
  for (int round = 0; round < 300; round++) {
    Model ma, mb;
    ma.bits.resize(std::size_t(rng() % 5) * 8);
    mb.bits.resize(std::size_t(rng() % 5) * 8);
    for (auto&& b : ma.bits) b = rng() & 1;
    for (auto&& b : mb.bits) b = rng() & 1;
    ma.negated = rng() & 1;
    mb.negated = rng() & 1;
    for (int op : ops) {
      Cell a = make_bits(ma), b = make_bits(mb);
      Cell r = combine(a, b, op);
      ASSERT_TRUE(r.is(T_BITSET));
      for (u32 i = 0; i < 64; i++)
        ASSERT_EQ(bitset::has(&r, i), model_op(op, ma.has(i), mb.has(i)))
            << "op " << op << " bit " << i << " round " << round;
      // Far past every storage: the result's flag answers.
      ASSERT_EQ(bitset::has(&r, 1u << 20), model_op(op, ma.negated, mb.negated)) << "op " << op;
      // The operands are left alone.
      for (u32 i = 0; i < 40; i++) ASSERT_EQ(bitset::has(&a, i), ma.has(i));
    }
  }
}

TEST_F(BitsetTest, NormalOperandsKeepTheirResultLengths) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"(make bitset! #{80}) and (make bitset! #{C0 01})", "make bitset! #{80}"},
      {"(make bitset! #{80 FF}) or (make bitset! #{40})", "make bitset! #{C0FF}"},
      {"(make bitset! #{F0}) xor (make bitset! #{30 01})", "make bitset! #{C001}"},
      {"(make bitset! #{F0 0F}) and (make bitset! #{FF})", "make bitset! #{F0}"},
      {"(make bitset! #{80}) xor (make bitset! [not #{80}])", "make bitset! [not #{00}]"},
      {"(make bitset! [not #{80}]) or (make bitset! #{80})", "make bitset! [not #{00}]"},
      {"(make bitset! [not #{80}]) and (make bitset! [not #{40}])", "make bitset! [not #{C0}]"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(BitsetTest, MakeAndMoldTable) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"make bitset! 8", "make bitset! #{00}"},
      {"make bitset! 0", "make bitset! #{}"},
      {"length? make bitset! 10", "16"},
      {"length? make bitset! 0", "0"},
      {"make bitset! 9.5", "make bitset! #{0000}"},
      {"make bitset! [not #{80}]", "make bitset! [not #{80}]"},
      {"make bitset! [not #\"^@\"]", "make bitset! [not #{80}]"},
      {"make bitset! #{F0 01}", "make bitset! #{F001}"},
      {"make bitset! \"a\"", "make bitset! #{00000000000000000000000040}"},
      {"make bitset! [not \"a\"]", "make bitset! [not #{00000000000000000000000040}]"},
      {"make bitset! [#\"a\" - #\"c\"]", "make bitset! #{00000000000000000000000070}"},
      {"make bitset! [0 - 9 12]", "make bitset! #{FFC8}"},
      {"make bitset! [1 [2 \"^A\"]]", "make bitset! #{60}"},
      {"make bitset! []", "make bitset! #{00}"},
      {"make bitset! make bitset! #{42}", "make bitset! #{42}"},
      {"to bitset! \"^@\"", "make bitset! #{80}"},
      {"complement make bitset! #{0F}", "make bitset! [not #{0F}]"},
      {"negate make bitset! [not #{0F}]", "make bitset! #{0F}"},
      {"x: make bitset! 8 append x 20 x", "make bitset! #{000008}"},
      {"x: make bitset! [not #{00}] append x 100 x", "make bitset! [not #{00}]"},
      {"x: make bitset! [not #{00}] clear x x", "make bitset! [not #{00}]"},
      {"x: make bitset! #{FF} clear x x", "make bitset! #{00}"},
      {"mold/part make bitset! #{ABCD} 16", "\"make bitset! #{A\""},
      {"form make bitset! #{01}", "\"make bitset! #{01}\""},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(BitsetTest, MembershipTable) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"pick make bitset! \"abc\" #\"b\"", "true"},
      {"pick make bitset! \"abc\" \"ab\"", "true"},
      {"pick make bitset! \"abc\" \"az\"", "false"},
      {"pick make bitset! \"abc\" 100000", "false"},
      {"pick complement make bitset! \"abc\" 100000", "true"},
      {"pick complement make bitset! \"abc\" #\"a\"", "false"},
      {"pick make bitset! [not \"a\"] [#\"b\" - #\"z\"]", "true"},
      {"pick make bitset! [not \"a\"] [#\"a\" - #\"z\"]", "false"},
      {"find make bitset! \"abc\" \"cab\"", "true"},
      {"find make bitset! \"abc\" \"abd\"", "none"},
      {"x: make bitset! \"abc\" x/98", "true"},
      {"x: make bitset! 8 poke x 65 1 x/65", "true"},
      {"x: make bitset! 8 poke x 65 1 poke x 65 0 x/65", "false"},
      {"x: make bitset! 8 poke x 65 none x", "make bitset! #{00}"},
      // remove takes members out of either kind.
      {"x: make bitset! \"abc\" remove/key x #\"b\" pick x \"ac\"", "true"},
      {"x: make bitset! \"abc\" remove/key x #\"b\" pick x #\"b\"", "false"},
      {"x: make bitset! [not \"a\"] remove/key x #\"b\" pick x #\"b\"", "false"},
      {"x: make bitset! [not \"a\"] remove/key x 100000 pick x 100000", "false"},
      {"x: make bitset! [not \"a\"] remove/key x 100000 pick x 100001", "true"},
      // Clearing a range that reaches past a normal bitset still clears what is stored.
      {"x: make bitset! \"a\" remove/key x [#\"a\" - #\"z\"] x", "make bitset! #{00000000000000000000000000}"},
      {"x: make bitset! \"a\" remove/key x \"a^(1000)\" x", "make bitset! #{00000000000000000000000000}"},
      {"(make bitset! #{80}) = (make bitset! #{80})", "true"},
      {"(make bitset! #{80}) = (make bitset! #{8000})", "false"},
      {"(make bitset! #{01}) < (make bitset! #{80})", "true"},
      {"(make bitset! #{FF}) < (make bitset! [not #{00}])", "true"},
      {"x: make bitset! 8 same? x x", "true"},
      {"same? make bitset! 8 make bitset! 8", "false"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(BitsetTest, ErrorsTable) {
  struct Case {
    const char* source;
    Err error;
  };
  const Case cases[] = {
      {"make bitset! [#\"c\" - #\"a\"]", Err::ScriptPastEnd},
      {"make bitset! [1 -]", Err::ScriptPastEnd},
      {"make bitset! [1 - \"a\"]", Err::ScriptPastEnd},
      {"make bitset! [1 - #\"c\"]", Err::ScriptInvalidArg},
      {"make bitset! -1", Err::ScriptOutOfRange},
      {"make bitset! [-1]", Err::ScriptOutOfRange},
      {"make bitset! 1e20", Err::ScriptOutOfRange},
      {"to bitset! 8", Err::ScriptBadToArg},
      {"make bitset! 'foo", Err::ScriptBadMakeArg},
      {"to bitset! 'foo", Err::ScriptBadToArg},
      {"make bitset! [#{00}]", Err::InternalNotDone},
      {"append make bitset! 8 'foo", Err::ScriptInvalidArg},
      {"append make bitset! 8 -1", Err::ScriptOutOfRange},
      {"remove make bitset! 8", Err::ScriptMissingArg},
      {"x: make bitset! 8 x/foo", Err::ScriptInvalidType},
      {"(make bitset! 8) and 1", Err::ScriptInvalidType},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), "error " + std::to_string(error_code(c.error))) << c.source;
}

TEST_F(BitsetTest, HasAnswersTheNegationFlagPastTheStorage) {
  Cell c;
  bitset::make_at(&c, 1, false);
  bitset::buffer(&c)[0] = 0x81;
  EXPECT_TRUE(bitset::has(&c, 0));
  EXPECT_TRUE(bitset::has(&c, 7));
  EXPECT_FALSE(bitset::has(&c, 1));
  EXPECT_FALSE(bitset::has(&c, 8));
  bitset::series_of(&c)->flags |= bitset::kNegated;
  EXPECT_TRUE(bitset::has(&c, 8));
  EXPECT_TRUE(bitset::has(&c, 0xFFFFFFFFu));
  EXPECT_FALSE(bitset::has(&c, 1));
}

}  // namespace
}  // namespace zot

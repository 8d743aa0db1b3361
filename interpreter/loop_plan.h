// Loop plans: a loop body (or a while condition) made only of pure
// expressions, each alone or the value of a set-word stored in place, is
// decoded once into integer operations on value cells, which the following
// rounds run without reading the code again.
//
// Why a plan stays true from one round to the next: a round that the plan
// ran ran nothing else (no Zot code, no allocation, no collection, no trace
// event, no change handler), so the block, its words' bindings, the places
// of their values and every value but those the plan stores (and a loop
// counter set in place) are as they were. Each operation still reads its
// operands where they live and checks their types; anything the plan did
// not foresee (an operand that is no integer, an overflow left to the
// action, a word that no longer holds its operation, a buffer moved,
// tracing, Ctrl+C) hands the round, from the expression it was at, to the
// full evaluation, and the plan is dropped. Whatever runs outside a plan (a
// round in full, a counter set through change handlers) drops it too: the
// loop natives see to that.
#pragma once

#include "interpreter/eval_fast.h"
#include "platform/platform.h"

namespace zot::interp {

// ZOT_NO_PLANS in the environment (any value), read once at start-up: loops
// run no plan at all, for tests that compare a program's runs with and
// without them.
extern bool g_no_plans;
void read_plan_switch();

class LoopPlan {
 public:
  // One round of the block by the plan, built first when there is none
  // (unless recent rounds showed it not worth trying). True: done, the value
  // is the frame's only cell. False: the plan is dropped and the round goes
  // to the full evaluation from *from (the block at the first expression not
  // done; the ones before it are).
  ZOT_INLINE bool round(const Cell& block, Cell* from) {
    if (ZOT_UNLIKELY(!count_) && (ZOT_UNLIKELY(g_no_plans) || !build(block))) {
      *from = block;
      return false;
    }
    const u32 missed_at = run();
    if (ZOT_LIKELY(missed_at == kDone)) return true;
    miss(block, missed_at, from);
    return false;
  }
  // Sets a loop counter's word to n in place (set_word_in_place) and answers
  // true, or answers false for a word that must be set through context::set.
  // While a plan stands, the cell is the one found before it was built.
  ZOT_INLINE bool set_counter(const Cell& word, i32 n) {
    if (ZOT_LIKELY(count_ != 0) && counter_) {
      set_integer(counter_, n);
      return true;
    }
    counter_ = in_place_cell(word);
    if (!counter_) return false;
    set_integer(counter_, n);
    return true;
  }
  // Forgets the plan: something ran that it cannot vouch for.
  ZOT_INLINE void drop() {
    if (count_) missed();
  }

 private:
  // An integer operation: *out = op(*a, *b), op the value of a word whose
  // cell still has fn_type. Operands and results are cells: a word's value, a literal
  // kept here, an earlier operation's out.
  struct Operation {
    const Cell* a;
    const Cell* b;
    Cell* out;
    const Cell* fn;
    u8 fn_type;
    u8 op;  // an action's slot, or kNative + a native's index
  };
  static constexpr u8 kNative = 64;
  // integer_fast of the operation op, each case with its own constants.
  ZOT_INLINE static bool operate(u8 op, i64 a, i64 b, Cell* out);
  // An expression: its operations up to `end`, its value *value, stored in
  // *target when it is a set-word's; the next one starts at the block
  // position next.
  struct Expression {
    u32 end;
    u32 next;
    const Cell* value;
    Cell* target;
  };
  static constexpr u32 kMaxOperations = 8;
  static constexpr u32 kMaxExpressions = 4;
  static constexpr u32 kMaxCells = 12;

  static constexpr u32 kDone = ~0u;

  bool build(const Cell& block);
  // The round by the plan: kDone, or the index of the expression where the
  // full evaluation must take over.
  ZOT_INLINE u32 run();
  // The plan missed at expression `at`: *from becomes the block there.
  ZOT_NOINLINE void miss(const Cell& block, u32 at, Cell* from);
  // Drops the plan and waits before the next try: the longer the more plans
  // missed without serving a round after the one they were built for.
  void missed();

  u32 count_ = 0;  // expressions
  Cell* counter_ = nullptr;
  u32 moves_ = 0;
  bool library_ = false;
  // Rounds still to go before the next try, the next wait after a miss, and
  // the rounds the plan ran.
  u32 wait_ = 0;
  u32 backoff_ = 0;
  u32 runs_ = 0;
  Expression expressions_[kMaxExpressions];
  Operation operations_[kMaxOperations];
  Cell cells_[kMaxCells];  // literals and results of operations

  friend struct PlanDecoder;
};

bool LoopPlan::operate(u8 op, i64 a, i64 b, Cell* out) {
  switch (op) {
#define ZOT_PLAN_ACTION(slot) \
  case actions::slot: return integer_fast(T_ACTION, actions::slot, a, b, out);
#define ZOT_PLAN_NATIVE(index) \
  case kNative + natives::index: return integer_fast(T_NATIVE, natives::index, a, b, out);
    ZOT_PLAN_ACTION(kAdd)
    ZOT_PLAN_ACTION(kSubtract)
    ZOT_PLAN_ACTION(kMultiply)
    ZOT_PLAN_ACTION(kRemainder)
    ZOT_PLAN_ACTION(kAnd)
    ZOT_PLAN_ACTION(kOr)
    ZOT_PLAN_ACTION(kXor)
    ZOT_PLAN_NATIVE(kEqualQ)
    ZOT_PLAN_NATIVE(kNotEqualQ)
    ZOT_PLAN_NATIVE(kStrictEqualQ)
    ZOT_PLAN_NATIVE(kLesserQ)
    ZOT_PLAN_NATIVE(kGreaterQ)
    ZOT_PLAN_NATIVE(kLesserOrEqualQ)
    ZOT_PLAN_NATIVE(kGreaterOrEqualQ)
#undef ZOT_PLAN_ACTION
#undef ZOT_PLAN_NATIVE
    default: return false;  // an operation not listed here: always the full road
  }
}

u32 LoopPlan::run() {
  if (ZOT_UNLIKELY(g_tracing) || ZOT_UNLIKELY(moves_ != mem::g_moves) ||
      (ZOT_UNLIKELY(platform::interrupt_requested()) && !library_))
    return 0;
  ZOT_FUZZ_STEP();
  const Operation* o = operations_;
  const Expression* e = expressions_;
  const Expression* const last = expressions_ + count_ - 1;
  for (;;) {
    for (const Operation* end = operations_ + e->end; o < end; o++) {
      if (ZOT_UNLIKELY(o->fn->type() != o->fn_type) || ZOT_UNLIKELY(!o->a->is(T_INTEGER)) ||
          ZOT_UNLIKELY(!o->b->is(T_INTEGER)) ||
          ZOT_UNLIKELY(!operate(o->op, o->a->int_value(), o->b->int_value(), o->out)))
        return u32(e - expressions_);
    }
    if (e->target) *e->target = *e->value;
    if (e == last) break;
    e++;
  }
  stack::set_only_result(e->value);
  runs_++;
  return kDone;
}

}  // namespace zot::interp

// Loop plans: a loop body (or a while condition) made only of pure
// expressions, each alone or the value of a set-word stored in place, is
// decoded once into a few steps, which the following rounds run without
// reading the code again.
//
// Why a plan stays true from one round to the next: a round that the plan
// ran ran nothing else (no Zot code, no allocation, no collection, no trace
// event, no change handler), so the block, its words' bindings, the places
// of their values and every value but those the plan stores (and a loop
// counter set in place) are as they were. Each step still reads its value
// where it lives and checks its type; anything the plan did not foresee (an
// operand that is no integer, an overflow left to the action, a word that no
// longer holds its operation, a buffer moved, tracing, Ctrl+C) hands the
// round, from the expression it was at, to the full evaluation, and the plan
// is dropped. Whatever runs outside a plan (a round in full, a counter set
// through change handlers) drops it too: the loop natives see to that.
#pragma once

#include "runtime/cell.h"

namespace zot::interp {

class LoopPlan {
 public:
  // One round of the block by the plan, built first when there is none
  // (unless recent rounds showed it not worth trying). True: done, the value
  // is the frame's only cell. False: the plan is dropped and the round goes
  // to the full evaluation from *from (the block at the first expression not
  // done; the ones before it are).
  ZOT_INLINE bool round(const Cell& block, Cell* from) {
    if (ZOT_UNLIKELY(!count_) && !build(block)) {
      *from = block;
      return false;
    }
    return run(block, from);
  }
  // Forgets the plan: something ran that it cannot vouch for.
  ZOT_INLINE void drop() {
    if (count_) missed();
  }

 private:
  // An integer operation: *out = fn(*a, *b), fn (type: action or native;
  // index: its slot or index) the value of a word whose cell still has
  // fn_type. Operands and results are cells: a word's value, a literal
  // kept here, an earlier operation's out.
  struct Operation {
    const Cell* a;
    const Cell* b;
    Cell* out;
    const Cell* fn;
    u8 fn_type;
    u8 type;
    u8 index;
  };
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

  bool build(const Cell& block);
  bool run(const Cell& block, Cell* from);
  // Drops the plan and waits before the next try: the longer the more plans
  // missed without serving a round after the one they were built for.
  void missed();

  u32 count_ = 0;  // expressions
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

}  // namespace zot::interp

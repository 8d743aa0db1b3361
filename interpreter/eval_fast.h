// The evaluator's fast paths, shared by the evaluator and the argument
// fetching of calls: a view of the code, word values without a lookup by
// name, the infix test, and simple arguments pushed without a full
// expression evaluation.
#pragma once

#include <cstring>

#include "datatypes/context.h"
#include "interpreter/eval.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace zot::interp {

// The larger fast paths are forced inline only when optimizing: without
// optimization each forced copy keeps stack slots of its own, and the frame
// of the recursive evaluator would grow past what deep nesting leaves room for.
#ifdef __OPTIMIZE__
#define ZOT_EVAL_INLINE ZOT_INLINE
#else
#define ZOT_EVAL_INLINE inline
#endif

// A block's cells and length, read through its node: good until anything
// allocates or runs Zot code (which may change the block or move its buffer).
struct CodeView {
  const Cell* cells;
  u32 length;
};
ZOT_INLINE CodeView view_of(mem::Node series) {
  const mem::Series* s = mem::series_of(series);
  return {s->cells(), (s->tail - s->head) / u32(sizeof(Cell))};  // blocks hold cells
}

// Where the words that evaluation meets most keep their values, so that a
// lookup is one load: the arguments of the function running now (on the
// argument stack, which never moves), and the global context's values (a
// buffer, good while no buffer moved).
struct WordPlaces {
  u32 fn_ctx = ~0u;            // the running function's context (~0: none)
  Cell* fn_values = nullptr;   // its arguments
  Cell* globals = nullptr;
  u32 moves = ~0u;             // mem::g_moves when globals was read
};
extern WordPlaces g_places;

Cell* read_globals();
ZOT_INLINE Cell* globals() {
  if (ZOT_LIKELY(g_places.moves == mem::g_moves))
    return g_places.globals;
  return read_globals();
}

// The value cell of a word bound in a context whose values exist now, else
// null (self, an unbound word, a function that is not running).
ZOT_INLINE Cell* bound_value(const Cell* word) {
  const u32 ctx = word->word_context();
  const u32 index = u32(word->word_index());
  if (ZOT_UNLIKELY(i32(index) < 0)) return nullptr;
  if (ctx == g_places.fn_ctx) return g_places.fn_values + index;
  if (ctx == context::g_global) return globals() + index;
  if (!ctx) return nullptr;
  return context::value_at(ctx, index);
}

// The value cell of a bound word. Anything else goes the long way, which
// raises its error.
ZOT_INLINE const Cell* word_value(const Cell* word) {
  if (const Cell* v = bound_value(word)) return v;
  return context::get(word);
}

// Where a bound word's value is stored with no change handler to hear it:
// a running function's argument, a global word (the global context's owner
// has no change events, and global words keep no stored mark), a context
// whose values are on the stack. Null for every other word, which goes
// through context::set.
ZOT_INLINE Cell* in_place_cell(const Cell& word) {
  const u32 context = word.word_context();
  const i32 index = word.word_index();
  if (context == g_places.fn_ctx && index >= 0) return g_places.fn_values + index;
  if (ZOT_LIKELY(index >= 0 && context)) {
    if (context == context::g_global) return globals() + index;
    Cell* ctx = context::ctx_cell(context);
    if ((ctx->header & context::kStackValues) && ctx->context_values())
      return stack::cell_of(ctx->context_values()) + index;
  }
  return nullptr;
}

// Stores the value of a bound word in place (in_place_cell); answers false
// when it cannot be.
ZOT_INLINE bool set_word_in_place(const Cell& word, const Cell& value) {
  Cell* const cell = in_place_cell(word);
  if (!cell) return false;
  *cell = value;
  return true;
}

// The value of the word at pos of the code when it is an op!, else null.
ZOT_INLINE const Cell* infix_op_at(const CodeView& code, u32 pos, u32 end) {
  if (pos >= end || pos >= code.length) return nullptr;
  const Cell* next = code.cells + pos;
  if (!next->is(T_WORD)) return nullptr;
  const Cell* val = bound_value(next);
  return val && val->is(T_OP) ? val : nullptr;
}

// Types that evaluate to themselves: no word, paren, path or callable (and
// no issue!, which can start system code).
constexpr u64 kNotSelfEvaluating =
    (1ull << T_WORD) | (1ull << T_SET_WORD) | (1ull << T_GET_WORD) | (1ull << T_LIT_WORD) | (1ull << T_PAREN) |
    (1ull << T_PATH) | (1ull << T_SET_PATH) | (1ull << T_GET_PATH) | (1ull << T_LIT_PATH) | (1ull << T_OP) |
    (1ull << T_NATIVE) | (1ull << T_ACTION) | (1ull << T_FUNCTION) | (1ull << T_ROUTINE) | (1ull << T_ISSUE);
constexpr u64 kNotPlainValue = (1ull << T_UNSET) | (1ull << T_OP) | (1ull << T_NATIVE) | (1ull << T_ACTION) |
                               (1ull << T_FUNCTION) | (1ull << T_ROUTINE);
static_assert(kTypeCount < 64, "type masks fit 64 bits");

// Integer arithmetic and comparison of natives and actions, run inline when
// both arguments are integer!: the same results as their slot functions
// (a sum, difference or product that overflows is a float). Answers false
// to take the general road (other types, other callables, a remainder by 0).
ZOT_INLINE bool integer_fast(u32 type, u32 index, i64 a, i64 b, Cell* out) {
  if (type == T_ACTION) {
    i64 v;
    switch (index) {
      case actions::kAdd: v = a + b; break;
      case actions::kSubtract: v = a - b; break;
      case actions::kMultiply: v = a * b; break;
      case actions::kRemainder:
        if (b == 0 || b == -1) return false;
        v = a % b;
        break;
      case actions::kAnd: v = a & b; break;
      case actions::kOr: v = a | b; break;
      case actions::kXor: v = a ^ b; break;
      default: return false;
    }
    if (v >= INT32_MIN && v <= INT32_MAX) set_integer(out, i32(v));
    else set_float(out, double(v));
    return true;
  }
  if (type == T_NATIVE) {
    bool v;
    switch (index) {
      case natives::kEqualQ: v = a == b; break;
      case natives::kNotEqualQ: v = a != b; break;
      case natives::kStrictEqualQ: v = a == b; break;
      case natives::kLesserQ: v = a < b; break;
      case natives::kGreaterQ: v = a > b; break;
      case natives::kLesserOrEqualQ: v = a <= b; break;
      case natives::kGreaterOrEqualQ: v = a >= b; break;
      default: return false;
    }
    set_logic(out, v);
    return true;
  }
  return false;
}

// The value of a pure expression at pos: one that only reads values (simple
// values, parens of pure expressions, and calls of the integer operations on
// pure arguments, prefix or infix, that the integer fast path runs), so that
// it can be computed without frames, trace events or errors. Writes out and
// moves pos past it; answers false, pos untouched, when any piece needs the
// full evaluation, which then starts over from pos (nothing seen was done).
bool pure_expression(const CodeView& code, u32& pos, u32 end, bool no_infix, Cell* out);
// The operators of a pure expression from pos (at an operator) on, applied
// to the value in left, which becomes the result. Moves pos past them;
// answers false when any piece needs the full evaluation (left is then
// spoiled, pos untouched). depth: the nesting already met.
bool pure_infix_at(const CodeView& code, u32& pos, u32 end, Cell* left, u32 depth = 0);

// The actions and natives integer_fast runs, as bits by slot and index.
constexpr u64 kIntegerActions = (1ull << actions::kAdd) | (1ull << actions::kSubtract) |
                                (1ull << actions::kMultiply) | (1ull << actions::kRemainder) |
                                (1ull << actions::kAnd) | (1ull << actions::kOr) | (1ull << actions::kXor);
constexpr u64 kIntegerNatives = (1ull << natives::kEqualQ) | (1ull << natives::kNotEqualQ) |
                                (1ull << natives::kStrictEqualQ) | (1ull << natives::kLesserQ) |
                                (1ull << natives::kGreaterQ) | (1ull << natives::kLesserOrEqualQ) |
                                (1ull << natives::kGreaterOrEqualQ);
static_assert(actions::kSlotCount <= 64 && natives::kGreaterOrEqualQ < 64, "integer operations fit 64 bits");

// A callable that the integer fast path runs (arithmetic, comparison).
ZOT_INLINE bool integer_operation(const Cell& fn) {
  if (fn.is(T_ACTION)) return fn.action_slot() < 64 && ((kIntegerActions >> fn.action_slot()) & 1);
  return fn.is(T_NATIVE) && fn.native_index() < 64 && ((kIntegerNatives >> fn.native_index()) & 1);
}

// An integer! argument that stands as one value (a literal, or a word
// whose value it is) with no operator after it, else null.
ZOT_INLINE const Cell* plain_integer_at(const CodeView& code, u32 at, u32 end) {
  if (at >= end || at >= code.length) return nullptr;
  const Cell* c = code.cells + at;
  if (c->is(T_WORD)) c = bound_value(c);
  if (!c || !c->is(T_INTEGER) || infix_op_at(code, at + 1, end)) return nullptr;
  return c;
}

// A prefix call of an integer operation fn (at `at`) on two such arguments:
// the value in out. It ends at at + 3.
ZOT_INLINE bool plain_integer_call(const CodeView& code, u32 at, u32 end, const Cell& fn, Cell* out) {
  const Cell* a = plain_integer_at(code, at + 1, end);
  if (!a) return false;
  const Cell* b = plain_integer_at(code, at + 2, end);
  return b && integer_fast(fn.type(), fn.callable_target(), a->int_value(), b->int_value(), out);
}

// A paren whose first value can start a pure expression.
ZOT_INLINE bool paren_may_be_pure(const Cell& paren) {
  const CodeView in = view_of(paren.series_node());
  const u32 head = u32(paren.series_index());
  if (head >= in.length) return false;
  const Cell* first = in.cells + head;
  if (first->is(T_WORD)) {
    const Cell* fv = bound_value(first);
    return fv && (!((kNotPlainValue >> fv->type()) & 1) || integer_operation(*fv));
  }
  return !((kNotSelfEvaluating >> first->type()) & 1);
}

// pure_expression's common case inline: one simple value, no infix after it;
// a value that cannot start a pure expression (a call of anything but an
// integer operation, a set-word...) is turned down here, cheaply.
ZOT_EVAL_INLINE bool simple_expression(const CodeView& code, u32& pos, u32 end, bool no_infix, Cell* out) {
  if (ZOT_UNLIKELY(g_tracing)) return false;
  const Cell* at = code.cells + pos;
  const u32 t = at->type();
  const Cell* v;
  if (!((kNotSelfEvaluating >> t) & 1)) {
    v = at;
  } else if (t == T_WORD) {
    v = bound_value(at);
    if (!v) return false;
    if ((kNotPlainValue >> v->type()) & 1) {
      if (!integer_operation(*v)) return false;
      // `remainder i 7`: nothing can follow it as an operator.
      if (plain_integer_call(code, pos, end, *v, out)) {
        pos += 3;
        return true;
      }
      return pure_expression(code, pos, end, no_infix, out);
    }
  } else if (t == T_PAREN) {
    if (!paren_may_be_pure(*at)) return false;
    return pure_expression(code, pos, end, no_infix, out);
  } else {
    return false;
  }
  if (no_infix) {
    *out = *v;
    pos++;
    return true;
  }
  const Cell* op = infix_op_at(code, pos + 1, end);
  if (!op) {
    *out = *v;
    pos++;
    return true;
  }
  // The most common operation, `a - 1`, `i < n`: two integers and no
  // further operator.
  if (!v->is(T_INTEGER)) return false;
  const u32 r = pos + 2;
  if (r < end && r < code.length) {
    const Cell* right = code.cells + r;
    if (right->is(T_WORD)) right = bound_value(right);
    if (right && right->is(T_INTEGER) && !infix_op_at(code, r + 1, end) &&
        integer_fast(op->op_type(), op->callable_target(), v->int_value(), right->int_value(), out)) {
      pos = r + 1;
      return true;
    }
    // An unbound word, or a call of anything but an integer operation
    // (`s + select m k`), or a paren of one (`s + (f a)`): no pure expression.
    if (!right) return false;
    if (right->is(T_PAREN) && !paren_may_be_pure(*right)) return false;
    if ((kNotPlainValue >> right->type()) & 1) {
      if (!integer_operation(*right)) return false;
      // `s + remainder i 7`.
      Cell call;
      if (plain_integer_call(code, r, end, *right, &call) && call.is(T_INTEGER) &&
          integer_fast(op->op_type(), op->callable_target(), v->int_value(), call.int_value(), out)) {
        pos = r + 3;
        return true;
      }
    }
  }
  // Else the operators from there on, applied to the plain value.
  Cell left = *v;
  u32 p = pos + 1;
  if (!pure_infix_at(code, p, end, &left)) return false;
  *out = left;
  pos = p;
  return true;
}

// The value of a block (or paren) from its position on when it holds one
// pure expression and nothing more.
ZOT_EVAL_INLINE bool simple_block(const Cell& b, Cell* out) {
  const CodeView cv = view_of(b.series_node());
  u32 pos = u32(b.series_index());
  return pos < cv.length && simple_expression(cv, pos, cv.length, false, out) && pos == cv.length;
}

// A block about to run in the current frame (untraced, past the interrupt
// check) when it starts with a pure expression, or a set-word and a pure
// value stored in place (`[n: n + 1]`): that expression is done (nothing
// can fail, run or be traced meanwhile). When it was the whole block, its
// value is in out, answered true. Else false, from: where the rest starts,
// first: the flags that expression is to be evaluated with (what the probe
// found not pure).
ZOT_EVAL_INLINE bool pure_block_here(const Cell& b, Cell* out, u32& from, u32& first) {
  const CodeView cv = view_of(b.series_node());
  const u32 pos = u32(b.series_index());
  from = pos;
  first = kExprResult;
  if (pos >= cv.length) return false;
  u32 p = pos;
  if (cv.cells[pos].is(T_SET_WORD)) {
    if (++p < cv.length) {
      if (simple_expression(cv, p, cv.length, false, out)) {
        if (!out->is(T_UNSET) && set_word_in_place(cv.cells[pos], *out)) {
          if (p == cv.length) return true;
          from = p;
        }
      } else {
        first = kExprSetNotPure;
      }
    }
  } else if (simple_expression(cv, p, cv.length, false, out)) {
    if (p == cv.length) return true;
    from = p;
  } else {
    first = kExprNotPure;
  }
  return false;
}

// eval_block_here once pure_block_here turned the block down: its
// expressions from `from` on in the current frame (cleared), the last
// value left as the frame's only cell.
void eval_block_here_in_full(const Cell& b, u32 from, u32 first);
// A conditional's branch that pure_block_here turned down, chosen by a pure
// condition (cond, the code at p past the blocks): it runs in the
// conditional's frame (the frame errors name), made now as the call would
// have made it (the native fn, the frame, the condition as its argument),
// from `from` on. The value is left where fn was pushed. Returns p.
ZOT_NOINLINE u32 branch_in_frame(const Cell& fn, const Cell* code, u32 p, const Cell* name, const Cell& cond,
                                 const Cell& branch, u32 from, u32 first);

// The current position comes back on every way out (it names an enclosing
// block, which that block's own frame holds).
struct NearGuard {
  // Kept as two words, not as the cell's four fields: a save and a restore
  // of two moves each.
  u64 saved[2];
  NearGuard() { std::memcpy(saved, &g_near, sizeof saved); }
  ~NearGuard() { std::memcpy(&g_near, saved, sizeof saved); }
};
static_assert(sizeof(Cell) == 2 * sizeof(u64), "a cell is two words");

namespace callpath {
// (call_path.h) A function! called by its word, and a native! or action!,
// called by the evaluator from untraced code.
u32 call_function_by_word(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name);
u32 call_native_from_code(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name);
}  // namespace callpath

// The operators after a value just computed at t0, untraced, from pos (at
// an op!) on, as eval_expression applies them. Returns the next position.
u32 eval_infix(const Cell* code, u32 pos, u32 end, Cell* t0);

// One expression at pos pushed, as eval_expression(code, pos, end,
// kExprPush | first) does (first: kExprNoInfix and the probe's hints).
// Untraced, an expression that starts with a word whose value is a plain
// value, a function!, native! or action!, or with a path, is done here,
// without the evaluator's own call; anything else goes to it.
ZOT_INLINE u32 push_expression(const Cell* code, u32 pos, u32 end, u32 first) {
  if (ZOT_LIKELY(!g_tracing)) {
    const CodeView cv = view_of(code->series_node());
    if (ZOT_UNLIKELY(pos >= cv.length)) return eval_expression(code, pos, end, kExprPush | first);
    Cell* const t0 = stack::g_top;
    const Cell* const at = cv.cells + pos;
    if (at->is(T_WORD)) {
      const Cell* const value = bound_value(at);
      const u32 t = value ? value->type() : T_UNSET;
      if (!((kNotPlainValue >> t) & 1)) {
        ZOT_FUZZ_STEP();
        const Cell* op;
        if ((first & kExprNoInfix) || !(op = infix_op_at(cv, pos + 1, end))) {
          stack::push(value);
          return pos + 1;
        }
        // The most common operation, `x * x`, `i < n`: two integers and
        // no further operator.
        const Cell* right;
        Cell r;
        if (value->is(T_INTEGER) && (right = plain_integer_at(cv, pos + 2, end)) &&
            integer_fast(op->op_type(), op->callable_target(), value->int_value(), right->int_value(), &r)) {
          stack::push(&r);
          return pos + 3;
        }
        stack::push(value);
        return eval_infix(code, pos + 1, end, t0);
      } else if (t == T_FUNCTION || t == T_NATIVE || t == T_ACTION) {
        ZOT_FUZZ_STEP();
        // Both copied: the call may change the code and the word's value.
        const Cell name = *at;
        const Cell fn = *value;
        if (t == T_FUNCTION)
          pos = callpath::call_function_by_word(fn, code, pos + 1, end, &name);
        else if (t == T_NATIVE && fn.native_index() <= natives::kEither)
          pos = call_conditional(fn, code, pos + 1, end, &name);
        else
          pos = callpath::call_native_from_code(fn, code, pos + 1, end, &name);
        if (ZOT_UNLIKELY(runtime::pending())) return pos;
      } else {
        return eval_expression(code, pos, end, kExprPush | first);
      }
    } else if (at->is(T_PATH)) {
      ZOT_FUZZ_STEP();
      const Cell path = *at;
      pos = eval_path(&path, code, pos + 1, end, false, nullptr);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
    } else {
      return eval_expression(code, pos, end, kExprPush | first);
    }
    if (!(first & kExprNoInfix) && pos < end && infix_op_at(view_of(code->series_node()), pos, end))
      return eval_infix(code, pos, end, t0);
    return pos;
  }
  return eval_expression(code, pos, end, kExprPush | first);
}

// The expressions of code from pos (< end) on, evaluated untraced in the
// current frame as a block frame of their own would: each value pushed at
// mark (the one before dropped), Near naming each expression (the caller
// keeps the enclosing Near). The last value is left at mark. Answers false
// on a pending exit, which has already left the frame. first: the flags of
// the first expression.
ZOT_INLINE bool run_expressions_at(const Cell* code, u32 pos, u32 end, bool library, u32 first, Cell* mark) {
  if (!library) g_near = *code;
  for (;;) {
    if (!library) g_near.set_series_index(i32(pos));
    stack::g_top = mark;
    pos = push_expression(code, pos, end, first);
    first = 0;
    if (ZOT_UNLIKELY(runtime::pending())) return false;
    // Tracing switched on by the expression sees it end.
    if (ZOT_UNLIKELY(traced(code))) {
      const Cell r = stack::g_top[-1];
      fire(kEvExpr, code, i32(pos), nullptr, &r);
    }
    // The code may have been shortened meanwhile (never lengthened: end
    // stays where it was).
    if (pos >= end) break;
    const u32 length = view_of(code->series_node()).length;
    if (length < end) end = length;
    if (pos >= end) break;
  }
  return true;
}

// The right operand of an infix operator: a pure expression without infix.
ZOT_EVAL_INLINE bool pure_right_operand(const CodeView& code, u32& pos, u32 end, Cell* out) {
  if (pos >= end || pos >= code.length) return false;
  return simple_expression(code, pos, end, true, out);
}

}  // namespace zot::interp

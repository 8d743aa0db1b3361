// The evaluator's fast paths, shared by the evaluator and the argument
// fetching of calls: a view of the code, word values without a lookup by
// name, the infix test, and simple arguments pushed without a full
// expression evaluation.
#pragma once

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
  const u32 ctx = word->w1;
  const u32 index = word->w3;
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

// Stores the value of a bound word where no change handler can hear it: a
// running function's argument, a global word (the global context's owner has
// no change events, and global words keep no stored mark), a context whose
// values are on the stack. Answers false for every other word, which goes
// through context::set.
ZOT_INLINE bool set_word_in_place(const Cell& word, const Cell& value) {
  if (word.w1 == g_places.fn_ctx && i32(word.w3) >= 0) {
    g_places.fn_values[word.w3] = value;
    return true;
  }
  if (ZOT_LIKELY(i32(word.w3) >= 0 && word.w1)) {
    if (word.w1 == context::g_global) {
      globals()[word.w3] = value;
      return true;
    }
    Cell* ctx = context::ctx_cell(word.w1);
    if ((ctx->header & context::kStackValues) && ctx->w2) {
      stack::cell_of(ctx->w2)[word.w3] = value;
      return true;
    }
  }
  return false;
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

// A callable that the integer fast path runs (arithmetic, comparison).
ZOT_INLINE bool integer_operation(const Cell& fn) {
  Cell probe;
  return integer_fast(fn.type(), fn.w1, 1, 1, &probe);
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
      return pure_expression(code, pos, end, no_infix, out);
    }
  } else if (t == T_PAREN) {
    // Its first value must be able to start a pure expression.
    const CodeView in = view_of(at->w2);
    if (at->w1 >= in.length) return false;
    const Cell* first = in.cells + at->w1;
    if (first->is(T_WORD)) {
      const Cell* fv = bound_value(first);
      if (!fv || (((kNotPlainValue >> fv->type()) & 1) && !integer_operation(*fv))) return false;
    } else if ((kNotSelfEvaluating >> first->type()) & 1) {
      return false;
    }
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
        integer_fast((op->header >> kOpTypeShift) & 0xFF, op->w1, v->int_value(), right->int_value(), out)) {
      pos = r + 1;
      return true;
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

// The right operand of an infix operator: a pure expression without infix.
ZOT_EVAL_INLINE bool pure_right_operand(const CodeView& code, u32& pos, u32 end, Cell* out) {
  if (pos >= end || pos >= code.length) return false;
  return simple_expression(code, pos, end, true, out);
}

}  // namespace zot::interp

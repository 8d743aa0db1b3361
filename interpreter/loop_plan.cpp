#include "interpreter/loop_plan.h"

#include <string>

namespace zot::interp {

bool g_no_plans = false;

void read_plan_switch() {
  std::string value;
  g_no_plans = platform::get_env("ZOT_NO_PLANS", &value);
}

namespace {

// The longest wait, in rounds, before a body that missed is tried again.
constexpr u32 kMaxWait = 1024;
// Nested calls and parens a plan follows (as deep as a pure expression may go).
constexpr u32 kPureDepth = 16;

}  // namespace

// Reads a block's expressions as the pure evaluation does (pure_expression
// in eval.cpp: the same forms, the same order) into operations. Each piece
// answers the cell its value will be in, or null when the block cannot be
// planned. Types of operands are left to the run, which checks them each
// round.
struct PlanDecoder {
  LoopPlan& plan;
  u32 operations = 0;
  u32 cells = 0;

  const Cell* literal(const Cell& value) {
    if (cells >= LoopPlan::kMaxCells) return nullptr;
    plan.cells_[cells] = value;
    return plan.cells_ + cells++;
  }
  // An operation of fn (an op! retyped to what it wraps), the value in the
  // word's cell fn_cell, on the values in a and b.
  const Cell* operation(const Cell& fn, const Cell* fn_cell, const Cell* a, const Cell* b) {
    if (!a || !b || !integer_operation(fn)) return nullptr;
    if (operations >= LoopPlan::kMaxOperations || cells >= LoopPlan::kMaxCells) return nullptr;
    LoopPlan::Operation& o = plan.operations_[operations++];
    o.a = a;
    o.b = b;
    o.out = plan.cells_ + cells++;
    o.fn = fn_cell;
    o.fn_type = u8(fn_cell->type());
    o.op = u8((fn.is(T_NATIVE) ? LoopPlan::kNative : 0) + fn.callable_target());
    return o.out;
  }

  // pure_at: an operand and, unless no_infix, the operators after it.
  const Cell* expression(const CodeView& code, u32& pos, u32 end, bool no_infix, u32 nest) {
    if (pos >= end || pos >= code.length) return nullptr;
    u32 p = pos;
    const Cell* v = operand(code, p, end, nest);
    if (v && !no_infix) v = infix(code, p, end, v, nest);
    if (v) pos = p;
    return v;
  }
  // pure_operand: a literal, a word's plain value, a paren, a prefix call.
  const Cell* operand(const CodeView& code, u32& pos, u32 end, u32 nest) {
    const Cell* at = code.cells + pos;
    const u32 t = at->type();
    if (!((kNotSelfEvaluating >> t) & 1)) {
      if (t == T_UNSET) return nullptr;  // a set-word of it goes the long way
      pos++;
      return literal(*at);
    }
    const Cell* v = nullptr;
    if (t == T_WORD) {
      v = bound_value(at);
      if (!v) return nullptr;
      if (!((kNotPlainValue >> v->type()) & 1)) {
        pos++;
        return v;
      }
    } else if (t != T_PAREN) {
      return nullptr;
    }
    if (nest >= kPureDepth) return nullptr;
    if (v) {
      // A prefix call of an integer operation on two arguments, each an
      // operand and the operators after it.
      u32 p = pos + 1;
      const Cell* a = argument(code, p, end, nest);
      const Cell* b = a ? argument(code, p, end, nest) : nullptr;
      const Cell* r = operation(*v, v, a, b);
      if (r) pos = p;
      return r;
    }
    const CodeView in = view_of(at->series_node());
    u32 p = u32(at->series_index());
    const Cell* r = expression(in, p, in.length, false, nest + 1);
    if (!r || p != in.length) return nullptr;
    pos++;
    return r;
  }
  const Cell* argument(const CodeView& code, u32& pos, u32 end, u32 nest) {
    if (pos >= end || pos >= code.length) return nullptr;
    u32 p = pos;
    const Cell* v = operand(code, p, end, nest + 1);
    if (v && infix_op_at(code, p, end)) v = infix(code, p, end, v, nest + 1);
    if (v) pos = p;
    return v;
  }
  // pure_infix_at: each operator with the operand after it, applied to left.
  const Cell* infix(const CodeView& code, u32& pos, u32 end, const Cell* left, u32 nest) {
    u32 p = pos;
    while (const Cell* op = infix_op_at(code, p, end)) {
      u32 q = p + 1;
      if (q >= end || q >= code.length) return nullptr;
      const Cell* right = operand(code, q, end, nest);
      Cell fn = *op;
      fn.header = fn.op_type();
      left = operation(fn, op, left, right);
      if (!left) return nullptr;
      p = q;
    }
    pos = p;
    return left;
  }

  // The block's expressions from its position to its tail.
  bool block(const Cell& b) {
    const CodeView code = view_of(b.series_node());
    u32 pos = u32(b.series_index());
    if (pos >= code.length) return false;
    u32 count = 0;
    while (pos < code.length) {
      if (count >= LoopPlan::kMaxExpressions) return false;
      Cell* target = nullptr;
      if (code.cells[pos].is(T_SET_WORD)) {
        target = in_place_cell(code.cells[pos]);
        if (!target) return false;
        pos++;
      }
      const Cell* value = expression(code, pos, code.length, false, 0);
      if (!value) return false;
      LoopPlan::Expression& e = plan.expressions_[count++];
      e.end = operations;
      e.next = pos;
      e.value = value;
      e.target = target;
    }
    plan.count_ = count;
    return true;
  }
};

void LoopPlan::missed() {
  count_ = 0;
  if (runs_ > 1) backoff_ = 0;
  runs_ = 0;
  wait_ = backoff_;
  backoff_ = backoff_ ? (backoff_ * 2 < kMaxWait ? backoff_ * 2 : kMaxWait) : 1;
}

bool LoopPlan::build(const Cell& block) {
  if (wait_) {
    wait_--;
    return false;
  }
  if (g_tracing) return false;
  PlanDecoder decoder{*this};
  if (!decoder.block(block)) {
    missed();
    return false;
  }
  moves_ = mem::g_moves;
  library_ = (mem::series_of(block.series_node())->flags & mem::kLibrary) != 0;
  return true;
}

void LoopPlan::miss(const Cell& block, u32 at, Cell* from) {
  missed();
  *from = block;
  if (at) from->set_series_index(i32(expressions_[at - 1].next));
}

}  // namespace zot::interp

// integer! (32-bit signed) and char! (a Unicode code point): their arithmetic
// with its overflow rules, conversions, comparison and text.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::integer {

// Operation codes shared by the integer, char and float arithmetic.
enum MathOp : int {
  kOpAdd = 0,
  kOpSubtract = 1,
  kOpMultiply = 2,
  kOpDivide = 3,
  kOpRemainder = 4,
  kOpOr = 5,
  kOpAnd = 6,
  kOpXor = 7,
};

constexpr i32 kMin = -2147483647 - 1;
constexpr i32 kMax = 2147483647;

// ---- accessors and makers
ZOT_INLINE i32 get(const Cell* c) { return c->int_value(); }
ZOT_INLINE i32 get_arg() { return stack::g_base[0].int_value(); }
ZOT_INLINE i32 get_arg_or_zero() {
  return stack::g_base[0].is(T_INTEGER) ? stack::g_base[0].int_value() : 0;
}
ZOT_INLINE Cell* set_result(i32 v) { return set_integer(stack::g_base, v); }
// Retypes the cell to integer! keeping its flag bits.
ZOT_INLINE Cell* make_at(Cell* c, i32 v) {
  set_type(c, T_INTEGER);
  c->set_int_value(v);
  return c;
}
// Appends a new integer! to the block (a block cell: w2 is its node).
Cell* make_in(const Cell* block, i32 v);
Cell* push(i32 v);

// ---- arithmetic
// The 32-bit operation. With a result cell, an overflowing add, subtract or
// multiply (or an inexact divide) turns the cell into the exact float! and
// answers 0; an integer result goes into an integer! or char! cell, header
// kept (a cell of another type only catches the overflow).
// Division and remainder by zero raise zero-divide; kMin by -1 raises overflow.
i32 do_math_op(i32 left, i32 right, int op, Cell* result);
// The arithmetic slots: operands in the current frame's first two cells.
void do_math(int op);
// base to the power exp in 32 bits by squaring; sets *overflow (and answers
// 0) when an intermediate product leaves the range.
i32 power_int(i32 base, i32 exp, bool* overflow);

i32 absolute_checked(i32 v);
ZOT_INLINE int sign(i32 v) { return (v > 0) - (v < 0); }
// A float!/percent! cell whose value lies outside the 32-bit range, or NaN.
bool float_overflow(const Cell* c);

// ---- text
// Decimal text in a static buffer overwritten by the next call.
const char* form_signed(i32 v, int* len);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// ---- slot functions
i32 compare(const Cell* a, const Cell* b, i32 op);
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
// A number in 1..n (n..-1 for a negative n; 0 stays 0), or with seed the
// generator restarted from the value (the value becomes unset!). char!
// inherits it.
void random(Cell* value, bool seed, bool secure, bool only);
void absolute();
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_();
void or_();
void xor_();
void negate(Cell* value);
void power();
void round(Cell* value, const actions::RoundOptions& o);
Cell* complement(Cell* value);
bool even(const Cell* value);
bool odd(const Cell* value);

void register_type();

}  // namespace zot::integer

// pair!: two signed 32-bit integers, x in payload word 2 and y in word 3 (the
// sizes and offsets of the View layer). Integer math that overflows, and math
// with a float or a point, continues as point2D! math.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::pair {

ZOT_INLINE i32 x_of(const Cell* c) {
  ZOT_ASSERT(c->is(T_PAIR));
  return i32(c->w2);
}
ZOT_INLINE i32 y_of(const Cell* c) {
  ZOT_ASSERT(c->is(T_PAIR));
  return i32(c->w3);
}
ZOT_INLINE void set_x(Cell* c, i32 x) {
  ZOT_ASSERT(c->is(T_PAIR));
  c->w2 = u32(x);
}
ZOT_INLINE void set_y(Cell* c, i32 y) {
  ZOT_ASSERT(c->is(T_PAIR));
  c->w3 = u32(y);
}

// ---- makers
// Retypes the cell to pair! keeping its flag bits.
ZOT_INLINE Cell* make_at(Cell* c, i32 x, i32 y) {
  set_type(c, T_PAIR);
  set_x(c, x);
  set_y(c, y);
  return c;
}
Cell* push(i32 x, i32 y);
Cell* make_in(const Cell* block, i32 x, i32 y);

// 1 or 2 for the words x, y (any letter case); -1 otherwise.
int get_named_index(const Cell* word);
// An integer! or float! component, a float truncated toward zero; a float
// that is NaN, infinite or beyond 32 bits raises invalid-arg with itself.
i32 get_coordinate(const Cell* c);
// The pair as a point2D! in out (each integer to a 32-bit float).
Cell* to_point2d_arg(const Cell* pair, Cell* out);

// The arithmetic of the pair in the frame's first cell with the second
// (op codes 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder, 5 or~,
// 6 and~, 7 xor~); the result (a pair! or a point2D!) replaces the first cell.
void do_math(int op);

// ---- slot functions
// Each non-zero component c becomes a number in 1..c (c..-1 when negative);
// with seed the generator restarts from x XOR y (the value becomes unset!).
void random(Cell* value, bool seed, bool secure, bool only);
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
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
void round(Cell* value, const actions::RoundOptions& o);
Cell* pick(Cell* value, i32 index, Cell* index_cell);
void reverse(Cell* value, Cell* part, Cell* skip);

// Registers pair! (type 37, no parent).
void register_type();

}  // namespace zot::pair

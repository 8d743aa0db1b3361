// point2D! and point3D!: two or three 32-bit float coordinates in payload
// words 1 to 3 (x, y, z). pair! math falls back on point2D! math.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::point2d {

// ---- makers
Cell* set(Cell* c, float x, float y);
Cell* push(float x, float y);
Cell* make_in(const Cell* block, float x, float y);
ZOT_INLINE float x_of(const Cell* c) {
  ZOT_ASSERT(c->is(T_POINT2D) || c->is(T_POINT3D));
  float f;
  std::memcpy(&f, &c->w1, 4);
  return f;
}
ZOT_INLINE float y_of(const Cell* c) {
  ZOT_ASSERT(c->is(T_POINT2D) || c->is(T_POINT3D));
  float f;
  std::memcpy(&f, &c->w2, 4);
  return f;
}
// The point of a source literal: out becomes a point2D! (count 2) or a
// point3D! (count 3) from integer!/float! cells; false when one is not a number.
bool make_from_cells(Cell* out, const Cell* coords, int count);

// 1 or 2 for the words x, y (any letter case); -1 otherwise.
int get_named_index(const Cell* word);
// An integer! or float! coordinate of a spec block (other types: the caller refuses).
float get_coordinate(const Cell* c);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
// The arithmetic of the point in the frame's first cell with the second
// (op codes 0 add ... 4 remainder); the result replaces the first cell.
void math_op(int op);
void absolute();
void add();
void subtract();
void multiply();
void divide();
void remainder();
void negate(Cell* value);
void round(Cell* value, const actions::RoundOptions& o);
Cell* pick(Cell* value, i32 index, Cell* index_cell);
void reverse(Cell* value, Cell* part, Cell* skip);

// Registers point2D! (type 51, no parent).
void register_type();

}  // namespace zot::point2d

namespace zot::point3d {

Cell* set(Cell* c, float x, float y, float z);
Cell* push(float x, float y, float z);
Cell* make_in(const Cell* block, float x, float y, float z);

// 1, 2 or 3 for the words x, y, z (any letter case); -1 otherwise.
int get_named_index(const Cell* word);
float get_coordinate(const Cell* c);

Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
void math_op(int op);
void absolute();
void add();
void subtract();
void multiply();
void divide();
void remainder();
void negate(Cell* value);
void round(Cell* value, const actions::RoundOptions& o);
Cell* pick(Cell* value, i32 index, Cell* index_cell);
void reverse(Cell* value, Cell* part, Cell* skip);

// Registers point3D! (type 52, no parent).
void register_type();

}  // namespace zot::point3d

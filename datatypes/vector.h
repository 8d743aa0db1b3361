// vector!: a packed series of numbers or characters of one element kind and
// one width, with element-wise arithmetic.
//
// Cell: w1 = index in elements, w2 = node, w3 = element type (char!,
// integer!, float! or percent!). The buffer's unit is the element width:
// 1, 2 or 4 bytes for char! and integer!, 4 or 8 for float!, 8 for percent!.
// Integer elements are signed little-endian machine integers; char elements
// are code points (read unsigned); float and percent elements are IEEE
// singles or doubles (a percent holds the fraction: 50% is 0.5).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::vector {

ZOT_INLINE u32 element_type(const Cell* v) { return v->vector_type(); }
ZOT_INLINE u32 width_of(const Cell* v) { return mem::series_of(v->series_node())->unit(); }
ZOT_INLINE bool integer_kind(u32 type) { return type == T_CHAR || type == T_INTEGER; }
ZOT_INLINE bool element_kind(u32 type) {
  return type == T_CHAR || type == T_INTEGER || type == T_FLOAT || type == T_PERCENT;
}

// The cell becomes an empty vector! at index 0 with room for capacity
// elements; a byte size past the largest series raises internal/no-memory.
Cell* make_at(Cell* cell, u32 capacity, u32 type, u32 width);

// Element access by address (valid until the next allocation).
void get_value(const u8* at, u32 width, u32 type, Cell* out);
Cell* push_value(const u8* at, u32 width, u32 type);
// Stores the value when its type is the element type and answers true;
// answers false, storing nothing, for another element kind; raises
// script/invalid-type for a value that no vector holds. Integers and chars
// keep their low bits, 4-byte floats are rounded to single precision.
bool set_value(u8* at, const Cell* value, u32 width, u32 type);

// The element at an index counted from the head; writing answers false when
// the value does not fit the vector's type.
void get_at(const Cell* v, i32 index, Cell* out);
bool set_at(Cell* v, i32 index, const Cell* value);

// out becomes a new block! with one value per element from the index on.
void to_block(const Cell* v, Cell* out);

// Element-wise arithmetic (op codes as integer::MathOp) of a vector with a
// vector or a scalar, in either order. Two vectors give a new vector (the
// shorter length, the wider width); a vector with a scalar is changed in
// place. Answers the result cell: left, or right when the vector is there.
Cell* do_math(int op, Cell* left, Cell* right);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 compare(const Cell* a, const Cell* b, i32 op);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_();
void or_();
void xor_();
// append (append true) and insert.
void append(Cell* series, Cell* value, const actions::InsertOptions& o);
void change(Cell* series, Cell* value, const actions::InsertOptions& o);

// Sorts, in place, `records` records of `size` elements from element `start`
// (the refinements of sort already checked): by number, on the element at
// `offset` of each record or on every element with `all`, NaN after every
// number; or through a function comparator, which receives two elements, or
// two one-record vectors with `all`.
void sort_records(Cell* v, i32 start, u32 records, u32 size, u32 offset, bool all, bool reverse, bool stable,
                  const Cell* function);

// Registers vector! (type 35, parent string!) and installs the element and
// body services.
void register_type();

}  // namespace zot::vector

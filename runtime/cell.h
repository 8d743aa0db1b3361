// The value cell: every value of the language is one 16-byte cell.
#pragma once

#include "runtime/base.h"

namespace zot {

// Type ids: the low byte of every cell header.
enum TypeId : u8 {
  T_NONE_ID = 0,  // no type (an empty slot, never a live value)
  T_DATATYPE = 1,
  T_UNSET,
  T_NONE,
  T_LOGIC,
  T_BLOCK,
  T_PAREN,
  T_STRING,
  T_FILE,
  T_URL,
  T_CHAR,
  T_INTEGER,
  T_FLOAT,
  T_SYMBOL,
  T_CONTEXT,
  T_WORD,
  T_SET_WORD,
  T_LIT_WORD,
  T_GET_WORD,
  T_REFINEMENT,
  T_ISSUE,
  T_NATIVE,
  T_ACTION,
  T_OP,
  T_FUNCTION,
  T_PATH,
  T_LIT_PATH,
  T_SET_PATH,
  T_GET_PATH,
  T_ROUTINE,
  T_BITSET,
  T_TRIPLE,
  T_OBJECT,
  T_TYPESET,
  T_ERROR,
  T_VECTOR,
  T_HASH,
  T_PAIR,
  T_PERCENT,
  T_TUPLE,
  T_MAP,
  T_BINARY,
  T_SERIES,
  T_TIME,
  T_TAG,
  T_EMAIL,
  T_HANDLE,
  T_DATE,
  T_PORT,
  T_MONEY,
  T_REF,
  T_POINT2D,
  T_POINT3D,
  T_IMAGE,
  T_EVENT,  // 54
};

constexpr int kTypeCount = 54;       // highest type id in use
constexpr int kTypeTableSize = 57;   // room in the type table

// Header bit 30: a line break precedes the value when it is molded in a block.
constexpr u32 kCellNewLine = 0x40000000u;
constexpr u32 kCellTypeMask = 0xFFu;

struct Cell {
  u32 header;
  u32 w1;
  u32 w2;
  u32 w3;

  ZOT_INLINE TypeId type() const { return TypeId(header & kCellTypeMask); }
  ZOT_INLINE bool is(TypeId t) const { return type() == t; }
  ZOT_INLINE u32 flags() const { return header & ~kCellTypeMask; }
  ZOT_INLINE i32 int_value() const { return i32(w2); }
  ZOT_INLINE double float_value() const {
    double d;
    std::memcpy(&d, &w2, sizeof d);
    return d;
  }
  ZOT_INLINE void set_float(double d) { std::memcpy(&w2, &d, sizeof d); }
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");
static_assert(offsetof(Cell, w2) == 8, "doubles live in payload words 2 and 3");

ZOT_INLINE Cell* copy_cell(const Cell* src, Cell* dst) {
  if (src != dst) *dst = *src;
  return dst;
}

// Replaces the type byte, keeping the flag bits.
ZOT_INLINE Cell* set_type(Cell* c, u8 type) {
  c->header = (c->header & ~kCellTypeMask) | type;
  return c;
}

ZOT_INLINE Cell* clear_new_line(Cell* c) {
  c->header &= ~kCellNewLine;
  return c;
}

// Writes a whole cell. Makers write `unset!` first, then the payload, then the
// real type, so a half-built cell never looks like a series to the collector.
ZOT_INLINE Cell* make_cell(Cell* c, u32 header, u32 w1, u32 w2, u32 w3) {
  c->header = T_UNSET;
  c->w1 = w1;
  c->w2 = w2;
  c->w3 = w3;
  c->header = header;
  return c;
}

ZOT_INLINE Cell* set_unset(Cell* c) { return make_cell(c, T_UNSET, 0, 0, 0); }
ZOT_INLINE Cell* set_none(Cell* c) { return make_cell(c, T_NONE, 0, 0, 0); }
ZOT_INLINE Cell* set_logic(Cell* c, bool v) { return make_cell(c, T_LOGIC, v ? 1 : 0, 0, 0); }
ZOT_INLINE Cell* set_integer(Cell* c, i32 v) { return make_cell(c, T_INTEGER, 0, u32(v), 0); }
ZOT_INLINE Cell* set_float(Cell* c, double d) {
  make_cell(c, T_UNSET, 0, 0, 0);
  c->set_float(d);
  c->header = T_FLOAT;
  return c;
}

}  // namespace zot

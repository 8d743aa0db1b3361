// tuple!: 3 to 12 unsigned bytes held in the cell (colours, versions, IPv4
// addresses). The byte count sits in header bits 19-22; byte 1 is the lowest
// byte of payload word 1, byte 5 of word 2, byte 9 of word 3; bytes past the
// count are 0.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::tuple {

constexpr int kMinBytes = 3;
constexpr int kMaxBytes = 12;
constexpr u32 kCountShift = 19;
constexpr u32 kCountMask = 0xFu << kCountShift;

ZOT_INLINE int count_of(const Cell* c) {
  const int n = int((c->header & kCountMask) >> kCountShift);
  return n > kMaxBytes ? kMaxBytes : n;
}
ZOT_INLINE u8 byte_at(const Cell* c, int i) {  // 0-based
  ZOT_ASSERT(c->is(T_TUPLE));
  const u32 w = i < 4 ? c->w1 : i < 8 ? c->w2 : c->w3;
  return u8(w >> ((i & 3) * 8));
}
void set_byte_at(Cell* c, int i, u8 b);  // 0-based, the count unchanged
// Header bits 19-22 take the count; bits 29-31 are cleared.
void set_count(Cell* c, int count);

// ---- makers
// A tuple of count bytes (3-12) from the array.
Cell* make_at(Cell* c, const u8* bytes, int count);
Cell* push(int count, u32 w1, u32 w2, u32 w3);
// Each byte the low 8 bits of one integer; at least 3 bytes, zero-filled.
Cell* push_from_ints(int count, const i32* ints);
// a of -1 makes a 3-byte tuple, anything else a 4-byte one.
Cell* make_rgba_at(Cell* c, i32 r, i32 g, i32 b, i32 a);
bool zero_q(const Cell* c);

// The byte-wise arithmetic of the frame's first two cells (op codes 0 add,
// 1 subtract, 2 multiply, 3 divide, 4 remainder, 5 or~, 6 and~, 7 xor~); a
// number first operand is swapped behind the tuple. Result in the first cell.
void math_op(int op);

// ---- slot functions
// Each byte b becomes a number in 0..b; with seed the generator restarts from
// the payload words XORed together (the value becomes unset!).
void random(Cell* value, bool seed, bool secure, bool only);
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_();
void or_();
void xor_();
Cell* complement(Cell* value);
i32 length_q(const Cell* value);
Cell* pick(Cell* value, i32 index, Cell* index_cell);
void reverse(Cell* value, Cell* part, Cell* skip);

// Registers tuple! (type 39, no parent).
void register_type();

}  // namespace zot::tuple

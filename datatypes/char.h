// char!: a Unicode code point, a child of integer! that keeps its arithmetic
// within 0..0x10FFFF.
#pragma once

#include "datatypes/integer.h"

namespace zot::char_ {

constexpr u32 kMaxCodePoint = 0x10FFFF;

ZOT_INLINE Cell* make_at(Cell* c, u32 cp) { return make_cell(c, T_CHAR, 0, cp, 0); }
Cell* make_in(const Cell* block, u32 cp);
Cell* push(u32 cp);

// The arithmetic slots of char!: the result stays a char!; a result outside
// 0..0x10FFFF raises overflow.
void do_math(int op);

i32 compare(const Cell* a, const Cell* b, i32 op);
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_();
void or_();
void xor_();

// Registers char! (integer! must be registered first: char! inherits from it).
void register_type();

}  // namespace zot::char_

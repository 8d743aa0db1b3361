// typeset!: a set of datatypes held inline in one cell (96 bits in payload
// words 1-3, most significant bit first).
#pragma once

#include "runtime/cell.h"
#include "runtime/helpers.h"

namespace zot::typeset {

Cell* clear(Cell* ts);
u32 count(const Cell* ts);
Cell* make_in(const Cell* block, u32 w1, u32 w2, u32 w3);
// Every type but unset!: the type of an argument written without a type block.
Cell* make_default(Cell* out);
// From a function spec's type block: datatypes, typesets, a word naming a word
// (counts as object!); blocks ignored; anything else invalid-type-spec.
Cell* make_from_spec(const Cell* type_block, Cell* out);
// Adds a datatype's id or a typeset's members (a word is replaced by its value).
void add(Cell* ts, const Cell* value);
// Set operation on the frame's two arguments into the first.
void do_set_op(int op);
// The block of the member datatypes in id order.
void to_block(const Cell* ts, Cell* out);
i32 serialize(const Cell* ts, Cell* out, bool form, i32 part);

void register_type();

ZOT_INLINE bool has(const Cell* ts, u32 type) { return runtime::typeset_has(ts, type); }

}  // namespace zot::typeset

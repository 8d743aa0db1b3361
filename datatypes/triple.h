// triple!: three signed 32-bit integers in payload words 1 to 3 (the bounds
// records of parse use it). It can only be printed.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::triple {

ZOT_INLINE Cell* make_at(Cell* c, i32 a, i32 b, i32 d) { return make_cell(c, T_TRIPLE, u32(a), u32(b), u32(d)); }

// "make triple! [1 -2 3]"; mold is the same text.
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// Registers triple! (type 31, no parent).
void register_type();

}  // namespace zot::triple

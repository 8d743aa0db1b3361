// percent!: a float! whose value is a fraction (50% is 0.5) and that prints
// times 100 with a "%". Everything but its text is float!'s.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::percent {

// ---- makers (a double given as its two 32-bit halves: high is word 3)
Cell* make_at(Cell* c, u32 high, u32 low);
Cell* make_in(const Cell* block, u32 high, u32 low);
Cell* push(double fraction);
Cell* make_float_at(Cell* c, double fraction);
// Writes the current frame's result cell.
Cell* set_result(double fraction);
ZOT_INLINE double get(const Cell* c) { return c->float_value(); }

// ---- slot functions
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// Registers percent! (type 38, parent float!, which must be registered first).
void register_type();

}  // namespace zot::percent

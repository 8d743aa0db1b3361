// tag!: the text between angle brackets; forms and molds as "<" text ">".
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::tag {

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// Registers tag! (parent string!).
void register_type();

}  // namespace zot::tag

// ref!: the text after "@"; molds with the "@", forms as the text alone.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::ref {

i32 mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* limit, i32 part, i32 indent);

// Registers ref! (parent string!).
void register_type();

}  // namespace zot::ref

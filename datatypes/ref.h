// ref!: the text after "@"; molds with the "@", forms as the text alone.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::ref {

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// Registers ref! (parent string!).
void register_type();

}  // namespace zot::ref

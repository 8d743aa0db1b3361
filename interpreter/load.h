// Text loaded as source: one value asked for.
#pragma once

#include "runtime/cell.h"

namespace zot::runtime {

// Scans the text (a string! from its index) asking for one value: out
// becomes none! when text is left over after that value, unset! when the
// text holds no value, else the value. Bad text raises its syntax error.
void load_single(const Cell* text, Cell* out);

}  // namespace zot::runtime

// Small operations shared by datatypes, natives and the evaluator.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::runtime {

// A float! outside the 32-bit range (or NaN) raises script/out-of-range with
// the value; otherwise it is truncated. Any other value gives its payload word 2.
i32 float_to_int(const Cell* value);

// Typeset membership: the bit of the type in the typeset's bytes.
ZOT_INLINE bool typeset_has(const Cell* typeset, u32 type) {
  const u8* bits = typeset->typeset_bytes();
  return (bits[type >> 3] & (0x80u >> (type & 7))) != 0;
}
void typeset_add(Cell* typeset, u32 type);

// Argument checks of calls whose arguments were pushed by C++ code: a value
// whose type is not in the typeset raises script/expect-arg naming the calling
// function, the value's datatype and the parameter (by its 0-based index).
const Cell* check_arg_type(const Cell* typeset, int param_index, const Cell* value);
// The same error for a value of the type (the checks above, and slot
// functions that refuse an argument their typeset lets through).
ZOT_NORETURN void raise_expect_arg(u32 type, int param_index);

// Bit shifts of a 32-bit integer (a negative count counts 0): left, or right
// arithmetic or logical; shifting by 32 or more leaves 0, or -1 for an
// arithmetic right shift of a negative value.
ZOT_INLINE i32 shift(i32 v, i32 bits, bool left, bool logical) {
  if (bits < 0) bits = 0;
  if (left) return bits < 32 ? i32(u32(v) << bits) : 0;
  if (logical) return bits < 32 ? i32(u32(v) >> bits) : 0;
  return bits < 32 ? v >> bits : (v < 0 ? -1 : 0);
}

// Angle in degrees to radians. Mode 0 folds angles beyond +/-90 degrees by
// 180 toward zero; mode 2 reflects them; other modes leave them.
double degrees_to_radians(double degrees, int mode);

}  // namespace zot::runtime

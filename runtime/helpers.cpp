#include "runtime/helpers.h"

#include <cmath>
#include <numbers>

#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot::runtime {

namespace {

Cell argument_word(int index) {
  if (g_services.argument_word) return g_services.argument_word(index);
  Cell none;
  set_none(&none);
  return none;
}

}  // namespace

void raise_expect_arg(u32 type, int param_index) {
  Cell fn = stack::calling_word();
  Cell dt;
  set_datatype(&dt, type);
  Cell word = argument_word(param_index);
  raise_error(Err::ScriptExpectArg, &fn, &dt, &word);
}

i32 float_to_int(const Cell* value) {
  if (!value->is(T_FLOAT)) return value->int_value();
  double d = value->float_value();
  if (!(d >= -2147483648.0 && d < 2147483648.0)) raise_error(Err::ScriptOutOfRange, value);
  return i32(d);
}

void typeset_add(Cell* typeset, u32 type) {
  u8* bits = typeset->typeset_bytes();
  bits[type >> 3] |= u8(0x80u >> (type & 7));
}

const Cell* check_arg_type(const Cell* typeset, int param_index, const Cell* value) {
  if (ZOT_UNLIKELY(!typeset_has(typeset, value->type()))) raise_expect_arg(value->type(), param_index);
  return value;
}

double degrees_to_radians(double x, int mode) {
  x = std::fmod(x, 360.0);
  if (x > 180.0) x -= 360.0;
  else if (x < -180.0) x += 360.0;
  if (x > 90.0 || x < -90.0) {
    if (mode == 0) x = x > 0 ? x - 180.0 : x + 180.0;
    else if (mode == 2) x = x > 0 ? 180.0 - x : -180.0 - x;
  }
  return x * std::numbers::pi / 180.0;
}

}  // namespace zot::runtime

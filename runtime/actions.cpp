#include "runtime/actions.h"

#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/helpers.h"
#include "runtime/stack.h"

namespace zot::actions {

AnyFn g_table[kTypeTableSize][kSlotCount];

void inherit_marker() {}

void bad_type(u32 type) {
  (void)type;
  runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
}

AnyFn get_action(u32 type, int slot) {
  AnyFn f = g_table[checked_type(type)][slot - 1];
  if (f) return f;
  // The value that has no such action is the first argument: name it.
  runtime::raise_expect_arg(type, 0);
}

i32 compare_direct(const Cell* a, const Cell* b, i32 op) {
  // Two logic! values order false before true under every code; a logic!
  // against another type is the slot's business (not comparable).
  if (a->is(T_LOGIC) && b->is(T_LOGIC)) return i32(a->logic_value()) - i32(b->logic_value());
  return lookup<kCompare>(a->type())(a, b, op);
}

bool compare(const Cell* a, const Cell* b, i32 op) {
  i32 r = lookup<kCompare>(a->type())(a, b, op);
  if (r == kNotComparable) {
    switch (op) {
      case kEqual: case kNotEqual: case kStrictEqual: case kSame:
      case kEqualForm1: case kEqualForm2: case kFindEqual:
        break;
      default:
        raise_error(Err::ScriptInvalidCompare, a, b);
    }
  }
  switch (op) {
    case kEqual: case kStrictEqual: case kSame: case kEqualForm1: case kEqualForm2: case kFindEqual:
      return r == 0;
    case kNotEqual: return r != 0;
    case kLesser: return r < 0;
    case kLesserOrEqual: return r <= 0;
    case kGreater: return r > 0;
    case kGreaterOrEqual: return r >= 0;
    default: runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
  }
}

}  // namespace zot::actions

#include "interpreter/comparator.h"

#include "runtime/errors.h"

namespace zot::comparator {

namespace {
CallFn g_call = nullptr;
}

void set_call_fn(CallFn fn) { g_call = fn; }

i32 order_of_answer(const Cell* answer) {
  switch (answer->type()) {
    case T_LOGIC:
      return answer->w1 ? 1 : -1;
    case T_INTEGER: {
      i32 v = answer->int_value();
      return (v > 0) - (v < 0);
    }
    case T_FLOAT: {
      double d = answer->float_value();
      return d > 0 ? 1 : d < 0 ? -1 : 0;
    }
    case T_NONE:
      return -1;
    default:
      return 1;
  }
}

i32 order(const Cell* function, const Cell* a, const Cell* b, bool reverse) {
  if (!g_call) raise_error(Err::InternalNotDone);
  // Copies: the arguments may live in memory that the call reuses.
  Cell fn = *function, x = *a, y = *b, answer;
  set_unset(&answer);
  if (reverse)
    g_call(&fn, &x, &y, &answer);
  else
    g_call(&fn, &y, &x, &answer);
  return order_of_answer(&answer);
}

}  // namespace zot::comparator

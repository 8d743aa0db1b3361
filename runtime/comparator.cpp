#include "runtime/comparator.h"

#include "runtime/errors.h"
#include "runtime/services.h"

namespace zot::comparator {

i32 order_of_answer(const Cell* answer) {
  switch (answer->type()) {
    case T_LOGIC:
      return answer->logic_value() ? 1 : -1;
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
  auto call = g_services.call_with_two;
  if (!call) service_missing();
  // Copies: the arguments may live in memory that the call reuses.
  Cell fn = *function, x = *a, y = *b, answer;
  set_unset(&answer);
  if (reverse)
    call(&fn, &x, &y, &answer);
  else
    call(&fn, &y, &x, &answer);
  return order_of_answer(&answer);
}

}  // namespace zot::comparator

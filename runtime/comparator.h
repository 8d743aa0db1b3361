// The user comparator of `sort/compare`: a Zot function called with two values
// whose answer orders them. Strings and blocks share this adapter, so one
// comparator orders both kinds of series the same way.
//
// The function is called with (b, a) when ordering a against b (with (a, b)
// under /reverse), and its answer reads as "the first argument sorts before the
// second": true, a positive integer or a positive float put the first argument
// first. So a less-than test sorts ascending.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::comparator {

// The function is called through the evaluator's service (g_services.call_with_two).

// The values that /compare takes as a function comparator.
ZOT_INLINE bool is_function(const Cell* c) { return c->is(T_FUNCTION); }

// An answer as an order of a against b: logic! true 1, false -1; integer! its
// sign; float! 1 above 0, -1 below, 0 at 0; none! -1; anything else 1.
i32 order_of_answer(const Cell* answer);

// Below 0 when a sorts before b, 0 when equal, above 0 when after. The
// function may run any Zot code: callers hold no raw pointer into a series
// across this call.
i32 order(const Cell* function, const Cell* a, const Cell* b, bool reverse);

}  // namespace zot::comparator

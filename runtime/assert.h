// Debug checks of the runtime's own invariants (a cell read as the type it
// holds, a slot given the function type it expects). They are compiled in
// when NDEBUG is not defined (the debug and sanitizer builds) and cost
// nothing in a release build.
#pragma once

#include "runtime/base.h"

namespace zot::runtime {

// Reports the broken check on standard error (with the call stack in a
// sanitizer build) and ends the process as fatal error 98.
ZOT_NORETURN ZOT_NOINLINE void assertion_failed(const char* check, const char* file, int line);

}  // namespace zot::runtime

#ifndef NDEBUG
#define ZOT_CHECKS 1
#define ZOT_ASSERT(check) \
  (ZOT_LIKELY(check) ? void(0) : ::zot::runtime::assertion_failed(#check, __FILE__, __LINE__))
#else
#define ZOT_ASSERT(check) ((void)0)
#endif

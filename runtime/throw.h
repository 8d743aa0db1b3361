// The runtime's numbered throw. A throw carries a 32-bit code; each catch site
// takes the codes within its threshold (code <= threshold, unsigned) and
// rethrows the rest, so a throw lands in the nearest site whose threshold is at
// least its code.
#pragma once

#include "runtime/base.h"

namespace zot {

enum ThrowCode : u32 {
  kThrowQuit = 0x0BADCAFEu,      // quit request
  kThrowVmFree = 0x7FFFFFF6u,    // the OS refused to release virtual memory
  kThrowVmAlloc = 0x7FFFFFF7u,   // the OS refused to give virtual memory
  kThrowVmLast = 0x7FFFFFF8u,
  kThrowThrow = 0x7FFFFFFAu,     // `throw`
  kThrowExit = 0x7FFFFFFBu,      // `exit` (no value)
  kThrowReturn = 0x7FFFFFFCu,    // `return` (with a value)
  kThrowContinue = 0x7FFFFFFDu,  // `continue`
  kThrowBreak = 0x7FFFFFFEu,     // `break`
  kThrowError = 0x7FFFFFFFu,     // a language error
};

// Catch thresholds of the sites that use them.
constexpr u32 kCatchAll = 0x7FFFFFFFu;     // try, do, interpreted calls: every exit
constexpr u32 kCatchLoop = 0x7FFFFFFEu;    // loops and parse
constexpr u32 kCatchThrow = 0x7FFFFFFAu;   // catch

// The exception object of a runtime throw. Plain data: it never allocates.
struct RuntimeThrow {
  u32 code;
};

namespace runtime {

// The code of the throw in progress (0 when none): catchers clear it when they
// take a throw, and leave it when they pass it on.
extern u32 g_thrown_code;

// Stores the code and unwinds to the nearest site whose threshold admits it.
ZOT_NORETURN void throw_code(u32 code);

// A non-local exit (break, continue, return, exit, throw) in flight without a
// C++ throw: the stacks are already where the exit lands, and the evaluator
// and the control natives pass it outward by returning at once, so the
// common exits cost no exception. Any other C++ code that runs Zot code turns
// a pending exit into the throw with raise_pending().
extern u32 g_pending;
ZOT_INLINE bool pending() { return g_pending != 0; }
ZOT_INLINE void set_pending(u32 code) {
  g_pending = code;
  g_thrown_code = code;
}
// Takes the pending exit (0 when none) off the flag.
ZOT_INLINE u32 take_pending() {
  u32 c = g_pending;
  g_pending = 0;
  return c;
}
void raise_pending();

// True when a site with this threshold takes the throw.
ZOT_INLINE bool catches(const RuntimeThrow& t, u32 threshold) { return t.code <= threshold; }

// Runs fn under the top-level frame: a quit request ends the process with
// status 0; any other throw is fatal error 95.
using TopLevelFn = void (*)(void* arg);
void run_top_level(TopLevelFn fn, void* arg);

}  // namespace runtime
}  // namespace zot

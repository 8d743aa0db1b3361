// The random generator: MT19937's state size and constants with right shifts
// that propagate the sign, and drawing that starts from the seeded words, so
// that a seeded sequence is the same on every run. One generator for the
// whole process. Secure draws come from the OS.
#pragma once

#include "runtime/base.h"

namespace zot::random {

constexpr u32 kInitialSeed = 19650218u;

// Restarts the sequence from a seed.
void seed(u32 value);
// The next value of the sequence: 0 .. 2^31 - 1.
i32 next();
// A value from the OS's secure source: 0 .. 2^31 - 1.
i32 secure();
ZOT_INLINE i32 draw(bool secure_source) { return secure_source ? secure() : next(); }

// A number in 1 .. n for n > 0, in n .. -1 for n < 0, 0 for n = 0, uniform
// (draws that would bias the result are drawn again).
i32 range(i32 n, bool secure_source);

}  // namespace zot::random

// float! (an IEEE-754 double) and the floating-point code that percent!,
// time!, the vectors and the point types share: arithmetic, the tolerant
// comparison, rounding and the number formatting of every kind.
#pragma once

#include <cfloat>

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::float_ {

constexpr double kMaxDouble = DBL_MAX;
// Below this magnitude a pretty form is zero.
constexpr double kEpsilon = 2.220446049250313e-16;

// Formatting kinds: what the number is the text of.
enum FormKind : int {
  kFormSingle = 0,         // 32-bit float vector element
  kFormFloat = 1,          // float! (and 64-bit vector elements)
  kFormSinglePercent = 2,  // 32-bit percent vector element
  kFormPercent = 3,        // percent! (and 64-bit percent elements)
  kFormSeconds = 4,        // the seconds of a time!
  kFormPoint = 5,          // point2D!/point3D! coordinates
};

// The pretty? setting of system/options/float (on at start): forms drop
// noise digits and show tiny magnitudes as zero.
extern bool g_pretty;
ZOT_INLINE void set_pretty(bool on) { g_pretty = on; }

// ---- tests
ZOT_INLINE u64 bits_of(double d) {
  u64 b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}
ZOT_INLINE bool is_nan(double d) {
  u64 b = bits_of(d);
  return (b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (b & 0x000FFFFFFFFFFFFFull) != 0;
}
ZOT_INLINE bool single_nan(float f) { return f != f; }
// +infinity, -infinity or NaN.
ZOT_INLINE bool special(double d) { return (bits_of(d) & 0x7FF0000000000000ull) == 0x7FF0000000000000ull; }
ZOT_INLINE double abs(double d) {
  u64 b = bits_of(d) & 0x7FFFFFFFFFFFFFFFull;
  std::memcpy(&d, &b, sizeof d);
  return d;
}
// Equal within 10 units in the last place (never for NaN).
bool near_equal(double a, double b);
bool near_equal_single(float a, float b);

// ---- accessors and makers
ZOT_INLINE double get(const Cell* c) { return c->float_value(); }
ZOT_INLINE Cell* set_result(double d) { return zot::set_float(stack::g_base, d); }
ZOT_INLINE Cell* make_at(Cell* c, double d) { return zot::set_float(c, d); }
// Appends a float! made of the two halves of a double to the block.
Cell* make_in(const Cell* block, u32 high, u32 low);
Cell* push(double d);

// ---- formatting
// The text of d for a kind, in a static buffer overwritten by the next call.
const char* form_float(double d, int kind, int* len);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// ---- arithmetic
// Op codes as integer::MathOp (0 add ... 4 remainder); any other raises
// cannot-use. IEEE results (infinities, NaN) flow through.
double do_math_op(double left, double right, int op);
// The arithmetic slots of float!, percent! and time! (and integer! with such a
// second operand): operands in the current frame, result in its first cell.
void do_math(int op);

// A random double between 0 and limit: one draw of the generator, or two
// secure draws with the secure source.
double random_scaled(double limit, bool secure);

// ---- slot functions
i32 compare(const Cell* a, const Cell* b, i32 op);
Cell* make(Cell* proto, Cell* spec, int type);
// A random number between 0 and the value, or with seed the generator
// restarted from the double's two words (the value becomes unset!).
// percent! and time! inherit it.
void random(Cell* value, bool seed, bool secure, bool only);
void absolute();
void add();
void subtract();
void multiply();
void divide();
void remainder();
void negate(Cell* value);
void power();
// Rounds the number cell in place (float!, percent!, time!; integer/round
// hands its non-integer scales over here).
void round(Cell* value, const actions::RoundOptions& o);
bool even(const Cell* value);
bool odd(const Cell* value);

void register_type();

}  // namespace zot::float_

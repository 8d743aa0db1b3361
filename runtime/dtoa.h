// Conversion between doubles and decimal text. The digits themselves come from
// the standard library's correctly rounded conversions; what is Zot's own is
// the accepted input text, the special texts and the layout of the output.
#pragma once

#include "runtime/base.h"

namespace zot::dtoa {

// Reads the decimal text [first, end): an optional sign, digits with an
// optional "." and fraction, and an optional exponent ("e"/"E", optional sign,
// digits). "1.#INF", "-1.#INF" and "1.#NaN" (letters in any case) read back as
// the specials. exp_adjust is added to the decimal exponent before the single
// correctly rounded step (-2 divides a percent text by 100 exactly once).
// Text out of range gives an infinity or zero; text that is only zeros after
// the sign gives +0.0. When unread is not null it receives the number of
// characters after the point where reading stopped (0 when all was read).
double text_to_float(const char* first, const char* end, int exp_adjust, int* unread);

// decpt values that mark the results that have no digits.
constexpr int kDecptSpecial = 9999;  // infinity or NaN
constexpr int kDecptZero = 9998;     // +0.0 or -0.0

// The longest digit string a double can need (its exact decimal expansion).
constexpr int kMaxDigits = 767;

struct Digits {
  char digits[kMaxDigits + 1];  // NUL-terminated, no trailing zeros
  int count;                    // number of digits (0 for zero and specials)
  int decpt;                    // value = 0.d1d2... x 10^decpt
  bool negative;                // sign bit (never set for NaN)
};

// The decimal digits of v: digit_count 0 asks for the shortest digits that
// read back to v; n > 0 for n significant digits, correctly rounded (ties to
// even), with trailing zeros dropped. Zero and the specials give no digits
// and decpt kDecptZero or kDecptSpecial.
void float_to_digits(double v, int digit_count, Digits* out);

// The text of v laid out as Zot writes floats: plain for -7 < decpt < 18,
// else "d.ddde<exp>"; keep_point writes a whole number as "100.0" and a
// one-digit exponent form as "1.0e20" (else "100" and "1e20"). Specials are
// "1.#INF", "-1.#INF", "1.#NaN"; zero is "0.0"/"-0.0" (or "0"/"-0").
// The text lives in a buffer that the next call overwrites; len (when not
// null) receives its length. The text is NUL-terminated.
const char* float_to_text(double v, int digit_count, bool keep_point, int* len);

// The shortest digits of v (finite) laid out plainly, without an exponent:
// "-12.5", "3", "0.0000001". out needs kMaxPlain bytes; answers the length.
constexpr int kMaxPlain = 360;
int float_to_plain(double v, char* out);

// text + n computed exactly: text is [-]digits[.digits] (at most 18 whole
// digits), and so is the sum written to out. Answers its length, or -1 when
// the text is not of that form or out (room bytes) is too small.
int add_integer(const char* text, int len, i64 n, char* out, int room);

}  // namespace zot::dtoa

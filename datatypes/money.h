// money!: an exact decimal amount with an optional currency, 17 integer and 5
// fraction digits held as packed BCD in one cell. All arithmetic works digit
// by digit in decimal, so amounts never pick up binary rounding errors.
//
// Cell: header bit 14 the sign; byte 4 (low byte of w1) the currency index
// (0 none, else 1-based in the currency list); bytes 5-15 the 22 digits, two
// per byte, most significant first. Zero is never negative, whatever its sign bit.
#pragma once

#include <string>

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::money {

constexpr int kDigits = 22;
constexpr int kIntegerDigits = 17;
constexpr int kFractionDigits = 5;
constexpr u32 kSignBit = 1u << 14;
constexpr i32 kMaxSpecFraction = 99999;
constexpr double kFloatLimit = 1e17;
constexpr double kFloatStep = 1e-5;
constexpr int kCurrencyCount = 170;  // the built-in currency list

// ---- sign and currency
bool negative(const Cell* m);  // the sign bit as stored
int sign(const Cell* m);       // -1, 0 or 1 (0 for any zero)
ZOT_INLINE bool below_zero(const Cell* m) { return sign(m) < 0; }
ZOT_INLINE bool is_zero(const Cell* m) { return sign(m) == 0; }
ZOT_INLINE bool above_zero(const Cell* m) { return sign(m) > 0; }
ZOT_INLINE u32 currency_of(const Cell* m) {
  ZOT_ASSERT(m->is(T_MONEY));
  return m->w1 & 0xFFu;
}
void set_currency(Cell* m, u32 index);
// The 1-based place of a currency word (by canonical symbol) in the list, or -1.
i32 currency_index(u32 symbol);
// The same for a currency code's text (letter case ignored).
i32 currency_index_of_text(const char* text, std::size_t length);
// The code of a currency index ("USD"), or null.
std::string currency_code(u32 index);

// ---- makers
// The lexer's maker: digit texts may hold "'" separators; integer digits are
// right-aligned on the units digit, fraction digits placed from the first
// fraction digit on (further ones dropped). The currency is 3 characters or
// null. Null (and the cell untouched) for an unknown currency or more than 17
// integer digits.
Cell* from_text(Cell* cell, int negative, const char* currency, const char* int_digits, int digit_count,
                const char* frac_digits, int frac_count);
// The text scanner of `to money!` (and the lexer's text-to-money): optional
// sign, optional three-letter code, "$", digits with single "'" separators,
// optional "." or "," and 1-5 digits, nothing after. False when the text is
// not one money value.
bool scan_text(const char* text, std::size_t length, Cell* out);
// The binary decoders: sign, currency index and the 11 BCD bytes.
Cell* init_cell(Cell* cell, int negative, u32 currency, const u8* bcd);

// ---- conversions
Cell* from_integer_at(Cell* cell, i32 v);
i32 to_integer(const Cell* m);  // outside 32 bits: script/type-limit (integer!)
bool float_too_big(double d);    // magnitude 1e17 or more (or not finite)
bool float_too_small(double d);  // magnitude above 0 and below 1e-5
bool float_in_range(double d);   // neither: a money! can hold it
// Infinite, NaN, too big or too small raise script/bad-make-arg; strict
// (make, to, round, comparison) refuses more than 5 decimals too, otherwise
// they are dropped.
Cell* from_float_at(Cell* cell, double d, bool strict);
double to_float(const Cell* m);

// ---- comparison and arithmetic
// The money with another value under a comparison code: -1, 0, 1, or -2
// when not comparable. Integers and floats (strictly) are converted.
i32 compare(const Cell* m, const Cell* other, i32 op);
// op 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder on the frame's two
// first cells, one of them money!; the result replaces the first.
void math_op(int op);

// Forming takes its fraction digits from system/options/money-digits through
// the services table (none, or not an integer: 2).

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
void random(Cell* value, bool seed, bool secure, bool only);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
void absolute();
void negate(Cell* value);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void round(Cell* value, const actions::RoundOptions& o);
bool even(const Cell* value);
bool odd(const Cell* value);
Cell* pick(Cell* series, i32 index, Cell* index_cell);

void register_type();

}  // namespace zot::money

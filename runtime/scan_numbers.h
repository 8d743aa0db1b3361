// Numbers read from text: the checks and conversions that the lexer's number
// loaders share with the `to` conversions of integer! and float! on text.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::numtext {

// The value of a hexadecimal digit (0-9, A-F, a-f), or -1.
ZOT_INLINE i32 hex_digit_value(u32 c) {
  if (c >= '0' && c <= '9') return i32(c - '0');
  if (c >= 'A' && c <= 'F') return i32(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return i32(c - 'a' + 10);
  return -1;
}

// The longest text that may hold a float.
constexpr u32 kMaxFloatText = 312;

// True when the bytes are float text: optional sign, digits with single
// apostrophes between them, an optional "." and fraction, an optional
// exponent ("e"/"E", optional sign, digits); at most kMaxFloatText bytes.
bool is_float_text(const u8* text, u32 length);

// Errors of text_to_integer.
constexpr i32 kNotANumber = -1;
constexpr i32 kOverflow = -2;

// Text of count characters in units of `unit` (1, 2 or 4 bytes): an optional
// sign, then decimal digits; apostrophes are skipped wherever they stand.
// error receives 0, kNotANumber (any other character, or no digit) or
// kOverflow; "-2147483648" is the one negative limit that is accepted.
i32 text_to_integer(const u8* data, u32 count, u32 unit, i32* error);

// The float of the text (units as above; "," counts as "."). A text that is
// not float text gives NaN and sets result's header to -1 (0xFFFFFFFF);
// otherwise result (when given) is left alone.
double text_to_float(const u8* data, u32 count, u32 unit, Cell* result);

// The float of float text held in bytes (apostrophes allowed): the correctly
// rounded conversion with the decimal exponent moved by exp_adjust. False
// when the text is not float text.
bool bytes_to_float(const u8* text, u32 length, int exp_adjust, double* out);

}  // namespace zot::numtext

#include "runtime/scan_numbers.h"

#include <limits>

#include "runtime/dtoa.h"

namespace zot::numtext {

namespace {

// The float text machine: columns other, sign, digit, e/E, ".", apostrophe,
// end; state 9 accepts, 10 rejects.
constexpr u8 kFloatMachine[11][7] = {
    {10, 0, 1, 10, 4, 10, 10},    // 0 start
    {10, 10, 1, 6, 5, 2, 9},      // 1 integer digits
    {10, 10, 1, 10, 10, 10, 9},   // 2 after '
    {10, 10, 3, 6, 10, 4, 9},     // 3 fraction digits
    {10, 10, 3, 10, 10, 10, 9},   // 4 after a leading "." or ' in the fraction
    {10, 10, 3, 10, 10, 10, 9},   // 5 after digits and "."
    {10, 7, 8, 10, 10, 10, 10},   // 6 after e
    {10, 10, 8, 10, 10, 10, 10},  // 7 after e and sign
    {10, 10, 8, 10, 10, 10, 9},   // 8 exponent digits
    {9, 9, 9, 9, 9, 9, 9},        // 9 accept
    {10, 10, 10, 10, 10, 10, 10}, // 10 reject
};

ZOT_INLINE int float_column(u32 c) {
  if (c >= '0' && c <= '9') return 2;
  switch (c) {
    case '+': case '-': return 1;
    case 'e': case 'E': return 3;
    case '.': return 4;
    case '\'': return 5;
    default: return 0;
  }
}

ZOT_INLINE u32 unit_at(const u8* data, u32 i, u32 unit) {
  if (unit == 1) return data[i];
  if (unit == 2) return u32(data[2 * i]) | (u32(data[2 * i + 1]) << 8);
  u32 v;
  std::memcpy(&v, data + 4 * i, 4);
  return v;
}

}  // namespace

bool is_float_text(const u8* text, u32 length) {
  if (length > kMaxFloatText) return false;
  u8 state = 0;
  for (u32 i = 0; i < length && state < 9; i++) state = kFloatMachine[state][float_column(text[i])];
  return kFloatMachine[state][6] != 10;
}

bool bytes_to_float(const u8* text, u32 length, int exp_adjust, double* out) {
  if (!is_float_text(text, length)) return false;
  char buf[kMaxFloatText];
  u32 n = 0;
  for (u32 i = 0; i < length; i++)
    if (text[i] != '\'') buf[n++] = char(text[i]);
  int unread = 0;
  *out = dtoa::text_to_float(buf, buf + n, exp_adjust, &unread);
  return unread == 0 && n > 0;
}

i32 text_to_integer(const u8* data, u32 count, u32 unit, i32* error) {
  *error = 0;
  u32 i = 0;
  bool negative = false;
  if (i < count) {
    u32 c = unit_at(data, i, unit);
    if (c == '-' || c == '+') {
      negative = c == '-';
      ++i;
    }
  }
  u64 value = 0;  // the magnitude, at most 2^31
  bool digits = false;
  for (; i < count; i++) {
    u32 c = unit_at(data, i, unit);
    if (c == '\'') continue;
    if (c < '0' || c > '9') {
      *error = kNotANumber;
      return 0;
    }
    digits = true;
    value = value * 10 + (c - '0');
    if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) {
      *error = kOverflow;
      return 0;
    }
  }
  if (!digits) {
    *error = kNotANumber;
    return 0;
  }
  return negative ? i32(0u - u32(value)) : i32(value);
}

double text_to_float(const u8* data, u32 count, u32 unit, Cell* result) {
  auto fail = [&] {
    if (result) result->header = 0xFFFFFFFFu;
    return std::numeric_limits<double>::quiet_NaN();
  };
  if (count > kMaxFloatText) return fail();
  u8 buf[kMaxFloatText];
  for (u32 i = 0; i < count; i++) {
    u32 c = unit_at(data, i, unit);
    if (c > 0x7F) return fail();  // never a digit, whatever its low byte
    buf[i] = c == ',' ? u8('.') : u8(c);
  }
  double d;
  if (!bytes_to_float(buf, count, 0, &d)) return fail();
  return d;
}

}  // namespace zot::numtext

#include "runtime/dtoa.h"

#include <charconv>
#include <cstring>
#include <cmath>
#include <limits>
#include <system_error>

namespace zot::dtoa {

namespace {

// Significant digits kept when reading. Every double and every midpoint
// between two doubles has at most 767 significant digits, so cutting a longer
// text here and standing a "1" for any non-zero digit cut off leaves the
// rounding decision unchanged.
constexpr int kReadDigits = 800;

// Decimal magnitudes (position of the leading digit) beyond which a value is
// certainly infinite or zero; they keep the exponent small before parsing.
constexpr i64 kMagnitudeOverflow = 330;
constexpr i64 kMagnitudeUnderflow = -330;

// Written exponents saturate here: any larger one already means inf or 0.
constexpr i64 kExponentCap = 1'000'000'000;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

// Consumes as much of word (lower case) as the text matches, any case.
const char* skip_word(const char* p, const char* end, const char* word) {
  while (*word && p < end && lower(*p) == *word) {
    ++p;
    ++word;
  }
  return p;
}

double signed_value(double v, bool negative) { return negative ? -v : v; }

// Output buffer: sign, the longest plain or exponent layout, NUL.
char g_text[kMaxDigits + 40];

}  // namespace

double text_to_float(const char* first, const char* end, int exp_adjust, int* unread) {
  const char* p = first;
  bool negative = false;
  double result = 0.0;

  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* int_start = p;
  while (p < end && *p == '0') ++p;

  if (p == end) {
    // Only zeros: +0.0 whatever the sign.
    if (unread) *unread = 0;
    return 0.0;
  }

  // Significant digits without leading zeros; value = digits x 10^exp10.
  char buf[kReadDigits + 32];
  int nd = 0;
  bool sticky = false;  // a non-zero digit was cut off
  i64 exp10 = 0;

  while (p < end && is_digit(*p)) {
    if (nd < kReadDigits) {
      if (nd > 0 || *p != '0') buf[nd++] = *p;
    } else {
      sticky |= *p != '0';
      exp10++;
    }
    ++p;
  }

  if (p < end && *p == '.') {
    // The formatter's specials: one integer digit, ".#", then I or N.
    if (p - int_start == 1 && end - p >= 3 && p[1] == '#') {
      char c = lower(p[2]);
      if (c == 'i' || c == 'n') {
        const char* q = skip_word(p + 2, end, c == 'i' ? "inf" : "nan");
        if (unread) *unread = int(end - q);
        if (c == 'n') return std::numeric_limits<double>::quiet_NaN();
        return signed_value(std::numeric_limits<double>::infinity(), negative);
      }
    }
    ++p;
    while (p < end && is_digit(*p)) {
      if (nd < kReadDigits) {
        if (nd > 0 || *p != '0') buf[nd++] = *p;
        exp10--;
      } else {
        sticky |= *p != '0';
      }
      ++p;
    }
  }

  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool exp_negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
      exp_negative = *q == '-';
      ++q;
    }
    if (q < end && is_digit(*q)) {
      i64 e = 0;
      while (q < end && is_digit(*q)) {
        if (e < kExponentCap) e = e * 10 + (*q - '0');
        ++q;
      }
      exp10 += exp_negative ? -e : e;
      p = q;
    }
  }
  if (unread) *unread = int(end - p);

  if (nd == 0) return signed_value(0.0, negative);

  if (sticky) {
    buf[nd++] = '1';
    exp10--;
  } else {
    while (buf[nd - 1] == '0') {
      nd--;
      exp10++;
    }
  }
  exp10 += exp_adjust;

  i64 magnitude = exp10 + nd;
  if (magnitude > kMagnitudeOverflow) return signed_value(std::numeric_limits<double>::infinity(), negative);
  if (magnitude < kMagnitudeUnderflow) return signed_value(0.0, negative);

  char* tail = buf + nd;
  *tail++ = 'e';
  tail = std::to_chars(tail, buf + sizeof buf, exp10).ptr;
  auto r = std::from_chars(buf, tail, result, std::chars_format::scientific);
  if (r.ec == std::errc::result_out_of_range) {
    result = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return signed_value(result, negative);
}

void float_to_digits(double v, int digit_count, Digits* out) {
  out->count = 0;
  out->digits[0] = 0;
  out->negative = std::signbit(v) && !std::isnan(v);
  if (!std::isfinite(v)) {
    out->decpt = kDecptSpecial;
    return;
  }
  if (v == 0.0) {
    out->decpt = kDecptZero;
    return;
  }
  // Scientific form "d.ddde[+-]xx": the digits are the mantissa's, decpt is
  // the exponent plus one. Asking for more digits than the exact expansion
  // holds only adds zeros, so the count is capped there.
  char sci[kMaxDigits + 32];
  std::to_chars_result r;
  if (digit_count <= 0) {
    r = std::to_chars(sci, sci + sizeof sci, std::fabs(v), std::chars_format::scientific);
  } else {
    int precision = (digit_count > kMaxDigits ? kMaxDigits : digit_count) - 1;
    r = std::to_chars(sci, sci + sizeof sci, std::fabs(v), std::chars_format::scientific, precision);
  }
  const char* p = sci;
  int n = 0;
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (is_digit(*p)) out->digits[n++] = *p;
  }
  int exp10 = 0;
  if (p < r.ptr) std::from_chars(p + 1 + (p[1] == '+'), r.ptr, exp10);
  while (n > 1 && out->digits[n - 1] == '0') n--;
  out->digits[n] = 0;
  out->count = n;
  out->decpt = exp10 + 1;
}

const char* float_to_text(double v, int digit_count, bool keep_point, int* len) {
  static Digits d;
  float_to_digits(v, digit_count, &d);

  const char* text;
  int n;
  if (d.decpt == kDecptSpecial) {
    text = std::isnan(v) ? "1.#NaN" : d.negative ? "-1.#INF" : "1.#INF";
    n = int(std::strlen(text));
  } else if (d.decpt == kDecptZero) {
    text = keep_point ? (d.negative ? "-0.0" : "0.0") : (d.negative ? "-0" : "0");
    n = int(std::strlen(text));
  } else {
    char* o = g_text;
    if (d.negative) *o++ = '-';
    const int count = d.count;
    const int decpt = d.decpt;
    if (decpt > -7 && decpt < 18) {
      if (decpt <= 0) {
        *o++ = '0';
        *o++ = '.';
        for (int i = 0; i < -decpt; i++) *o++ = '0';
        std::memcpy(o, d.digits, count);
        o += count;
      } else if (decpt < count) {
        std::memcpy(o, d.digits, decpt);
        o += decpt;
        *o++ = '.';
        std::memcpy(o, d.digits + decpt, count - decpt);
        o += count - decpt;
      } else {
        std::memcpy(o, d.digits, count);
        o += count;
        for (int i = count; i < decpt; i++) *o++ = '0';
        if (keep_point) {
          *o++ = '.';
          *o++ = '0';
        }
      }
    } else {
      *o++ = d.digits[0];
      if (count > 1) {
        *o++ = '.';
        std::memcpy(o, d.digits + 1, count - 1);
        o += count - 1;
      } else if (keep_point) {
        *o++ = '.';
        *o++ = '0';
      }
      *o++ = 'e';
      o = std::to_chars(o, g_text + sizeof g_text, decpt - 1).ptr;
    }
    *o = 0;
    text = g_text;
    n = int(o - g_text);
  }
  if (len) *len = n;
  return text;
}

}  // namespace zot::dtoa

namespace zot::dtoa {

int float_to_plain(double v, char* out) {
  Digits d;
  float_to_digits(v, 0, &d);
  char* o = out;
  if (d.negative && d.decpt != kDecptZero) *o++ = '-';
  if (d.decpt == kDecptZero || d.decpt == kDecptSpecial) {
    *o++ = '0';
  } else if (d.decpt <= 0) {
    *o++ = '0';
    *o++ = '.';
    for (int i = 0; i < -d.decpt; i++) *o++ = '0';
    std::memcpy(o, d.digits, std::size_t(d.count));
    o += d.count;
  } else {
    for (int i = 0; i < d.decpt; i++) *o++ = i < d.count ? d.digits[i] : '0';
    if (d.decpt < d.count) {
      *o++ = '.';
      std::memcpy(o, d.digits + d.decpt, std::size_t(d.count - d.decpt));
      o += d.count - d.decpt;
    }
  }
  *o = 0;
  return int(o - out);
}

int add_integer(const char* text, int len, i64 n, char* out, int room) {
  const char* p = text;
  const char* end = text + len;
  bool negative = p < end && *p == '-';
  if (negative) ++p;
  // The whole part (at most 18 digits) and the fraction digits.
  i64 whole = 0;
  int whole_digits = 0;
  for (; p < end && is_digit(*p); ++p, ++whole_digits) {
    if (whole_digits == 18) return -1;
    whole = whole * 10 + (*p - '0');
  }
  const char* frac = p < end && *p == '.' ? p + 1 : end;
  int frac_len = int(end - frac);
  for (const char* q = frac; q < end; ++q)
    if (!is_digit(*q)) return -1;
  bool fraction = false;
  for (const char* q = frac; q < end; ++q) fraction |= *q != '0';
  // value = sign * (whole + f) with 0 <= f < 1; the sum is w plus or minus
  // f, written with f itself or with its complement 1 - f.
  i64 w;
  if (__builtin_add_overflow(negative ? -whole : whole, n, &w) || w == INT64_MIN) return -1;
  bool result_negative;
  bool complement = false;
  if (!fraction) {
    result_negative = w < 0;
    if (result_negative) w = -w;
  } else if (!negative) {
    // w + f: negative when w < 0, then -((-w - 1) + (1 - f)).
    result_negative = w < 0;
    if (result_negative) {
      w = -w - 1;
      complement = true;
    }
  } else {
    // w - f: positive when w > 0, then (w - 1) + (1 - f); else -(-w + f).
    result_negative = w <= 0;
    if (result_negative) {
      w = -w;
    } else {
      w -= 1;
      complement = true;
    }
  }
  if (room < 24 + frac_len) return -1;
  char* o = out;
  if (result_negative && (w != 0 || fraction)) *o++ = '-';
  o = std::to_chars(o, out + room, w).ptr;
  if (fraction) {
    *o++ = '.';
    if (!complement) {
      std::memcpy(o, frac, std::size_t(frac_len));
    } else {
      // 1 - f: the digits of 10^k - f. Trailing zeros stay zeros; the last
      // non-zero digit d becomes 10 - d, every digit before it 9 - d.
      bool last = true;
      for (int i = frac_len - 1; i >= 0; i--) {
        int digit = frac[i] - '0';
        int r;
        if (last && digit == 0) {
          r = 0;  // trailing zeros stay zeros until the first non-zero digit
        } else if (last) {
          r = 10 - digit;
          last = false;
        } else {
          r = 9 - digit;
        }
        o[i] = char('0' + r);
      }
    }
    o += frac_len;
  }
  *o = 0;
  return int(o - out);
}

}  // namespace zot::dtoa

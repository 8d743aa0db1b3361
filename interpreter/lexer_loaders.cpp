// The lexer's loaders: each turns the text of one recognised token into a
// value at the tail of the scan's cell buffer, checking it on the way. With
// load false a loader only checks. A malformed token raises the syntax error
// of its datatype through raise_syntax.
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "datatypes/binary_codecs.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "interpreter/lexer.h"
#include "runtime/dtoa.h"
#include "runtime/memory.h"
#include "runtime/scan_numbers.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::lexer {

namespace {

// A finished value into a fresh slot, keeping the slot's new-line flag.
void put(State* st, const Cell& v) {
  copy_keeping_new_line(&v, alloc_slot(st));
  st->token_type = v.type();
}

ZOT_INLINE bool is_digit(u8 c) { return c >= '0' && c <= '9'; }
ZOT_INLINE u8 lower(u8 c) { return c >= 'A' && c <= 'Z' ? u8(c + 32) : c; }

bool same_text(const u8* p, const u8* e, const char* text) {
  for (; *text; ++text, ++p)
    if (p >= e || lower(*p) != lower(u8(*text))) return false;
  return p == e;
}

// ---------------------------------------------------------------------------
// Words

void load_word_as(State* st, const u8* start, const u8* end, i32 type, bool load) {
  const u8* p = start;
  const u8* e = end;
  switch (type) {
    case T_LIT_WORD: if (p < e && *p == '\'') ++p; break;
    case T_GET_WORD: if (p < e && *p == ':') ++p; break;
    case T_SET_WORD: if (e > p && e[-1] == ':') --e; break;
    case T_ISSUE: if (p < e && *p == '#') ++p; break;
    case T_REFINEMENT: if (p < e && *p == '/') ++p; break;
    default: break;
  }
  if (p >= e) raise_syntax(st, start, type);
  st->token_type = type;
  if (!load) return;
  u32 sym = symbol::make_from_bytes(p, u32(e - p));
  Cell w;
  word::make_at(sym, &w);
  set_type(&w, u8(type));
  put(st, w);
}

void load_word(State* st, const u8* start, const u8* end, u32, bool load) {
  i32 type = st->scanner_type > 0 ? st->scanner_type : st->token_class == TK_ISSUE ? T_ISSUE : T_WORD;
  load_word_as(st, start, end, type, load);
}

void load_refinement(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* p = start;
  while (p < end && *p == '/') ++p;
  // A lone "/" or "//" is a word.
  load_word_as(st, start, end, p == end && end - start <= 2 ? T_WORD : T_REFINEMENT, load);
}

// ---------------------------------------------------------------------------
// Numbers

enum class IntResult { kInteger, kTooBig };

// Optional sign, digits, single apostrophes between digits. Anything else
// raises `invalid` (error_type); more than ten digits, or a value beyond 32
// bits other than -2147483648, answer kTooBig.
IntResult read_integer(State* st, const u8* start, const u8* p, const u8* e, i32 error_type, i32* out) {
  bool negative = false;
  if (p < e && (*p == '-' || *p == '+')) negative = *p++ == '-';
  u64 value = 0;
  u32 digits = 0;
  bool quote = false;
  for (; p < e; ++p) {
    if (*p == '\'') {
      if (quote) raise_syntax(st, start, T_INTEGER);
      quote = true;
      continue;
    }
    if (!is_digit(*p)) raise_syntax(st, start, error_type);
    quote = false;
    if (++digits <= 10) value = value * 10 + u32(*p - '0');
  }
  if (!digits) raise_syntax(st, start, error_type);
  if (digits > 10) return IntResult::kTooBig;
  if (negative ? value > 0x80000000ull : value > 0x7FFFFFFFull) return IntResult::kTooBig;
  *out = negative ? i32(0u - u32(value)) : i32(value);
  return IntResult::kInteger;
}

void load_float_text(State* st, const u8* start, const u8* end, const u8* error_at, u8 type, int exp_adjust,
                     bool load) {
  double d;
  if (!numtext::bytes_to_float(start, u32(end - start), exp_adjust, &d)) raise_syntax(st, error_at, T_FLOAT);
  st->token_type = type;
  if (!load) return;
  Cell v;
  set_float(&v, d);
  set_type(&v, type);
  put(st, v);
}

void load_integer(State* st, const u8* start, const u8* end, u32, bool load) {
  i32 value;
  if (read_integer(st, start, start, end, T_INTEGER, &value) == IntResult::kTooBig) {
    load_float_text(st, start, end, start, T_FLOAT, 0, load);
    return;
  }
  st->token_type = T_INTEGER;
  if (!load) return;
  Cell v;
  set_integer(&v, value);
  put(st, v);
}

void load_float(State* st, const u8* start, const u8* end, u32, bool load) {
  load_float_text(st, start, end, start, T_FLOAT, 0, load);
}

// The number before the "%", divided by 100 in the one rounding step.
void load_percent(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* e = end > start && end[-1] == '%' ? end - 1 : end;
  load_float_text(st, start, e, start, T_PERCENT, -2, load);
}

// 1.#INF, -1.#INF, 1.#NaN, letters in any case. False when the text is none of them.
bool special_float(const u8* p, const u8* e, double* out) {
  bool negative = false;
  if (p < e && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (same_text(p, e, "1.#nan")) {
    *out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (same_text(p, e, "1.#inf")) {
    *out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  return false;
}

void load_special_float(State* st, const u8* start, const u8* end, u32, bool load) {
  double d;
  if (!special_float(start, end, &d)) raise_syntax(st, start, T_FLOAT);
  st->token_type = T_FLOAT;
  if (!load) return;
  Cell v;
  set_float(&v, d);
  put(st, v);
}

// "FFh": 2 to 8 hexadecimal digits; eight digits wrap to 32 bits.
void load_hex(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* e = end > start && end[-1] == 'h' ? end - 1 : end;
  u32 n = u32(e - start);
  if (n < 2 || n > 8) raise_syntax(st, start, T_INTEGER);
  u32 v = 0;
  for (const u8* p = start; p < e; ++p) {
    i32 h = numtext::hex_digit_value(*p);
    if (h < 0) raise_syntax(st, start, T_INTEGER);
    v = (v << 4) | u32(h);
  }
  st->token_type = T_INTEGER;
  if (!load) return;
  Cell c;
  set_integer(&c, i32(v));
  put(st, c);
}

void load_tuple(State* st, const u8* start, const u8* end, u32, bool load) {
  u8 bytes[tuple::kMaxBytes];
  int count = 0;
  const u8* p = start;
  for (;;) {
    if (count == tuple::kMaxBytes) raise_syntax(st, start, T_TUPLE);
    u32 v = 0;
    const u8* digits = p;
    while (p < end && is_digit(*p)) {
      v = v * 10 + u32(*p - '0');
      if (v > 255) raise_syntax(st, start, T_TUPLE);
      ++p;
    }
    if (p == digits) raise_syntax(st, start, T_TUPLE);  // two dots in a row, or a dot at the end
    bytes[count++] = u8(v);
    if (p == end) break;
    if (*p != '.') raise_syntax(st, start, T_TUPLE);
    ++p;
  }
  if (count < tuple::kMinBytes) raise_syntax(st, start, T_TUPLE);
  st->token_type = T_TUPLE;
  if (!load) return;
  Cell v;
  tuple::make_at(&v, bytes, count);
  put(st, v);
}

void load_pair(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* x = start + 1;  // the first part has at least one digit
  while (x < end && *x != 'x' && *x != 'X') ++x;
  if (x >= end) raise_syntax(st, start, T_PAIR);
  i32 a, b;
  if (read_integer(st, start, start, x, T_PAIR, &a) != IntResult::kInteger ||
      read_integer(st, start, x + 1, end, T_PAIR, &b) != IntResult::kInteger)
    raise_syntax(st, start, T_PAIR);
  st->token_type = T_PAIR;
  if (!load) return;
  Cell v;
  set_unset(&v);
  pair::make_at(&v, a, b);
  put(st, v);
}

// Digits only (at least one), within 32 bits; false otherwise.
bool read_field(const u8*& p, const u8* e, i32* out) {
  const u8* s = p;
  u64 v = 0;
  while (p < e && is_digit(*p)) {
    v = v * 10 + u32(*p - '0');
    if (v > 0x7FFFFFFFull) return false;
    ++p;
  }
  *out = i32(v);
  return p > s;
}

// The fields of a clock text. The fraction of the seconds stays digits, so
// that the value (less a zone offset, for a date) is rounded once: a molded
// time or date loads back to the very value.
struct Clock {
  i64 hours = 0, minutes = 0, seconds = 0;
  const u8* frac = nullptr;
  u32 frac_len = 0;
};
constexpr u32 kMaxFraction = 400;

// Seconds below 60: digits, then an optional "." or "," and digits.
bool read_second_fields(const u8* p, const u8* e, Clock* c) {
  i32 s = 0;
  if (!read_field(p, e, &s) && (p >= e || (*p != '.' && *p != ','))) return false;
  if (s > 59) return false;
  c->seconds = s;
  if (p == e) return true;
  if (*p != '.' && *p != ',') return false;
  ++p;
  for (const u8* q = p; q < e; q++)
    if (!is_digit(*q)) return false;
  if (u32(e - p) > kMaxFraction) return false;
  c->frac = p;
  c->frac_len = u32(e - p);
  return true;
}

// The clock's count of seconds less shift, rounded once.
bool clock_value(const Clock& c, i64 shift, double* out) {
  char text[kMaxFraction + 64];
  char* o = std::to_chars(text, text + 32, c.hours * 3600 + c.minutes * 60 + c.seconds).ptr;
  if (c.frac_len) {
    *o++ = '.';
    std::memcpy(o, c.frac, c.frac_len);
    o += c.frac_len;
  }
  int n = int(o - text);
  char shifted[sizeof text];
  if (shift) {
    n = dtoa::add_integer(text, n, -shift, shifted, int(sizeof shifted));
    if (n < 0) return false;
  }
  const char* t = shift ? shifted : text;
  *out = dtoa::text_to_float(t, t + n, 0, nullptr);
  return true;
}

// [sign] h ":" m [":" s[.fraction]], or [sign] m ":" s "." fraction.
bool parse_time(const u8* p, const u8* e, u32 flags, Clock* c, bool* negative) {
  *negative = false;
  if (p < e && (*p == '-' || *p == '+')) *negative = *p++ == '-';
  i32 hours, minutes;
  if (!read_field(p, e, &hours) || p >= e || *p != ':') return false;
  ++p;
  const u8* second_field = p;
  if (!read_field(p, e, &minutes)) return false;
  c->hours = hours;
  c->minutes = minutes;
  if (p < e) {
    u8 sep = *p++;
    if (p >= e || (flags & F_EXP)) return false;
    if (sep == ':') {
      if (!read_second_fields(p, e, c)) return false;
    } else if (sep == '.' || sep == ',') {
      c->minutes = hours;
      c->hours = 0;
      if (!read_second_fields(second_field, e, c)) return false;
    } else {
      return false;
    }
  }
  return true;
}

void load_time(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  Clock c;
  bool negative;
  double seconds;
  if (!parse_time(start, end, flags, &c, &negative) || !clock_value(c, 0, &seconds)) raise_syntax(st, start, T_TIME);
  if (negative) seconds = -seconds;
  st->token_type = T_TIME;
  if (!load) return;
  Cell v;
  set_unset(&v);
  time::make_at(&v, seconds);
  put(st, v);
}

// A coordinate of a point literal: spaces around float text or a special float.
bool point_coordinate(const u8*& p, const u8* e, double* out) {
  while (p < e && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
  const u8* s = p;
  while (p < e && *p != ',' && *p != ')' && *p != ' ' && *p != '\t' && *p != '\r') ++p;
  const u8* t = p;
  while (p < e && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
  if (t == s) return false;
  return special_float(s, t, out) || numtext::bytes_to_float(s, u32(t - s), 0, out);
}

void load_point(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* p = start + 1;
  double xyz[3];
  int count = 0;
  for (;;) {
    i32 type = count < 2 ? T_POINT2D : T_POINT3D;
    if (!point_coordinate(p, end, &xyz[count])) raise_syntax(st, start, type);
    ++count;
    if (p >= end) raise_syntax(st, start, type);
    if (*p == ')' && count >= 2 && p + 1 == end) break;
    if (*p != ',' || count == 3) raise_syntax(st, start, type);
    ++p;
  }
  st->token_type = count == 3 ? T_POINT3D : T_POINT2D;
  if (!load) return;
  Cell v;
  if (count == 3) point3d::set(&v, float(xyz[0]), float(xyz[1]), float(xyz[2]));
  else point2d::set(&v, float(xyz[0]), float(xyz[1]));
  put(st, v);
}

// [sign][currency]"$" digits [. digits]
void load_money(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* p = start;
  int negative = 0;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  const u8* dollar = p;
  while (dollar < end && *dollar != '$') ++dollar;
  if (dollar >= end) raise_syntax(st, start, T_MONEY);
  char currency[4] = {0, 0, 0, 0};
  if (dollar != p) {
    if (dollar - p != 3) raise_syntax(st, start, T_MONEY);
    for (int i = 0; i < 3; i++) currency[i] = char(p[i]);
  }
  p = dollar + 1;
  if (p >= end || !is_digit(*p)) raise_syntax(st, start, T_MONEY);
  while (p + 1 < end && *p == '0' && is_digit(p[1])) ++p;  // leading zeros
  char int_digits[numtext::kMaxFloatText];
  int int_count = 0;
  bool quote = false;
  for (; p < end && *p != '.' && *p != ','; ++p) {
    if (*p == '\'') {
      if (quote) raise_syntax(st, start, T_MONEY);
      quote = true;
      continue;
    }
    if (!is_digit(*p) || int_count == money::kIntegerDigits) raise_syntax(st, start, T_MONEY);
    quote = false;
    int_digits[int_count++] = char(*p);
  }
  if (quote) raise_syntax(st, start, T_MONEY);
  char frac_digits[money::kFractionDigits];
  int frac_count = 0;
  if (p < end) {
    ++p;
    if (p >= end) raise_syntax(st, start, T_MONEY);
    for (; p < end; ++p) {
      if (!is_digit(*p) || frac_count == money::kFractionDigits) raise_syntax(st, start, T_MONEY);
      frac_digits[frac_count++] = char(*p);
    }
  }
  Cell v;
  set_unset(&v);
  if (!money::from_text(&v, negative, currency[0] ? currency : nullptr, int_digits, int_count, frac_digits,
                        frac_count))
    raise_syntax(st, start, T_MONEY);
  st->token_type = T_MONEY;
  if (!load) return;
  put(st, v);
}

// ---------------------------------------------------------------------------
// Dates

struct DateParts {
  i32 year = 0, month = 0, day = 0;
  bool has_time = false;
  Clock clock;
  bool has_zone = false;
  i32 zone_hours = 0, zone_minutes = 0;
  i32 week = 0, weekday = 0, yearday = 0;
};

// Exactly n digits.
bool read_digits(const u8*& p, const u8* e, int n, i32* out) {
  i32 v = 0;
  for (int i = 0; i < n; i++) {
    if (p >= e || !is_digit(*p)) return false;
    v = v * 10 + (*p++ - '0');
  }
  *out = v;
  return true;
}

// A time of day after a date: h:m[:s[.fraction]] or the compact hhmm[ss[.f]].
bool read_day_time(const u8*& p, const u8* e, DateParts* d) {
  const u8* s = p;
  while (p < e && (is_digit(*p) || *p == ':' || *p == '.' || *p == ',')) ++p;
  const u8* t = s;
  bool colon = false;
  for (const u8* q = s; q < p; q++) colon |= *q == ':';
  Clock& c = d->clock;
  if (colon) {
    bool negative;
    if (!parse_time(s, p, 0, &c, &negative) || negative) return false;
  } else {
    i32 h, m;
    if (!read_digits(t, p, 2, &h) || !read_digits(t, p, 2, &m)) return false;
    c.hours = h;
    c.minutes = m;
    if (t < p && !read_second_fields(t, p, &c)) return false;
  }
  // Each field within its clock range: 10:70 is no time of day.
  if (c.hours > 23 || c.minutes > 59) return false;
  d->has_time = true;
  return true;
}

// "Z", or "+"/"-" then hh[:mm], hhmm or h.
bool read_zone(const u8*& p, const u8* e, DateParts* d) {
  if (p >= e) return true;
  if (*p == 'Z' || *p == 'z') {
    ++p;
    d->has_zone = true;
    return true;
  }
  if (*p != '+' && *p != '-') return false;
  bool negative = *p++ == '-';
  i32 h = 0, m = 0;
  const u8* s = p;
  while (p < e && is_digit(*p)) ++p;
  u32 n = u32(p - s);
  const u8* q = s;
  if (n == 4) {
    read_digits(q, p, 2, &h);
    read_digits(q, p, 2, &m);
  } else if (n == 1 || n == 2) {
    read_digits(q, p, int(n), &h);
    if (p < e && *p == ':') {
      ++p;
      if (!read_digits(p, e, 2, &m)) return false;
    }
  } else {
    return false;
  }
  if (h > 15 || m > 59 || m % 15) return false;
  d->has_zone = true;
  d->zone_hours = negative ? -h : h;
  d->zone_minutes = negative && h == 0 ? -m : m;
  return true;
}

// "/" or "T" then a time, then an optional zone; nothing else may follow.
bool read_date_tail(const u8*& p, const u8* e, DateParts* d) {
  if (p >= e) return true;
  if (*p != '/' && *p != 'T' && *p != 't') return false;
  ++p;
  if (!read_day_time(p, e, d)) return false;
  return read_zone(p, e, d) && p == e;
}

i32 month_of_name(const u8* s, const u8* e) {
  static const char* const kMonths[12] = {"january", "february", "march",     "april",   "may",      "june",
                                          "july",    "august",   "september", "october", "november", "december"};
  u32 n = u32(e - s);
  if (n < 3 || n > 9) return 0;
  for (int m = 0; m < 12; m++) {
    const char* name = kMonths[m];
    if (std::strlen(name) < n) continue;
    bool ok = true;
    for (u32 i = 0; i < n && ok; i++) ok = lower(s[i]) == u8(name[i]);
    if (ok) return m + 1;
  }
  return 0;
}

bool parse_date(const u8* start, const u8* end, DateParts* d) {
  const u8* p = start;
  const u8* e = end;
  const u8* s = p;
  i32 first;
  if (!read_field(p, e, &first)) return false;
  u32 first_len = u32(p - s);
  if (p >= e) return false;
  if (is_digit(*p) || *p == 'T' || *p == 't') {
    // Compact ISO: yyyymmddThhmm[ss[.f]][Z or zone]
    p = s;
    if (first_len < 5) return false;
    if (!read_digits(p, e, int(first_len - 4), &d->year) || !read_digits(p, e, 2, &d->month) ||
        !read_digits(p, e, 2, &d->day))
      return false;
    if (p >= e || (*p != 'T' && *p != 't')) return false;
    ++p;
    if (!read_day_time(p, e, d)) return false;
    return read_zone(p, e, d) && p == e;
  }
  if (*p == '-' && first_len == 4 && p + 1 < e && (p[1] == 'W' || p[1] == 'w')) {
    // ISO week date: yyyy-Www[-d][Thh:mm...]
    d->year = first;
    p += 2;
    if (!read_digits(p, e, 2, &d->week) || d->week < 1 || d->week > 53) return false;
    d->weekday = 1;
    if (p < e && *p == '-') {
      ++p;
      if (!read_digits(p, e, 1, &d->weekday) || d->weekday < 1 || d->weekday > 7) return false;
    }
    d->month = 1;
    d->day = 1;
    return read_date_tail(p, e, d);
  }
  if (*p == '-') {
    const u8* q = p + 1;
    u32 n = 0;
    while (q + n < e && is_digit(q[n])) ++n;
    if (n == 3 && (q + n == e || !(q[n] == '-' || q[n] == '/'))) {
      // Ordinal date: yyyy-ddd
      d->year = first;
      read_digits(q, e, 3, &d->yearday);
      if (d->yearday < 1 || d->yearday > (date::leap_year(first) ? 366 : 365)) return false;
      d->month = 1;
      d->day = 1;
      p = q;
      return read_date_tail(p, e, d);
    }
  }
  if (*p != '-' && *p != '/') return false;
  u8 sep = *p++;
  i32 month;
  const u8* m = p;
  if (p < e && is_digit(*p)) {
    if (!read_field(p, e, &month)) return false;
  } else {
    while (p < e && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))) ++p;
    month = month_of_name(m, p);
    if (!month) return false;
  }
  if (p >= e || *p != sep) return false;
  ++p;
  const u8* t = p;
  i32 third;
  if (!read_field(p, e, &third)) return false;
  u32 third_len = u32(p - t);
  if (third > 31 || first <= 99) {
    d->day = first;
    d->year = third;
    if (third_len <= 2) d->year = third > 49 ? 1900 + third : 2000 + third;
  } else {
    d->year = first;
    d->day = third;
    if (first_len <= 2) d->year = first > 49 ? 1900 + first : 2000 + first;
  }
  d->month = month;
  return read_date_tail(p, e, d);
}

bool date_fields_valid(const DateParts& d) {
  static const i32 kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < -9999 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  if (d.day > kDays[d.month - 1]) return false;
  if (d.month == 2 && d.day == 29 && !date::leap_year(d.year)) return false;
  return true;
}

void load_date(State* st, const u8* start, const u8* end, u32, bool load) {
  DateParts d;
  if (!parse_date(start, end, &d) || !date_fields_valid(d)) raise_syntax(st, start, T_DATE);
  st->token_type = T_DATE;
  if (!load) return;
  Cell v;
  set_unset(&v);
  if (d.has_time) {
    double stored;
    if (!clock_value(d.clock, date::zone_offset(d.zone_hours, d.zone_minutes), &stored))
      raise_syntax(st, start, T_DATE);
    date::make_at_stored(&v, d.year, d.month, d.day, stored, d.zone_hours, d.zone_minutes);
  } else {
    date::make_at(&v, d.year, d.month, d.day, 0.0, 0, 0, false);
  }
  if (d.week) {
    date::set_week(&v, d.week);
    date::set_weekday(&v, d.weekday);
  } else if (d.yearday) {
    date::set_yearday(&v, d.yearday);
  }
  put(st, v);
}

// ---------------------------------------------------------------------------
// Binaries

void load_binary(State* st, const u8* start, const u8* end, u32, bool load) {
  int base = 16;
  const u8* p = start;
  if (*p != '#') {
    i32 b = 0;
    while (p < end && is_digit(*p) && b < 100) b = b * 10 + (*p++ - '0');
    if (b != 2 && b != 16 && b != 64) raise_syntax(st, start, T_BINARY);
    base = b;
  }
  if (end - p < 3 || p[0] != '#' || p[1] != '{' || end[-1] != '}') raise_syntax(st, start, T_BINARY);
  const u8* body = p + 2;
  const u8* body_end = end - 1;
  std::vector<u8> bytes;
  if (!binary::decode(base, body, u32(body_end - body), 1, bytes) || bytes.size() > mem::kMaxSeriesBytes)
    raise_syntax(st, start, T_BINARY);
  st->token_type = T_BINARY;
  if (!load) return;
  mem::Node n = mem::alloc_bytes(u32(bytes.size()));
  mem::Series* s = mem::series_of(n);
  if (!bytes.empty()) std::memcpy(s->head_ptr(), bytes.data(), bytes.size());
  s->tail = s->head + u32(bytes.size());
  Cell v;
  set_series(&v, T_BINARY, n);
  put(st, v);
}

// ---------------------------------------------------------------------------
// Files, urls and emails

// Percent-decoding of a plain file, url or email token: a "%" and two hex
// digits give that byte; a run of such escapes that encodes one UTF-8
// character gives that character; a "%" without a valid escape stays.
// A malformed encoded character raises `invalid` (type).
i32 next_percent_char(State* st, const u8*& p, const u8* e, const u8* error_at, i32 type) {
  auto escape = [&](const u8* q) -> i32 {
    if (e - q < 3 || q[0] != '%') return -1;
    i32 hi = numtext::hex_digit_value(q[1]), lo = numtext::hex_digit_value(q[2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
  };
  i32 b = escape(p);
  if (b >= 0) {
    int n = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    if (b < 0x80 || (b >= 0x80 && b < 0xC0)) {
      p += 3;
      return b;
    }
    if (n > 1) {
      u8 bytes[4];
      bool whole = true;
      for (int i = 0; i < n && whole; i++) {
        i32 v = escape(p + 3 * i);
        whole = v >= 0;
        bytes[i] = u8(v);
      }
      if (whole) {
        i32 cp;
        const u8* q = unicode::decode_utf8_char(bytes, bytes + n, cp);
        if (cp < 0 || q != bytes + n) raise_syntax(st, error_at, type);
        p += 3 * n;
        return cp;
      }
    }
  }
  if (*p < 0x80) return *p++;
  i32 cp;
  p = unicode::decode_utf8_char(p, e, cp);
  if (cp < 0) raise_syntax(st, error_at, type);
  return cp;
}

void load_percent_decoded(State* st, const u8* start, const u8* end, const u8* error_at, u8 type, bool load) {
  u32 count = 0;
  u32 widest = 0;
  for (const u8* p = start; p < end; count++) {
    u32 cp = u32(next_percent_char(st, p, end, error_at, type));
    if (cp > widest) widest = cp;
  }
  st->token_type = type;
  if (!load) return;
  Cell* c = alloc_slot(st);
  string::make_at_unit(c, count, string::unit_for_char(widest));
  set_type(c, type);
  mem::Series* b = string::buffer_of(c);
  for (const u8* p = start; p < end;) b = string::append_char(b, u32(next_percent_char(st, p, end, error_at, type)));
}

void load_file(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  // A lone "%" is the remainder operator's word; the empty file is %"".
  if (end - start == 1) return load_word_as(st, start, end, T_WORD, load);
  if (end - start >= 2 && start[1] == '"') {
    if (end - start < 3 || end[-1] != '"') raise_syntax(st, start, T_FILE);
    load_text(st, start + 2, end - 1, flags, true, T_FILE, T_FILE, load);
    return;
  }
  load_percent_decoded(st, start + 1, end, start, T_FILE, load);
}

void load_url_like(State* st, const u8* start, const u8* end, u32 flags, bool load, u8 type) {
  if (*start == ':') raise_syntax(st, start, T_GET_WORD);
  if (*start == '\'') raise_syntax(st, start, T_LIT_WORD);
  if (flags & F_PERCENT) load_percent_decoded(st, start, end, start, type, load);
  else load_text(st, start, end, flags, false, type, type, load);
}

void load_url(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  load_url_like(st, start, end, flags, load, T_URL);
}

void load_email(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  load_url_like(st, start, end, flags, load, T_EMAIL);
}

}  // namespace

void install_loaders() {
  g_loaders[TK_WORD] = load_word;
  g_loaders[TK_ISSUE] = load_word;
  g_loaders[TK_INTEGER] = load_integer;
  g_loaders[TK_REFINEMENT] = load_refinement;
  g_loaders[TK_FILE] = load_file;
  g_loaders[TK_BINARY] = load_binary;
  g_loaders[TK_PERCENT] = load_percent;
  g_loaders[TK_FLOAT] = load_float;
  g_loaders[TK_SPECIAL_FLOAT] = load_special_float;
  g_loaders[TK_TUPLE] = load_tuple;
  g_loaders[TK_DATE] = load_date;
  g_loaders[TK_PAIR] = load_pair;
  g_loaders[TK_POINT] = load_point;
  g_loaders[TK_TIME] = load_time;
  g_loaders[TK_MONEY] = load_money;
  g_loaders[TK_URL] = load_url;
  g_loaders[TK_EMAIL] = load_email;
  g_loaders[TK_HEX] = load_hex;
}

}  // namespace zot::lexer

#include "datatypes/date.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "datatypes/time.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/services.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::date {

namespace {

// Result of make and to (the entry copies it into the frame).
Cell g_made;

// The month names before the library sets system/locale/months.
const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// Day numbers past these lie beyond any 15-bit year.
constexpr i64 kDayLimit = 6000000;


ZOT_NORETURN void raise_type_limit(u32 type) {
  raise_with_type(Err::ScriptTypeLimit, type);
}

ZOT_NORETURN void raise_bad_to_arg(const Cell* spec) {
  raise_with_type(Err::ScriptBadToArg, T_DATE, spec);
}

// Division and remainder rounding toward minus infinity: the calendar stays
// consistent for negative years and negative day counts.
ZOT_INLINE i64 floor_div(i64 a, i64 b) {
  i64 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) q--;
  return q;
}
ZOT_INLINE i64 floor_mod(i64 a, i64 b) {
  i64 r = a % b;
  return r < 0 ? r + b : r;
}

// Day number of 1 March of the March-based year y.
ZOT_INLINE i64 year_start(i64 y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

Cell* push_time(double seconds) { return time::push(seconds); }

// The 7 zone bits of an offset in minutes, folded into 16 hours.
u32 zone_bits_of_minutes(i64 minutes) {
  bool negative = minutes < 0;
  u64 m = u64(negative ? -minutes : minutes) % 960u;
  u32 bits = u32(m / 60) << 2 | u32((m % 60) / 15);
  return (negative && bits) ? (bits | kZoneNegative) : bits;
}

// Zone hours and minutes as given to the makers: the sign is the hours' (the
// minutes' when the hours are 0).
u32 zone_bits_of(i64 hours, i64 minutes) {
  bool negative = hours < 0 || (hours == 0 && minutes < 0);
  i64 total = (hours < 0 ? -hours : hours) * 60 + (minutes < 0 ? -minutes : minutes);
  return zone_bits_of_minutes(negative ? -total : total);
}

// A time! used as a zone: taken modulo 16 hours, minutes in quarters.
u32 zone_bits_of_time(double seconds) {
  if (!std::isfinite(seconds)) return 0;
  double t = std::fmod(seconds, 16.0 * kHourSeconds);
  return zone_bits_of_minutes(i64(std::trunc(t / 60.0)));
}

ZOT_INLINE u32 with_zone(u32 w, u32 zone_bits) { return (w & ~kZoneMask) | (zone_bits & kZoneMask); }

// The local time of day of a date (0 without time).
ZOT_INLINE double local_time(const Cell* d) {
  return has_time(d->date_word()) ? time_of(d) + zone_seconds(d->date_word()) : 0.0;
}

// Normalises and writes the date: day number, stored time and the word whose
// zone and has-time flag the result takes.
void finish(Cell* d, i64 days, double time, u32 w) {
  normalize_time(&days, &time, w);
  store(d, word_of_days(days, w), time);
}

// The same from a local time of day.
void finish_local(Cell* d, i64 days, double local, u32 w) {
  finish(d, days, local - zone_seconds(w), w);
}

i32 int_arg(const Cell* v) {
  if (!v->is(T_INTEGER)) raise_error(Err::ScriptInvalidArg, v);
  return v->int_value();
}

void set_integer_field(Cell* d, int field, i64 n) {
  u32 w = d->date_word();
  i64 days = day_number(w);
  i64 jan1 = day_number(year_of(w), 1, 1);
  switch (field) {
    case kFieldYear: days = day_number(n, month_of(w), day_of(w)); break;
    case kFieldMonth: days = day_number(year_of(w), n, day_of(w)); break;
    case kFieldDay: days = day_number(year_of(w), month_of(w), n); break;
    case kFieldWeekday: days += n - weekday(w); break;
    case kFieldYearday: days = jan1 + n - 1; break;
    case kFieldWeek: {
      i64 e = floor_mod(jan1 + 3, 7);
      days = n <= 1 ? jan1 : jan1 + 7 - e + 7 * (n - 2);
      break;
    }
    case kFieldIsoweek: {
      i64 wd = floor_mod(jan1 + 2, 7);
      i64 monday = jan1 - wd + (wd >= 4 ? 7 : 0);
      days = monday + 7 * (n - 1);
      break;
    }
    default: break;
  }
  if (days < -kDayLimit || days > kDayLimit) raise_type_limit(T_DATE);
  store(d, word_of_days(days, w), time_of(d));
}

void set_field(Cell* d, int field, const Cell* v) {
  u32 w = d->date_word();
  i64 days = day_number(w);
  switch (field) {
    case kFieldDate: {
      if (!v->is(T_DATE)) raise_error(Err::ScriptInvalidArg, v);
      u32 nw = (v->date_word() & ~kZoneMask) | (w & kZoneMask);
      double t = time_of(d);
      // A date without time keeps no zone and no time.
      if (!has_time(nw)) {
        nw &= ~kZoneMask;
        t = 0.0;
      } else if (!has_time(w)) {
        t = 0.0;
      }
      store(d, nw, t);
      return;
    }
    case kFieldYear: case kFieldMonth: case kFieldDay: case kFieldWeekday: case kFieldYearday:
    case kFieldWeek: case kFieldIsoweek:
      set_integer_field(d, field, int_arg(v));
      return;
    case kFieldZone:
    case kFieldTimezone: {
      u32 bits;
      if (v->is(T_INTEGER)) bits = zone_bits_of(v->int_value() % 16, 0);
      else if (v->is(T_TIME)) bits = zone_bits_of_time(v->float_value());
      else raise_error(Err::ScriptInvalidArg, v);
      u32 nw = with_zone(w | kHasTime, bits);
      if (field == kFieldZone) finish_local(d, days, local_time(d), nw);
      else finish(d, days, has_time(w) ? time_of(d) : 0.0, nw);
      return;
    }
    case kFieldTime:
      if (v->is(T_NONE)) {
        store(d, w & ~(kHasTime | kZoneMask), 0.0);
        return;
      }
      if (!v->is(T_TIME)) raise_error(Err::ScriptInvalidArg, v);
      finish_local(d, days, v->float_value(), w | kHasTime);
      return;
    case kFieldHour:
    case kFieldMinute:
    case kFieldSecond: {
      // The field changes on the local time, whatever the zone's minutes.
      double l = local_time(d);
      if (field == kFieldSecond) {
        double s;
        if (v->is(T_INTEGER)) s = v->int_value();
        else if (v->is(T_FLOAT)) s = v->float_value();
        else raise_error(Err::ScriptInvalidArg, v);
        l -= std::fmod(l, 60.0) - s;
      } else if (field == kFieldMinute) {
        l -= (std::floor(std::fmod(l, 3600.0) / 60.0) - int_arg(v)) * 60.0;
      } else {
        l -= (std::floor(l / 3600.0) - int_arg(v)) * 3600.0;
      }
      finish_local(d, days, l, w | kHasTime);
      return;
    }
    default:
      return;
  }
}

// ---- text

// The date part of the text: day, month, year.
int form_date_text(u32 w, char* out) {
  char sep = i32(w) < 0 ? '/' : '-';
  i32 y = year_of(w);
  i32 m = (month_of(w) + 11) % 12 + 1;
  std::string month = kMonthNames[m - 1];
  // The first three characters of the locale's name for the month.
  Cell name;
  if (sys::month_name(m, &name)) {
    if (!name.is(T_STRING)) raise_error(Err::ScriptInvalidMonths, &name);
    Cell three = name;
    month = string::to_utf8(&three);
  }
  const u8* text = reinterpret_cast<const u8*>(month.data());
  month.resize(std::size_t(unicode::skip_utf8_chars(text, text + month.size(), 3) - text));
  int n = std::snprintf(out, 40, "%d%c%s%c%s", day_of(w), sep, month.c_str(), sep, y < 0 ? "-" : "");
  i32 ay = y < 0 ? -y : y;
  n += std::snprintf(out + n, 16, ay < 100 ? "%04d" : "%d", ay);
  return n;
}

// ---- make and to

bool is_block_spec(const Cell* spec) { return spec->is(T_BLOCK) || spec->is(T_PAREN) || spec->is(T_HASH); }

Cell* from_spec(Cell* spec, bool strict) {
  const Cell* spec_cell = spec;
  i32 n = block::length_at(spec);
  if (n < 3 || n > 8) raise_bad_to_arg(spec_cell);
  Cell v[8];
  i32 start = spec->series_index();
  for (i32 i = 0; i < n; i++) v[i] = *block::cell_at(spec, start + i);
  for (int i = 0; i < 3; i++)
    if (!v[i].is(T_INTEGER)) raise_bad_to_arg(spec_cell);

  i64 day = v[0].int_value(), month = v[1].int_value(), year = v[2].int_value();
  if (day > 99 && year < day) std::swap(day, year);

  bool time_given = n > 3;
  double time = 0.0;
  i64 given_minute = 0;
  u32 zone = 0;
  if (time_given) {
    int next;
    if (v[3].is(T_TIME)) {
      time = v[3].float_value();
      given_minute = std::isfinite(time) ? i64(std::floor(std::fmod(std::fabs(time), 3600.0) / 60.0)) : -1;
      next = 4;
    } else if (v[3].is(T_INTEGER)) {
      i64 hour = v[3].int_value(), minute = 0;
      double second = 0.0;
      next = 4;
      if (n > 4) {
        if (!v[4].is(T_INTEGER)) raise_bad_to_arg(spec_cell);
        minute = v[4].int_value();
        next = 5;
      }
      if (n > 5) {
        if (v[5].is(T_INTEGER)) second = v[5].int_value();
        else if (v[5].is(T_FLOAT)) second = v[5].float_value();
        else raise_bad_to_arg(spec_cell);
        next = 6;
      }
      time = double(hour) * 3600.0 + double(minute) * 60.0 + second;
      given_minute = minute;
    } else {
      raise_bad_to_arg(spec_cell);
    }
    if (n > next) {
      if (v[next].is(T_TIME)) {
        if (n > next + 1) raise_bad_to_arg(spec_cell);
        zone = zone_bits_of_time(v[next].float_value());
      } else if (v[next].is(T_INTEGER)) {
        i64 zm = 0;
        if (n > next + 2) raise_bad_to_arg(spec_cell);
        if (n == next + 2) {
          if (!v[next + 1].is(T_INTEGER)) raise_bad_to_arg(spec_cell);
          zm = v[next + 1].int_value();
        }
        zone = zone_bits_of(v[next].int_value(), zm);
      } else {
        raise_bad_to_arg(spec_cell);
      }
    }
    if (!std::isfinite(time)) raise_bad_to_arg(spec_cell);
  }

  i64 days = day_number(year, month, day);
  if (days < day_number(kMinYear, 1, 1) || days > day_number(kMaxYear, 12, 31)) raise_bad_to_arg(spec_cell);
  u32 w = time_given ? kHasTime : 0;
  double t = time;
  normalize_time(&days, &t, w);
  w = with_zone(w, zone);
  t -= zone_seconds(w);
  normalize_time(&days, &t, w);
  u32 word = word_of_days(days, w);
  store(&g_made, word, t);

  if (strict) {
    bool same_date = year_of(word) == year && month_of(word) == month && day_of(word) == day;
    bool good_time = true;
    if (time_given) {
      double local = t + zone_seconds(word);
      good_time = time >= 0.0 && time < 24.0 * 3600.0 &&
                  i64(std::floor(std::fmod(local, 3600.0) / 60.0)) == given_minute;
    }
    if (!same_date || !good_time) raise_bad_to_arg(spec_cell);
  }
  return &g_made;
}

Cell* make_or_to(Cell* spec, bool strict) {
  if (spec->is(T_DATE)) return copy_cell(spec, &g_made);
  if (is_block_spec(spec)) return from_spec(spec, strict);
  if (!strict && spec->is(T_INTEGER)) return from_epoch(&g_made, spec->int_value());
  raise_bad_to_arg(spec);
}

int field_of_element(const Cell* element) {
  if (element->is(T_INTEGER)) {
    i32 n = element->int_value();
    return n >= 1 && n <= 14 ? n : 0;
  }
  if (element->type() >= T_WORD && element->type() <= T_GET_WORD) return field_of_symbol(element->word_symbol());
  return 0;
}

Services& services() { return g_services; }

}  // namespace

// ---- calendar arithmetic

bool leap_year(i32 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

i64 day_number(i64 year, i64 month, i64 day) {
  // Months outside 1-12 roll into years.
  year += floor_div(month - 1, 12);
  month = floor_mod(month - 1, 12) + 1;
  i64 mp = (month + 9) % 12;  // March is 0
  i64 yp = year - mp / 10;
  return year_start(yp) + (306 * mp + 5) / 10 + day - 1;
}

u32 word_of_days(i64 days, u32 carry) {
  if (days < -kDayLimit || days > kDayLimit) raise_type_limit(T_DATE);
  i64 y = i64(std::floor((10000.0 * double(days) + 14780.0) / 3652425.0));
  i64 ddd = days - year_start(y);
  while (ddd < 0) ddd = days - year_start(--y);
  while (ddd >= year_start(y + 1) - year_start(y)) ddd = days - year_start(++y);
  i64 mi = (100 * ddd + 52) / 3060;
  i64 month = (mi + 2) % 12 + 1;
  i64 year = y + (mi + 2) / 12;
  i64 day = ddd - (306 * mi + 5) / 10 + 1;
  if (year < kMinYear || year > kMaxYear) raise_type_limit(T_DATE);
  return (u32(i32(year)) << 17) | (carry & (kHasTime | kZoneMask)) | u32(month) << 12 | u32(day) << 7;
}

i32 year_day(u32 w) { return i32(day_number(w) - day_number(year_of(w), 1, 1) + 1); }

i32 weekday(u32 w) { return i32(floor_mod(day_number(w) + 2, 7) + 1); }

i32 week(u32 w) {
  i64 e = floor_mod(day_number(year_of(w), 1, 1) + 3, 7);
  i32 yd = year_day(w);
  return yd <= 7 - e ? 1 : i32((yd + e - 1) / 7 + 1);
}

i32 iso_week(u32 w) {
  i64 days = day_number(w);
  i32 y = year_of(w);
  i64 jan1 = day_number(y, 1, 1);
  i64 wd = floor_mod(jan1 + 2, 7);  // 0 Monday
  i64 monday = jan1 - wd + (wd >= 4 ? 7 : 0);
  if (days < monday) {
    if (wd == 4) return 53;
    if (wd == 5) return leap_year(y - 1) ? 53 : 52;
    return 52;
  }
  i64 next_jan1 = day_number(i64(y) + 1, 1, 1);
  i64 next_wd = floor_mod(next_jan1 + 2, 7);
  i64 next_monday = next_jan1 - next_wd + (next_wd >= 4 ? 7 : 0);
  if (days >= next_monday) return 1;
  return i32((days - monday) / 7 + 1);
}

void normalize_time(i64* days, double* time, u32 w) {
  double t = *time;
  if (!std::isfinite(t)) raise_type_limit(T_DATE);
  const double zs = zone_seconds(w);
  double k = std::trunc(std::trunc(t / 3600.0 + zs / 3600.0) / 24.0);
  if (std::fabs(k) > double(kDayLimit) * 4) raise_type_limit(T_DATE);
  t -= 86400.0 * k;
  i64 d = *days + i64(k);
  if (t + zs < 0) {
    t += 86400.0;
    d--;
  } else if (t + zs >= 86400.0) {  // a quotient rounded just below a whole day
    t -= 86400.0;
    d++;
  }
  *days = d;
  *time = t;
}

void normalize_time(i32* days, double* time, u32 w) {
  i64 d = *days;
  normalize_time(&d, time, w);
  *days = i32(d);
}

// ---- makers

Cell* store(Cell* cell, u32 word, double time) {
  u32 flags = cell->is(T_DATE) ? cell->flags() : 0;
  make_cell(cell, flags | T_DATE, word, 0, 0);
  cell->set_float(time);
  return cell;
}

Cell* make_at(Cell* cell, i32 year, i32 month, i32 day, double time, i32 zone_hours, i32 zone_minutes,
              bool has_time_) {
  i64 days = day_number(year, month, day);
  if (!has_time_) return store(set_unset(cell), word_of_days(days, 0), 0.0);
  u32 w = kHasTime | zone_bits_of(zone_hours, zone_minutes);
  double t = time - zone_seconds(w);
  normalize_time(&days, &t, w);
  return store(set_unset(cell), word_of_days(days, w), t);
}

i32 zone_offset(i32 zone_hours, i32 zone_minutes) { return zone_seconds(zone_bits_of(zone_hours, zone_minutes)); }

Cell* make_at_stored(Cell* cell, i32 year, i32 month, i32 day, double stored, i32 zone_hours, i32 zone_minutes) {
  i64 days = day_number(year, month, day);
  u32 w = kHasTime | zone_bits_of(zone_hours, zone_minutes);
  normalize_time(&days, &stored, w);
  return store(set_unset(cell), word_of_days(days, w), stored);
}

Cell* make_in(const Cell* block, u32 word, u32 time_high, u32 time_low) {
  Cell* c = mem::alloc_tail_cell(block->series_node());
  return make_cell(c, T_DATE, word, time_low, time_high);
}

Cell* push(u32 word, double time) { return store(set_unset(stack::reserve_slot()), word, time); }

// ---- conversions

i64 to_epoch(const Cell* d) {
  // Rounded half up also for the negative stored times of eastern zones.
  return (day_number(d->date_word()) - kEpochDay) * kDaySeconds + i64(std::floor(time_of(d) + 0.5));
}

i32 to_integer(const Cell* d) {
  i64 s = to_epoch(d);
  if (s < integer::kMin || s > integer::kMax) raise_type_limit(T_INTEGER);
  return i32(s);
}

Cell* from_epoch(Cell* cell, i64 seconds) {
  i64 days = kEpochDay + floor_div(seconds, kDaySeconds);
  double t = double(floor_mod(seconds, kDaySeconds));
  return store(set_unset(cell), word_of_days(days, kHasTime), t);
}

void difference(Cell* a, const Cell* b) {
  double s = double(day_number(a->date_word()) - day_number(b->date_word())) * kDaySeconds + (time_of(a) - time_of(b));
  a->set_date_word(0);
  time::make_at(a, s);
}

// ---- fields

int field_of_symbol(u32 symbol) {
  static const struct {
    words::Id id;
    int field;
  } kWords[] = {
      {words::date, kFieldDate},       {words::year, kFieldYear},         {words::month, kFieldMonth},
      {words::day, kFieldDay},         {words::zone, kFieldZone},         {words::time, kFieldTime},
      {words::hour, kFieldHour},       {words::minute, kFieldMinute},     {words::second, kFieldSecond},
      {words::weekday, kFieldWeekday}, {words::yearday, kFieldYearday},   {words::julian, kFieldYearday},
      {words::timezone, kFieldTimezone}, {words::week, kFieldWeek},       {words::isoweek, kFieldIsoweek},
  };
  if (symbol == 0) return 0;
  u32 canon = symbol::resolve(symbol);
  for (const auto& e : kWords) {
    u32 s = words::sym(e.id);
    if (s != 0 && symbol::resolve(s) == canon) return e.field;
  }
  return 0;
}

Cell* get_field(const Cell* d, int field) {
  u32 w = d->date_word();
  double local = local_time(d);
  switch (field) {
    case kFieldDate: return push(w & ~(kHasTime | kZoneMask), 0.0);
    case kFieldYear: return integer::push(year_of(w));
    case kFieldMonth: return integer::push(month_of(w));
    case kFieldDay: return integer::push(day_of(w));
    case kFieldZone:
    case kFieldTimezone:
      return has_time(w) ? push_time(zone_seconds(w)) : stack::push(&datatype::g_none);
    case kFieldTime: return has_time(w) ? push_time(local) : stack::push(&datatype::g_none);
    case kFieldHour: return integer::push(i32(std::floor(local / 3600.0)));
    case kFieldMinute: return integer::push(i32(std::floor(std::fmod(local, 3600.0) / 60.0)));
    case kFieldSecond: return float_::push(std::fmod(local, 60.0));
    case kFieldWeekday: return integer::push(weekday(w));
    case kFieldYearday: return integer::push(year_day(w));
    case kFieldWeek: return integer::push(week(w));
    case kFieldIsoweek: return integer::push(iso_week(w));
    default: {
      Cell n;
      raise_error(Err::ScriptOutOfRange, set_integer(&n, field));
    }
  }
}

void set_week(Cell* d, i32 n) { set_integer_field(d, kFieldIsoweek, n); }
void set_weekday(Cell* d, i32 n) { set_integer_field(d, kFieldWeekday, n); }
void set_yearday(Cell* d, i32 n) { set_integer_field(d, kFieldYearday, n); }

// ---- arithmetic

void math_op(int op) {
  Cell* a = stack::g_base;
  const Cell* b = stack::g_base + 1;
  u32 w = a->date_word();
  i64 days = day_number(w);
  double t = time_of(a);
  switch (b->type()) {
    case T_INTEGER:
      days += op == integer::kOpAdd ? i64(b->int_value()) : -i64(b->int_value());
      if (days < -kDayLimit || days > kDayLimit) raise_type_limit(T_DATE);
      break;
    case T_TIME:
      t += op == integer::kOpAdd ? b->float_value() : -b->float_value();
      // The moved time must show: a date without time gains one.
      w |= kHasTime;
      break;
    case T_DATE: {
      if (op == integer::kOpAdd) {
        Cell dt = datatype_cell(T_DATE);
        raise_error(Err::ScriptNotRelated, words::word(words::add), &dt);
      }
      days -= day_number(b->date_word());
      t -= time_of(b);
      normalize_time(&days, &t, w);
      set_integer(a, i32(days));
      return;
    }
    default: {
      raise_with_type(Err::ScriptInvalidType, b->type());
    }
  }
  finish(a, days, t, w);
}

void add() { math_op(integer::kOpAdd); }
void subtract() { math_op(integer::kOpSubtract); }

// ---- slot functions

Cell* make(Cell*, Cell* spec, int) { return make_or_to(spec, true); }
Cell* to(Cell*, Cell* spec, int) { return make_or_to(spec, false); }

void random(Cell* value, bool seed, bool secure, bool) {
  Services& s = services();
  u32 w = value->date_word();
  if (seed) return random_seed_value(value, w + u32(i32(time_of(value))));
  if (!s.random_range || !s.random_draw) service_missing();
  i64 days = s.random_range(i32(day_number(w)), secure) - 1;
  if (!has_time(w)) {
    store(value, word_of_days(days, w), 0.0);
    return;
  }
  u32 nw = with_zone(w, u32(s.random_draw(secure)));
  double local = double(s.random_range(kDaySeconds, secure) - 1);
  finish_local(value, days, local, nw);
}

namespace {

// The local time of day with every digit it needs: the stored time's own
// digits plus the zone offset, added exactly, so that loading the text back
// (which subtracts the offset the same way) gives the stored time itself.
i32 mold_local_time(const Cell* value, Cell* out, i32 part) {
  char stored[dtoa::kMaxPlain];
  int n = dtoa::float_to_plain(time_of(value), stored);
  char local[dtoa::kMaxPlain + 32];
  int m = dtoa::add_integer(stored, n, i64(zone_seconds(value->date_word())), local, int(sizeof local));
  if (m > 0 && local[0] != '-') {
    u64 whole = 0;
    std::from_chars(local, local + m, whole);
    if (whole < u64(kDaySeconds)) return time::clock_into(local, m, out, part);
  }
  return time::mold_into(local_time(value), out, part);
}

i32 write(const Cell* value, Cell* out, i32 part, bool mold) {
  char text[64];
  u32 w = value->date_word();
  int n = form_date_text(w, text);
  part -= i32(string::append_utf8_text(out, text, std::size_t(n)));
  if (!has_time(w)) return part;
  string::append_c_text(out, "/");
  part = mold ? mold_local_time(value, out, part - 1) : time::form_into(local_time(value), out, part - 1);
  i32 z = zone_seconds(w);
  if (z == 0) return part;
  i32 az = z < 0 ? -z : z;
  n = std::snprintf(text, sizeof text, "%c%02d:%02d", z < 0 ? '-' : '+', az / 3600, (az % 3600) / 60);
  string::append_c_text_n(out, text, std::size_t(n));
  return part - n;
}

}  // namespace

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) { return write(value, out, part, false); }

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  return write(value, out, part, true);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  int field = field_of_element(element);
  if (!field) raise_error(Err::ScriptInvalidPath, o.path, element);
  if (!value) return get_field(parent, field);
  set_field(parent, field, value);
  return value;
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_DATE)) return actions::kNotComparable;
  const i64 da = day_number(a->date_word()), db = day_number(b->date_word());
  const double ta = time_of(a), tb = time_of(b);
  if (op == actions::kSame) {
    if (da == db && float_::bits_of(ta) == float_::bits_of(tb)) return 0;
    return da != db ? (da < db ? -1 : 1) : (ta < tb ? -1 : 1);
  }
  // The moment counts: a local date and its stored time may lie a day apart
  // from the other date's when their zones differ.
  const double x = ta + double(da - db) * kDaySeconds;
  switch (op) {
    case actions::kEqual: case actions::kNotEqual: case actions::kStrictEqual: case actions::kEqualForm1:
    case actions::kEqualForm2: case actions::kFindEqual:
      if (float_::near_equal(x, tb)) return 0;
      break;
    default:
      break;
  }
  return x < tb ? -1 : x > tb ? 1 : 0;
}

Cell* pick(Cell* series, i32 index, Cell* index_cell) {
  int field = 0;
  if (index_cell && index_cell->type() >= T_WORD && index_cell->type() <= T_GET_WORD) {
    field = field_of_symbol(index_cell->word_symbol());
  } else if (index >= 1 && index <= 14) {
    field = index;
  }
  if (!field) {
    Cell n;
    raise_error(Err::ScriptOutOfRange, index_cell ? index_cell : set_integer(&n, index));
  }
  return get_field(series, field);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kAdd>(&add);
  slots.set<kSubtract>(&subtract);
  slots.set<kPick>(&pick);
  datatype::register_type(T_DATE, 0, "date!", slots);
}

}  // namespace zot::date

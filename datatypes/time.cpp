#include "datatypes/time.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zot::time {

namespace {

Cell g_made;

Cell* set_made(double seconds) {
  zot::set_float(&g_made, seconds);
  return set_type(&g_made, T_TIME);
}

// Appends the digits of a whole, non-negative double (hours have no limit).
int whole_digits(double d, char* out, int room) {
  auto r = std::to_chars(out, out + room, d, std::chars_format::fixed);
  return int(r.ptr - out);
}

// Hours, minutes and the seconds text of a non-negative finite time. The
// seconds come rounded to six significant digits; when that rounding reaches
// a whole minute ("60") the minute is carried, so no text ever shows ":60".
struct Parts {
  double hours;
  int minutes;
  char seconds[40];
  int seconds_len;
};

void split(double s, Parts* p) {
  const double r = std::fmod(s, kMinute);
  // s - r is an exact multiple of 60, so the division is exact too.
  double whole_minutes = (s - r) / kMinute;
  bool carry = false;
  if (r < kTick) {
    std::memcpy(p->seconds, "00", 3);
    p->seconds_len = 2;
  } else {
    int len;
    const char* t = float_::form_float(r, float_::kFormSeconds, &len);
    if (dtoa::text_to_float(t, t + len, 0, nullptr) >= kMinute) {
      carry = true;
      std::memcpy(p->seconds, "00", 3);
      p->seconds_len = 2;
    } else {
      int n = 0;
      if (len == 1 || t[1] == '.') p->seconds[n++] = '0';
      std::memcpy(p->seconds + n, t, std::size_t(len));
      p->seconds_len = n + len;
    }
  }
  if (carry) whole_minutes += 1.0;
  const double m = std::fmod(whole_minutes, kMinute);
  p->minutes = int(m);
  p->hours = (whole_minutes - m) / kMinute;
}

void math(int op) { float_::do_math(op); }

}  // namespace

Cell* push(double seconds) { return make_at(set_float(stack::reserve_slot(), 0.0), seconds); }

Cell* make_in(const Cell* block, u32 high, u32 low) {
  Cell* c = mem::alloc_tail_cell(block->series_node());
  return make_cell(c, T_TIME, 0, low, high);
}

i32 get_hours(double seconds) {
  double h = std::trunc(seconds / kHour);
  if (!(h >= -2147483648.0 && h <= 2147483647.0)) {
    Cell t;
    make_at(set_float(&t, 0.0), seconds);
    raise_error(Err::ScriptOutOfRange, &t);
  }
  return i32(h);
}

i32 get_minutes(double seconds) {
  double m = std::floor(std::fmod(std::fabs(seconds), kHour) / kMinute);
  return std::isnan(m) ? 0 : i32(m);
}

Cell* get_field(const Cell* value, int field) {
  const double s = value->float_value();
  switch (field) {
    case 1: return integer::push(get_hours(s));
    case 2: return integer::push(get_minutes(s));
    default: return float_::push(std::fmod(s, kMinute));
  }
}

int get_named_index(const Cell* word) {
  if (scalar::word_is(word, words::hour)) return 1;
  if (scalar::word_is(word, words::minute)) return 2;
  if (scalar::word_is(word, words::second)) return 3;
  return -1;
}

i32 form_into(double seconds, Cell* out, i32 part) {
  if (float_::special(seconds)) {
    int len;
    const char* t = float_::form_float(seconds, float_::kFormFloat, &len);
    string::append_c_text_n(out, t, std::size_t(len));
    return part - len;
  }
  char buf[400];
  int n = 0;
  if (seconds < 0) {
    buf[n++] = '-';
    seconds = -seconds;
  }
  Parts p;
  split(seconds, &p);
  n += whole_digits(p.hours, buf + n, int(sizeof buf) - 80);
  buf[n++] = ':';
  if (p.minutes < 10) buf[n++] = '0';
  n += whole_digits(double(p.minutes), buf + n, 4);
  buf[n++] = ':';
  std::memcpy(buf + n, p.seconds, std::size_t(p.seconds_len));
  n += p.seconds_len;
  string::append_c_text_n(out, buf, std::size_t(n));
  return part - n;
}

i32 clock_into(const char* text, int len, Cell* out, i32 part) {
  const char* dot = static_cast<const char*>(std::memchr(text, '.', std::size_t(len)));
  u64 whole = 0;
  std::from_chars(text, dot ? dot : text + len, whole);
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%llu:%02u:%02u", static_cast<unsigned long long>(whole / 3600),
                        unsigned(whole % 3600 / 60), unsigned(whole % 60));
  string::append_c_text_n(out, buf, std::size_t(n));
  if (dot) string::append_c_text_n(out, dot, std::size_t(text + len - dot));
  return part - n - (dot ? i32(text + len - dot) : 0);
}

i32 mold_into(double seconds, Cell* out, i32 part) {
  // Past 2^53 seconds the whole part has no exact clock text (nor loads).
  if (float_::special(seconds) || std::fabs(seconds) >= 0x1p53) return form_into(seconds, out, part);
  char text[dtoa::kMaxPlain];
  int n = dtoa::float_to_plain(std::fabs(seconds), text);
  if (std::signbit(seconds)) {  // -0:00:00 too: it loads back as -0.0
    string::append_c_text(out, "-");
    part--;
  }
  return clock_into(text, n, out, part);
}

void raise_bad_to_arg(const Cell* spec) { raise_with_type(Err::ScriptBadToArg, T_TIME, spec); }

// ---- slot functions

Cell* make(Cell*, Cell* spec, int) {
  const TypeId t = spec->type();
  switch (t) {
    case T_TIME:
      return spec;
    case T_INTEGER:
      return set_made(double(spec->int_value()));
    case T_FLOAT:
    case T_PERCENT:
      return set_made(spec->float_value());
    case T_BLOCK:
    case T_PAREN:
    case T_HASH: {
      const i32 n = block::length_at(spec);
      if (n > 3) raise_bad_to_arg(spec);
      const Cell* v = series::buffer_of(spec)->cells() + series::index_of(spec);
      double parts[3] = {0.0, 0.0, 0.0};
      bool negative = false;
      for (i32 i = 0; i < n; i++) {
        const Cell* c = v + i;
        double d;
        if (c->is(T_INTEGER)) d = double(c->int_value());
        else if (i == 2 && c->is(T_FLOAT)) d = c->float_value();
        else raise_bad_to_arg(spec);
        if (d < 0) {
          if (i > 0) raise_bad_to_arg(spec);
          negative = true;
          d = -d;
        }
        parts[i] = d;
      }
      double total = parts[0] * kHour + parts[1] * kMinute + parts[2];
      return set_made(negative ? -total : total);
    }
    default:
      if (is_any_string(t)) {
        Cell loaded;
        if (scalar::load_single(spec, &loaded) && loaded.is(T_TIME)) return set_made(loaded.float_value());
      }
      raise_bad_to_arg(spec);
  }
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) { return form_into(value->float_value(), out, part); }

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  return mold_into(value->float_value(), out, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  int field = -1;
  if (element->is(T_INTEGER)) {
    i32 i = element->int_value();
    if (i >= 1 && i <= 3) field = i;
  } else if (element->is(T_WORD)) {
    field = get_named_index(element);
  }
  if (field < 0) raise_error(Err::ScriptInvalidPath, o.path, element);
  if (!value) return get_field(parent, field);

  const bool whole = value->is(T_INTEGER);
  if (!whole && !(field == 3 && value->is(T_FLOAT))) raise_error(Err::ScriptInvalidArg, value);
  const double v = whole ? double(value->int_value()) : value->float_value();
  const Cell old = *parent;
  double t = parent->float_value();
  switch (field) {
    case 1: t -= (std::floor(t / kHour) - v) * kHour; break;
    case 2: t -= (std::floor(std::fmod(t, kHour) / kMinute) - v) * kMinute; break;
    default: t -= std::fmod(t, kMinute) - v; break;
  }
  parent->set_float(t);
  scalar::field_changed(&old, parent, value, field);
  return value;
}

void add() {
  Cell* a = stack::g_base;
  if (a[1].is(T_DATE)) {
    Cell time = a[0];
    a[0] = a[1];
    a[1] = time;
    date::math_op(integer::kOpAdd);
    return;
  }
  math(integer::kOpAdd);
}

void subtract() {
  if (stack::g_base[1].is(T_DATE)) scalar::raise_not_related(words::subtract, T_TIME);
  math(integer::kOpSubtract);
}

void multiply() {
  if (stack::g_base[1].is(T_TIME)) scalar::raise_not_related(words::multiply, T_TIME);
  math(integer::kOpMultiply);
}

void divide() {
  const bool ratio = stack::g_base[1].is(T_TIME);
  math(integer::kOpDivide);
  if (ratio) set_type(stack::g_base, T_FLOAT);
}

void round(Cell* value, const actions::RoundOptions& o) {
  if (o.scale && o.scale->is(T_MONEY)) scalar::raise_money_scale();
  // An integer scale is handed over as a float: the same rounding, without
  // squeezing a long duration into a 32-bit integer! on the way.
  Cell s;
  actions::RoundOptions as_float = o;
  if (o.scale && o.scale->is(T_INTEGER)) as_float.scale = set_float(&s, double(o.scale->int_value()));
  set_type(value, T_FLOAT);
  float_::round(value, as_float);
  if (value->is(T_INTEGER)) set_float(value, double(value->int_value()));
  set_type(value, T_TIME);
}

namespace {

// The whole seconds within the minute, nudged away from zero so that a
// second stored as 2.9999999 still counts as 3. Infinities and NaN have no
// parity: neither even? nor odd? holds for them.
bool parity(const Cell* value, int want) {
  const double s = value->float_value();
  if (!std::isfinite(s)) return false;
  const double n = s < 0 ? s - kTick : s + kTick;
  return (i32(std::trunc(std::fmod(n, kMinute))) & 1) == want;
}

}  // namespace

bool even(const Cell* value) { return parity(value, 0); }
bool odd(const Cell* value) { return parity(value, 1); }

Cell* pick(Cell* value, i32 index, Cell* index_cell) {
  i32 field = index;
  if (index_cell && is_plain_word(index_cell->type())) {
    field = get_named_index(index_cell);
    if (field < 0) raise_error(Err::ScriptCannotUse, index_cell, value);
  } else if (index_cell && index_cell->is(T_INTEGER)) {
    field = index_cell->int_value();
  }
  if (field < 1 || field > 3) scalar::raise_out_of_range(index, index_cell);
  return get_field(value, field);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.inherit(kRandom);
  slots.set<kTo>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.inherit(kCompare);
  slots.inherit(kAbsolute);
  slots.set<kAdd>(&add);
  slots.set<kDivide>(&divide);
  slots.set<kMultiply>(&multiply);
  slots.inherit(kNegate);
  slots.inherit(kRemainder);
  slots.set<kRound>(&round);
  slots.set<kSubtract>(&subtract);
  slots.set<kEven>(&even);
  slots.set<kOdd>(&odd);
  slots.set<kPick>(&pick);
  datatype::register_type(T_TIME, T_FLOAT, "time!", slots);
}

}  // namespace zot::time

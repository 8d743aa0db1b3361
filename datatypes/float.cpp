#include "datatypes/float.h"

#include "datatypes/money.h"
#include "datatypes/scalar.h"
#include "runtime/scan_numbers.h"

#include <cmath>
#include <limits>

#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/memory.h"
#include "runtime/services.h"

namespace zot::float_ {

bool g_pretty = true;

namespace {

// Text of form_float.
char g_text[32];

Cell g_made;



ZOT_INLINE bool is_float_kind(TypeId t) { return t == T_FLOAT || t == T_PERCENT || t == T_TIME; }

// A cell's number as a double (integer! and char! converted).
ZOT_INLINE double number_of(const Cell* c) {
  return c->is(T_INTEGER) || c->is(T_CHAR) ? double(c->int_value()) : c->float_value();
}

// The 17 significant digits of d cut to `precision` digits, rounding half
// up on the decimal digits. Forms are made from 17 digits so that a value
// whose 17th digit is a 5 rounds as its text reads: 1e-20 (whose 17 digits
// are 9.9999999999999995e-21) forms as 1e-20, not 9.999999999999999e-21.
void form_digits(double d, int precision, dtoa::Digits* dg) {
  dtoa::float_to_digits(d, 17, dg);
  if (dg->count <= precision) return;
  bool up = dg->digits[precision] >= '5';
  dg->count = precision;
  if (up) {
    int i = precision - 1;
    while (i >= 0 && dg->digits[i] == '9') i--;
    if (i < 0) {
      dg->digits[0] = '1';
      dg->count = 1;
      dg->decpt++;
    } else {
      dg->digits[i]++;
      dg->count = i + 1;
    }
  }
  while (dg->count > 1 && dg->digits[dg->count - 1] == '0') dg->count--;
  dg->digits[dg->count] = 0;
}

// Writes d with `precision` significant digits laid out the way
// "%.<precision>g" does, its exponent already tidy: no "+", no leading zeros
// ("1e20", "1.5e-7"). Returns the length.
int general_format(double d, int precision, char* out) {
  dtoa::Digits dg;
  form_digits(d, precision, &dg);
  char* p = out;
  if (dg.negative) *p++ = '-';
  if (dg.decpt == dtoa::kDecptZero || dg.count == 0) {
    *p++ = '0';
    *p = 0;
    return int(p - out);
  }
  const int x = dg.decpt - 1;  // decimal exponent of the first digit
  if (x >= -4 && x < precision) {
    if (dg.decpt <= 0) {
      *p++ = '0';
      *p++ = '.';
      for (int i = 0; i < -dg.decpt; i++) *p++ = '0';
      for (int i = 0; i < dg.count; i++) *p++ = dg.digits[i];
    } else {
      for (int i = 0; i < dg.count || i < dg.decpt; i++) {
        if (i == dg.decpt) *p++ = '.';
        *p++ = i < dg.count ? dg.digits[i] : '0';
      }
    }
  } else {
    *p++ = dg.digits[0];
    if (dg.count > 1) {
      *p++ = '.';
      for (int i = 1; i < dg.count; i++) *p++ = dg.digits[i];
    }
    *p++ = 'e';
    int e = x;
    if (e < 0) {
      *p++ = '-';
      e = -e;
    }
    char digits[8];
    int n = 0;
    do {
      digits[n++] = char('0' + e % 10);
      e /= 10;
    } while (e);
    while (n) *p++ = digits[--n];
  }
  *p = 0;
  return int(p - out);
}

struct KindFormat {
  int primary;  // significant digits ("%.<n>g"); 0 = the seconds layout
  int retry;
};
constexpr KindFormat kKinds[] = {{7, 5}, {16, 14}, {7, 14}, {13, 14}, {0, 5}, {7, 5}};

int primary_text(double d, int kind, char* out) {
  if (kKinds[kind].primary) return general_format(d, kKinds[kind].primary, out);
  int len;
  const char* t = dtoa::float_to_text(d, 6, false, &len);
  std::memcpy(out, t, std::size_t(len) + 1);
  return len;
}

// Noise at the end of the full-precision digits: a form that ends in "01" or
// "99" at 16 or more significant places is written again with fewer digits.
bool noisy(const char* t, int len) {
  const char* e = static_cast<const char*>(std::memchr(t, 'e', std::size_t(len)));
  const char* last;
  if (!e) {
    int first = t[0] == '-' ? 1 : 0;
    if (len <= (t[first] == '0' ? 17 : 16)) return false;
    last = t + len;
  } else {
    if (e - t <= 16) return false;
    last = e;
  }
  return (last[-2] == '0' && last[-1] == '1') || (last[-2] == '9' && last[-1] == '9');
}

// Maps a double's pattern to an unsigned key that orders like the values.
ZOT_INLINE u64 ordered_key(double d) {
  u64 b = bits_of(d);
  return (b >> 63) ? ~b + 1 : b | 0x8000000000000000ull;
}

void math_slot(int op) { float_::do_math(op); }

void check_exponent(const Cell* exponent) {
  Cell numbers;
  make_cell(&numbers, T_TYPESET, 0, 0, 0);
  runtime::typeset_add(&numbers, T_INTEGER);
  runtime::typeset_add(&numbers, T_FLOAT);
  runtime::check_arg_type(&numbers, 1, exponent);
}


}  // namespace

bool near_equal(double a, double b) {
  if (is_nan(a) || is_nan(b)) return false;
  if (a == b) return true;
  // An infinity equals only itself, however close the largest double is.
  if (std::isinf(a) || std::isinf(b)) return false;
  if (std::fabs(a - b) < kEpsilon) return true;
  u64 ka = ordered_key(a), kb = ordered_key(b);
  return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool near_equal_single(float a, float b) {
  if (single_nan(a) || single_nan(b)) return false;
  if (a == b) return true;
  u32 pa, pb;
  std::memcpy(&pa, &a, 4);
  std::memcpy(&pb, &b, 4);
  const u32 ma = pa & 0x7FFFFFFFu, mb = pb & 0x7FFFFFFFu;
  if (ma >= 0x7F7FFFFFu || mb >= 0x7F7FFFFFu) {
    if ((pa ^ pb) & 0x80000000u) return false;
    return (ma > mb ? ma - mb : mb - ma) <= 0xFFFFFu;
  }
  if (ma == 0 && mb == 0) return true;
  i64 ia = i32(pa), ib = i32(pb);
  if (ia < 0) ia = i64(integer::kMin) - ia;
  if (ib < 0) ib = i64(integer::kMin) - ib;
  return (ia > ib ? ia - ib : ib - ia) <= 10;
}

Cell* make_in(const Cell* block, u32 high, u32 low) {
  Cell* c = mem::alloc_tail_cell(block->series_node());
  return make_cell(c, T_FLOAT, 0, low, high);
}

Cell* push(double d) { return zot::set_float(stack::reserve_slot(), d); }

const char* form_float(double d, int kind, int* len) {
  int n;
  if (special(d)) {
    const char* t = is_nan(d) ? "1.#NaN" : d < 0 ? "-1.#INF" : "1.#INF";
    if (len) *len = int(std::strlen(t));
    return t;
  }
  const bool percent = kind == kFormSinglePercent || kind == kFormPercent;
  if (g_pretty && std::fabs(d) < kEpsilon) {
    const char* t = percent ? "0%" : kind == kFormPoint ? "0" : "0.0";
    if (len) *len = int(std::strlen(t));
    return t;
  }
  n = primary_text(d, kind, g_text);
  if (g_pretty && noisy(g_text, n)) n = general_format(d, kKinds[kind].retry, g_text);
  if (percent) {
    g_text[n++] = '%';
    g_text[n] = 0;
  } else if ((kind == kFormSingle || kind == kFormFloat) && !std::memchr(g_text, '.', std::size_t(n))) {
    char* e = static_cast<char*>(std::memchr(g_text, 'e', std::size_t(n)));
    int at = e ? int(e - g_text) : n;
    std::memmove(g_text + at + 2, g_text + at, std::size_t(n - at) + 1);
    g_text[at] = '.';
    g_text[at + 1] = '0';
    n += 2;
  }
  if (len) *len = n;
  return g_text;
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  int len;
  const char* text = form_float(value->float_value(), kFormFloat, &len);
  string::append_c_text_n(out, text, std::size_t(len));
  return part - len;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  int len;
  const char* text = dtoa::float_to_text(value->float_value(), 0, true, &len);
  string::append_c_text_n(out, text, std::size_t(len));
  return part - len;
}

double do_math_op(double left, double right, int op) {
  switch (op) {
    case integer::kOpAdd: return left + right;
    case integer::kOpSubtract: return left - right;
    case integer::kOpMultiply: return left * right;
    case integer::kOpDivide: return left / right;
    case integer::kOpRemainder:
      if (std::isfinite(right)) return std::fmod(left, right);
      if (std::isnan(right)) return std::numeric_limits<double>::quiet_NaN();
      return std::isfinite(left) ? left : std::numeric_limits<double>::quiet_NaN();
    default: {
      Cell word = stack::calling_word();
      Cell dt = datatype_cell(T_FLOAT);
      raise_error(Err::ScriptCannotUse, &word, &dt);
    }
  }
}

void do_math(int op) {
  Cell* a = stack::g_base;
  const Cell* b = stack::g_base + 1;
  const TypeId ta = a->type(), tb = b->type();
  switch (tb) {
    case T_INTEGER:
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
      break;
    case T_CHAR:
      if (ta == T_PERCENT || ta == T_TIME) raise_with_type(Err::ScriptInvalidType, tb);
      break;
    default:
      if (scalar::number_with_compound(op)) return;
      raise_with_type(Err::ScriptInvalidType, tb);
  }
  double r = do_math_op(number_of(a), number_of(b), op);
  TypeId type = (ta == T_TIME) != (tb == T_TIME) ? T_TIME
                : ta == T_PERCENT                 ? T_PERCENT
                : ta == T_INTEGER                 ? T_FLOAT
                                                  : ta;
  zot::set_float(a, r);
  set_type(a, type);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if ((op == actions::kStrictEqual || op == actions::kSame || op == actions::kFindEqual) &&
      a->type() != b->type())
    return 1;
  double y;
  if (b->is(T_INTEGER)) {
    y = double(b->int_value());
  } else if (is_float_kind(b->type())) {
    y = b->float_value();
  } else if (b->is(T_MONEY) && a->is(T_FLOAT)) {
    // money!'s own comparison, with the sides swapped back.
    i32 r = money::compare(b, a, op);
    return r == actions::kNotComparable ? r : -r;
  } else {
    return actions::kNotComparable;
  }
  const double x = a->float_value();
  switch (op) {
    case actions::kEqual:
    case actions::kNotEqual:
      return near_equal(x, y) ? 0 : 1;
    case actions::kStrictEqual:
      return x == y ? 0 : 1;
    case actions::kSame:
      return bits_of(x) == bits_of(y) ? 0 : 1;
    default:
      if (std::isnan(x) || std::isnan(y)) {
        if (op == actions::kLesser || op == actions::kLesserOrEqual) return 1;
        if (op == actions::kGreater || op == actions::kGreaterOrEqual) return -1;
        return 0;
      }
      return (x > y) - (x < y);
  }
}

Cell* make(Cell*, Cell* spec, int type) {
  double d;
  switch (spec->type()) {
    case T_INTEGER:
    case T_CHAR:
      d = double(spec->int_value());
      break;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
      d = spec->float_value();
      break;
    case T_BINARY: {
      mem::Series* s = mem::series_of(spec->series_node());
      i64 index = spec->series_index();
      i64 len = i64(s->bytes_used());
      if (index < 0) index = 0;
      const u8* p = s->head_ptr() + index;
      u64 bits = 0;
      for (i64 i = 0; i < 8 && index + i < len; i++) bits = (bits << 8) | p[i];
      std::memcpy(&d, &bits, sizeof d);
      break;
    }
    case T_MONEY:
      d = money::to_float(spec);
      break;
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF: {
      // The text from the head; empty text or a failed scan is refused. A
      // percent text ("10%") gives its fraction, as loading it would.
      mem::Series* s = mem::series_of(spec->series_node());
      u32 n = s->length();
      const bool percent = n > 1 && string::char_at(spec, i32(n - 1)) == '%';
      if (percent) n--;
      Cell check;
      set_none(&check);
      d = n ? numtext::text_to_float(s->head_ptr(), n, s->unit(), &check) : 0.0;
      if (!n || check.header == 0xFFFFFFFFu) raise_with_type(Err::ScriptBadToArg, u32(type), spec);
      if (percent) d /= 100.0;
      break;
    }
    default: {
      if (!is_any_list(spec->type())) raise_with_type(Err::ScriptBadToArg, u32(type), spec);
      mem::Series* s = mem::series_of(spec->series_node());
      i64 index = spec->series_index();
      if (index < 0) index = 0;
      if (i64(s->length()) - index != 2) raise_with_type(Err::ScriptBadToArg, u32(type), spec);
      const Cell* m = s->cells() + index;
      const Cell* e = m + 1;
      if (!(m->is(T_INTEGER) || m->is(T_FLOAT)) || !(e->is(T_INTEGER) || e->is(T_FLOAT)))
        raise_with_type(Err::ScriptBadToArg, u32(type), spec);
      d = number_of(m) * std::pow(10.0, std::trunc(number_of(e)));
      break;
    }
  }
  zot::set_float(&g_made, d);
  set_type(&g_made, u8(type));
  return &g_made;
}

void absolute() {
  Cell* v = stack::g_base;
  v->set_float(abs(v->float_value()));
}

void add() { math_slot(integer::kOpAdd); }
void subtract() { math_slot(integer::kOpSubtract); }
void multiply() { math_slot(integer::kOpMultiply); }
void divide() { math_slot(integer::kOpDivide); }
void remainder() { math_slot(integer::kOpRemainder); }

void negate(Cell* value) { value->set_float(0.0 - value->float_value()); }

void power() {
  Cell* base = stack::g_base;
  const Cell* exponent = stack::g_base + 1;
  check_exponent(exponent);
  base->set_float(std::pow(base->float_value(), number_of(exponent)));
}

void round(Cell* value, const actions::RoundOptions& o) {
  if (o.scale && o.scale->is(T_MONEY)) {
    Cell word = stack::calling_word();
    Cell dt = datatype_cell(T_MONEY);
    raise_error(Err::ScriptNotRelated, &word, &dt);
  }
  // The result takes the scale's type: only a number can lend it.
  if (o.scale && !o.scale->is(T_INTEGER) && !o.scale->is(T_FLOAT) && !o.scale->is(T_PERCENT) && !o.scale->is(T_TIME))
    runtime::raise_expect_arg(o.scale->type(), 2);  // round's third word: scale
  const bool percent = value->is(T_PERCENT);
  double x = value->float_value();
  double s;
  if (o.scale) {
    // A number scale counts in percent points; a percent scale is a
    // fraction already (round/to 12.345% 1% gives 12%).
    s = std::fabs(number_of(o.scale));
    if (percent && !o.scale->is(T_PERCENT)) s /= 100.0;
  } else {
    s = percent ? 0.01 : 1.0;
  }
  // A scale below the value's precision (or none at all) leaves it as it is.
  if (s == 0.0 || s < std::fabs(x) * 0x1p-53) return;

  int e = 0;
  double xp;
  if (s >= 1.0) {
    xp = x / s;
  } else {
    int be;
    double m = std::frexp(s, &be);
    if (be <= -1022) {
      // A subnormal scale: work on the mantissa and bring x up by as much.
      s = m;
      x = std::ldexp(x, -be);
      e = be;
    }
    xp = x * (1.0 / s);
  }

  const double a = std::fabs(xp);
  const double t = std::floor(a) + 0.5;
  const bool negative = xp < 0;
  auto sgn = [negative](double r) { return negative ? 0.0 - r : r; };
  double r;
  if (o.down) r = sgn(std::floor(a));
  else if (o.floor) r = std::floor(xp);
  else if (o.ceiling) r = std::ceil(xp);
  else if (a > t) r = sgn(std::ceil(a));
  else if (a < t) r = sgn(std::floor(a));
  else if (o.even) r = std::fmod(a, 2.0) < 1.0 ? sgn(std::floor(a)) : sgn(std::ceil(a));
  else if (o.half_down) r = sgn(std::floor(a));
  else if (o.half_ceiling) r = std::ceil(xp);
  else r = sgn(std::ceil(a));

  double result;
  if (s >= 1.0) {
    result = r * s;
    if (std::fabs(result) >= kMaxDouble) raise_error(Err::MathOverflow);
  } else {
    result = std::ldexp(r / (1.0 / s), e);
  }

  if (!o.scale) {
    value->set_float(result);
  } else if (o.scale->is(T_INTEGER)) {
    if (!(result > -2147483649.0 && result < 2147483648.0)) raise_error(Err::MathOverflow);
    set_integer(value, i32(result));
  } else {
    zot::set_float(value, result);
    set_type(value, o.scale->type());
  }
}

// The parity of the whole part. Every double from 2^53 up is an even integer,
// so fmod answers exactly at any magnitude; infinities and NaN have no parity.
bool even(const Cell* value) {
  double d = value->float_value();
  return std::isfinite(d) && std::fmod(std::trunc(d), 2.0) == 0.0;
}

bool odd(const Cell* value) {
  double d = value->float_value();
  return std::isfinite(d) && std::fmod(std::trunc(d), 2.0) != 0.0;
}

double random_scaled(double limit, bool secure) {
  if (secure) {
    double d1 = random_draw(true), d2 = random_draw(true);
    return limit * (d2 + d1 / 2147483647.0) / 2147483648.0;
  }
  return limit * (random_draw(false) / 2147483647.0);
}

void random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    // The seed folds the double's two halves together.
    u64 bits;
    const double d = value->float_value();
    std::memcpy(&bits, &d, sizeof bits);
    return random_seed_value(value, u32(bits) ^ u32(bits >> 32));
  }
  value->set_float(random_scaled(value->float_value(), secure));
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  slots.set<kAbsolute>(&absolute);
  slots.set<kAdd>(&add);
  slots.set<kDivide>(&divide);
  slots.set<kMultiply>(&multiply);
  slots.set<kNegate>(&negate);
  slots.set<kPower>(&power);
  slots.set<kRemainder>(&remainder);
  slots.set<kRound>(&round);
  slots.set<kSubtract>(&subtract);
  slots.set<kEven>(&even);
  slots.set<kOdd>(&odd);
  datatype::register_type(T_FLOAT, 0, "float!", slots);
}

}  // namespace zot::float_

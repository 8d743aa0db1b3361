#include "datatypes/integer.h"

#include <cmath>

#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "runtime/scan_numbers.h"
#include "runtime/symbol.h"

#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/helpers.h"
#include "runtime/memory.h"
#include "runtime/services.h"

namespace zot::integer {

namespace {

// Decimal text of form_signed: eleven characters and a NUL.
char g_text[12];

// Result of make and to (the entry copies it into the frame).
Cell g_made;



ZOT_NORETURN void raise_overflow() { raise_error(Err::MathOverflow); }

// An exponent must be integer! or float!: anything else names the argument.
void check_exponent(const Cell* exponent) {
  Cell numbers;
  make_cell(&numbers, T_TYPESET, 0, 0, 0);
  runtime::typeset_add(&numbers, T_INTEGER);
  runtime::typeset_add(&numbers, T_FLOAT);
  runtime::check_arg_type(&numbers, 1, exponent);
}

// The first bytes (at most max) of a binary! from its index, big-endian.
u64 binary_prefix(const Cell* bin, int max) {
  mem::Series* s = mem::series_of(bin->series_node());
  i64 index = bin->series_index();
  i64 len = i64(s->bytes_used());
  u64 v = 0;
  if (index < 0) index = 0;
  const u8* p = s->head_ptr() + index;
  for (i64 i = 0; i < max && index + i < len; i++) v = (v << 8) | p[i];
  return v;
}

void math_slot(int op) { integer::do_math(op); }

}  // namespace

Cell* make_in(const Cell* block, i32 v) {
  return set_integer(mem::alloc_tail_cell(block->series_node()), v);
}

Cell* push(i32 v) { return set_integer(stack::reserve_slot(), v); }

i32 do_math_op(i32 left, i32 right, int op, Cell* result) {
  i32 v = 0;
  switch (op) {
    case kOpAdd:
      if (__builtin_add_overflow(left, right, &v) && result) {
        set_float(result, double(left) + double(right));
        return 0;
      }
      break;
    case kOpSubtract:
      if (__builtin_sub_overflow(left, right, &v) && result) {
        set_float(result, double(left) - double(right));
        return 0;
      }
      break;
    case kOpMultiply:
      if (__builtin_mul_overflow(left, right, &v) && result) {
        set_float(result, double(right) * double(left));
        return 0;
      }
      break;
    case kOpDivide:
      if (right == 0) raise_error(Err::MathZeroDivide);
      if (left == kMin && right == -1) raise_overflow();
      if (result && left % right != 0) {
        set_float(result, double(left) / double(right));
        return 0;
      }
      v = left / right;
      break;
    case kOpRemainder:
      if (right == 0) raise_error(Err::MathZeroDivide);
      if (left == kMin && right == -1) raise_overflow();
      v = left % right;
      break;
    case kOpOr: v = left | right; break;
    case kOpAnd: v = left & right; break;
    case kOpXor: v = left ^ right; break;
    default: runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
  }
  // Other result cells serve only to catch the overflow.
  if (result && (result->is(T_INTEGER) || result->is(T_CHAR))) result->set_int_value(v);
  return v;
}

void do_math(int op) {
  Cell* a = stack::g_base;
  const Cell* b = stack::g_base + 1;
  switch (b->type()) {
    case T_INTEGER:
    case T_CHAR:
      do_math_op(a->int_value(), b->int_value(), op, a);
      return;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
      float_::do_math(op);
      return;
    default:
      if (scalar::number_with_compound(op)) return;
      raise_with_type(Err::ScriptInvalidType, b->type());
  }
}

i32 power_int(i32 base, i32 exp, bool* overflow) {
  i32 result = 1;
  *overflow = false;
  while (exp != 0) {
    if ((exp & 1) && __builtin_mul_overflow(result, base, &result)) {
      *overflow = true;
      return 0;
    }
    exp >>= 1;
    if (exp > 0 && __builtin_mul_overflow(base, base, &base)) {
      *overflow = true;
      return 0;
    }
  }
  return result;
}

i32 absolute_checked(i32 v) {
  if (v == kMin) raise_overflow();
  return v < 0 ? -v : v;
}

bool float_overflow(const Cell* c) {
  double d = c->float_value();
  return !(d >= -2147483648.0 && d <= 2147483647.0);
}

const char* form_signed(i32 v, int* len) {
  char* end = g_text + sizeof g_text - 1;
  *end = 0;
  char* p = end;
  if (v == 0) {
    *--p = '0';
  } else if (v == kMin) {
    static const char kMinText[] = "-2147483648";
    if (len) *len = int(sizeof kMinText - 1);
    return kMinText;
  } else {
    u32 n = v < 0 ? u32(-v) : u32(v);
    while (n) {
      *--p = char('0' + n % 10);
      n /= 10;
    }
    if (v < 0) *--p = '-';
  }
  if (len) *len = int(end - p);
  return p;
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  int len;
  const char* text = form_signed(value->int_value(), &len);
  string::append_c_text_n(out, text, std::size_t(len));
  return part - len;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return form(value, out, o.limit, part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if ((op == actions::kStrictEqual || op == actions::kFindEqual || op == actions::kSame) && !b->is(T_INTEGER)) return 1;
  switch (b->type()) {
    case T_INTEGER:
    case T_CHAR: {
      i32 x = a->int_value(), y = b->int_value();
      return (x > y) - (x < y);
    }
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: {
      Cell f;
      set_float(&f, double(a->int_value()));
      return float_::compare(&f, b, op);
    }
    case T_MONEY: {
      // money!'s own comparison, with the sides swapped back.
      i32 r = money::compare(b, a, op);
      return r == actions::kNotComparable ? r : -r;
    }
    default:
      return actions::kNotComparable;
  }
}

Cell* to(Cell*, Cell* spec, int) {
  i32 v;
  switch (spec->type()) {
    case T_INTEGER:
    case T_CHAR:
      v = spec->int_value();
      break;
    case T_FLOAT:
    case T_PERCENT:
      if (float_overflow(spec)) raise_with_type(Err::ScriptTypeLimit, T_INTEGER);
      v = i32(spec->float_value());
      break;
    case T_TIME: {
      // Whole seconds, rounded half up (-1.5 seconds gives -1, -1 second
      // stays -1).
      double d = std::floor(spec->float_value() + 0.5);
      if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_with_type(Err::ScriptTypeLimit, T_INTEGER);
      v = i32(d);
      break;
    }
    case T_BINARY:
      v = i32(u32(binary_prefix(spec, 4)));
      break;
    case T_DATE:
      v = date::to_integer(spec);
      break;
    case T_MONEY:
      v = money::to_integer(spec);
      break;
    case T_ISSUE: {
      // Its text as hexadecimal: at most 8 digits.
      const char* name = symbol::name_text(spec->word_symbol());
      std::size_t n = std::strlen(name);
      u32 x = 0;
      bool ok = n >= 1 && n <= 8;
      for (std::size_t i = 0; ok && i < n; i++) {
        char c = char(name[i] & 0x7F);
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) ok = false;
        else x = (x << 4) | u32(d);
      }
      if (!ok) {
        Cell text;
        string::make_from_utf8(&text, name, n);
        raise_error(Err::ScriptInvalidData, &text);
      }
      v = i32(x);
      break;
    }
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF: {
      // The text from the head: an optional sign, digits, ' separators.
      mem::Series* s = mem::series_of(spec->series_node());
      i32 error = 0;
      v = numtext::text_to_integer(s->head_ptr(), s->length(), s->unit(), &error);
      if (error) raise_with_type(Err::ScriptBadToArg, T_INTEGER, spec);
      break;
    }
    default:
      raise_with_type(Err::ScriptBadToArg, T_INTEGER, spec);
  }
  return set_integer(&g_made, v);
}

Cell* make(Cell* proto, Cell* spec, int type) {
  if (spec->is(T_LOGIC)) return set_integer(&g_made, spec->logic_value() ? 1 : 0);
  return to(proto, spec, type);
}

void absolute() { set_result(absolute_checked(get_arg())); }
void add() { math_slot(kOpAdd); }
void subtract() { math_slot(kOpSubtract); }
void multiply() { math_slot(kOpMultiply); }
void divide() { math_slot(kOpDivide); }
void remainder() { math_slot(kOpRemainder); }
void and_() { math_slot(kOpAnd); }
void or_() { math_slot(kOpOr); }
void xor_() { math_slot(kOpXor); }

void negate(Cell* value) {
  i32 v = value->int_value();
  if (v == kMin) raise_overflow();
  set_integer(value, -v);
}

void power() {
  Cell* base = stack::g_base;
  const Cell* exponent = stack::g_base + 1;
  check_exponent(exponent);
  if (exponent->is(T_INTEGER) && exponent->int_value() >= 0) {
    bool overflow;
    i32 r = power_int(base->int_value(), exponent->int_value(), &overflow);
    if (!overflow) {
      set_integer(base, r);
      return;
    }
  }
  set_float(base, double(base->int_value()));
  float_::power();
}

void round(Cell* value, const actions::RoundOptions& o) {
  if (o.scale && o.scale->is(T_MONEY)) {
    Cell word = stack::calling_word();
    Cell dt = datatype_cell(T_MONEY);
    raise_error(Err::ScriptNotRelated, &word, &dt);
  }
  i32 v = value->int_value();
  if (v == kMin) return;
  i64 s = 1;
  if (o.scale) {
    if (!o.scale->is(T_INTEGER)) {
      set_float(value, double(v));
      float_::round(value, o);
      return;
    }
    s = absolute_checked(o.scale->int_value());
  }
  if (s == 0 || v % s == 0) return;

  const bool negative = v < 0;
  const i64 a = negative ? -i64(v) : i64(v);
  const i64 r = a % s;
  const i64 d = s - r;
  const i64 up = a + d;
  const i64 dn = a - r;
  const bool up_overflows = up > kMax;
  enum { kTowardZero, kAway, kToPlus, kToMinus } dir;

  if (o.down) {
    dir = kTowardZero;
  } else if (o.floor) {
    dir = kToMinus;
  } else if (o.ceiling) {
    dir = kToPlus;
  } else if (r < d) {
    dir = kTowardZero;
  } else if (r > d) {
    dir = kAway;
  } else if (o.even) {
    dir = (a / s) % 2 == 0 ? kTowardZero : kAway;
  } else if (o.half_down) {
    dir = kTowardZero;
  } else if (o.half_ceiling) {
    dir = kToPlus;
  } else {
    dir = kAway;
  }

  i64 result;
  switch (dir) {
    case kTowardZero: result = dn; break;
    case kAway: result = up; break;
    case kToPlus: result = negative ? dn : up; break;
    default: result = negative ? up : dn; break;
  }
  // Only a move away from zero can leave the range: a floor or ceiling that
  // goes toward zero never overflows.
  if (result == up && up_overflows) raise_overflow();
  set_integer(value, i32(negative ? -result : result));
}

Cell* complement(Cell* value) {
  value->set_int_value(~value->int_value());
  return value;
}

bool even(const Cell* value) { return (value->int_value() & 1) == 0; }
bool odd(const Cell* value) { return (value->int_value() & 1) != 0; }

void random(Cell* value, bool seed, bool secure, bool) {
  if (seed) return random_seed_value(value, u32(value->int_value()));
  value->set_int_value(random_range(value->int_value(), secure));
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&to);
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
  slots.set<kAnd>(&and_);
  slots.set<kComplement>(&complement);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  datatype::register_type(T_INTEGER, 0, "integer!", slots);
}

}  // namespace zot::integer

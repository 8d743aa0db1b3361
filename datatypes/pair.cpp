#include "datatypes/pair.h"

#include <cmath>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/services.h"

namespace zot::pair {

namespace {

Cell g_made;

Cell* set_made(i32 x, i32 y) { return make_cell(&g_made, T_PAIR, 0, u32(x), u32(y)); }

// A finite double truncated toward zero, when the result fits 32 bits.
bool truncated(double d, i32* out) {
  const double t = std::trunc(d);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return false;
  *out = i32(t);
  return true;
}

// The operation redone on 32-bit floats: the first cell becomes the point of
// (x1, y1), the second the point of (x2, y2).
void math_as_point2d(int op, i32 x1, i32 y1, i32 x2, i32 y2) {
  point2d::set(stack::g_base, float(x1), float(y1));
  point2d::set(stack::g_base + 1, float(x2), float(y2));
  point2d::math_op(op);
}

void math(int op) { do_math(op); }

}  // namespace

Cell* push(i32 x, i32 y) { return make_cell(stack::reserve_slot(), T_PAIR, 0, u32(x), u32(y)); }

Cell* make_in(const Cell* block, i32 x, i32 y) {
  return make_cell(mem::alloc_tail_cell(block->series_node()), T_PAIR, 0, u32(x), u32(y));
}

int get_named_index(const Cell* word) {
  if (scalar::word_is(word, words::x)) return 1;
  if (scalar::word_is(word, words::y)) return 2;
  return -1;
}

i32 get_coordinate(const Cell* c) {
  if (c->is(T_INTEGER)) return c->int_value();
  i32 v;
  if (!truncated(c->float_value(), &v)) raise_error(Err::ScriptInvalidArg, c);
  return v;
}

Cell* to_point2d_arg(const Cell* pair, Cell* out) { return point2d::set(out, float(x_of(pair)), float(y_of(pair))); }

void do_math(int op) {
  Cell* a = stack::g_base;
  Cell* b = stack::g_base + 1;
  const i32 x1 = x_of(a), y1 = y_of(a);
  i32 x2, y2;
  switch (b->type()) {
    case T_PAIR:
      x2 = x_of(b);
      y2 = y_of(b);
      break;
    case T_INTEGER:
      x2 = y2 = b->int_value();
      break;
    case T_FLOAT:
    case T_PERCENT: {
      const double f = b->float_value();
      if (op == integer::kOpMultiply) {
        if (float_::special(f)) raise_error(Err::ScriptInvalidArg, b);
        point2d::set(a, float(double(x1) * f), float(double(y1) * f));
        return;
      }
      if (op == integer::kOpDivide) {
        if (float_::is_nan(f)) raise_error(Err::ScriptInvalidArg, b);
        point2d::set(a, float(double(x1) / f), float(double(y1) / f));
        return;
      }
      if (float_::special(f)) raise_error(Err::ScriptInvalidArg, b);
      i32 n;
      if (!truncated(f, &n)) {
        // Beyond 32 bits the operand overflows the integer math at once: the
        // operation goes on as point2D! math, as an overflow does. The
        // bitwise operations have no such road.
        if (op >= integer::kOpOr) raise_error(Err::ScriptInvalidArg, b);
        to_point2d_arg(a, a);
        set_float(b, std::trunc(f));
        point2d::math_op(op);
        return;
      }
      x2 = y2 = n;
      break;
    }
    case T_POINT2D:
      to_point2d_arg(a, a);
      point2d::math_op(op);
      return;
    default:
      raise_with_type(Err::ScriptInvalidType, b->type());
  }
  Cell over;
  set_unset(&over);
  const i32 rx = integer::do_math_op(x1, x2, op, &over);
  if (over.is(T_FLOAT)) return math_as_point2d(op, x1, y1, x2, y2);
  const i32 ry = integer::do_math_op(y1, y2, op, &over);
  if (over.is(T_FLOAT)) return math_as_point2d(op, x1, y1, x2, y2);
  make_at(a, rx, ry);
}

// ---- slot functions

Cell* make(Cell*, Cell* spec, int) {
  switch (spec->type()) {
    case T_PAIR:
      return spec;
    case T_INTEGER:
      return set_made(spec->int_value(), spec->int_value());
    case T_FLOAT: {
      i32 v;
      if (float_::special(spec->float_value()) || !truncated(spec->float_value(), &v))
        raise_error(Err::ScriptInvalidArg, spec);
      return set_made(v, v);
    }
    case T_BLOCK: {
      if (block::length_at(spec) < 2) raise_error(Err::SyntaxMalconstruct, spec);
      const Cell* v = series::buffer_of(spec)->cells() + series::index_of(spec);
      for (int i = 0; i < 2; i++)
        if (!v[i].is(T_INTEGER) && !v[i].is(T_FLOAT)) raise_error(Err::SyntaxMalconstruct, spec);
      const Cell x = v[0], y = v[1];
      return set_made(get_coordinate(&x), get_coordinate(&y));
    }
    case T_POINT2D: {
      i32 x, y;
      if (!truncated(double(point2d::x_of(spec)), &x) || !truncated(double(point2d::y_of(spec)), &y))
        raise_error(Err::ScriptInvalidArg, spec);
      return set_made(x, y);
    }
    case T_STRING: {
      Cell loaded;
      if (scalar::load_single(spec, &loaded) && loaded.is(T_PAIR)) return set_made(x_of(&loaded), y_of(&loaded));
      raise_with_type(Err::ScriptBadToArg, T_PAIR, spec);
    }
    default:
      raise_with_type(Err::ScriptBadToArg, T_PAIR, spec);
  }
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  char buf[24];
  int n, len;
  const char* t = integer::form_signed(x_of(value), &len);
  std::memcpy(buf, t, std::size_t(len));
  n = len;
  buf[n++] = 'x';
  t = integer::form_signed(y_of(value), &len);
  std::memcpy(buf + n, t, std::size_t(len));
  n += len;
  string::append_c_text_n(out, buf, std::size_t(n));
  return part - n;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return form(value, out, o.limit, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  int i = -1;
  if (element->is(T_INTEGER)) {
    const i32 n = element->int_value();
    if (n == 1 || n == 2) i = n;
  } else if (element->is(T_WORD)) {
    i = get_named_index(element);
  }
  if (i < 0) raise_error(Err::ScriptInvalidPath, o.path, element);
  if (!value) return integer::push(i == 1 ? x_of(parent) : y_of(parent));
  if (!value->is(T_INTEGER)) raise_with_type(Err::ScriptInvalidType, value->type());
  const Cell old = *parent;
  if (i == 1) set_x(parent, value->int_value());
  else set_y(parent, value->int_value());
  scalar::field_changed(&old, parent, value, i);
  return value;
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (b->is(T_POINT2D)) {
    Cell p;
    to_point2d_arg(a, &p);
    return point2d::compare(&p, b, op);
  }
  if (!b->is(T_PAIR)) return actions::kNotComparable;
  i32 p = x_of(a), q = x_of(b);
  if (p == q) {
    p = y_of(a);
    q = y_of(b);
  }
  return (p > q) - (p < q);
}

void absolute() {
  Cell* a = stack::g_base;
  const i32 x = integer::absolute_checked(x_of(a));
  const i32 y = integer::absolute_checked(y_of(a));
  make_at(a, x, y);
}

void add() { math(integer::kOpAdd); }
void subtract() { math(integer::kOpSubtract); }
void multiply() { math(integer::kOpMultiply); }
void divide() { math(integer::kOpDivide); }
void remainder() { math(integer::kOpRemainder); }
void or_() { math(integer::kOpOr); }
void and_() { math(integer::kOpAnd); }
void xor_() { math(integer::kOpXor); }

void negate(Cell* value) {
  // Wraps like the integer negation (the lowest value stays itself).
  set_x(value, i32(0u - u32(x_of(value))));
  set_y(value, i32(0u - u32(y_of(value))));
}

void round(Cell* value, const actions::RoundOptions& o) {
  if (o.scale && o.scale->is(T_MONEY)) scalar::raise_money_scale();
  i32 r[2];
  for (int i = 0; i < 2; i++) {
    Cell c, s;
    set_integer(&c, i == 0 ? x_of(value) : y_of(value));
    actions::RoundOptions each = o;
    if (o.scale && o.scale->is(T_PAIR)) each.scale = set_integer(&s, i == 0 ? x_of(o.scale) : y_of(o.scale));
    integer::round(&c, each);
    if (c.is(T_INTEGER)) {
      r[i] = c.int_value();
    } else if (!truncated(c.float_value(), &r[i])) {
      raise_error(Err::MathOverflow);
    }
  }
  make_at(value, r[0], r[1]);
}

Cell* pick(Cell* value, i32 index, Cell* index_cell) {
  i32 i = index;
  if (index_cell && is_plain_word(index_cell->type())) {
    i = get_named_index(index_cell);
    if (i < 0) raise_error(Err::ScriptCannotUse, index_cell, value);
  } else if (index_cell && index_cell->is(T_INTEGER)) {
    i = index_cell->int_value();
  }
  if (i != 1 && i != 2) scalar::raise_out_of_range(index, index_cell);
  return integer::push(i == 1 ? x_of(value) : y_of(value));
}

void reverse(Cell* value, Cell*, Cell*) { make_at(value, y_of(value), x_of(value)); }

void random(Cell* value, bool seed, bool secure, bool) {
  if (seed) return random_seed_value(value, u32(x_of(value)) ^ u32(y_of(value)));
  set_x(value, random_range(x_of(value), secure));
  set_y(value, random_range(y_of(value), secure));
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kAbsolute>(&absolute);
  slots.set<kAdd>(&add);
  slots.set<kDivide>(&divide);
  slots.set<kMultiply>(&multiply);
  slots.set<kNegate>(&negate);
  slots.set<kRemainder>(&remainder);
  slots.set<kRound>(&round);
  slots.set<kSubtract>(&subtract);
  slots.set<kAnd>(&and_);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  slots.set<kPick>(&pick);
  slots.set<kReverse>(&reverse);
  datatype::register_type(T_PAIR, 0, "pair!", slots);
}

}  // namespace zot::pair

// Value natives: comparison and sameness, logic negation, type?, value?, the
// sign tests, complement?, max and min, shift and as.
#include <cmath>
#include <cstring>

#include "datatypes/bitset.h"
#include "datatypes/context.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/tuple.h"
#include "datatypes/words.h"
#include "interpreter/natives.h"
#include "interpreter/support.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

ZOT_INLINE void logic_result(bool v) {
  set_logic(base(), v);
  stack::g_top = base() + 1;
}
ZOT_INLINE void only_result(const Cell& v) {
  *base() = v;
  stack::g_top = base() + 1;
}

template <i32 Op>
void n_compare(const i32*) {
  logic_result(actions::compare(base(), base() + 1, Op));
}

// any-block but hash!
ZOT_INLINE bool is_block_like(u32 t) { return t == T_BLOCK || t == T_PAREN || is_any_path(t); }

// Sameness: one and the same value, not merely an equal one. Floats and points
// are the same when their stored words are (a NaN is the same as itself), so
// those cases compare the raw words, as does the fallback for other types.
bool same_values(const Cell* a, const Cell* b) {
  u32 t = a->type();
  if (t != b->type()) return false;
  switch (t) {
    case T_NONE: case T_UNSET:
      return true;
    case T_DATATYPE:
      return a->datatype_id() == b->datatype_id();
    case T_LOGIC:
      return a->logic_value() == b->logic_value();
    case T_OBJECT:
      return a->object_context() == b->object_context();
    case T_CHAR:
      return a->char_value() == b->char_value();
    case T_INTEGER:
      return a->int_value() == b->int_value();
    case T_BITSET:
      return a->bitset_node() == b->bitset_node();
    case T_PAIR:
      return pair::x_of(a) == pair::x_of(b) && pair::y_of(a) == pair::y_of(b);
    case T_FLOAT: case T_PERCENT: case T_TIME:
      return a->float_bits() == b->float_bits();
    case T_TUPLE:
      return tuple::count_of(a) == tuple::count_of(b) && tuple::compare(a, b, actions::kEqual) == 0;
    case T_MONEY:
      return money::compare(a, b, actions::kStrictEqual) == 0;
    case T_NATIVE:
      return a->native_index() == b->native_index() && a->function_spec() == b->function_spec();
    case T_ACTION:
      return a->action_slot() == b->action_slot() && a->function_spec() == b->function_spec();
    case T_POINT2D:
      return a->point_bits(0) == b->point_bits(0) && a->point_bits(1) == b->point_bits(1);
    case T_OP:
      return a->function_spec() == b->function_spec() && a->function_more() == b->function_more();
    default:
      if (is_any_series(t)) return a->series_index() == b->series_index() && a->series_node() == b->series_node();
      // Any other value is the very same when its payload is, word for word.
      return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
  }
}

void n_same(const i32*) { logic_result(same_values(base(), base() + 1)); }

void n_not(const i32*) { logic_result(logic::is_false(base())); }

void n_type_q(const i32* refs) {
  Cell* b = base();
  u32 t = b->type();
  if (refs[0] >= 0) {
    // /word: the type's name word
    *b = datatype::g_types[t].name_word;
  } else {
    set_datatype(b, t);
  }
  stack::g_top = b + 1;
}

void n_value_q(const i32*) {
  const Cell* v = base();
  u32 t = v->type();
  if (is_plain_word(t)) {
    Cell w = *v;
    // An unbound word, or one of a function that is not running, has no value.
    if (!w.word_context()) return logic_result(false);
    i32 i = w.word_index() >= 0 ? w.word_index() : context::find_word(w.word_context(), w.word_symbol(), true);
    if (i < 0) return logic_result(w.word_symbol() == words::sym(w::self));  // `self` reads the context's owner
    const Cell* slot = context::value_at(w.word_context(), u32(i));
    return logic_result(slot && !slot->is(T_UNSET));
  }
  logic_result(!v->is(T_UNSET));
}

// ---- sign tests

ZOT_INLINE bool float_like(u32 t) { return t == T_FLOAT || t == T_PERCENT || t == T_TIME; }

// -1, 0 or 1 by the number's sign (NaN 0); expect-arg for other types.
int sign_of(const Cell* v) {
  u32 t = v->type();
  if (t == T_INTEGER) return (v->int_value() > 0) - (v->int_value() < 0);
  if (float_like(t)) {
    double d = v->float_value();
    return (d > 0) - (d < 0);
  }
  if (t == T_MONEY) return money::sign(v);
  expect_arg(v, "number");
}

void n_negative(const i32*) { logic_result(sign_of(base()) < 0); }
void n_positive(const i32*) { logic_result(sign_of(base()) > 0); }
void n_sign(const i32*) {
  int s = sign_of(base());
  set_integer(base(), s);
  stack::g_top = base() + 1;
}

void n_zero(const i32*) {
  const Cell* v = base();
  switch (v->type()) {
    case T_CHAR:
      return logic_result(v->char_value() == 0);
    case T_INTEGER:
      return logic_result(v->int_value() == 0);
    case T_FLOAT: case T_PERCENT: case T_TIME:
      return logic_result(v->float_value() == 0.0);
    case T_PAIR:
      return logic_result(pair::x_of(v) == 0 && pair::y_of(v) == 0);
    case T_TUPLE:
      return logic_result(tuple::zero_q(v));
    case T_MONEY:
      return logic_result(money::is_zero(v));
    case T_POINT2D:
      return logic_result(v->point_coord(0) == 0.0f && v->point_coord(1) == 0.0f);
    case T_POINT3D:
      return logic_result(v->point_coord(0) == 0.0f && v->point_coord(1) == 0.0f && v->point_coord(2) == 0.0f);
    default:
      return logic_result(false);
  }
}

void n_complement_q(const i32*) {
  const Cell* v = base();
  if (!v->is(T_BITSET)) expect_arg(v, "value");
  logic_result(bitset::negated(v));
}

// ---- max and min

ZOT_INLINE bool plain_number(u32 t) { return t == T_INTEGER || t == T_FLOAT; }
ZOT_INLINE bool nan_number(const Cell* c) {
  return (c->is(T_FLOAT) || c->is(T_PERCENT)) && std::isnan(c->float_value());
}
ZOT_INLINE double number_of(const Cell* c) { return c->is(T_INTEGER) ? double(c->int_value()) : c->float_value(); }

// An integer! as is, a float! truncated; a float beyond 32 bits, NaN or
// infinite raises type-limit.
i32 number_to_integer(const Cell* c) {
  if (c->is(T_INTEGER)) return c->int_value();
  double d = c->float_value();
  if (!(d >= -2147483648.0 && d < 2147483648.0)) {
    Cell dt;
    set_datatype(&dt, T_INTEGER);
    raise_error(Err::ScriptTypeLimit, &dt);
  }
  return i32(d);
}

template <class T>
ZOT_INLINE T pick(T a, T b, bool max) {
  return max ? (b > a ? b : a) : (b < a ? b : a);
}
// Components of points: a NaN of the other value wins.
ZOT_INLINE float pick_float(float a, float b, bool max) { return std::isnan(b) ? b : pick(a, b, max); }

// The component-wise walk of max and min; a and b are copies, the answer goes
// to the result slot. False when the pair of types has no component rule.
bool componentwise(Cell a, Cell b, bool max) {
  for (;;) {
    u32 ta = a.type(), tb = b.type();
    if (ta == T_PAIR && plain_number(tb)) {
      double d = number_of(&b);
      if (tb == T_FLOAT && !(d >= -2147483648.0 && d < 2147483648.0)) {
        // Beyond a pair's integers: as the point of that number.
        point2d::set(&b, float(d), float(d));
        continue;
      }
      i32 n = tb == T_INTEGER ? b.int_value() : i32(d);
      pair::make_at(&a, pick(pair::x_of(&a), n, max), pick(pair::y_of(&a), n, max));
    } else if (ta == T_PAIR && tb == T_PAIR) {
      pair::make_at(&a, pick(pair::x_of(&a), pair::x_of(&b), max), pick(pair::y_of(&a), pair::y_of(&b), max));
    } else if (ta == T_PAIR && tb == T_POINT2D) {
      Cell p;
      pair::to_point2d_arg(&a, &p);
      a = p;
      continue;
    } else if ((ta == T_POINT2D || ta == T_POINT3D) && plain_number(tb)) {
      float f = float(number_of(&b));
      for (int i = 0; i < (ta == T_POINT2D ? 2 : 3); i++) a.set_point_coord(i, pick_float(a.point_coord(i), f, max));
    } else if (ta == T_POINT2D && tb == T_PAIR) {
      Cell p;
      pair::to_point2d_arg(&b, &p);
      b = p;
      continue;
    } else if ((ta == T_POINT2D && tb == T_POINT2D) || (ta == T_POINT3D && tb == T_POINT3D)) {
      for (int i = 0; i < (ta == T_POINT2D ? 2 : 3); i++)
        a.set_point_coord(i, pick_float(a.point_coord(i), b.point_coord(i), max));
    } else if (ta == T_TUPLE && plain_number(tb)) {
      i32 n = number_to_integer(&b);
      u8 bound = u8(n < 0 ? 0 : n > 255 ? 255 : n);
      for (int i = 0; i < tuple::count_of(&a); i++) tuple::set_byte_at(&a, i, pick(tuple::byte_at(&a, i), bound, max));
    } else if (ta == T_TUPLE && tb == T_TUPLE && tuple::count_of(&a) == tuple::count_of(&b)) {
      for (int i = 0; i < tuple::count_of(&a); i++)
        tuple::set_byte_at(&a, i, pick(tuple::byte_at(&a, i), tuple::byte_at(&b, i), max));
    } else {
      return false;
    }
    only_result(a);
    return true;
  }
}

void minmax(bool max) {
  Cell a = base()[0], b = base()[1];
  auto number = [](u32 t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; };
  // NaN wins.
  if (nan_number(&a) && number(b.type())) return only_result(a);
  if (nan_number(&b) && number(a.type())) return only_result(b);
  // The composite value first.
  u32 ta = a.type(), tb = b.type();
  bool composite = tb == T_PAIR || tb == T_POINT2D || tb == T_POINT3D || tb == T_TUPLE;
  if (composite && plain_number(ta)) std::swap(a, b);
  if (componentwise(a, b, max)) return;
  // Any other pair of values: a < b decides; on a tie max keeps the first,
  // min takes the second.
  bool lesser = actions::compare(&a, &b, actions::kLesser);
  only_result(max ? (lesser ? b : a) : (lesser ? a : b));
}

void n_max(const i32*) { minmax(true); }
void n_min(const i32*) { minmax(false); }

// ---- shift

// shift [value bits /left /logical]
void n_shift(const i32* refs) {
  set_integer(base(), runtime::shift(base()[0].int_value(), base()[1].int_value(), refs[0] >= 0, refs[1] >= 0));
  stack::g_top = base() + 1;
}

// ---- as

// as [type spec]: the cell retyped, sharing its series, between block-like
// types or between text types.
void n_as(const i32*) {
  Cell type = base()[0], v = base()[1];
  u32 to = type.is(T_DATATYPE) ? type.datatype_id() : u32(type.type());
  u32 from = v.type();
  if (!((is_block_like(to) && is_block_like(from)) || (is_any_string(to) && is_any_string(from)))) {
    Cell want, have;
    set_datatype(&have, from);
    set_datatype(&want, to);
    raise_error(Err::ScriptNotSameClass, &have, &want);
  }
  set_type(&v, u8(to));
  only_result(v);
}

}  // namespace

void register_values() {
  define_native(kEqualQ, "equal? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kEqual>);
  define_native(kNotEqualQ, "not-equal? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kNotEqual>);
  define_native(kStrictEqualQ, "strict-equal? [value1 [any-type!] value2 [any-type!]]",
                n_compare<actions::kStrictEqual>);
  define_native(kLesserQ, "lesser? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kLesser>);
  define_native(kGreaterQ, "greater? [value1 [any-type!] value2 [any-type!]]", n_compare<actions::kGreater>);
  define_native(kLesserOrEqualQ, "lesser-or-equal? [value1 [any-type!] value2 [any-type!]]",
                n_compare<actions::kLesserOrEqual>);
  define_native(kGreaterOrEqualQ, "greater-or-equal? [value1 [any-type!] value2 [any-type!]]",
                n_compare<actions::kGreaterOrEqual>);
  define_native(32, "same? [value1 [any-type!] value2 [any-type!]]", n_same);
  define_native(33, "not [value [any-type!]]", n_not);
  define_native(34, "type? [value [any-type!] /word]", n_type_q);
  define_native(46, "complement? [value [any-type!]]", n_complement_q);
  define_native(49, "negative? [number [any-type!]]", n_negative);
  define_native(50, "positive? [number [any-type!]]", n_positive);
  define_native(51, "max [value1 [any-type!] value2 [any-type!]]", n_max);
  define_native(52, "min [value1 [any-type!] value2 [any-type!]]", n_min);
  define_native(53, "shift [data [integer!] bits [integer!] /left /logical]", n_shift);
  define_native(69, "value? [value [any-type!]]", n_value_q);
  define_native(97, "sign? [number [any-type!]]", n_sign);
  define_native(98, "as [type [any-type!] spec [any-type!]]", n_as);
  define_native(100, "zero? [value [any-type!]]", n_zero);
}

}  // namespace zot::natives

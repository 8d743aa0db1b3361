#include "datatypes/point.h"

#include <cmath>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/services.h"

namespace zot {

namespace {

// Both point types share one implementation over their coordinate count.
template <int N>
constexpr TypeId kType = N == 2 ? T_POINT2D : T_POINT3D;

Cell g_made;

// The coordinate words: x, y, z in payload words 1 to 3.
ZOT_INLINE u32& word_at(Cell* c, int i) {
  ZOT_ASSERT(c->is(T_POINT2D) || c->is(T_POINT3D));
  return i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3;
}
ZOT_INLINE u32 word_at(const Cell* c, int i) {
  ZOT_ASSERT(c->is(T_POINT2D) || c->is(T_POINT3D));
  return i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3;
}
ZOT_INLINE float coord(const Cell* c, int i) { return scalar::single_of(word_at(c, i)); }
ZOT_INLINE void set_coord(Cell* c, int i, float f) { word_at(c, i) = scalar::single_bits(f); }

template <int N>
Cell* make_point(Cell* c, const float* xyz) {
  return make_cell(c, kType<N>, scalar::single_bits(xyz[0]), scalar::single_bits(xyz[1]),
                   N == 3 ? scalar::single_bits(xyz[2]) : 0);
}

ZOT_INLINE bool is_number(const Cell* c) { return c->is(T_INTEGER) || c->is(T_FLOAT); }
ZOT_INLINE double number_of(const Cell* c) {
  return c->is(T_INTEGER) ? double(c->int_value()) : c->float_value();
}

template <int N>
int named_index(const Cell* word) {
  if (scalar::word_is(word, words::x)) return 1;
  if (scalar::word_is(word, words::y)) return 2;
  if (N == 3 && scalar::word_is(word, words::z)) return 3;
  return -1;
}

template <int N>
Cell* pt_make(Cell* spec) {
  float xyz[3] = {0.0f, 0.0f, 0.0f};
  const TypeId t = spec->type();
  if (t == kType<N>) return spec;
  switch (t) {
    case T_INTEGER:
    case T_FLOAT:
      xyz[0] = xyz[1] = xyz[2] = float(number_of(spec));
      break;
    case T_BLOCK: {
      if (block::length_at(spec) < N) raise_error(Err::SyntaxMalconstruct, spec);
      const Cell* v = series::buffer_of(spec)->cells() + series::index_of(spec);
      for (int i = 0; i < N; i++) {
        if (!is_number(v + i)) raise_error(Err::SyntaxMalconstruct, spec);
        xyz[i] = float(number_of(v + i));
      }
      break;
    }
    case T_PAIR:
      xyz[0] = float(pair::x_of(spec));
      xyz[1] = float(pair::y_of(spec));
      break;
    case T_POINT2D:  // only point3D! gets here
      xyz[0] = coord(spec, 0);
      xyz[1] = coord(spec, 1);
      break;
    case T_STRING: {
      Cell loaded;
      if (scalar::load_single(spec, &loaded) && loaded.is(kType<N>)) {
        g_made = loaded;
        return &g_made;
      }
      raise_with_type(Err::ScriptBadToArg, kType<N>, spec);
    }
    default:
      raise_with_type(Err::ScriptBadToArg, kType<N>, spec);
  }
  return make_point<N>(&g_made, xyz);
}

template <int N>
i32 pt_form(const Cell* value, Cell* out, i32 part) {
  char buf[96];
  std::size_t n = 0;
  buf[n++] = '(';
  for (int i = 0; i < N; i++) {
    if (i) {
      buf[n++] = ',';
      buf[n++] = ' ';
    }
    int len;
    const char* t = float_::form_float(double(coord(value, i)), float_::kFormPoint, &len);
    std::memcpy(buf + n, t, std::size_t(len));
    n += std::size_t(len);
  }
  buf[n++] = ')';
  string::append_c_text_n(out, buf, n);
  return part - i32(n);
}

template <int N>
i32 pt_compare(const Cell* a, const Cell* b, i32 op) {
  float bc[3] = {0.0f, 0.0f, 0.0f};
  if (b->is(kType<N>)) {
    for (int i = 0; i < N; i++) bc[i] = coord(b, i);
  } else if (N == 2 && b->is(T_PAIR)) {
    bc[0] = float(pair::x_of(b));
    bc[1] = float(pair::y_of(b));
  } else {
    return actions::kNotComparable;
  }
  switch (op) {
    case actions::kEqual:
    case actions::kNotEqual:
    case actions::kEqualForm1:
    case actions::kEqualForm2:
    case actions::kFindEqual:
      for (int i = 0; i < N; i++)
        if (!float_::near_equal_single(coord(a, i), bc[i])) return 1;
      return 0;
    case actions::kStrictEqual:
      for (int i = 0; i < N; i++)
        if (!(coord(a, i) == bc[i])) return 1;
      return 0;
    case actions::kSame:
      for (int i = 0; i < N; i++)
        if (word_at(a, i) != scalar::single_bits(bc[i])) return 1;
      return 0;
    default: {
      float d = 0.0f;
      for (int i = 0; i < N; i++) {
        d = coord(a, i) - bc[i];
        if (!float_::near_equal_single(d, 0.0f)) break;
      }
      return (d > 0.0f) - (d < 0.0f);
    }
  }
}

template <int N>
void pt_math(int op) {
  Cell* a = stack::g_base;
  const Cell* b = stack::g_base + 1;
  double bc[3];
  switch (b->type()) {
    case T_INTEGER:
      bc[0] = bc[1] = bc[2] = double(b->int_value());
      break;
    case T_FLOAT:
    case T_PERCENT:
      bc[0] = bc[1] = bc[2] = b->float_value();
      break;
    case T_PAIR:
      if (N != 2) raise_with_type(Err::ScriptInvalidType, T_PAIR);
      bc[0] = double(pair::x_of(b));
      bc[1] = double(pair::y_of(b));
      break;
    default:
      if (!b->is(kType<N>)) raise_with_type(Err::ScriptInvalidType, b->type());
      for (int i = 0; i < N; i++) bc[i] = double(coord(b, i));
  }
  float r[3];
  for (int i = 0; i < N; i++) r[i] = float(float_::do_math_op(double(coord(a, i)), bc[i], op));
  for (int i = 0; i < N; i++) set_coord(a, i, r[i]);
}

template <int N>
void pt_absolute() {
  Cell* a = stack::g_base;
  for (int i = 0; i < N; i++) word_at(a, i) &= 0x7FFFFFFFu;
}

template <int N>
void pt_negate(Cell* value) {
  for (int i = 0; i < N; i++) set_coord(value, i, 0.0f - coord(value, i));
}

template <int N>
void pt_round(Cell* value, const actions::RoundOptions& o) {
  if (o.scale && o.scale->is(T_MONEY)) scalar::raise_money_scale();
  // One scale per coordinate when the scale is a point (or a pair).
  double per[3] = {0.0, 0.0, 0.0};
  bool each = false;
  if (o.scale) {
    switch (o.scale->type()) {
      case T_PAIR:
        per[0] = double(pair::x_of(o.scale));
        per[1] = double(pair::y_of(o.scale));
        each = true;
        break;
      case T_POINT2D:
      case T_POINT3D:
        for (int i = 0; i < (o.scale->is(T_POINT3D) ? 3 : 2); i++) per[i] = double(coord(o.scale, i));
        each = true;
        break;
      default:
        break;
    }
  }
  // An integer scale rounds as the same float scale: the coordinate stays a
  // float, so no 32-bit integer! is made on the way.
  Cell one;
  Cell* common = o.scale;
  if (o.scale && o.scale->is(T_INTEGER)) {
    set_float(&one, double(o.scale->int_value()));
    common = &one;
  }
  float r[3];
  for (int i = 0; i < N; i++) {
    Cell c, s;
    set_float(&c, double(coord(value, i)));
    actions::RoundOptions one_coord = o;
    one_coord.scale = each ? set_float(&s, per[i]) : common;
    float_::round(&c, one_coord);
    r[i] = float(c.is(T_INTEGER) ? double(c.int_value()) : c.float_value());
  }
  for (int i = 0; i < N; i++) set_coord(value, i, r[i]);
}

template <int N>
Cell* pt_pick(Cell* value, i32 index, Cell* index_cell) {
  i32 i = index;
  if (index_cell && is_plain_word(index_cell->type())) {
    i = named_index<N>(index_cell);
    if (i < 0) raise_error(Err::ScriptCannotUse, index_cell, value);
  } else if (index_cell && index_cell->is(T_INTEGER)) {
    i = index_cell->int_value();
  }
  if (i < 1 || i > N) scalar::raise_out_of_range(index, index_cell);
  return float_::push(double(coord(value, i - 1)));
}

template <int N>
Cell* pt_path(Cell* parent, Cell* element, Cell* value, Cell* path) {
  int i = -1;
  if (element->is(T_INTEGER)) {
    i32 n = element->int_value();
    if (n >= 1 && n <= N) i = n;
  } else if (element->is(T_WORD)) {
    i = named_index<N>(element);
  }
  if (i < 0) raise_error(Err::ScriptInvalidPath, path, element);
  if (!value) return float_::push(double(coord(parent, i - 1)));
  if (!is_number(value)) raise_with_type(Err::ScriptInvalidType, value->type());
  const Cell old = *parent;
  set_coord(parent, i - 1, float(number_of(value)));
  scalar::field_changed(&old, parent, value, i);
  return value;
}

// Each non-zero coordinate c becomes a random float between 0 and c; with
// seed the generator restarts from the hash of the coordinates' bytes.
template <int N>
void random_point(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    const u32 words[3] = {word_at(value, 0), word_at(value, 1), word_at(value, 2)};
    return random_seed_value(value, hashtable::murmur_hash(words, 4 * N));
  }
  for (int i = 0; i < N; i++) {
    float c = coord(value, i);
    if (c != 0.0f) set_coord(value, i, float(float_::random_scaled(c, secure)));
  }
}

// The slots of a point type; random is shared.
struct PointSlots {
  actions::MakeFn make;
  actions::FormFn form;
  actions::MoldFn mold;
  actions::EvalPathFn eval_path;
  actions::CompareFn compare;
  actions::FrameFn absolute, add, divide, multiply, remainder, subtract;
  actions::ValueFn negate;
  actions::RoundFn round;
  actions::PickFn pick;
  actions::ReverseFn reverse;
};

template <int N>
void register_point(const char* name, const PointSlots& p) {
  using namespace actions;
  SlotTable slots;
  slots.set<kMake>(p.make);
  slots.set<kRandom>(&random_point<N>);
  slots.set<kTo>(p.make);
  slots.set<kForm>(p.form);
  slots.set<kMold>(p.mold);
  slots.set<kEvalPath>(p.eval_path);
  slots.set<kCompare>(p.compare);
  slots.set<kAbsolute>(p.absolute);
  slots.set<kAdd>(p.add);
  slots.set<kDivide>(p.divide);
  slots.set<kMultiply>(p.multiply);
  slots.set<kNegate>(p.negate);
  slots.set<kRemainder>(p.remainder);
  slots.set<kRound>(p.round);
  slots.set<kSubtract>(p.subtract);
  slots.set<kPick>(p.pick);
  slots.set<kReverse>(p.reverse);
  datatype::register_type(kType<N>, 0, name, slots);
}

}  // namespace

// ---------------------------------------------------------------------------

namespace point2d {

Cell* set(Cell* c, float x, float y) {
  const float xyz[3] = {x, y, 0.0f};
  return make_point<2>(c, xyz);
}
Cell* push(float x, float y) { return set(stack::reserve_slot(), x, y); }
Cell* make_in(const Cell* block, float x, float y) {
  return set(mem::alloc_tail_cell(block->series_node()), x, y);
}

bool make_from_cells(Cell* out, const Cell* coords, int count) {
  if (count != 2 && count != 3) return false;
  float xyz[3] = {0.0f, 0.0f, 0.0f};
  for (int i = 0; i < count; i++) {
    if (!is_number(coords + i)) return false;
    xyz[i] = float(number_of(coords + i));
  }
  if (count == 2) make_point<2>(out, xyz);
  else make_point<3>(out, xyz);
  return true;
}

int get_named_index(const Cell* word) { return named_index<2>(word); }
float get_coordinate(const Cell* c) { return float(number_of(c)); }

Cell* make(Cell*, Cell* spec, int) { return zot::pt_make<2>(spec); }
i32 form(const Cell* value, Cell* out, const Cell*, i32 part) { return zot::pt_form<2>(value, out, part); }
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  return zot::pt_form<2>(value, out, part);
}
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  return zot::pt_path<2>(parent, element, value, o.path);
}
i32 compare(const Cell* a, const Cell* b, i32 op) { return zot::pt_compare<2>(a, b, op); }
void math_op(int op) { zot::pt_math<2>(op); }
void absolute() { zot::pt_absolute<2>(); }
void add() { math_op(integer::kOpAdd); }
void subtract() { math_op(integer::kOpSubtract); }
void multiply() { math_op(integer::kOpMultiply); }
void divide() { math_op(integer::kOpDivide); }
void remainder() { math_op(integer::kOpRemainder); }
void negate(Cell* value) { zot::pt_negate<2>(value); }
void round(Cell* value, const actions::RoundOptions& o) {
  zot::pt_round<2>(value, o);
}
Cell* pick(Cell* value, i32 index, Cell* index_cell) { return zot::pt_pick<2>(value, index, index_cell); }
void reverse(Cell* value, Cell*, Cell*) { std::swap(word_at(value, 0), word_at(value, 1)); }

void register_type() {
  register_point<2>("point2D!", {.make = &make, .form = &form, .mold = &mold, .eval_path = &eval_path,
                                .compare = &compare, .absolute = &absolute, .add = &add, .divide = &divide,
                                .multiply = &multiply, .remainder = &remainder, .subtract = &subtract,
                                .negate = &negate, .round = &round, .pick = &pick, .reverse = &reverse});
}

}  // namespace point2d

// ---------------------------------------------------------------------------

namespace point3d {

Cell* set(Cell* c, float x, float y, float z) {
  const float xyz[3] = {x, y, z};
  return make_point<3>(c, xyz);
}
Cell* push(float x, float y, float z) { return set(stack::reserve_slot(), x, y, z); }
Cell* make_in(const Cell* block, float x, float y, float z) {
  return set(mem::alloc_tail_cell(block->series_node()), x, y, z);
}

int get_named_index(const Cell* word) { return named_index<3>(word); }
float get_coordinate(const Cell* c) { return float(number_of(c)); }

Cell* make(Cell*, Cell* spec, int) { return zot::pt_make<3>(spec); }
i32 form(const Cell* value, Cell* out, const Cell*, i32 part) { return zot::pt_form<3>(value, out, part); }
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  return zot::pt_form<3>(value, out, part);
}
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  return zot::pt_path<3>(parent, element, value, o.path);
}
i32 compare(const Cell* a, const Cell* b, i32 op) { return zot::pt_compare<3>(a, b, op); }
void math_op(int op) { zot::pt_math<3>(op); }
void absolute() { zot::pt_absolute<3>(); }
void add() { math_op(integer::kOpAdd); }
void subtract() { math_op(integer::kOpSubtract); }
void multiply() { math_op(integer::kOpMultiply); }
void divide() { math_op(integer::kOpDivide); }
void remainder() { math_op(integer::kOpRemainder); }
void negate(Cell* value) { zot::pt_negate<3>(value); }
void round(Cell* value, const actions::RoundOptions& o) {
  zot::pt_round<3>(value, o);
}
Cell* pick(Cell* value, i32 index, Cell* index_cell) { return zot::pt_pick<3>(value, index, index_cell); }
void reverse(Cell* value, Cell*, Cell*) { std::swap(word_at(value, 0), word_at(value, 2)); }

void register_type() {
  register_point<3>("point3D!", {.make = &make, .form = &form, .mold = &mold, .eval_path = &eval_path,
                                .compare = &compare, .absolute = &absolute, .add = &add, .divide = &divide,
                                .multiply = &multiply, .remainder = &remainder, .subtract = &subtract,
                                .negate = &negate, .round = &round, .pick = &pick, .reverse = &reverse});
}

}  // namespace point3d

}  // namespace zot

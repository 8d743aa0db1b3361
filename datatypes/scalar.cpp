#include "datatypes/scalar.h"

#include "datatypes/tuple.h"
#include "datatypes/vector.h"

#include "datatypes/point.h"

#include "datatypes/pair.h"

#include "datatypes/money.h"

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::scalar {

Holder g_holder;

void field_changed(const Cell* old_value, const Cell* new_value, const Cell* field_value, i32 field_index) {
  Holder h = g_holder;
  g_holder = Holder{};
  if (!h.value) return;
  // The handlers run Zot code: they get copies, never cells that may move.
  Cell holder = *h.value, old_copy = *old_value, new_copy = *new_value, field_copy = *field_value;
  if (holder.is(T_OBJECT)) {
    object::fire_on_change(&holder, h.word, &old_copy, &new_copy);
  } else {
    ownership::check(&holder, words::word(words::set_path), &field_copy, field_index, 1);
  }
}

Cell word_arg(words::Id id) {
  Cell w = words::g_words[id];
  if (w.type() == T_NONE_ID) set_none(&w);
  return w;
}

Cell refinement_arg(words::RefinementId id) {
  Cell w = words::g_refinements[id];
  if (w.type() == T_NONE_ID) set_none(&w);
  return w;
}

void raise_not_related(words::Id word, u32 type) {
  Cell w = word_arg(word);
  Cell dt = datatype_cell(type);
  raise_error(Err::ScriptNotRelated, &w, &dt);
}

void raise_money_scale() {
  Cell w = stack::calling_word();
  Cell dt = datatype_cell(T_MONEY);
  raise_error(Err::ScriptNotRelated, &w, &dt);
}

void raise_out_of_range(i32 index, const Cell* index_cell) {
  Cell i;
  if (index_cell) i = *index_cell;
  else set_integer(&i, index);
  raise_error(Err::ScriptOutOfRange, &i);
}

bool word_is(const Cell* word, words::Id id) {
  return is_plain_word(word->type()) && words::spells(word->word_symbol(), id);
}

bool load_single(const Cell* text, Cell* out) {
  if (!g_services.scan_text) service_missing();
  Cell* top = stack::g_top;
  Cell* values = stack::push(&datatype::g_none);
  g_services.scan_text(text, values);
  bool one = values->is(T_BLOCK) && block::length_at(values) == 1;
  if (one) *out = *block::index_cell(values);
  stack::g_top = top;
  return one;
}

bool number_with_compound(int op) {
  Cell* a = stack::g_base;
  Cell* b = stack::g_base + 1;
  const u32 tb = b->type();
  switch (tb) {
    case T_MONEY:
      money::math_op(op);
      return true;
    case T_TUPLE:
      tuple::math_op(op);
      return true;
    case T_VECTOR: {
      Cell* r = vector::do_math(op, a, b);
      Cell v = *r;
      *stack::g_base = v;
      return true;
    }
    case T_PAIR:
    case T_POINT2D:
    case T_POINT3D:
      break;
    default:
      return false;
  }
  // 0 add, 1 subtract, 2 multiply; anything else relates a number to a
  // coordinate in no sensible way.
  if (op != 0 && op != 1 && op != 2) {
    static const words::Id kWords[] = {words::add, words::subtract, words::multiply, words::divide, words::divide,
                                       words::add, words::add, words::add};
    raise_not_related(kWords[op >= 0 && op < 8 ? op : 0], tb);
  }
  Cell n = *a;
  *a = *b;
  *b = n;
  if (op == 1) {
    if (tb == T_PAIR) pair::negate(a);
    else if (tb == T_POINT2D) point2d::negate(a);
    else point3d::negate(a);
    op = 0;
  }
  if (tb == T_PAIR) pair::do_math(op);
  else if (tb == T_POINT2D) point2d::math_op(op);
  else point3d::math_op(op);
  return true;
}

}  // namespace zot::scalar

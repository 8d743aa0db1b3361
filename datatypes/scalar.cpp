#include "datatypes/scalar.h"

#include "datatypes/block.h"
#include "datatypes/hooks.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "interpreter/stack.h"
#include "runtime/symbol.h"

namespace zot::scalar {

Holder g_holder;

namespace {

FireOnChangeFn g_on_change = nullptr;

}  // namespace

void set_fire_on_change(FireOnChangeFn fn) { g_on_change = fn; }

void field_changed(const Cell* old_value, const Cell* new_value, const Cell* field_value, i32 field_index) {
  Holder h = g_holder;
  g_holder = Holder{};
  if (!h.value) return;
  // The handlers run Zot code: they get copies, never cells that may move.
  Cell old_copy = *old_value, new_copy = *new_value, field_copy = *field_value;
  if (h.value->is(T_OBJECT)) {
    if (g_on_change) g_on_change(h.value, h.word, &old_copy, &new_copy);
  } else {
    ownership::check(h.value, words::word(words::set_path), &field_copy, field_index, 1);
  }
}

void raise_with_type(Err e, u32 type, const Cell* arg2) {
  Cell dt = datatype_cell(type);
  raise_error(e, &dt, arg2);
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
  return is_word_type(word) && symbol::resolve(word->w2) == symbol::resolve(words::sym(id));
}

bool load_single(const Cell* text, Cell* out) {
  if (!hooks::g_services.scan) hooks::missing();
  Cell* top = stack::g_top;
  Cell* values = stack::push(&datatype::g_none);
  hooks::g_services.scan(text, values);
  bool one = values->is(T_BLOCK) && block::length_at(values) == 1;
  if (one) *out = *block::index_cell(values);
  stack::g_top = top;
  return one;
}

}  // namespace zot::scalar

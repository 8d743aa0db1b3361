#include "interpreter/support.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

ZOT_INLINE bool block_like(u32 t) { return is_any_block(t) || t == T_MAP; }

// The i-th element (0-based) of a block-like value from its index; none past its end.
Cell element_or_none(const Cell* v, i32 i) {
  i64 at = i64(series::index_of(v)) + i;
  Cell out;
  if (at >= 0 && at < series::total_length(v)) out = *block::cell_at(v, i32(at));
  else set_none(&out);
  return out;
}

// The value that pick gives at n (it may push a cell; the top comes back).
Cell pick_value(Cell* s, i32 n) {
  Cell* top = stack::g_top;
  Cell v = *actions::lookup<actions::kPick>(s->type())(s, n, nullptr);
  stack::g_top = top;
  return v;
}

}  // namespace

void expect_arg(const Cell* value, const char* param) {
  Cell who = stack::calling_word();
  Cell dt;
  set_datatype(&dt, value->type());
  Cell pw = word::name(param);
  raise_error(Err::ScriptExpectArg, &who, &dt, &pw);
}

void float_to_integer_cell(Cell* cell) {
  if (!cell->is(T_FLOAT)) return;
  double d = cell->float_value();
  i32 n;
  if (std::isnan(d)) n = 0;
  else if (d >= 2147483647.0) n = 2147483647;
  else if (d <= -2147483648.0) n = i32(-2147483647 - 1);
  else n = i32(d);
  set_integer(cell, n);
}

bool series_has_next(const Cell* series) {
  // A map's loop position counts the cells of its key/value block.
  if (series->is(T_MAP)) return series->map_position() < mem::series_of(series->map_block())->length();
  i32 i = series::index_of(series);
  return i >= 0 && i < series::total_length(series);
}

void set_words(const Cell* words_in, const Cell* value_in, i32 count, bool any, bool only, bool some) {
  const Cell words = *words_in;
  const bool from_block = block_like(value_in->type()) && !only;
  // A map gives its live pairs in order (a removed pair is no element); its
  // block holds the pairs with the removed ones still in place.
  Rooted value(*value_in);
  if (from_block && value.is(T_MAP)) {
    map::reflect_into(value_in, words::sym(w::body), &value.cell);
    for (i32 i = 0, n = series::total_length(&value); i < n; i++) clear_new_line(block::cell_at(&value, i));
  }
  const i32 first = series::index_of(&words);
  if (from_block) {
    for (i32 i = 0; i < count; i++) {
      Cell w = *block::cell_at(&words, first + i);
      if (!is_plain_word(w.type())) raise_error(Err::ScriptInvalidArg, &w);
      if (!any && element_or_none(&value, i).is(T_UNSET)) raise_error(Err::ScriptNeedValue, &w);
    }
  }
  for (i32 i = 0; i < count; i++) {
    // Re-read each time: setting a word may allocate and move buffers.
    Cell w = *block::cell_at(&words, first + i);
    if (!is_plain_word(w.type())) raise_error(Err::ScriptInvalidArg, &w);
    Cell v = from_block ? element_or_none(&value, i) : Cell(value);
    if (some && v.is(T_NONE)) continue;
    context::set(&w, &v);
  }
}

void set_words_pairwise(const Cell* words_in, const Cell* values_in, i32 count) {
  const Cell words = *words_in;
  Cell values = *values_in;
  const i32 first = series::index_of(&words);
  for (i32 i = 1; i <= count; i++) {
    Cell w = *block::cell_at(&words, first + i - 1);
    if (!is_plain_word(w.type())) raise_error(Err::ScriptInvalidArg, &w);
    Cell v = pick_value(&values, i);
    context::set(&w, &v);
  }
}

bool foreach_next() {
  Cell* series = stack::g_base - 2;
  Cell* word = stack::g_base - 1;
  if (!series_has_next(series)) return false;
  Cell v = series->is(T_BLOCK) ? *block::cell_at(series, series::index_of(series)) : pick_value(series, 1);
  context::set(word, &v);
  // Re-derived: the stack cells never move, but setting may have run code.
  Cell* at = stack::g_base - 2;
  at->set_series_index(at->series_index() + 1);
  return true;
}

bool foreach_next_multi(i32 count) {
  Cell* series = stack::g_base - 2;
  Cell* words = stack::g_base - 1;
  if (count < 1 || !series_has_next(series)) return false;
  u32 t = series->type();
  if (is_any_string(t) || t == T_BINARY || t == T_VECTOR || t == T_IMAGE) {
    // Each word takes the next element (an image's pixels as tuples).
    set_words_pairwise(words, series, count);
  } else if (t == T_MAP) {
    if (count != 2) raise_error(Err::ScriptInvalidArg, words);
    return map::foreach_next(series, words, count);  // it keeps the loop position itself
  } else {
    set_words(words, series, count, true, false, false);
  }
  Cell* at = stack::g_base - 2;
  at->set_series_index(at->series_index() + count);
  return true;
}

bool forall_next(bool advance) {
  Cell* word = stack::g_base - 1;
  Cell v = *context::get(word);
  if (advance) {
    v.set_series_index(v.series_index() + 1);
    context::set(word, &v);
  }
  return !series_has_next(&v);
}

void forall_restore() { context::set(stack::g_base - 1, stack::g_base - 2); }

void remove_each_drop(i32 step) {
  if (logic::is_false(stack::g_base)) return;
  Cell* s = stack::g_base - 2;
  i32 i = series::index_of(s) - step;
  s->set_series_index(i < 0 ? 0 : i);
  Cell part;
  set_integer(&part, step);
  actions::lookup<actions::kRemove>(s->type())(s, step > 1 ? &part : nullptr, nullptr);
}

}  // namespace zot::natives

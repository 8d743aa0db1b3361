// Path evaluation: a path, get-path or set-path walked element by element
// through the eval-path action of each value met; a function met on the way
// is called with the rest of the path as its refinements.
#include "datatypes/context.h"
#include "datatypes/scalar.h"
#include "interpreter/call.h"
#include "interpreter/call_path.h"
#include "interpreter/eval.h"
#include "interpreter/eval_fast.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::interp {

namespace {

ZOT_NOINLINE u32 walk_path(const Cell* path_in, const Cell* code, u32 pos, u32 end, bool get, const Cell* set_value,
                           bool case_) {
  Cell path = *path_in;
  const u32 at = u32(path.series_index());
  mem::Series* ps = mem::series_of(path.series_node());
  u32 plen = ps->length();
  if (at >= plen) raise_error(Err::ScriptEmptyPath, &path);
  Cell head = ps->cells()[at];
  if (!head.is(T_WORD)) raise_error(Err::ScriptWordFirst, &path);
  // A set-path's last paren runs before the walk: cur and the holder below
  // point into contexts and series, and Zot code run after they are taken
  // could move or replace what they point at. (Its value stays on the stack.)
  u32 count = plen - at;
  const bool last_paren = set_value && count > 1 && ps->cells()[at + count - 1].is(T_PAREN);
  if (last_paren) {
    Cell el = ps->cells()[at + count - 1];
    Cell* slot = stack::push(&el);
    Cell* top = stack::g_top;
    stack::push_interpreted_native_frame(body_word());
    eval_block(&el, true);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
    *slot = *stack::g_base;
    stack::drop_frame();
    stack::g_top = top;
  }
  Cell* t0 = stack::g_top;
  // cur points at the cell that holds the current value, so a set-path can
  // change a scalar (a pair's x, a date's month...) where it is stored.
  Cell* cur = bound_value(&head);
  if (!cur) cur = context::get(&head);
  Cell value = *cur;
  if (value.is(T_UNSET)) raise_error(Err::ScriptUnsetPath, &path, &head);
  if (is_callable(value.type())) {
    if (set_value) raise_error(Err::ScriptInvalidPathSet, &path);
    if (get) raise_error(Err::ScriptInvalidPathGet, &path);
    return callpath::call_from_code(value, code, pos, end, &head, &path, 1, false);
  }
  Cell holder = value;    // the value holding the current one
  Cell holder_el = head;  // the element that reached the current value
  Cell* holder_ptr = nullptr;
  // A value made along the way (a paren's result, a step's new value such as
  // a joined file!) is held where the collector sees it while the next step
  // allocates.
  Rooted held_value(value), held_el;
  for (u32 i = 1; i < count; i++) {
    // Paren elements run Zot code, which may shorten the path itself.
    if (at + i >= mem::series_of(path.series_node())->length()) raise_error(Err::ScriptInvalidPath, &path, &holder_el);
    Cell el = mem::series_of(path.series_node())->cells()[at + i];
    if (last_paren && i + 1 == count) {
      el = t0[-1];
    } else if (el.is(T_GET_WORD)) {
      el = *context::get(&el);
    } else if (el.is(T_PAREN)) {
      stack::push_interpreted_native_frame(body_word());
      eval_block(&el, true);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      el = *stack::g_base;
      stack::drop_frame();
      stack::g_top = t0;
    }
    if (el.is(T_UNSET)) raise_error(Err::ScriptInvalidPath, &path, &el);
    held_el = el;
    bool last = i + 1 == count;
    Cell to_set;
    Cell* setp = nullptr;
    Cell parent = value;
    Cell* parent_ptr = &parent;
    if (last && set_value) {
      to_set = *set_value;
      setp = &to_set;
      parent_ptr = cur;
      // A holder that wants to hear of the change: a series, or an object
      // with handlers reached through a word.
      if (i >= 2 && holder_ptr) {
        u32 ht = holder.type();
        bool series = is_any_block(ht);
        bool object = ht == T_OBJECT && holder.object_events() && holder_el.is(T_WORD);
        if (series || object) scalar::g_holder = {holder_ptr, object ? &holder_el : nullptr};
      }
    }
    auto slot = actions::get<actions::kEvalPath>(value.type());
    if (!slot) {
      scalar::g_holder = {};
      Cell dt = datatype_cell(value.type());
      raise_error(Err::ScriptBadPathType2, &el, &dt);
    }
    Cell* r;
    try {
      r = slot(parent_ptr, &el, setp, {.path = &path, .case_ = case_, .get = get, .last = last});
    } catch (...) {
      scalar::g_holder = {};
      throw;
    }
    scalar::g_holder = {};
    holder = value;
    holder_ptr = cur;
    holder_el = el;
    cur = r;
    value = *r;
    held_value = value;
    stack::g_top = t0;
    if (!get && !set_value && is_callable(value.type())) {
      return call_value(&value, code, pos, end, &el, &path, i + 1, false);
    }
  }
  stack::g_top = last_paren ? t0 - 1 : t0;
  stack::push(&value);
  return pos;
}

}  // namespace

u32 eval_path(const Cell* path_in, const Cell* code, u32 pos, u32 end, bool get, const Cell* set_value,
              bool case_) {
  // The common path, a callable and its refinements (`f/scale a 3`,
  // `append/only`), is called without the walk.
  // (The path's cell is the caller's copy: it stays where it is meanwhile.)
  if (!get && !set_value) {
    const CodeView pv = view_of(path_in->series_node());
    const u32 at = u32(path_in->series_index());
    if (at < pv.length && pv.cells[at].is(T_WORD)) {
      const Cell head = pv.cells[at];
      const Cell* value = bound_value(&head);
      if (value && is_callable(value->type())) {
        const Cell fn = *value;
        return callpath::call_from_code(fn, code, pos, end, &head, path_in, 1, false);
      }
    }
  }
  return walk_path(path_in, code, pos, end, get, set_value, case_);
}

}  // namespace zot::interp

// Natives over words, contexts and blocks: bind, in, context?, unset,
// construct, extend, new-line and new-line?.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "interpreter/natives.h"
#include "interpreter/support.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }
ZOT_INLINE Cell* ref_arg(const i32* refs, int i) { return refs[i] < 0 ? nullptr : stack::g_base + refs[i]; }

ZOT_INLINE void only_result(const Cell& v) {
  *base() = v;
  stack::g_top = base() + 1;
}

// The context of a word (where it is bound), a function! or an object!.
mem::Node context_of(const Cell* v, const char* param) {
  u32 t = v->type();
  if (is_bindable_word(t)) {
    if (!v->word_context()) raise_error(Err::ScriptNotDefined, v);
    return v->word_context();
  }
  if (t == T_FUNCTION || t == T_ROUTINE) return v->function_context();
  if (is_any_object(t)) return v->object_context();
  expect_arg(v, param);
}

// bind [word context /copy]
void n_bind(const i32* refs) {
  Cell target = base()[0], where = base()[1];
  mem::Node ctx = context_of(&where, "context");
  if (is_bindable_word(target.type())) {
    context::bind_word(ctx, &target);
    return only_result(target);
  }
  if (!is_any_block(target.type())) expect_arg(&target, "word");
  bool self = where.is(T_OBJECT) || where.is(T_ERROR) || where.is(T_PORT);
  if (refs[0] >= 0) {
    Cell* copy = block::clone(&target, true, true);
    context::bind(copy, ctx, self);
    return only_result(*copy);
  }
  context::bind(&target, ctx, self);
  only_result(target);
}

// in [object word]
void n_in(const i32*) {
  Cell where = base()[0], word = base()[1];
  mem::Node ctx = context_of(&where, "object");
  if (word.is(T_REFINEMENT)) set_type(&word, T_WORD);
  if (context::bind_word(ctx, &word) < 0) set_none(&word);
  only_result(word);
}

// context? [word]: the value that owns the word's context.
void n_context_q(const i32*) {
  Cell word = base()[0];
  if (!word.word_context()) raise_error(Err::ScriptNotDefined, &word);
  only_result(*context::owner_cell(word.word_context()));
}

// unset [word]: the word, or every word! of a block, loses its value.
void n_unset(const i32*) {
  Cell target = base()[0];
  Cell none;
  set_unset(&none);
  if (target.is(T_BLOCK)) {
    for (i32 i = std::max(series::index_of(&target), 0); i < series::total_length(&target); i++) {
      Cell w = *block::cell_at(&target, i);
      if (w.is(T_WORD)) context::set(&w, &none);
    }
  } else {
    context::set(&target, &none);
  }
  set_unset(base());
  stack::g_top = base() + 1;
}

// construct [block /with object /only]
void n_construct(const i32* refs) {
  Cell spec = base()[0];
  Cell* proto = ref_arg(refs, 0);
  Cell* r = object::construct(&spec, proto, refs[1] >= 0);
  only_result(*r);
}

// extend [obj spec /case]
void n_extend(const i32* refs) {
  Cell* target = base();
  if (target->is(T_OBJECT)) raise_error(Err::InternalNotDone);
  Cell pairs = base()[1];
  map::extend(target, &pairs, refs[0] >= 0);
  stack::g_top = base() + 1;
}

// new-line [position value /all /skip size]
void n_new_line(const i32* refs) {
  Cell pos = base()[0];
  bool on = !logic::is_false(base() + 1);
  i32 every = 0;
  if (refs[0] >= 0) every = 1;
  if (Cell* size = ref_arg(refs, 1)) {
    every = size->int_value();
    if (every <= 0) raise_error(Err::ScriptOutOfRange, size);
  }
  i32 from = std::max(series::index_of(&pos), 0);
  i32 total = series::total_length(&pos);
  auto mark = [&](i32 i, bool flag) {
    Cell* c = block::cell_at(&pos, i);
    c->header = flag ? c->header | kCellNewLine : c->header & ~kCellNewLine;
  };
  if (!every) {
    if (from < total) mark(from, on);
  } else {
    for (i32 i = from; i < total; i++) mark(i, (i - from) % every == 0 ? on : !on);
  }
  stack::g_top = base() + 1;
}

// new-line? [position]
void n_new_line_q(const i32*) {
  Cell pos = base()[0];
  i32 at = series::index_of(&pos);
  bool flag = at >= 0 && at < series::total_length(&pos) && (block::cell_at(&pos, at)->header & kCellNewLine);
  set_logic(base(), flag);
  stack::g_top = base() + 1;
}

}  // namespace

void register_context_natives() {
  define_native(38, "bind [word [block! any-word!] context [any-word! object! error! function! routine!] /copy]", n_bind);
  define_native(39, "in [object [object! error! function! routine!] word [any-word! refinement!]]", n_in);
  define_native(68, "construct [block [block!] /with object [object!] /only]", n_construct);
  define_native(83, "extend [obj [object! map!] spec [block!] /case]", n_extend);
  define_native(88, "unset [word [word! block!]]", n_unset);
  define_native(89, "new-line [position [any-block!] value /all /skip size [integer!]]", n_new_line);
  define_native(90, "new-line? [position [any-block!]]", n_new_line_q);
  define_native(92, "context? [word [any-word!]]", n_context_q);
}

}  // namespace zot::natives

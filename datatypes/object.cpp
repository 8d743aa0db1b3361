#include "datatypes/object.h"

#include <algorithm>
#include <exception>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "datatypes/words.h"
#include "runtime/collector.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::object {


namespace {

u32 g_class_counter = kFirstClassId - 1;
Cell g_answer;  // slot functions answering a value that lives nowhere else

constexpr u32 kNoHandler = 0xFFFFu;


ZOT_INLINE Node values_of(Node ctx) { return context::ctx_cell(ctx)->context_values(); }
ZOT_INLINE bool is_handler_word(u32 sym) {
  return words::spells(sym, w::on_change_star) || words::spells(sym, w::on_deep_change_star);
}
ZOT_INLINE bool is_number(u32 t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }


Cell none_cell() {
  Cell n;
  set_none(&n);
  return n;
}

// The index-th word of the context as a plain word! bound to it.
Cell bound_word(Node ctx, u32 index) {
  Cell w;
  make_cell(&w, T_WORD, ctx, context::word_at(ctx, index)->word_symbol(), index);
  return w;
}

Cell value_copy(Node ctx, u32 index) {
  const Cell* v = context::value_at(ctx, index);
  Cell c;
  if (v) c = *v;
  else set_unset(&c);
  if (c.type() == T_NONE_ID) set_unset(&c);
  return c;
}

void store(Node ctx, u32 index, const Cell* value) {
  Cell v = *value;
  if (Cell* slot = context::value_at(ctx, index)) *slot = v;
}

// A deep copy of a series value (any other value as it is).
Cell deep_copy(const Cell* value) {
  Cell v = *value;
  if (!is_any_series(v.type())) return v;
  stack::TopMark mark;
  Cell* tmp = stack::push(&datatype::g_none);
  Cell* r = actions::lookup<actions::kCopy>(v.type())(&v, tmp, nullptr, true, nullptr);
  return *r;
}

// A function! remade for another object: its body cloned and bound to that
// object's context, then to the new function's own context.
Cell remake_function(const Cell* fn_in, Node obj_ctx) {
  Cell f = *fn_in;
  Cell body = *function::more_cell(&f, function::kMoreBody);
  if (!body.is(T_BLOCK)) raise_error(Err::ScriptBadFuncDef, &f);
  stack::TopMark mark;
  Cell b = *block::clone(&body, true, true);
  context::bind(&b, obj_ctx, true);
  Cell spec = function::spec_of(&f);
  function::push(&spec, &b, 0, obj_ctx, f.flags() & ~kCellNewLine);
  return *stack::top_value();
}

// Series values deep-copied (any-block copies bound to the object), function
// values remade for it.
void renew_values(Node ctx, bool series_too, bool bind_blocks) {
  u32 n = context::word_count(ctx);
  for (u32 i = 0; i < n; i++) {
    Cell v = value_copy(ctx, i);
    u32 t = v.type();
    if (t == T_FUNCTION) {
      Cell f = remake_function(&v, ctx);
      store(ctx, i, &f);
    } else if (series_too && is_any_series(t)) {
      Cell c = deep_copy(&v);
      c.header = v.header;
      if (bind_blocks && is_any_block(t)) context::bind(&c, ctx, true);
      store(ctx, i, &c);
    }
  }
}

// The event-index entry of one handler (0 on-change*, 1 on-deep-change*).
struct Handler {
  i32 index;   // -1: none
  i32 locals;
};

Handler handler_of(Node events, u32 which) {
  const Cell& e = mem::series_of(events)->cells()[which];
  const u32 entry = u32(pair::x_of(&e));
  u32 idx = entry >> 16;
  return {idx == kNoHandler ? -1 : i32(idx), i32(entry & 0xFFFF)};
}

// Calls a handler with the arguments in a function frame named by its word.
void call_handler(const Cell* fn_value, w::Id name, const Cell* args, u32 count) {
  if (!g_services.call_callback) service_missing();
  const u32 cls = name == w::on_change_star ? sys::kChangeCallback : sys::kDeepChangeCallback;
  g_services.call_callback(fn_value, words::word(name), args, count, cls);
}

// Derives the event info of a finished object, makes it the owner of its
// series when it has an on-deep-change* handler, and records it as the
// context's owner.
void finish(Cell* obj) {
  Node ctx = obj->object_context();
  obj->set_object_events(make_event_info(ctx));
  *context::owner_cell(ctx) = *obj;
  if (has_deep_handler(obj)) {
    Cell o = *obj, none = none_cell();
    ownership::set_owner(&o, &o, &none);
  }
}

// Part budget bookkeeping: what was appended since `from` counts against part.
using string::Budget;

i32 mold_value(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell c = *v;
  return actions::lookup<actions::kMold>(c.type())(&c, out, o, part);
}

}  // namespace

void body_of(const Cell* obj, Cell* out) {
  Cell o = *obj;
  Node ctx = o.object_context();
  u32 n = context::word_count(ctx);
  stack::TopMark mark;
  Cell* b = block::push_new(i32(n * 2));
  for (u32 i = 0; i < n; i++) {
    Cell w = bound_word(ctx, i);
    w.header = T_SET_WORD | kCellNewLine;
    block::append_cell(b, &w);
    Cell v = value_copy(ctx, i);
    if (v.is(T_WORD)) set_type(&v, T_LIT_WORD);
    else if (v.is(T_PATH)) set_type(&v, T_LIT_PATH);
    block::append_cell(b, &v);
  }
  *out = *b;
}

u32 next_class_id() { return ++g_class_counter; }

// ---- reading

Cell* word_at(Node ctx, u32 index) { return context::word_at(ctx, index); }

const Cell* select_word(const Cell* obj, const Cell* word) {
  i32 i = context::find_word(obj->object_context(), word->word_symbol(), true);
  if (i < 0) return &datatype::g_none;
  const Cell* v = context::value_at(obj->object_context(), u32(i));
  return v ? v : &datatype::g_none;
}

i32 find_word(const Cell* obj, const Cell* word) {
  return context::find_word(obj->object_context(), word->word_symbol(), true);
}
u32 word_count(const Cell* obj) { return context::word_count(obj->object_context()); }

bool is_object_of(Node ctx, u32 index, u32 class_id) {
  const Cell* v = context::value_at(ctx, index);
  return v && v->is(T_OBJECT) && v->object_class() == class_id;
}

void clear_flag_bit30(mem::Series* buffer) {
  for (Cell* c = buffer->cells(); c < buffer->cells_tail(); c++) clear_new_line(c);
}

void clear_changed(Node ctx) {
  u32 n = context::word_count(ctx);
  for (u32 i = 0; i < n; i++) context::word_at(ctx, i)->header &= ~context::kWordStored;
}

// ---- making

Cell* make_at(Cell* cell, u32 slots) {
  Node ctx = context::create(slots, false, true, nullptr, context::kObject);
  make_cell(cell, T_OBJECT, ctx, 0, 0);
  *context::owner_cell(ctx) = *cell;
  return cell;
}

Cell* push(Node ctx, u32 class_id, Node events) {
  Cell o;
  make_cell(&o, T_OBJECT, ctx, class_id, events);
  *context::owner_cell(ctx) = o;
  return stack::push(&o);
}

Node make_event_series(Node change_spec, Node deep_spec, i32 change_index, i32 change_locals, i32 deep_index,
                       i32 deep_locals) {
  Node ev = mem::alloc_cells(2);
  mem::Series* s = mem::series_of(ev);
  auto entry = [](i32 index, i32 locals) { return (u32(index < 0 ? kNoHandler : u32(index)) << 16) | (u32(locals) & 0xFFFF); };
  make_cell(s->cells(), T_PAIR, 0, entry(change_index, change_locals), change_spec);
  make_cell(s->cells() + 1, T_PAIR, 0, entry(deep_index, deep_locals), deep_spec);
  s->tail = s->head + 2 * sizeof(Cell);
  return ev;
}

Node make_event_info(Node ctx) {
  i32 ci = context::find_word(ctx, words::sym(w::on_change_star), true);
  i32 di = context::find_word(ctx, words::sym(w::on_deep_change_star), true);
  if (ci < 0 && di < 0) return 0;
  Node specs[2] = {0, 0};
  i32 locals[2] = {0, 0};
  const i32 idx[2] = {ci, di};
  for (int k = 0; k < 2; k++) {
    if (idx[k] < 0) continue;
    Cell v = value_copy(ctx, u32(idx[k]));
    if (!v.is(T_FUNCTION)) {
      Cell w = bound_word(ctx, u32(idx[k]));
      Cell dt = datatype_cell(v.type());
      raise_error(Err::ScriptBadFieldSet, &w, &dt);
    }
    specs[k] = v.function_spec();
    Cell spec = function::spec_of(&v);
    locals[k] = function::count_locals(&spec, false);
  }
  return make_event_series(specs[0], specs[1], ci, locals[0], di, locals[1]);
}

bool has_deep_handler(const Cell* obj) {
  return obj->object_events() && handler_of(obj->object_events(), 1).index >= 0;
}

bool extend(Node target, Node source) {
  u32 before = context::word_count(target);
  u32 n = context::word_count(source);
  for (u32 i = 0; i < n; i++) {
    Cell w = *context::word_at(source, i);
    Cell v = value_copy(source, i);
    context::put_value(target, &w, &v);
  }
  renew_values(target, true, false);
  return context::word_count(target) > before;
}

Cell* copy_into(const Cell* src_in, Cell* dst, bool deep, const Cell* types, bool fresh_events) {
  Rooted src = *src_in;
  Rooted kind;
  if (types) kind = *types;
  Rooted tmp = src;
  Node ctx = context::clone(&tmp, context::kObject);
  Node values = values_of(ctx);
  u32 n = context::word_count(src.object_context());
  for (u32 i = 0; i < n; i++) {
    Cell v = value_copy(src.object_context(), i);
    *mem::alloc_tail_cell(values) = v;
  }
  make_cell(dst, src.header, ctx, src.object_class(), fresh_events ? 0 : src.object_events());
  *context::owner_cell(ctx) = *dst;
  if (deep && !types) {
    renew_values(ctx, true, false);
  } else {
    renew_values(ctx, false, false);
    if (types) {
      Cell vb;
      make_cell(&vb, T_BLOCK, 0, values_of(ctx), 0);
      if (deep) {
        // An object inside itself cannot be copied deeply by type.
        if (cycles::find(src.object_context())) {
          cycles::reset();
          raise_error(Err::InternalNoCycle);
        }
        cycles::Guard guard(src.object_context());
        block::copy_types_in_place(&vb, 0, i32(n), 1, deep, &kind);
      } else {
        block::copy_types_in_place(&vb, 0, i32(n), 1, deep, &kind);
      }
    }
  }
  if (fresh_events) finish(dst);
  return dst;
}

void set_many(const Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
  Cell obj = *obj_in, value = *value_in;
  Node ctx = obj.object_context();
  u32 n = context::word_count(ctx);
  bool by_block = !only && value.is(T_BLOCK);
  bool by_object = !only && (value.is(T_OBJECT) || value.is(T_ERROR));
  // The value for word i, or false when the word is to be left alone.
  auto value_for = [&](u32 i, Cell* out) -> bool {
    if (by_block) {
      u32 len = mem::series_of(value.series_node())->length();
      u32 at = u32(value.series_index()) + i;
      if (at < len) *out = mem::series_of(value.series_node())->cells()[at];
      else set_none(out);
      return true;
    }
    if (by_object) {
      i32 j = context::find_word(value.object_context(), context::word_at(ctx, i)->word_symbol(), true);
      if (j < 0) return false;
      *out = value_copy(value.object_context(), u32(j));
      return true;
    }
    *out = value;
    return true;
  };
  if ((by_block || by_object) && !some && !any) {
    for (u32 i = 0; i < n; i++) {
      Cell v;
      if (value_for(i, &v) && v.is(T_UNSET)) {
        Cell w = bound_word(ctx, i);
        raise_error(Err::ScriptNeedValue, &w);
      }
    }
  }
  bool events = obj.object_events() != 0;
  for (u32 i = 0; i < n; i++) {
    Cell v;
    if (!value_for(i, &v)) continue;
    if (some && v.is(T_NONE)) continue;
    Cell w = bound_word(ctx, i);
    if (!events) {
      store(ctx, i, &v);
      continue;
    }
    if (is_handler_word(w.word_symbol())) continue;
    Cell old = value_copy(ctx, i);
    store(ctx, i, &v);
    Cell o = *context::owner_cell(ctx);
    fire_on_change(&o, &w, &old, &v);
  }
}

Cell* construct(const Cell* spec_in, const Cell* proto, bool only) {
  Cell spec = *spec_in;
  Cell* r = stack::push(&datatype::g_none);
  bool from_proto = proto && (proto->is(T_OBJECT));
  if (from_proto) {
    Cell p = *proto;
    copy_into(&p, r, false, nullptr, false);
  } else {
    make_at(r, 4);
  }
  Node ctx = r->object_context();
  u32 before = context::word_count(ctx);
  u32 len = mem::series_of(spec.series_node())->length();
  u32 i = std::min(u32(spec.series_index()), len);
  while (i < len) {
    u32 first = i;
    while (i < len && mem::series_of(spec.series_node())->cells()[i].is(T_SET_WORD)) i++;
    if (i == first) {
      i++;  // a value with no set-word before it
      continue;
    }
    Cell v;
    if (i < len) v = mem::series_of(spec.series_node())->cells()[i];
    else set_none(&v);
    clear_new_line(&v);
    if (!only && v.is(T_WORD)) {
      u32 s = v.word_symbol();
      if (words::spells(s, w::true_) || words::spells(s, w::yes) || words::spells(s, w::on)) set_logic(&v, true);
      else if (words::spells(s, w::false_) || words::spells(s, w::no) || words::spells(s, w::off)) set_logic(&v, false);
      else if (words::spells(s, w::none)) set_none(&v);
    }
    for (u32 k = first; k < i; k++) {
      Cell w = mem::series_of(spec.series_node())->cells()[k];
      context::put_value(ctx, &w, &v);
    }
  }
  if (!from_proto || context::word_count(ctx) > before) r->set_object_class(next_class_id());
  *context::owner_cell(ctx) = *r;
  return r;
}

// ---- change events

void fire_on_change(Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value) {
  if (!obj->object_events()) return;
  Handler h = handler_of(obj->object_events(), 0);
  if (h.index < 0) return;
  Node ctx = obj->object_context();
  Cell f = value_copy(ctx, u32(h.index));
  if (!f.is(T_FUNCTION)) raise_error(Err::ScriptInvalidObjEvt, &f);
  Cell args[3] = {*word, *old_value, *new_value};
  if (args[0].word_context() != ctx || args[0].word_index() < 0) {
    i32 i = context::find_word(ctx, args[0].word_symbol(), true);
    if (i >= 0) args[0].set_word_binding(ctx, i);
  }
  args[0].header = T_WORD;
  call_handler(&f, w::on_change_star, args, 3);
}

void fire_on_change_args(Cell* obj, const Cell* word) {
  Cell o = *obj, w = *word;
  Cell old = stack::g_top[-2], nv = stack::g_top[-1];
  fire_on_change(&o, &w, &old, &nv);
}

void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, i32 index, i32 part) {
  Cell o = *owner;
  if (!o.object_events()) raise_error(Err::ScriptInvalidObjEvt, &o);
  Handler h = handler_of(o.object_events(), 1);
  if (h.index < 0) return;
  Cell f = value_copy(o.object_context(), u32(h.index));
  if (!f.is(T_FUNCTION)) return;
  Cell args[7];
  args[0] = o;
  args[1] = *word;
  args[2] = *target;
  args[3] = *action;
  if (new_value) args[4] = *new_value;
  else set_none(&args[4]);
  set_integer(&args[5], index);
  set_integer(&args[6], part);
  call_handler(&f, w::on_deep_change_star, args, 7);
}

// ---- text

i32 serialize(const Cell* obj_in, Cell* out, const actions::MoldOptions& o, i32 part, bool lines) {
  Cell obj = *obj_in;
  Node ctx = obj.object_context();
  u32 n = context::word_count(ctx);
  if (n == 0) return part;
  bool ind = lines && !o.flat && !o.only;
  const char* sep = o.flat ? " " : "\n";
  Budget b(out, &part);
  if (ind) b.text("\n");
  cycles::Guard guard(ctx);
  auto shown = [&](u32 i) { return o.all || !is_handler_word(context::word_at(ctx, i)->word_symbol()); };
  const actions::MoldOptions word_options{.flat = true};
  i32 last = -1;
  for (u32 i = 0; i < n; i++)
    if (shown(i)) last = i32(i);
  for (u32 i = 0; i < n; i++) {
    if (part < 1) break;
    if (!shown(i)) continue;
    if (ind) b.indent(o.indent);
    Cell w = bound_word(ctx, i);
    part = mold_value(&w, out, word_options, part);
    b.from = string::total_length(out);
    b.text(": ");
    Cell v = value_copy(ctx, i);
    if (v.is(T_WORD)) b.text("'");
    part = mold_value(&v, out, o.nested(o.indent), part);
    b.from = string::total_length(out);
    if (i32(i) != last || ind) b.text(sep);
  }
  return part;
}

// ---- slot functions

Cell* make(Cell* proto, Cell* spec_in, int type) {
  (void)type;
  return make_with_class(proto, spec_in, 0);
}

Cell* make_with_class(Cell* proto, Cell* spec_in, u32 class_id) {
  Cell p = *proto, spec = *spec_in;
  Cell* r = stack::push(&datatype::g_none);
  bool from_proto = p.is(T_OBJECT);
  if (from_proto) copy_into(&p, r, true, nullptr, false);
  else make_at(r, 4);
  Node ctx = r->object_context();
  if (spec.is(T_OBJECT)) {
    bool added = extend(ctx, spec.object_context());
    r->set_object_class(class_id ? class_id : (added || !from_proto) ? next_class_id() : p.object_class());
  } else if (spec.is(T_BLOCK)) {
    // No change events while the spec builds the object.
    Cell quiet = *r;
    quiet.set_object_events(0);
    *context::owner_cell(ctx) = quiet;
    bool added = context::collect_set_words(ctx, &spec);
    if (from_proto) {
      u32 n = context::word_count(ctx);
      for (u32 i = 0; i < n; i++) {
        Cell v = value_copy(ctx, i);
        if (is_any_block(v.type())) context::bind(&v, ctx, true);
      }
    }
    context::bind(&spec, ctx, true);
    if (!g_services.do_block) service_missing();
    g_services.do_block(&spec);
    clear_changed(ctx);
    clear_flag_bit30(mem::series_of(values_of(ctx)));
    r->set_object_class(class_id ? class_id : (from_proto && !added) ? p.object_class() : next_class_id());
  } else {
    raise_error(Err::SyntaxMalconstruct, &spec);
  }
  finish(r);
  return r;
}

void reflect(Cell* value, u32 field_symbol) {
  Cell o = *value;
  Node ctx = o.object_context();
  u32 n = context::word_count(ctx);
  u32 f = symbol::resolve(field_symbol);
  auto is = [&](w::Id id) { return f == symbol::resolve(words::sym(id)); };
  stack::TopMark mark;
  Cell r;
  if (is(w::changed) || is(w::words)) {
    bool changed_only = is(w::changed);
    Cell* b = block::push_new(i32(n));
    for (u32 i = 0; i < n; i++) {
      if (changed_only && !(context::word_at(ctx, i)->header & context::kWordStored)) continue;
      Cell w = bound_word(ctx, i);
      block::append_cell(b, &w);
    }
    r = *b;
  } else if (is(w::class_)) {
    set_integer(&r, i32(o.object_class()));
  } else if (is(w::values)) {
    Cell* b = block::push_new(i32(n));
    for (u32 i = 0; i < n; i++) {
      Cell v = value_copy(ctx, i);
      block::append_cell(b, &v);
    }
    r = *b;
  } else if (is(w::body)) {
    body_of(&o, &r);
  } else if (is(w::owner)) {
    set_logic(&r, (context::ctx_cell(ctx)->header & context::kOwnerFlag) != 0);
  } else if (is(w::events_q)) {
    set_logic(&r, o.object_events() != 0);
  } else {
    raise_error(Err::InternalNotDone);
  }
  *value = r;
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  Cell o = *value;
  if (cycles::find(o.object_context())) {
    string::append_c_text(out, "...");
    return part - 3;
  }
  return serialize(&o, out, {.limit = limit}, part, false);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& opt, i32 part) {
  Cell o = *value;
  Budget b(out, &part);
  if (cycles::find(o.object_context())) {
    b.text("make object! [...]");
    return part;
  }
  if (!opt.only) b.text("make object! [");
  actions::MoldOptions body = opt;
  body.indent = opt.indent + 1;
  part = serialize(&o, out, body, part, true);
  b.from = string::total_length(out);
  if (!opt.only) {
    if (!opt.flat && opt.indent >= 1 && context::word_count(o.object_context()) > 0) b.indent(opt.indent);
    b.text("]");
  }
  return part;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  Cell obj = *parent;
  Cell el = *element;
  Node ctx = obj.object_context();
  if (!is_plain_word(el.type())) raise_error(Err::ScriptInvalidPath, o.path, &el);
  if (el.word_context() != ctx || el.word_index() < 0) {
    i32 i = context::find_word(ctx, el.word_symbol(), true);
    if (i >= 0) {
      el.set_word_binding(ctx, i);
      element->set_word_binding(ctx, i);
    } else {
      el.set_word_index(-1);
    }
  }
  bool found = el.word_context() == ctx && el.word_index() >= 0;
  auto missing = [&]() -> Cell* {
    if (o.get && o.last) return set_unset(&g_answer);
    raise_error(o.last ? Err::ScriptInvalidPath : Err::ScriptUnsetPath, o.path, &el);
  };
  if (value) {
    if (words::spells(el.word_symbol(), w::self) || !found) raise_error(Err::ScriptInvalidPath, o.path, &el);
    Cell v = *value;
    Cell w = el;
    context::set_in(&w, &v, ctx, true);
    return value;
  }
  if (!found) return missing();
  Cell* slot = context::value_at(ctx, u32(el.word_index()));
  if (!slot || slot->is(T_UNSET) || slot->type() == T_NONE_ID) return missing();
  return slot;
}

i32 compare(const Cell* a_in, const Cell* b_in, i32 op) {
  Cell a = *a_in, b = *b_in;
  if (!b.is(T_OBJECT) && !b.is(T_ERROR)) return actions::kNotComparable;
  const Node ca = a.object_context(), cb = b.object_context();
  if (ca == cb) return 0;
  if (op == actions::kSame) return -1;
  if (cycles::find(ca)) return cycles::find(cb) ? 0 : -1;
  u32 na = context::word_count(ca), nb = context::word_count(cb);
  if (na != nb) return na > nb ? 1 : -1;
  cycles::Guard ga(ca);
  cycles::Guard gb(cb);
  for (u32 i = 0; i < na; i++) {
    u32 sa = symbol::resolve(context::word_at(ca, i)->word_symbol());
    u32 sb = symbol::resolve(context::word_at(cb, i)->word_symbol());
    if (sa != sb) return sa < sb ? -1 : 1;
    Cell va = value_copy(ca, i), vb = value_copy(cb, i);
    u32 ta = va.type(), tb = vb.type();
    if (ta != tb && !(is_any_word(ta) && is_any_word(tb)) && !(is_number(ta) && is_number(tb)))
      return ta < tb ? -1 : 1;
    i32 r = actions::compare_direct(&va, &vb, op);
    if (r != 0) return r;
  }
  return 0;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
  if (part) series::bad_refine("part", part);
  Cell v = *value;
  return copy_into(&v, result, deep, kind, true);
}

Cell* put(Cell* obj, Cell* key, Cell* value, bool case_) {
  if (!key->is(T_WORD)) {
    raise_with_type(Err::ScriptInvalidKeyType, key->type());
  }
  Cell o = *obj, k = *key;
  actions::PathOptions step;
  step.case_ = case_;
  eval_path(&o, &k, value, step);
  return value;
}

Cell* select(Cell* obj, Cell* key, const actions::FindOptions&) {
  if (!is_plain_word(key->type())) {
    raise_with_type(Err::ScriptInvalidType, key->type());
  }
  g_answer = *select_word(obj, key);
  if (g_answer.type() == T_NONE_ID) set_unset(&g_answer);
  return &g_answer;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
  (void)case_;
  Cell o = *target, v = *value;
  if (!field->is(T_WORD) && !field->is(T_LIT_WORD)) raise_error(Err::InternalNotDone);
  auto is = [&](w::Id id) { return words::spells(field->word_symbol(), id); };
  if (is(w::changed)) {
    if (!v.is(T_NONE)) raise_error(Err::ScriptInvalidArg, &v);
    clear_changed(o.object_context());
  } else if (is(w::owner)) {
    Cell none = none_cell();
    ownership::set_owner(&o, &o, &none);
  } else if (is(w::owned)) {
    if (v.is(T_NONE)) {
      ownership::unbind(&o);
    } else if (v.is(T_BLOCK)) {
      u32 len = mem::series_of(v.series_node())->length();
      const u32 at = u32(v.series_index());
      if (at + 1 >= len) raise_error(Err::ScriptInvalidArg, &v);
      Cell owner = mem::series_of(v.series_node())->cells()[at];
      Cell word = mem::series_of(v.series_node())->cells()[at + 1];
      if (!owner.is(T_OBJECT)) raise_error(Err::ScriptInvalidArg, &v);
      ownership::set_owner(&o, &owner, &word);
    } else {
      raise_error(Err::ScriptInvalidArg, &v);
    }
  } else {
    raise_error(Err::InternalNotDone);
  }
  return value;
}

void register_type() {
  collector::add_root_cells(&g_answer, 1);
  actions::SlotTable s;
  s.set<actions::kMake>(&make);
  s.set<actions::kReflect>(&reflect);
  s.set<actions::kForm>(&form);
  s.set<actions::kMold>(&mold);
  s.set<actions::kEvalPath>(&eval_path);
  s.set<actions::kCompare>(&compare);
  s.set<actions::kCopy>(&copy);
  s.set<actions::kPut>(&put);
  s.set<actions::kSelect>(&select);
  s.set<actions::kModify>(&modify);
  datatype::register_type(T_OBJECT, 0, "object!", s);
}


}  // namespace zot::object

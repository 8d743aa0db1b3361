// The decoder's value builders, shared by both record layouts. Each new
// series is made reachable (written into a cell of the block being filled)
// before the next allocation, and every pointer into a buffer is derived
// again after anything that allocates.
#include <algorithm>
#include <cmath>

#include "boot/zotbin_codec.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/words.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::zotbin {

bool is_shared_type(u32 t) {
  return is_any_block(t) || is_any_string(t) || t == T_BINARY || t == T_VECTOR || t == T_IMAGE ||
         t == T_MAP || t == T_BITSET || is_any_function(t);
}

Node context_of(const Cell& c) {
  u32 t = c.type();
  if (is_bindable_word(t) || is_any_object(t) || t == T_FUNCTION || t == T_ROUTINE) {
    return c.w1;
  }
  if (t == T_OP) {
    u32 source = (c.header >> kOpTypeShift) & 0xFF;
    if (source == T_FUNCTION || source == T_ROUTINE) return c.w1;
  }
  return 0;
}

u32 length_from_index(const Cell& block) {
  u32 total = mem::series_of(block.w2)->length();
  u32 head = head_of(block);
  return head < total ? total - head : 0;
}

bool in_table(u32 type, u32 index) {
  if (type == T_NATIVE) return natives::exists(index);
  return index >= 1 && index <= u32(actions::kSlotCount) && natives::g_action_entries[index];
}

namespace {

// Types whose w2 is a series of cells: what a block's short form may share.
bool has_cell_series(u32 t) {
  return is_any_block(t) || t == T_MAP || t == T_NATIVE || t == T_ACTION || t == T_OP ||
         t == T_FUNCTION;
}

Cell none_cell() {
  Cell c;
  return *set_none(&c);
}

}  // namespace

// ---------------------------------------------------------------------------
// Containers

Cell* Decoder::cell_at(const Rooted& into, u32 index) { return mem::series_of(into.cell.w2)->cells() + index; }

u32 Decoder::length_of(const Rooted& into) { return mem::series_of(into.cell.w2)->length(); }

u32 Decoder::put(Rooted& into, const Cell& value) {
  Cell c = value;  // value may lie in a buffer that the append moves
  mem::Series* s = mem::series_of(into.cell.w2);
  const u32 index = s->length();
  if (s->room() >= sizeof(Cell)) {
    *s->cells_tail() = c;
    s->tail += sizeof(Cell);
  } else {
    *mem::alloc_tail_cell(into.cell.w2) = c;
  }
  return index;
}

u32 Decoder::reserve(Rooted& into) {
  u32 index = length_of(into);
  mem::alloc_tail_cell(into.cell.w2);
  return index;
}

void Decoder::truncate(Rooted& into, u32 length) {
  mem::Series* s = mem::series_of(into.cell.w2);
  if (s->length() > length) s->tail = s->head + length * u32(sizeof(Cell));
}

// ---------------------------------------------------------------------------
// Series

u32 Decoder::put_units(Rooted& into, u32 type, u32 head, u32 unit, u32 count, const u8* bytes, u32 w3,
                       u32 flags) {
  u32 index = reserve(into);
  Node n = mem::alloc_units(count, unit);
  mem::Series* s = mem::series_of(n);
  std::memcpy(s->head_ptr(), bytes, std::size_t(count) * unit);
  s->tail = s->head + count * unit;
  s->flags |= flags;
  make_cell(cell_at(into, index), type, head, n, w3);
  return index;
}

u32 Decoder::begin_block(Rooted& into, u32 type, u32 head, u32 count) {
  u32 index = reserve(into);
  Node n = mem::alloc_cells(std::max<u32>(count, 1));
  make_cell(cell_at(into, index), type == T_HASH ? u32(T_BLOCK) : type, head, n, 0);
  if (type == T_HASH) {
    // The table comes first, so that copies taken while the cells decode
    // (a hash! that holds itself) carry it; the cells are indexed at the end.
    Cell b;
    make_cell(&b, T_BLOCK, 0, n, 0);
    Node t = hashtable::init(std::max<u32>(count, 1), &b, hashtable::kHash, 0);
    Cell* c = cell_at(into, index);
    c->w3 = t;
    set_type(c, T_HASH);
  }
  return index;
}

void Decoder::finish_hash(Rooted& into, u32 index) { hashtable::put_all(cell_at(into, index)->w3, 0, 1); }

u32 Decoder::begin_map(Rooted& into, u32 count) {
  u32 index = reserve(into);
  Node t = hashtable::init(std::max<u32>(count, 2), nullptr, hashtable::kMap, 0);
  make_cell(cell_at(into, index), T_MAP, 0, Node(hashtable::record(t)->block), t);
  return index;
}

void Decoder::check_map_key(Rooted& pairs, u32 index, const u8* at) {
  if (!map::valid_key(cell_at(pairs, index)->type())) invalid(at);
}

void Decoder::finish_map(Rooted& into, u32 index) {
  Cell m = *cell_at(into, index);
  mem::Series* s = mem::series_of(m.w2);
  for (Cell* c = s->cells(); c < s->cells_tail(); c++) clear_new_line(c);
  map::index_pairs(&m);
}

// ---------------------------------------------------------------------------
// Contexts, objects, functions, errors

Node Decoder::make_context(const ContextHeader& h, const std::vector<SymbolRef>& syms, Rooted& holder) {
  Node ctx = context::create(u32(syms.size()), h.stack, h.self, nullptr, h.kind);
  // A word keeps the new context alive until its owner cell holds it.
  make_cell(&holder.cell, T_WORD, ctx, words::sym(w::self), u32(-1));
  for (const SymbolRef& s : syms) {
    i32 slot;
    if (context::find_word_slot(holder.cell.w1, s.sym, true, &slot) >= 0) invalid(s.at);  // a word twice
  }
  return holder.cell.w1;
}

u32 Decoder::make_object(Rooted& into, const ContextHeader& h, const std::vector<SymbolRef>& syms, u32 class_id,
                         const i32* handlers, const u8* at) {
  if (h.stack) invalid(h.at);
  u32 index = reserve(into);
  Rooted holder;
  make_context(h, syms, holder);
  Node events = 0;
  if (handlers) {
    i32 words = i32(syms.size());
    for (int k = 0; k < 2; k++)
      if (handlers[k] < -1 || handlers[k] >= words) invalid(at);
    events = object::make_event_series(0, 0, handlers[0], 0, handlers[1], 0);
  }
  Cell o;
  make_cell(&o, T_OBJECT, holder.cell.w1, boot_ ? class_id : u32(-1), events);
  *cell_at(into, index) = o;
  *context::owner_cell(o.w1) = o;
  return index;
}

void Decoder::finish_object(Rooted& into, u32 index) {
  Cell o = *cell_at(into, index);
  if (!object::has_deep_handler(&o)) return;
  Cell none = none_cell();
  ownership::set_owner(&o, &o, &none);
}

Cell Decoder::values_of(Rooted& into, u32 index) {
  Cell v;
  make_cell(&v, T_BLOCK, 0, context::ctx_cell(cell_at(into, index)->w1)->w2, 0);
  return v;
}

void Decoder::put_unset_values(Rooted& into, u32 index) {
  Rooted values(values_of(into, index));
  u32 n = context::word_count(cell_at(into, index)->w1);
  Cell unset;
  set_unset(&unset);
  for (u32 k = 0; k < n; k++) put(values, unset);
}

u32 Decoder::make_function(Rooted& into, const ContextHeader& h, const std::vector<SymbolRef>& syms,
                           u32 spec_size, u32 body_size) {
  if (!h.stack || h.values) invalid(h.at);
  u32 index = reserve(into);
  Rooted spec, body, more, holder;
  make_cell(&spec.cell, T_BLOCK, 0, mem::alloc_cells(std::max<u32>(spec_size, 1)), 0);
  make_cell(&body.cell, T_BLOCK, 0, mem::alloc_cells(std::max<u32>(body_size, 1)), 0);
  make_cell(&more.cell, T_BLOCK, 0, mem::alloc_cells(5), 0);
  put(more, body.cell);
  Cell unset;
  set_unset(&unset);
  for (int k = 0; k < 4; k++) put(more, unset);
  Node ctx = make_context(h, syms, holder);
  Cell f;
  make_cell(&f, T_FUNCTION, ctx, spec.cell.w2, more.cell.w2);
  *cell_at(into, index) = f;
  *context::owner_cell(ctx) = f;
  return index;
}

Cell Decoder::function_block(Rooted& into, u32 index, int which) {
  Cell f = *cell_at(into, index);
  if (which == 0) return function::spec_of(&f);
  return *function::more_cell(&f, function::kMoreBody);
}

void Decoder::share_function_block(Rooted& into, u32 index, int which, const Cell& found, const u8* at) {
  if (!has_cell_series(found.type())) invalid(at);
  Cell* f = cell_at(into, index);
  if (which == 0) {
    f->w2 = found.w2;
    context::owner_cell(f->w1)->w2 = found.w2;
  } else {
    make_cell(function::more_cell(f, function::kMoreBody), T_BLOCK, 0, found.w2, 0);
  }
}

// The function's context must hold the words its spec names, in order, as a
// call fills them; its attributes block gives the trace marks.
void Decoder::check_function(Rooted& into, u32 index, const u8* at) {
  Cell f = *cell_at(into, index);
  Node ctx = f.w1;
  u32 words = context::word_count(ctx);
  const mem::Series* spec = mem::series_of(f.w2);
  u32 k = 0;
  u32 flags = 0;
  for (const Cell* c = spec->cells(); c < reinterpret_cast<const Cell*>(spec->tail_ptr()); c++) {
    u32 t = c->type();
    if (t == T_BLOCK && c == spec->cells()) {
      const mem::Series* attrs = mem::series_of(c->w2);
      for (const Cell* a = attrs->cells(); a < reinterpret_cast<const Cell*>(attrs->tail_ptr()); a++) {
        if (!a->is(T_WORD)) continue;
        u32 s = symbol::resolve(a->w2);
        if (s == symbol::resolve(words::sym(w::trace))) flags |= function::kTraceFlag;
        if (s == symbol::resolve(words::sym(w::no_trace))) flags |= function::kNoTraceFlag;
      }
    }
    if (t != T_WORD && t != T_GET_WORD && t != T_LIT_WORD && t != T_REFINEMENT) continue;
    if (k >= words || symbol::resolve(context::word_at(ctx, k)->w2) != symbol::resolve(c->w2)) invalid(at);
    k++;
  }
  if (k != words) invalid(at);
  cell_at(into, index)->header |= flags;
  context::owner_cell(ctx)->header |= flags;
}

u32 Decoder::make_error(Rooted& into, i32 code, const u8* at) {
  if (code < 0 || error_from_code(code) == Err::Count) invalid(at);
  u32 index = reserve(into);
  Cell* top = stack::g_top;
  Cell c;
  set_integer(&c, code);
  Cell made = *error::make(nullptr, &c, T_ERROR);
  stack::g_top = top;
  *cell_at(into, index) = made;
  return index;
}

void Decoder::set_error_field(Rooted& into, u32 index, u32 field, const Cell& value) {
  Cell v = value;
  *error::field(cell_at(into, index), field) = v;
}

void Decoder::make_native(Rooted& into, u32 index, u32 type, u32 table_index, const Cell& spec, const u8* at,
                          const u8* spec_at) {
  if (!in_table(type, table_index)) invalid(at);
  if (!spec.is(T_BLOCK)) invalid(spec_at);
  Cell s = spec;
  clear_new_line(&s);
  Cell v = function::make_native(type, &s, table_index);
  *cell_at(into, index) = v;
}

void Decoder::make_op(Rooted& into, u32 index, u32 source_type, const u8* at) {
  Cell v = *cell_at(into, index);
  u32 t = v.type();
  if (!(t == T_NATIVE || t == T_ACTION || t == T_FUNCTION) || (source_type && t != source_type)) invalid(at);
  clear_new_line(&v);
  if (t == T_FUNCTION) *function::more_cell(&v, function::kMoreOp) = v;
  v.header = T_OP | (t << kOpTypeShift) | (v.flags() & ~(0xFFu << kOpTypeShift));
  *cell_at(into, index) = v;
}

// ---------------------------------------------------------------------------
// Words

u32 Decoder::put_global_word(Rooted& into, u32 type, u32 sym) {
  // A word's slot in the global context never moves: each symbol is looked
  // up there once a decoding (the library holds thousands of words and far
  // fewer names).
  if (sym >= global_slots_.size()) global_slots_.resize(std::size_t(sym) + 1, 0);
  Cell w;
  if (const u32 slot = global_slots_[sym]) {
    make_cell(&w, type, context::g_global, sym, slot - 1);
  } else {
    word::make_at(sym, &w);
    global_slots_[sym] = u32(w.word_index()) + 1;
    set_type(&w, u8(type));
  }
  return put(into, w);
}

Cell Decoder::bound_word(u32 type, u32 sym, i32 index, Node ctx, const u8* at) const {
  if (index < -1) invalid(at);
  if (index >= 0) {
    if (u32(index) >= context::word_count(ctx)) invalid(at);
    if (symbol::resolve(context::word_at(ctx, u32(index))->w2) != symbol::resolve(sym)) invalid(at);
  }
  Cell w;
  make_cell(&w, type, ctx, sym, u32(index));
  return w;
}

u32 Decoder::put_boot_word(Rooted& into, u32 type, u32 sym, u32 root_index, i32 index, const u8* at) {
  u64 n = u64(target_start_) + root_index;
  if (n >= length_of(target_)) invalid(at);
  Node ctx = context_of(*cell_at(target_, u32(n)));
  if (!ctx) invalid(at);
  if (index == -1) {
    Cell w;
    make_cell(&w, type, ctx, sym, u32(context::find_word(ctx, sym, true)));
    return put(into, w);
  }
  return put(into, bound_word(type, sym, index, ctx, at));
}

u32 Decoder::define(Rooted& into, u32 word_index, const u8* at) {
  const u8* value_at = p_;
  if (p_ >= end_) invalid(value_at);
  u32 v = read_record(into);
  if (v == kNoCell) invalid(value_at);
  Cell w = *cell_at(into, word_index);
  Cell value = *cell_at(into, v);
  Node ctx = w.w1;
  if (!ctx || context::on_stack(ctx)) invalid(at);
  clear_new_line(&value);
  context::set_in(&w, &value, ctx, false);
  truncate(into, word_index);
  return kNoCell;
}

// ---------------------------------------------------------------------------
// Short forms and paths

Cell Decoder::short_form(u32 type, u32 head, const Cell& found, const u8* at) const {
  u32 ft = found.type();
  Cell v = found;
  clear_new_line(&v);
  if (is_block_type(type)) {
    if (!has_cell_series(ft)) invalid(at);
    make_cell(&v, type, head, found.w2, 0);
  } else if (type == T_HASH) {
    if (!(is_any_block(ft))) invalid(at);
    v.w1 = head;
  } else if (is_any_string(type) || type == T_BINARY) {
    if (!(is_any_string(ft) || ft == T_BINARY)) invalid(at);
    if (type == T_BINARY && mem::series_of(found.w2)->unit() != 1) invalid(at);
    make_cell(&v, type, head, found.w2, 0);
  } else if (type == T_VECTOR) {
    if (ft != T_VECTOR) invalid(at);
    v.w1 = head;
  } else if (type == T_MAP || type == T_BITSET) {
    if (!is_shared_type(ft)) invalid(at);
  } else if (type == T_FUNCTION && ft == T_OP && ((found.header >> kOpTypeShift) & 0xFF) == T_FUNCTION) {
    // An operator made from a function gives the function back.
    v.header = T_FUNCTION | (found.flags() & ~(0xFFu << kOpTypeShift) & ~kCellNewLine);
  } else {  // object!, function!
    Node ctx = context_of(found);
    if (!ctx) invalid(at);
    v = *context::owner_cell(ctx);
    clear_new_line(&v);
  }
  return v;
}

namespace {

// Cell i of a series from its first cell, or null when i lies outside it.
const Cell* cell_in(Node series, u32 i) {
  const mem::Series* s = mem::series_of(series);
  return i < s->length() ? s->cells() + i : nullptr;
}

}  // namespace

Cell Decoder::resolve(const u8* at) const {
  const Cell* found = nullptr;
  if (u64(target_start_) + path_[0] < length_of(target_)) found = cell_at(target_, target_start_ + path_[0]);
  if (!found) invalid(at);
  Cell cur = *found;
  for (std::size_t k = 1; k < path_.size(); k++) {
    u32 i = path_[k];
    u32 t = cur.type();
    if (is_bindable_word(t)) {
      // A word leads into its context; a function's context into the function.
      Node ctx = cur.w1;
      if (!ctx) invalid(at);
      if (context::on_stack(ctx)) {
        cur = *context::owner_cell(ctx);
        t = cur.type();
        if (t != T_FUNCTION) invalid(at);
      } else {
        found = cell_in(context::ctx_cell(ctx)->w2, i);
        if (!found) invalid(at);
        cur = *found;
        continue;
      }
    }
    if (t == T_OP) t = (cur.header >> kOpTypeShift) & 0xFF;
    if (is_any_block(t) || t == T_MAP || t == T_NATIVE || t == T_ACTION) {
      found = cell_in(cur.w2, i);
    } else if (t == T_OBJECT || t == T_ERROR) {
      Node ctx = cur.w1;
      u64 slot = u64(i) + (t == T_ERROR ? u32(error::kArg1) : 0u);
      found = context::on_stack(ctx) || slot > 0xFFFFFFFFu ? nullptr : cell_in(context::ctx_cell(ctx)->w2, u32(slot));
    } else if (t == T_FUNCTION) {
      if (i == 0) {
        if (k + 1 == path_.size()) return function::spec_of(&cur);
        found = cell_in(cur.w2, path_[++k]);
      } else if (i == 1) {
        found = function::more_cell(&cur, function::kMoreBody);
        if (!found->is(T_BLOCK)) found = nullptr;
      } else {
        found = nullptr;
      }
    } else {
      found = nullptr;
    }
    if (!found) invalid(at);
    cur = *found;
  }
  return cur;
}

// ---------------------------------------------------------------------------
// Scalar checks

void Decoder::check_date(u32 packed, double time, const u8* at) const {
  static const u8 kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  i32 month = date::month_of(packed), day = date::day_of(packed);
  if (month < 1 || month > 12 || day < 1) invalid(at);
  i32 last = kDays[month - 1] + (month == 2 && date::leap_year(date::year_of(packed)) ? 1 : 0);
  if (day > last) invalid(at);
  if (!date::has_time(packed)) {
    if ((packed & date::kZoneMask) != 0 || time != 0.0) invalid(at);
    return;
  }
  double local = time + date::zone_seconds(packed);
  if (!std::isfinite(time) || local < 0.0 || local >= date::kDaySeconds) invalid(at);
}

void Decoder::check_datatype(u32 id, const u8* at) const {
  if (id < 1 || id > u32(kTypeCount)) invalid(at);
}

}  // namespace zot::zotbin

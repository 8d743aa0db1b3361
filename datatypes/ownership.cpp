#include "datatypes/ownership.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/rooted.h"

namespace zot::ownership {

mem::Node g_table = 0;

namespace {

constexpr u32 kImageOwned = 0x10000u;  // image! values carry the flag in the header

ZOT_INLINE bool ownable_series(u32 t) { return is_any_series(t) || t == T_BITSET; }

// The key a value is recorded under, or 0.
mem::Node key_of(const Cell* v) {
  u32 t = v->type();
  if (t == T_OBJECT) return v->object_context();
  if (ownable_series(t)) return buffer_node(v);
  return 0;
}

void record(const Cell* value, const Cell* owner, const Cell* word) {
  Cell v = *value, o = *owner, w = *word;
  mem::Series* s = mem::series_of(buffer_node(&v));
  if (s->flags & mem::kOwned) return;  // keeps its first owner
  s->flags |= mem::kOwned;
  Cell* entry = hashtable::put_int(g_table, buffer_node(&v));
  entry[0] = v;
  entry[1] = o;
  entry[2] = w;
}

bool is_owner(const Cell* obj) {
  return (context::ctx_cell(obj->object_context())->header & context::kOwnerFlag) != 0;
}

// Cells of a series from the value's head, walked by index (binding allocates).
template <class F>
void each_cell(const Cell* series, F&& f) {
  Cell v = *series;
  for (u32 i = u32(v.series_index());; i++) {
    mem::Series* s = mem::series_of(v.series_node());
    if (i >= s->length()) break;
    Cell c = s->cells()[i];
    f(&c);
  }
}

}  // namespace

void init() {
  if (!g_table) g_table = hashtable::init(100, nullptr, 4, 3);
  collector::add_weak_table(&g_table);
}


void bind(const Cell* value, const Cell* owner, const Cell* word) {
  u32 t = value->type();
  if (ownable_series(t)) {
    record(value, owner, word);
    if (is_any_block(t) && !cycles::find(value->series_node())) {
      cycles::Guard guard(value->series_node());
      each_cell(value, [&](const Cell* c) { bind(c, owner, word); });
    }
  } else if (t == T_OBJECT) {
    mem::Node ctx = value->object_context();
    if (is_owner(value) || cycles::find(ctx)) return;
    cycles::Guard guard(ctx);
    Cell own = *owner;
    u32 n = context::word_count(ctx);
    for (u32 i = 0; i < n; i++) {
      Cell* slot = context::value_at(ctx, i);
      if (!slot) break;
      Cell c = *slot;
      if (c.is(T_OBJECT) && c.object_context() == own.object_context()) continue;
      Cell field = *context::word_at(ctx, i);
      bind(&c, &own, &field);
    }
  }
}

void set_owner(const Cell* value, const Cell* owner, const Cell* word) {
  Cell o = *owner;
  bind(value, &o, word);
  context::ctx_cell(o.object_context())->header |= context::kOwnerFlag;
}

void unbind(const Cell* value) {
  u32 t = value->type();
  if (ownable_series(t)) {
    mem::Series* s = mem::series_of(buffer_node(value));
    s->flags &= ~mem::kOwned;
    if (Cell* e = hashtable::get_int(g_table, buffer_node(value))) {
      set_unset(e);
      set_unset(e + 1);
      set_unset(e + 2);
      hashtable::delete_int(g_table, buffer_node(value));
    }
    if (is_any_block(t) && !cycles::find(value->series_node())) {
      cycles::Guard guard(value->series_node());
      each_cell(value, [&](const Cell* c) { unbind(c); });
    }
  } else if (t == T_OBJECT) {
    mem::Node ctx = value->object_context();
    if (is_owner(value) || cycles::find(ctx)) return;
    cycles::Guard guard(ctx);
    u32 n = context::word_count(ctx);
    for (u32 i = 0; i < n; i++) {
      Cell* slot = context::value_at(ctx, i);
      if (!slot) break;
      Cell c = *slot;
      unbind(&c);
    }
  }
}

Cell* owner_of(mem::Node series) {
  Cell* e = hashtable::get_int(g_table, series);
  return e ? e + 1 : nullptr;
}

bool check(const Cell* value, const Cell* action_word, const Cell* new_value, i32 index, i32 part) {
  mem::Node key = key_of(value);
  if (!key || !g_table) return false;
  if (value->type() != T_OBJECT && value->type() != T_IMAGE && !(mem::series_of(key)->flags & mem::kOwned))
    return false;
  if (value->type() == T_IMAGE && !(value->header & kImageOwned)) return false;
  Cell* e = hashtable::get_int(g_table, key);
  // The owner hears of changes only when it has handlers.
  if (!e || !is_any_object(e[1].type()) || !e[1].object_events()) return false;
  Cell owner = e[1], word = e[2], target = *value, action = *action_word;
  Cell nv;
  if (new_value) nv = *new_value;
  else set_none(&nv);
  object::fire_on_deep_change(&owner, &word, &target, &action, &nv, index, part);
  return true;
}

// ---- the value-slot pool
namespace {
mem::Node g_pool = 0;
i32 g_first_free = -1;
u32 g_capacity = 0;

void chain_from(u32 first) {
  mem::Series* s = mem::series_of(g_pool);
  s->tail = g_capacity * sizeof(Cell);
  for (u32 i = first; i < g_capacity; i++) set_integer(s->cells() + i, i + 1 < g_capacity ? i32(i + 1) : -1);
  g_first_free = i32(first);
}

void mark_pool() { collector::mark_series_cells(g_pool); }
}  // namespace

void init_slot_pool() {
  collector::add_root_callback(mark_pool);
  if (g_pool) return;
  g_capacity = 100;
  g_pool = mem::alloc_cells(g_capacity);
  chain_from(0);
}

u32 slot_pool_take(const Cell* value) {
  Rooted v(*value);
  if (g_first_free < 0) {
    u32 old = g_capacity;
    g_capacity *= 2;
    mem::expand_series(mem::series_of(g_pool), g_capacity * sizeof(Cell));
    chain_from(old);
  }
  u32 i = u32(g_first_free);
  Cell* c = mem::series_of(g_pool)->cells() + i;
  g_first_free = c->int_value();
  *c = v;
  return i + 1;
}

Cell* slot_pool_at(u32 index) { return mem::series_of(g_pool)->cells() + (index - 1); }

void slot_pool_release(u32 index) {
  if (!index) return;
  set_integer(slot_pool_at(index), g_first_free);
  g_first_free = i32(index - 1);
}

}  // namespace zot::ownership

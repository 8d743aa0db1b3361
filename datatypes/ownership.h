// Ownership: an object learns when a series held in one of its fields
// (directly or nested in blocks) is modified. Owned series carry a buffer
// flag and an entry {value, owner, word} in a table keyed by the series node
// (an object by its context node).
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::ownership {

void init();
extern mem::Node g_table;

// The buffer that carries the owned flag: a series' buffer, a bitset!'s bytes.
ZOT_INLINE mem::Node buffer_node(const Cell* v) { return v->is(T_BITSET) ? v->bitset_node() : v->series_node(); }

// Flags and records the value's series (recursively through blocks and objects).
void bind(const Cell* value, const Cell* owner, const Cell* word);
// bind, then marks the owner's context as an owner.
void set_owner(const Cell* value, const Cell* owner, const Cell* word);
void unbind(const Cell* value);
// The owner cell of a series (followed by the word cell), or null.
Cell* owner_of(mem::Node series);
// Before or after a change: when the value is owned and its owner has event
// handlers, tells the owner; true when it did.
bool check(const Cell* value, const Cell* action_word, const Cell* new_value, i32 index, i32 part);

// The value-slot pool: cells kept alive for C++ code, by 1-based index.
void init_slot_pool();
u32 slot_pool_take(const Cell* value);
Cell* slot_pool_at(u32 index);
void slot_pool_release(u32 index);

}  // namespace zot::ownership

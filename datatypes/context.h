// Contexts: word lists (hashed by symbol) with their values, the global
// context, binding, and reading and writing words.
//
// A context is a node whose series holds two cells: the context cell and the
// owner cell. The context cell: type context!, w1 the word table (a hash table
// whose block is the word list), w2 the values (a series node for a heap
// context; for a stack context the argument-stack reference of the running
// call's first argument, 0 while the function is not running).
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zot::context {

using mem::Node;

constexpr u32 kStackValues = 0x400000u;  // values live on the argument stack
constexpr u32 kHasSelf = 0x1000000u;
constexpr u32 kOwnerFlag = 0x10000u;     // the owning object tracks owned series
constexpr u32 kKindShift = 11;
constexpr u32 kKindMask = 3u << kKindShift;
enum Kind : u32 { kGlobal = 0, kFunction = 1, kObject = 2 };
constexpr u32 kWordStored = 0x2000u;  // object word list entry: a value was stored

extern Node g_global;

ZOT_INLINE Cell* ctx_cell(Node ctx) { return mem::series_of(ctx)->cells(); }
ZOT_INLINE Cell* owner_cell(Node ctx) { return mem::series_of(ctx)->cells() + 1; }
ZOT_INLINE u32 kind_of(Node ctx) { return (ctx_cell(ctx)->header & kKindMask) >> kKindShift; }
ZOT_INLINE bool on_stack(Node ctx) { return (ctx_cell(ctx)->header & kStackValues) != 0; }
ZOT_INLINE Node table_of(Node ctx) { return ctx_cell(ctx)->context_table(); }
Node words_node(Node ctx);
u32 word_count(Node ctx);
// The index-th word of the word list (good until the next allocation).
Cell* word_at(Node ctx, u32 index);
// The index-th value cell, or null when a stack context is not running.
ZOT_INLINE Cell* value_at(Node ctx, u32 index) {
  const Cell* c = ctx_cell(ctx);
  const u32 values = c->context_values();
  if (c->header & kStackValues) return values ? stack::cell_of(values) + index : nullptr;
  return mem::series_of(values)->cells() + index;
}

void init_global(u32 slots);

Node create(u32 slots, bool stack, bool self, const Cell* word_block, u32 kind);
Node make(const Cell* spec, bool stack, bool self, u32 kind);
// A new context with the same words (and flags) as the object cell's; stored back into the cell.
Node clone(Cell* cell, u32 kind);
// Adds the set-words of the block that the context lacks; true when it grew.
bool collect_set_words(Node ctx, Cell* block);

i32 find_word(Node ctx, u32 symbol, bool any_case);
// As find_word; an absent symbol is added (index to *out) and -1 returned.
i32 find_word_slot(Node ctx, u32 symbol, bool any_case, i32* out);
Cell* put_value(Node ctx, const Cell* word, const Cell* value);
Cell* find_value_cell(u32 symbol, Node ctx);

Cell add_global(u32 symbol, bool any_case, bool alias);
Cell add_global_word(u32 symbol);
Cell word_or_global(Node ctx, u32 symbol);

i32 bind_word(Node ctx, Cell* word);
void bind(Cell* block, Node ctx, bool self);
// A function body's bind (no self); with library, the same walk marks the
// block and the blocks in it as library code, as block::mark_library does.
void bind_body(Cell* block, Node ctx, bool library);

// The word's value cell (good until the next allocation).
Cell* get_in(const Cell* word, Node ctx);
ZOT_INLINE Cell* get(const Cell* word) { return get_in(word, word->word_context()); }
// Stores a copy of the value into the word's slot (caching the word's
// index); fires the owner's change handler when asked. Returns the slot.
Cell* set_in(Cell* word, const Cell* value, Node ctx, bool fire);
ZOT_INLINE Cell* set(Cell* word, const Cell* value) { return set_in(word, value, word->word_context(), true); }

}  // namespace zot::context

namespace zot::word {

// The global word for the text (case-insensitive, alias copy; root-collected).
Cell load(const char* text);
// The same for error arguments: none while there is no global context yet.
Cell name(const char* text);
Cell* make_at(u32 symbol, Cell* out);
Cell* make_in(u32 symbol, mem::Node block);
// Pushes a copy of the word's value; unset raises script/no-value.
Cell* get(const Cell* word);
Cell* push_value_at(mem::Node ctx, u32 index);

}  // namespace zot::word

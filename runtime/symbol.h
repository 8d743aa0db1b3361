// The symbol table: every distinct name is interned once as a `symbol!` cell
// of one block; the symbol with id N is the block's cell N - 1.
//
// Names that differ only in the case of ASCII letters are distinct symbols
// sharing one canonical id: a symbol's alias is the id of the first-made
// spelling of its case family (-1 for that first spelling itself). Symbols are
// never removed, so ids and aliases never change.
//
// A `symbol!` cell: word 1 the alias, word 2 the node of the name as a
// `string!` (0 until needed), word 3 the node of a byte series holding the
// UTF-8 name followed by a NUL that the series' length does not count.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::symbol {

constexpr u32 kInitialSymbols = 4000;

// The symbol block and its hash table (kind 2).
extern mem::Node g_block;
extern mem::Node g_table;

// Makes the symbol block and its table; does nothing once they exist.
void init();

// Interned ids of NUL-terminated UTF-8 text. make_with_flag returns an
// existing case variant instead of making a new symbol. The text must not lie
// in a series buffer.
u32 make(const char* text);
u32 make_with_flag(const char* text);
u32 make_from_bytes(const u8* bytes, u32 count);

// The `symbol!` cell of an id (good until the next allocation).
ZOT_INLINE Cell* get(u32 id) { return mem::series_of(g_block)->cells() + (id - 1); }
// Number of symbols made.
u32 count();

// The name as NUL-terminated text (good until the next allocation).
const char* name_text(u32 id);
// The name's length in bytes.
u32 name_length(u32 id);

// The raw alias word: -1, or the id of the first-made case variant.
ZOT_INLINE i32 alias(u32 id) { return get(id)->symbol_alias(); }
// The canonical id.
ZOT_INLINE u32 resolve(u32 id) {
  i32 a = alias(id);
  return a > 0 ? u32(a) : id;
}

}  // namespace zot::symbol

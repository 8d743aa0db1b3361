// map!: a dictionary of key/value pairs with case-insensitive keys.
//
// A map cell: w1 = 0, w2 = node of the pair block, w3 = node of its hash table
// (kind map). The pair block holds key, value, key, value ... in insertion
// order. A removed pair stays in the block with a void value cell (header 0)
// until the map is cleared; the table keeps the number of live pairs.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::map {

// The cell becomes a map! over a copy of the cells of block from its index
// (null: over a new empty block with room for size cells). The keys are
// normalised and indexed; a key met again gives its value to the earlier pair
// and its own pair is dropped. The cell count from the index must be even.
Cell* make_at(Cell* out, const Cell* block, i32 size);
// The number of live pairs.
i32 size(const Cell* m);
// Normalises and indexes every key of the map's pair block (its table empty);
// a key met again gives its value to the earlier pair and leaves the block.
void index_pairs(const Cell* map);
// Whether a value of the type may be a key.
bool valid_key(u32 type);
// Normalises a key that is about to enter a map: text keys become copies of
// their text from the index, word keys become set-word!, other key types stay.
// Any other type raises script/invalid-path with where (the path or value
// evaluated; the key itself when null) and the key's datatype. key must not
// lie in a series buffer (the text copy allocates).
void preprocess_key(Cell* key, const Cell* where);

// The field (the words `words`, `values` or `body`) as a new block! in out;
// any other field raises internal/not-done.
void reflect_into(const Cell* m, u32 field_symbol, Cell* out);
// Adds or replaces the pairs of the block (from its index) like path sets;
// keys are compared strictly when case_ is set.
void extend(Cell* m, const Cell* pairs, bool case_);
// One foreach step over the map in the loop cell (its map_position is the
// loop position): each word in turn takes the next key or value. Dead pairs are
// skipped, set-word! keys are given as word!, words left at the end become
// none. True when a word was set.
bool foreach_next(Cell* loop, const Cell* words, i32 count);
// Pushes a copy of the map cell on the argument stack.
Cell* push(const Cell* m);

// Registers map! (no parent) and installs the map maker of the lexer, the key
// normaliser of the hash tables and the map part of the body service.
void register_type();

// The block in `cell` (a map literal the lexer hands over) becomes a map! in place.
void from_literal(Cell* cell);
// Keys of maps that the hash tables index themselves (they hand over the key
// cell in the pair block): normalised aside and written back.
void normalise_table_key(Cell* key);

}  // namespace zot::map

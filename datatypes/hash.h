// hash!: a block! whose cells are indexed by a hash table (w3), so that
// lookups need no scan. Every block! action works on it; those that change
// the cells keep the table in step through the series re-indexing hooks.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::hash {

// Gives the hash! cell (a block of cells, index from its head) a new table
// over its cells.
void index_cells(Cell* h);

// Registers hash! (parent block!).
void register_type();

}  // namespace zot::hash

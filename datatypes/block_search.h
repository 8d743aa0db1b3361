// Block search, sort and set operations: the find, select and sort slots of
// block! (inherited by paren!, the path types and hash!), the key lookup that
// other datatypes use on blocks, and the set operations of the set natives.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::block {

using actions::FindOptions;

// Where a search matched: the cell index of the match and the index just
// past the matched value (past the whole sub-sequence for a block key);
// at = -1 when nothing matched.
struct Found {
  i32 at = -1;
  i32 end = -1;
};

// The search behind find and select, over the cells from the series' index.
// Keys: a datatype! or typeset! (without only) matches cells of that type; an
// any-block value (without only) is a sub-sequence; any other value (or any
// value with only) is one cell, equal in find equality, strict equality with
// case_, sameness with same. Raises the refinement errors of find; runs no
// Zot code.
Found search(const Cell* series, const Cell* value, const FindOptions& opt);

// ---- slot functions
Cell* find(Cell* series, Cell* value, const actions::FindOptions& o);
Cell* select(Cell* series, Cell* value, const actions::FindOptions& o);
Cell* sort(Cell* series, const actions::SortOptions& o);

// The set operations on the block! or hash! values in the frame's first two
// cells (one for unique); the result replaces the first cell. op: 8 unique,
// 9 union, 10 intersect, 11 exclude, 12 difference. skip is the /skip size
// (null for records of one cell).
void set_operation(bool case_, const Cell* skip, int op);

}  // namespace zot::block

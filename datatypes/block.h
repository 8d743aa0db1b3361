// block!: the series of cells, the code and data of the language. Routines to
// build and walk blocks, and the block! slot functions (inherited by paren!,
// the path types and hash! unless they fill their own).
//
// A block cell: w1 = index in cells, w2 = node of a 16-byte-unit buffer, w3 =
// 0 (a hash! keeps its table there).
#pragma once

#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::block {

// ---- walking (addresses are valid until the next allocation, error or Zot code)
using series::clamp_index;
using series::length_at;
// The cell at the index; an index past the tail is first moved to the tail.
Cell* index_cell(Cell* b);
bool index_at_tail(const Cell* b);
ZOT_INLINE Cell* cell_at(const Cell* b, i32 n) { return series::buffer_of(b)->cells() + n; }
void truncate_at(Cell* b, i32 n);
ZOT_INLINE void truncate(Cell* b) { truncate_at(b, series::index_of(b)); }
void drop_last(Cell* b);

// ---- building
// Each appends or inserts a copy; the block may move (re-derive pointers).
Cell* append_cell(const Cell* b, const Cell* value);
Cell* append_values(Cell* target, const Cell* source);
Cell* insert_value(Cell* b, const Cell* value, bool advance, bool at_head);
void insert_values(Cell* target, const Cell* source);

// The cell becomes an empty block! with room for capacity cells (negative
// counts as 1); flag bits above the type byte are kept.
Cell* make_at(Cell* cell, i32 capacity);
// Mode 1: a buffer from the process heap that never moves; mode 0: a
// collector buffer preset to unset! cells.
Cell* make_at_fixed(Cell* cell, i32 capacity, int mode);
Cell* make_in(const Cell* parent, i32 capacity);
Cell* push(const Cell* b);
Cell* push_new(i32 capacity);

// A new block of the source's type, pushed, holding copies of its cells from
// the index; deep replaces nested blocks (and with paths_too parens and paths)
// by deep clones of themselves.
Cell* clone(const Cell* b, bool deep, bool paths_too);
// Marks the block and every block, paren and path inside it as library code
// (evaluated without trace events, its frames counted as compiled, errors'
// Near left alone).
void mark_library(const Cell* b);
// Replaces each cell in [first, end) (every step cells) whose type is the
// datatype or in the typeset and that can be copied by its own copy.
void copy_types_in_place(Cell* block, i32 first, i32 end, i32 step, bool deep, const Cell* kind);
// Removes the first cell equal to the key (find equality) from the index or
// the head; true when the removed cell stood at or before the block's index.
bool remove_key(Cell* b, const Cell* key, bool from_head);

// Molds the cells from the index (spaces between values, new-line flags as
// line breaks and indentation); returns the part budget left.
i32 mold_each(const Cell* b, Cell* out, const actions::MoldOptions& o, i32 part);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
void append(Cell* series, Cell* value, const actions::InsertOptions& o);
void change(Cell* series, Cell* value, const actions::InsertOptions& o);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
void swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
void trim(Cell* series, const actions::TrimOptions& o);

// paren!'s own mold: "(" ... ")".
i32 paren_mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);

// Register block! (parent series!) and paren! (parent block!).
void register_type();
void register_paren();

}  // namespace zot::block

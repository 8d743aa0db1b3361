// The string! action slots (inherited by the other text types, and by
// binary! and vector! where they have none of their own): make, to, path
// access, compare, find, select, sort, append, insert, change, swap, take,
// trim, and the set operations on text.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::string {

// ---- slot functions (form and mold are in datatypes/string.h)
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
// append (append true) and insert (append false).
void append(Cell* series, Cell* value, const actions::InsertOptions& o);
void change(Cell* series, Cell* value, const actions::InsertOptions& o);
Cell* find(Cell* series, Cell* value, const actions::FindOptions& o);
Cell* select(Cell* series, Cell* value, const actions::FindOptions& o);
Cell* sort(Cell* series, const actions::SortOptions& o);
void swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
void trim(Cell* series, const actions::TrimOptions& o);

// The set operations on text, for the set natives: the first string is in the
// frame's first cell, the second (absent for unique) in the next one; the
// result replaces the first.
enum SetOp : int { kUnique = 8, kUnion = 9, kIntersect = 10, kExclude = 11, kDifference = 12 };
void set_operation(bool case_, const Cell* skip, int op);

// Registers string! (parent series!).
void register_type();

}  // namespace zot::string

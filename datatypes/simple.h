// The four simplest datatypes: datatype!, unset!, none! and logic!, with the
// truth tests that the evaluator, the natives and compiled code use for
// conditions.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::datatype {

Cell* push(u32 type);
Cell* make_in(const Cell* block, u32 type);

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 compare(const Cell* a, const Cell* b, i32 op);

void register_datatype();

}  // namespace zot::datatype

namespace zot::unset {

Cell* set_result();
Cell* make_in(const Cell* block);
Cell* push();

Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 compare(const Cell* a, const Cell* b, i32 op);

void register_type();

}  // namespace zot::unset

namespace zot::none {

Cell* set_result();
Cell* make_in(const Cell* block);
Cell* push();

Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 compare(const Cell* a, const Cell* b, i32 op);
void clear(Cell* value);
Cell* find(Cell* series, Cell* value, const actions::FindOptions& o);
i32 length_q(const Cell* value);
void remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, const actions::FindOptions& o);
Cell* take(Cell* series, Cell* part, bool deep, bool last);

void register_type();

}  // namespace zot::none

namespace zot::logic {

// False values: none! and logic! false; everything else (unset! too) is true.
ZOT_INLINE bool is_false(const Cell* c) { return c->is(T_NONE) || (c->is(T_LOGIC) && !c->logic_value()); }

Cell* set_result(bool v);
Cell* make_in(const Cell* block, bool v);
Cell* push(bool v);

// True when the cell is true; with unset_is_error an unset! value raises
// script/no-value naming the word.
bool true_q(const Cell* c, bool unset_is_error, const Cell* word);
// The last value on the argument stack (the top cell, or the result slot when
// the frame holds nothing above it) is false / true.
bool last_false_q();
bool last_true_q();
// The result slot is true; an unset! result raises script/no-return.
bool check_result_true_q();
// The result slot is false (no unset! check).
bool result_false_q();

Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
void random(Cell* value, bool seed, bool secure, bool only);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 compare(const Cell* a, const Cell* b, i32 op);
Cell* complement(Cell* value);
// and~, or~, xor~ (frame functions: the second argument must be logic!).
void and_();
void or_();
void xor_();

void register_type();

}  // namespace zot::logic

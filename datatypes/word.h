// The word datatypes: word!, set-word!, lit-word!, get-word!, refinement!,
// issue!, and the symbol! and context! types behind them.
#pragma once

#include "runtime/actions.h"
#include "runtime/cell.h"

namespace zot::word {

void register_symbol();    // symbol! (13)
void register_context();   // context! (14)
void register_word();      // word! (15, parent symbol!)
void register_children();  // lit-word!, set-word!, get-word!, refinement! (parent word!)
void register_issue();     // issue! (20, parent word!)

i32 compare(const Cell* a, const Cell* b, i32 op);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* make(Cell* proto, Cell* spec, int type);

}  // namespace zot::word

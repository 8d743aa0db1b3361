// handle!: an opaque 32-bit system handle with a kind. The value is an index
// into a side table kept by whoever made it, never an address. Payload: word 1
// the kind, word 2 the value, word 3 -1.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::handle {

enum Kind : i32 { kNull = 0, kFd = 1, kMonitor = 2, kWindow = 3, kFont = 4, kRichText = 5 };

ZOT_INLINE u32 value_of(const Cell* c) { return c->handle_value(); }
ZOT_INLINE i32 kind_of(const Cell* c) { return c->handle_kind(); }

// ---- makers
ZOT_INLINE Cell* make_at(Cell* c, u32 value, i32 kind) { return make_cell(c, T_HANDLE, u32(kind), value, 0xFFFFFFFFu); }
Cell* push(u32 value, i32 kind);
Cell* set_result(u32 value, i32 kind);
Cell* make_in(const Cell* block, u32 value, i32 kind);
// The name mold/all prints for a kind ("" for kind 0 and unknown kinds).
const char* kind_name(i32 kind);

// ---- slot functions
// "0000002Ah"
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
// "handle!", or with /all "#[handle! 0000002Ah window]"
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 compare(const Cell* a, const Cell* b, i32 op);

// Registers handle! (type 46, parent integer!, of which it keeps nothing).
void register_type();

}  // namespace zot::handle

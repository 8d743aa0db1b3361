// Routines: library functions whose bodies are C++ code, kept in a registry
// and bound to routine! values by name.
#pragma once

#include "runtime/cell.h"

namespace zot::routines {

// A routine reads its arguments from the current frame (in spec order,
// refinements as logic values followed by their arguments) and leaves its
// result in the frame's first cell.
using EntryFn = void (*)();

// Registers an entry under a name; returns its 1-based index.
u32 register_entry(const char* name, EntryFn fn);
// The index of a named entry, 0 when none.
u32 find(const char* name);
EntryFn entry(u32 index);

// Pushes a routine! made from a spec block, a body block (or null: none)
// and a registered entry's name; an unknown name raises script/invalid-arg.
void push(const Cell* spec, const Cell* body, const char* name);
// Runs the routine whose arguments are on the current frame.
void call(const Cell* routine);

}  // namespace zot::routines

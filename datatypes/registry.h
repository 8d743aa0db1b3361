// The datatype registry: the type table that names each type, and the
// registration through which every datatype fills its row of the action table.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::datatype {

struct TypeEntry {
  const char* name;     // "logic!"
  u32 name_len_minus1;  // characters without the final "!"
  Cell name_word;       // word! bound to the global context, once words exist
};

extern TypeEntry g_types[kTypeTableSize];
extern u32 g_highest_id;

// Registers one datatype: each slot gets its function, none, or the parent's
// entry as it stands now.
void register_type(u32 type, u32 parent, const char* name, const actions::SlotTable& slots);
// Same, from a slot-indexed array (index 0 = slot 1) of count entries, each a
// slot function, null or ZOT_INHERIT. A count other than 62 ends the process
// with the datatype error.
void register_type(u32 type, u32 parent, const char* name, const actions::AnyFn* slots, int count);

// The name word of every registered type, once the global context exists
// (types registered later get theirs at once).
void make_name_words();

// Names every type id up to the highest that no datatype registered yet
// (event!, port!, image!, ...), so that each datatype word holds its
// datatype before the library runs; a later registration fills the actions.
void name_every_type();

const char* type_name(u32 type);

// Shared constant cells.
extern const Cell g_unset;
extern const Cell g_none;
extern const Cell g_true;
extern const Cell g_false;

}  // namespace zot::datatype

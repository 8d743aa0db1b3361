// The type predicates (integer?, series? ...): routines that answer whether
// a value is of one datatype, or of a type that a typeset word holds now.
#pragma once

#include "runtime/cell.h"

namespace zot::type_predicates {

// Registers each predicate's entry under its name.
void register_entries();

// The predicates' names as words, in their order of definition, into out.
void names(Cell* out);

}  // namespace zot::type_predicates

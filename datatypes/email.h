// email!: a user name, "@" and a host, held as plain text; molds without
// quotes, and its paths reach the user and host parts.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::email {

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
// /user and /host read or change the text before and after the first "@";
// an integer reaches one character.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);

// Registers email! (parent string!).
void register_type();

}  // namespace zot::email

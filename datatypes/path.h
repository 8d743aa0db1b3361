// The path family: path!, lit-path!, set-path!, get-path!. Blocks with
// another type id, written with "/" between their elements.
#pragma once

#include "runtime/cell.h"

namespace zot::path {

void register_types();  // path!, lit-path!, set-path!, get-path!

}  // namespace zot::path

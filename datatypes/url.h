// url!: text that names a resource, held decoded (a space is a space) and
// percent-encoded only when molded. Reading, writing and opening go by the
// scheme: HTTP and HTTPS to the HTTP layer, any other scheme to a port (both
// through the services table).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::url {

// ---- slot functions (file! takes make, to and eval-path from here)
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
// Path access joins: %dir with name gives %dir/name, with exactly one "/"
// between them; setting an element is refused.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
Cell* open(Cell* url, const actions::OpenOptions& o);
Cell* read(Cell* source, const actions::ReadOptions& o);
Cell* write(Cell* dest, Cell* data, const actions::WriteOptions& o);

// True when the URL's scheme is http or https (in any letter case).
bool is_http(const Cell* url);

// Registers url! (parent string!).
void register_type();

}  // namespace zot::url

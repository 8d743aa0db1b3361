// file!: a path in the language's notation ("/" between components, a
// directory ends with "/"), which on Linux is also the OS path. Reading,
// writing, query, delete and rename go to the files layer
// (datatypes/file_io.h).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::file {

// ---- slot functions
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* read(Cell* source, const actions::ReadOptions& o);
Cell* write(Cell* dest, Cell* data, const actions::WriteOptions& o);
Cell* query(Cell* file);
Cell* delete_(Cell* file);
Cell* rename(Cell* from, Cell* to);

// out becomes a file! of the UTF-8 text.
Cell* make_from_utf8(Cell* out, const char* text, std::size_t length);

// Raises cannot-open naming a shared library (by its soname) that a feature
// needs and the system lacks.
ZOT_NORETURN void cannot_open_library(const char* soname);

// Registers file! (parent url!, which registers first).
void register_type();

}  // namespace zot::file

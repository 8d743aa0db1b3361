// url! and file!: text that names a resource. For now they are strings in
// every action but their molded form; reading, writing, path access and the
// URL encodings come with the files and URLs datatypes.
#pragma once

#include "runtime/cell.h"

namespace zot::file {

// Registers url! (parent string!) and file! (parent url!), in that order.
void register_url();
void register_file();

// out becomes a file! of the UTF-8 text.
Cell* make_from_utf8(Cell* out, const char* text, std::size_t length);

}  // namespace zot::file

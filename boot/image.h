// The boot image: the library's source, scanned into blocks at build time by
// zot-mkboot and encoded as compact ZOTBIN, embedded in the program.
//
// The image holds one block: the build description (a block of name/value
// pairs) followed by one block per library section, in evaluation order.
#pragma once

#include <string>

#include "runtime/cell.h"

namespace zot::boot_image {

// Serialises the image block.
std::string encode(const Cell* image);
// Decodes image bytes (which must not move) into the root block and gives
// the image block in out. A damaged image ends the process with its message
// and a non-zero status.
void decode(const u8* data, std::size_t size, Cell* out);

}  // namespace zot::boot_image

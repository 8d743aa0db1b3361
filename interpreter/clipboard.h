// The clipboard as values: text, lists of files and images, read and written
// through the platform clipboard (a desktop tool or the process's own store).
#pragma once

#include "runtime/cell.h"

namespace zot::clipboard {

// What the clipboard holds, into out (a cell the collector sees): a string!
// when it offers text, else a block! of file! when it offers files, else an
// image! when it offers one; none! when it offers none of these; false when
// it cannot be read (the tool failed: "busy").
Cell* read(Cell* out);

// Puts a string!, a block! of files (file! or string! paths) or an image! on
// the clipboard; none! (or an image without pixels) only empties it. False
// when the tool failed. Any other value, or a block holding something other
// than a path, raises script/invalid-arg before the clipboard is touched.
bool write(const Cell* value);

}  // namespace zot::clipboard

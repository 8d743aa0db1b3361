// Standard input read as it comes, when it is not the line editor's: lines
// of UTF-8 decoded byte by byte (nothing is read beyond the line, so what
// follows stays for whoever reads next), and raw reads of bytes.
#pragma once

#include "runtime/cell.h"

namespace zot::console {

// Appends the characters of one line to the string!: up to a line feed (not
// stored) or the end of input; a carriage return stays. A byte sequence that
// is not UTF-8 gives U+FFFD. False when the input had ended before anything
// came.
bool read_stdin_line(const Cell* line);

// One read of at most max bytes, written over the binary! from its index
// (its tail moves out when the bytes reach beyond it). Returns the count, 0
// at the end of input, -1 on failure.
i32 read_stdin_bytes(const Cell* binary, i32 max);

}  // namespace zot::console

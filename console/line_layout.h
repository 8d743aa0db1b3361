// How the line editor lays text out on the terminal: the cells each
// character takes, rows that wrap at the window's width, and the moves that
// bring the terminal's cursor to a cell.
//
// Positions are cell offsets counted from column 0 of the row where the
// prompt starts: offset p stands in row p / columns, column p % columns.
#pragma once

#include <string>

#include "runtime/base.h"

namespace zot::console::layout {

// Cells a character takes: 2 for wide characters (and the pictographs of
// U+1F300-U+1F5FF), 0 for combining marks, else 1.
int char_cells(u32 cp);

// Walks the units [from, to) of a text stored in units of the given width,
// starting at offset pos, and returns the offset after it. With out, appends
// the UTF-8 bytes that show the text: a tab as four spaces, each character
// as "*" when hidden, an escape sequence (ESC "[" or "(" with its parameter
// bytes and final byte) passed through with no width, any other control
// character as "?". A wide character that would start in the last column is
// shown at the start of the next row: it takes the cell left empty and its
// own two.
int emit(const u8* units, u32 unit, i32 from, i32 to, int pos, int columns, bool hidden, std::string* out);

// The terminal's cursor, as the line editor moved it. After text fills a
// row to its last column the cursor stays on that row (the next character
// would start the next one).
struct Cursor {
  int columns = 80;
  int row = 0;  // rows below the prompt's row
  int column = 0;

  // After writing the text that runs from offset `from` to offset `to`.
  void wrote(int from, int to);
  // Appends the moves to a row and column. Down goes by line feeds: they
  // scroll at the screen's end, where a plain move down would stop.
  void move(int to_row, int to_column, std::string* out);
};

}  // namespace zot::console::layout

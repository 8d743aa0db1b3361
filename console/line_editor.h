// The console's line editor and what the console asks of the terminal: the
// window title, the console size, and reading one line.
//
// On a terminal (standard input and output both terminals) a line is read
// in raw mode with the editing keys, width-aware redraw, the history and Tab
// completion; the mode is put back after each line and on every way out of
// the process. Otherwise lines are read from standard input as they come.
//
// The editor works on Zot values: the line is a string! whose index is the
// cursor, the history a block! of strings, most recent first. Tab calls
// `zot-complete-ctx/complete-input` with a copy of the line positioned at
// the cursor and true; its answer is a block of strings: the new text
// (positioned where the cursor goes) and, when there are several, the
// candidates after it.
#pragma once

#include "runtime/cell.h"

namespace zot::console {

struct ConsoleSize {
  int columns;
  int rows;
};

// Console start: sets the window title (only when standard output is a
// terminal), decides whether the editor can run, makes the saved line, and
// sets system/console/size (80x50 when unknown).
void init_console(const Cell* title);

// Standard input and output are both terminals: the editor runs.
bool interactive();

// The window's size (the last one known when it cannot be read), stored into
// system/console/size when the system object has it.
ConsoleSize read_console_size();

// The next read_line edits this string! and walks this history block!.
void set_buffer_history(const Cell* line, const Cell* history);

// Reads one line into the string given to set_buffer_history. On a terminal
// the prompt is shown and the line edited (hidden: each character shown as
// "*" and the line kept out of the history); otherwise the line comes from
// standard input as it is, nothing shown. False when the input had ended
// before anything was read (the terminal hung up, or redirected input ran
// out); the line is then empty.
bool read_line(const Cell* prompt, bool hidden);

// Puts the terminal's mode back (the console is ending).
void terminate_console();

}  // namespace zot::console

// The terminal: raw key input on standard input, the window size, resize
// notices, and plain byte reads of redirected standard input.
#pragma once

#include <cstddef>

#include "runtime/base.h"

namespace zot::platform::terminal {

// Standard input and standard output are both terminals: the line editor
// can draw and read keys.
bool interactive();

// Saves the mode of the terminal on standard input and switches it to raw
// input (no line buffering, no echo, no signal keys, no flow control);
// output processing is left on. Does nothing when raw already. False when
// standard input is not a terminal or the mode cannot be set.
bool enter_raw();
// Puts back the mode saved by enter_raw; nothing when not raw.
// Async-signal-safe: the exit hooks and the fatal-signal path call it.
void restore();
bool is_raw();

// The window's columns and rows; false when unknown.
bool window_size(int* columns, int* rows);

// Results of read_byte besides a byte (0-255).
constexpr int kEnded = -1;    // end of input, hang-up or a read error
constexpr int kTimeout = -2;  // nothing came within the time given
constexpr int kResized = -3;  // the window changed size since the last wait

// Waits for one byte of standard input: at most timeout_ms milliseconds, or
// without end when it is negative. A change of the window's size (before or
// during the wait) ends it with kResized, once per change.
int read_byte(int timeout_ms);

// One blocking read of up to n bytes of standard input; the count read, 0 at
// the end of input, -1 on failure.
long read_input(void* buffer, std::size_t n);

}  // namespace zot::platform::terminal

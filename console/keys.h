// Keys from the bytes a terminal sends: UTF-8 characters, control keys, and
// the escape sequences of the cursor and editing keys in their common
// encodings. A lone Esc is told from the start of a sequence by a short wait.
#pragma once

#include <string>

#include "runtime/base.h"

namespace zot::console::keys {

// Keys without a character (a character key is its code point).
enum Key : int {
  kUnknown = 0,
  kUp = -20,
  kDown = -21,
  kRight = -22,
  kLeft = -23,
  kEnd = -24,
  kHome = -25,
  kInsert = -26,
  kDelete = -27,
  kPageUp = -28,
  kPageDown = -29,
  // Not keys: the window changed size; the input has ended.
  kResized = -40,
  kEnded = -41,
};

constexpr int kEsc = 27;
// How long the bytes of one sequence may stand apart.
constexpr int kSequenceWaitMs = 100;

// Where bytes come from: a byte (0-255), or platform::terminal's kEnded,
// kTimeout or kResized. timeout_ms < 0 waits without end.
using ByteSource = int (*)(int timeout_ms);

class Reader {
 public:
  explicit Reader(ByteSource source) : source_(source) {}

  // The next key: a code point, a Key, or kUnknown for a key or sequence
  // that has no meaning here.
  int next();

  // Reads the answer to a cursor position query (written by the caller) and
  // returns the 0-based column, or -1 when none came within timeout_ms.
  // Keys that arrive meanwhile are kept for next().
  int cursor_column(int timeout_ms);

  // Forgets bytes kept back (a new source, a test).
  void reset() {
    queue_.clear();
    resized_ = false;
  }

 private:
  int byte(int timeout_ms);
  int character(int lead);
  int escape();
  int csi();
  void keep(int b) { queue_.push_back(char(b)); }

  ByteSource source_;
  std::string queue_;  // bytes read ahead, given out first
  bool resized_ = false;
};

}  // namespace zot::console::keys

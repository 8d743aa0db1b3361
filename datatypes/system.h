// The system object as the runtime reads it: the settings and hooks that the
// datatypes, the lexer and the evaluator consult. The object is taken once
// the library has set the word `system`; its sub-objects are then read by
// their fixed field positions, so a script that changes a field (say
// `system/state/stack-trace: 0`) changes what the runtime does. Before the
// library runs, and in programs that never run it, each reader answers the
// built-in default.
#pragma once

#include "runtime/cell.h"

namespace zot::sys {

// Takes the value of the global word `system` when it holds an object and
// none was taken yet (start-up calls it after each library section).
void attach_if_defined();
bool attached();
// The system object (none before it is attached).
Cell object();

// state/stack-trace: the depth of the "*** Stack: " line (0: none). An
// integer! is taken as it is; anything else counts 0.
i32 stack_trace_level();
// state/source-files when it is a block! not at its tail (into out).
bool source_files(Cell* out);
// state/callbacks/bits: the callback classes whose calls are traced.
enum CallbackClass : u32 {
  kLexerCallback = 1,
  kParseCallback = 2,
  kSortCallback = 4,
  kChangeCallback = 8,
  kDeepChangeCallback = 16,
  kPortCallback = 32,
};
u32 callback_bits();
// lexer/exit-states when it is a block! (into out).
bool exit_states(Cell* out);
// locale/months: the entry for a month (1-12) into out; false when the
// system object has no months block. A missing or non-string entry is
// handed back as it is (none when missing) for the caller's error.
bool month_name(i32 month, Cell* out);
// locale/currencies/list: the block of currency words (into out).
bool currency_list(Cell* out);
// options/money-digits (null when the system object has none).
const Cell* money_digits();
// schemes: the block of registered schemes, name then scheme object (into
// out); false when there is none.
bool schemes(Cell* out);
// standard/port and standard/url-parts: the prototypes of ports and of port
// specs (into out); false when there is none.
bool standard_port(Cell* out);
bool standard_url_parts(Cell* out);

}  // namespace zot::sys

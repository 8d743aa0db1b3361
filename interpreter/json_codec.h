// The routines of the JSON codec:
//
//   json-unescape  str [string!] -> the same string, its JSON escapes decoded
//                  in place ("\n", "\u20AC", surrogate pairs joined); a
//                  malformed or unknown escape, or a high surrogate without
//                  its low half, raises script/invalid-data with the string
//                  as far as it was rewritten.
//   json-emit      output [string!] value indent [string! none!] ascii? [logic!]
//                  -> output, the JSON text of the value appended.
//   json-scan      input [string!] out [block!] -> logic!: the JSON text
//                  from the input's index decoded; true and the value
//                  appended to out, or false and three integers appended:
//                  the line count, the index of the last position reached
//                  that the error names, and the index just after the last
//                  line feed.
//
// The decoder keeps no state between calls and runs without recursion, so
// nesting is limited only by memory.
#pragma once

#include "runtime/cell.h"

namespace zot::json {

// Where JSON text stops being JSON: the line count, the index (from the
// string's head, 1-based) of the last position the grammar marked, and the
// index just after the last line feed.
struct Failure {
  i32 line = 0;
  i32 index = 0;
  i32 line_start = 0;
};

// Decodes the text from its index: true with the value appended to out (a
// block!), or false (with the failure's facts when asked).
bool decode(const Cell* text, Cell* out, Failure* failure);
// Appends the JSON text of the value to output (a string!); indent is a
// string! (pretty, that text per level) or none; with ascii every character
// above 127 is escaped. A value that holds itself, or one nested deeper than
// the cycle stack allows, raises internal/too-deep.
void encode(const Cell* value, Cell* output, const Cell* indent, bool ascii);

}  // namespace zot::json

namespace zot::routines {

// Registers the entries above by name.
void register_json();

}  // namespace zot::routines

// binary!: the byte series. Routines to build and read byte series (for the
// codecs, file and network input, images, the lexer), and the binary! slots
// that differ from string!'s: to, form, mold, compare, the bitwise actions,
// append/insert, change and trim. The rest (find, select, sort, take, path
// access ...) is string!'s, which reads a binary's units as bytes.
//
// A binary cell: w1 = index in bytes, w2 = node of a unit-1 buffer, w3 = 0.
#pragma once

#include <vector>

#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::binary {

// ---- making
// The cell becomes an empty binary! (index 0) with room for size bytes.
Cell* make_at(Cell* cell, u32 size);
// A new binary! holding a copy of the bytes, pushed on the argument stack.
// The bytes must not lie in a series buffer (making the binary may move it).
Cell* push_bytes(const u8* bytes, u32 length);

// ---- reading
// Bytes from the index to the tail (an index past the tail gives 0).
using series::clamp_index;
using series::length_at;
// The byte at offset from the index.
ZOT_INLINE u8 byte_at(const Cell* b, i32 offset) {
  return mem::series_of(b->series_node())->head_ptr()[i64(b->series_index()) + offset];
}
// The bytes from the index as a std::vector (a copy that nothing moves).
std::vector<u8> bytes_of(const Cell* b);

// ---- writing (each may move the buffer)
// The bytes appended at the tail.
void append_bytes(const Cell* b, const u8* bytes, u32 length);
// The bytes inserted at offset from the index; the rest moves up.
void insert_bytes(const Cell* b, u32 offset, const u8* bytes, u32 length);
// The bytes written over those at offset from the index; the tail moves out
// when the write ends beyond it.
void write_bytes_at(const Cell* b, u32 offset, const u8* bytes, u32 length);
// Four bytes, most significant first, appended at the tail.
void append_int32_be(const Cell* b, u32 value);

// ---- values as bytes
// How values turn into bytes: kStrict refuses what has no byte form
// (script/bad-to-arg); kFormed takes the formed text of any other value.
enum class BytesMode : u8 { kStrict, kFormed };
// The bytes of a value, appended to out: a char! its UTF-8, an integer! one
// byte (-128 .. 255, else script/invalid-arg), a binary! its bytes, a tuple!
// its bytes, text its UTF-8, a block (block!, paren!, hash!) its elements in
// turn. part >= 0 limits the bytes (for a block, the elements, or the bytes
// with only).
void value_bytes(const Cell* value, i32 part, bool only, BytesMode mode, std::vector<u8>& out);

// ---- comparison
// a (a binary) against b under the comparison code: -1, 0 or 1, or -2 when
// b is not comparable. Without match b must be a binary!; with match b (a
// binary or text, text by its UTF-8) is tested as a prefix of a, and a key
// longer than what a has left does not match.
i32 compare_bytes(const Cell* a, const Cell* b, i32 op, bool match);
// The value matches at the binary's index: text or binary as a byte prefix,
// a char! or integer! as the byte there (the parse engine's test).
bool match_head(const Cell* b, const Cell* value, i32 op);

// ---- text
// mold: the bytes as hexadecimal digits, "#{" and "}" unless only; from 31
// bytes on (unless flat) broken into lines of 32 bytes, indented one level
// deeper than o.indent, with "}" on a line of its own at that level.
// Returns the part budget left (writing stops once it falls below 1 when
// o.limit is given).
i32 mold(const Cell* b, Cell* out, const actions::MoldOptions& o, i32 part);

// ---- conversion
// The binary of an issue whose name is hexadecimal digits (pushed), or
// script/invalid-data.
Cell* from_issue(const Cell* issue);

// Registers binary! (type 41, parent string!).
void register_type();

}  // namespace zot::binary

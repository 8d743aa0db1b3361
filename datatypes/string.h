// Text buffers: the operations that build, read, change, compare and mold
// `string!` values and the other text types that share their buffers.
//
// A string cell holds w1 = index in units from the buffer head, w2 = node,
// w3 = 0. The buffer stores code points in one unit for the whole buffer (1, 2
// or 4 bytes, little-endian). A buffer only widens while it holds text:
//   - appending at the tail takes 0-127 in unit 1 (128-0xFFFF widens to 2);
//   - writing, inserting or poking takes 0-255 in unit 1 (256-0xFFFF widens);
//   - above 0xFFFF always widens to 4; only reset() goes back to unit 1.
// Operations that may widen or grow return the buffer to continue with; any
// raw pointer into the old buffer is dead after them.
#pragma once

#include <string>

#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::string {

using mem::Node;
using mem::Series;

// ---- access helpers
// Text values, and binary! values (whose actions share these routines).
ZOT_INLINE bool is_text_buffer(u32 t) { return is_any_string(t) || t == T_BINARY; }
ZOT_INLINE Series* buffer_of(const Cell* s) {
  ZOT_ASSERT(is_text_buffer(s->type()));
  return mem::series_of(s->series_node());
}
ZOT_INLINE i32 index_of(const Cell* s) {
  ZOT_ASSERT(is_text_buffer(s->type()));
  return s->series_index();
}

// Units a single code point needs when it comes in as a char! value.
ZOT_INLINE u32 unit_for_char(u32 cp) { return cp <= 0x7F ? 1u : cp <= 0xFFFF ? 2u : 4u; }

// ---- making
// An empty string! (unit 1, index 0) with room for capacity units (0 counts as 1).
Cell* make_at(Cell* cell, u32 capacity);
// The same with room for capacity units of the given unit; keeps the cell's header flags.
Cell* make_at_unit(Cell* cell, u32 capacity, u32 unit);
// Pushes a copy of the string cell on the argument stack.
Cell* push(const Cell* s);

// ---- lengths and positions
using series::clamp_index;
using series::length_at;
// Units from the head to the tail.
i32 total_length(const Cell* s);
bool index_at_tail(const Cell* s);
// Address of the unit at the index, clamping (and writing back) an index past the tail.
u8* index_pointer(Cell* s);
u8* tail_pointer(const Cell* s);

// ---- reading
ZOT_INLINE u32 get_char(const u8* p, u32 unit) {
  if (unit == 1) return *p;
  if (unit == 2) return u32(p[0]) | (u32(p[1]) << 8);
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}
// The code point at index (from the head).
u32 char_at(const Cell* s, i32 index);
// Offset from the index of the first unit equal to cp, or -1.
i32 find_char(const Cell* s, u32 cp);
// Tests only units at record starts (index, index + size, ...); both sides
// folded to upper case unless case_sensitive.
bool char_in_records(const Cell* s, u32 cp, i32 record, bool case_sensitive);
// The string from its index begins with exactly the NUL-terminated 8-bit text.
bool starts_with(const Cell* s, const char* text);

// ---- changing (each returns the buffer to continue with)
Cell* reset(Cell* s);
Series* truncate_at(Series* b, i32 index);
Cell* remove_part(Cell* s, i32 index, i32 count);
Cell* remove_char(Cell* s, i32 index);
Series* append_char(Series* b, u32 cp);
Series* poke_char(Series* b, i32 index, u32 cp);
Series* insert_char(Series* b, i32 index, u32 cp);
// Stores over the unit at `at` (an address inside b); after a widening the
// unit is stored at the same index of the wider buffer.
Series* write_char(Series* b, u8* at, u32 cp);
Series* widen_to(Series* b, u32 current, u32 wanted);
// Copies units [from, to) of src into dst (a new buffer of end units when dst is
// null), converting each to new_unit. Mode 0 sets dst's tail after the copy and
// its unit; mode 1 leaves tail and unit to the caller.
Series* copy_widened(Series* src, Series* dst, u32 new_unit, int mode, i32 from, i32 to, i32 end);
// Appends each byte as a code point (bytes 128-255 widen a unit-1 string).
Series* append_c_text(Cell* s, const char* text);
Series* append_c_text_n(Cell* s, const char* text, std::size_t n);
// Appends UTF-8 text (a malformed sequence appends U+FFFD); returns the
// number of code points appended.
std::size_t append_utf8_text(Cell* s, const char* text, std::size_t n);

enum ConcatMode : int { kConcatAppend = 0, kConcatInsert = 1, kConcatOverwrite = 2 };
// Joins source (any text type; a symbol! through its name string) into target:
// mode 0 at the tail, mode 1 inserted at index + offset, mode 2 over the units
// from index + offset. part -1 = all of the source from its index. With
// keep_source a narrower source buffer is left as it is (units converted while
// copying); otherwise it is widened in place to the target's unit.
Series* concatenate(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source, int mode);
ZOT_INLINE Series* overwrite(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source) {
  return concatenate(target, source, part, offset, keep_source, kConcatOverwrite);
}
// Moves count units from the source's index to the target's index (the target
// widens as needed), then removes them from the source. Source and target are
// different series (a move within one series is the series base's business).
void move_units(Cell* source, Cell* target, i32 count);

// ---- comparison
// -1, 0 or 1 for two text cells under a comparison code (actions::CompareOp);
// with match, a prefix test of b against a.
i32 compare_values(const Cell* a, const Cell* b, i32 op, bool match);
// The key matches at the series' index: text keys by prefix comparison, a
// char! against the unit there, a tag! inside "<" ">".
bool match_at(const Cell* series, const Cell* key, i32 op);
bool angle_enclosed(const Cell* series, const Cell* key);

// ---- text of values
// Appends cp as molded text ("^/", "^(1E)", ...); all escapes everything above 127.
Series* append_escaped_char(Cell* out, u32 cp, bool all);
// Two upper-case hexadecimal digits (static text, overwritten by the next call).
const char* byte_to_hex(u8 byte);
// Eight hexadecimal digits; with trim only the significant ones (0 gives "00").
const char* to_hex(i32 value, bool trim);
double to_float(const char* text, i32 length, bool* error);

// Slot-shaped mold and form (actions::MoldFn / FormFn): append to out and
// return the part budget left.
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);

// Appends to a form/mold output string and counts what it appended against
// the caller's part budget (settle after appending through other routines).
struct Budget {
  Cell* out;
  i32* part;
  i32 from;
  Budget(Cell* o, i32* p) : out(o), part(p), from(total_length(o)) {}
  void settle() {
    i32 now = total_length(out);
    *part -= now - from;
    from = now;
  }
  void text(const char* t) {
    append_c_text(out, t);
    settle();
  }
  // Four spaces per level.
  void indent(i32 level) {
    for (i32 i = 0; i < level; i++) append_c_text(out, "    ");
    settle();
  }
};

// ---- loading bytes
constexpr int kEncodingUtf8 = 0;
constexpr int kEncodingUtf16le = -1;
// Decodes length bytes into a string! written into target (or a new cell
// pushed on the argument stack when target is null). An unknown encoding
// prints a loading error and ends the process with status 1.
Cell* load_bytes_at(const u8* bytes, u32 length, Cell* target, int encoding);
Cell* load_bytes(const u8* bytes, u32 length, int encoding);

// ---- C++ conveniences
// The text from the cell's index as UTF-8.
std::string to_utf8(const Cell* s);
// A new string! in out holding the UTF-8 text.
Cell* make_from_utf8(Cell* out, const char* text, std::size_t length);

}  // namespace zot::string

// Text conversions that read or build string buffers (the byte-level ones are
// in runtime/unicode.h).
namespace zot::unicode {

// The buffer widened in place (expanded first when it does not fit).
mem::Series* widen_1_to_2(mem::Series* b);
mem::Series* widen_1_to_4(mem::Series* b);
mem::Series* widen_2_to_4(mem::Series* b);

// UTF-8 bytes into target (its text replaced; it keeps its unit and grows as
// needed) or into a new string buffer when target is 0; a leading byte-order mark is skipped; with crlf,
// CR LF and a lone CR become LF. Returns the node; out_length (when given)
// receives the code point count. Malformed UTF-8 raises access/invalid-utf8.
mem::Node utf8_to_string(const u8* bytes, std::size_t length, mem::Node target, std::size_t* out_length,
                         bool crlf);
ZOT_INLINE mem::Node utf8_into_string(const u8* bytes, std::size_t length, mem::Node target,
                                      std::size_t* out_length, bool crlf) {
  return utf8_to_string(bytes, length, target, out_length, crlf);
}
ZOT_INLINE mem::Node utf8_to_new_string(const u8* bytes, std::size_t length, std::size_t* out_length,
                                        bool crlf) {
  return utf8_to_string(bytes, length, 0, out_length, crlf);
}

// units UTF-16LE units into target (its text replaced) or a new buffer when 0,
// in the narrowest unit that holds them; a surrogate pair makes one code point,
// a lone surrogate half is kept as it came; with crlf every CR unit is dropped.
// Returns the node.
mem::Node utf16le_to_string(const u8* bytes, std::size_t units, mem::Node target, bool crlf);

// UTF-8 bytes the string needs from its index (part units, or all for -1).
std::size_t utf8_size_of(const Cell* s, i32 part);
// Writes the string from its index as UTF-8 to dest (room for utf8_size_of +
// 1 bytes); terminate adds a NUL. Returns the bytes written without the NUL.
std::size_t write_utf8(const Cell* s, u8* dest, i32 part, bool terminate);
// The same, never writing more than room bytes (the NUL included).
std::size_t write_utf8_bounded(const Cell* s, u8* dest, std::size_t room, i32 part, bool terminate);
// NUL-terminated UTF-8 of the string from its head (part units, or all for
// -1; with crlf a CR before each LF) in a process-wide scratch buffer that the
// next call overwrites; part receives the bytes written.
const u8* to_utf8_buffer(const Cell* s, i32* part, bool crlf);
// NUL-terminated UTF-16LE of the string from its head in a scratch buffer;
// length in: units or -1, out: UTF-16 units written. Null when a code point
// lies above U+10FFFF.
const u8* to_utf16_part(const Cell* s, i32* length, bool crlf);
ZOT_INLINE const u8* to_utf16(const Cell* s) {
  i32 n = -1;
  return to_utf16_part(s, &n, false);
}

}  // namespace zot::unicode

// Unicode for Zot: UTF-8 and UTF-16LE conversion on raw memory, letter case
// mapping and the display width of characters.
//
// Text is stored in units of 1, 2 or 4 bytes per code point (2-byte units are
// little-endian). The functions here work on plain byte ranges; the ones that
// read or build string series live with the string datatype and call these.
#pragma once

#include <string>

#include "runtime/base.h"

namespace zot::unicode {

constexpr u32 kMaxCodePoint = 0x10FFFF;
constexpr u32 kReplacementChar = 0xFFFD;

// An inclusive range of code points.
struct Range {
  u32 low;
  u32 high;
};

// Generated tables (runtime/unicode_tables.cpp, written by
// tools/gen_unicode_tables.py) and the UTF-8 decoder's automaton.
namespace tables {
extern const char unicode_version[];
// Simple case mappings as (code point, mapping) pairs sorted by code point.
extern const u16 upper_bmp[][2];
extern const std::size_t upper_bmp_count;
extern const u16 lower_bmp[][2];
extern const std::size_t lower_bmp_count;
extern const u32 upper_astral[][2];
extern const std::size_t upper_astral_count;
extern const u32 lower_astral[][2];
extern const std::size_t lower_astral_count;
// Display width ranges, sorted and disjoint.
extern const Range zero_width[];
extern const std::size_t zero_width_count;
extern const Range double_width[];
extern const std::size_t double_width_count;
extern const Range ambiguous_width[];
extern const std::size_t ambiguous_width_count;

// UTF-8 decoding automaton: 256 byte classes, then the transitions indexed by
// state + class. State 0 accepts, 12 rejects. It refuses overlong forms,
// surrogates and anything above U+10FFFF.
constexpr u32 kUtf8Accept = 0;
constexpr u32 kUtf8Reject = 12;
extern const u8 utf8_dfa[256 + 108];
}  // namespace tables

// ---------------------------------------------------------------------------
// Errors. Text that cannot be encoded or decoded raises a language error: a
// code point above U+10FFFF raises script error `invalid-char` with the code
// point as an integer!, malformed UTF-8 raises access error `invalid-utf8`.
// The error argument of `invalid-utf8` is a binary! of the bad bytes, which
// needs the binary! datatype: it can take over through the services table;
// until then the error goes without an argument.

ZOT_NORETURN void raise_bad_code_point(u32 code_point);
// Reports the malformed sequence at bytes (count of them are readable; at most
// four are kept).
ZOT_NORETURN void raise_invalid_utf8(const u8* bytes, std::size_t count);

// ---------------------------------------------------------------------------
// UTF-8

// Decodes one code point from p (p < end). Returns the address after the
// sequence and sets cp to the code point, or to -1 when the bytes are not
// UTF-8: a bad byte is stepped over together with the well-formed start of a
// sequence before it, and a sequence cut short by end consumes up to end.
ZOT_INLINE const u8* decode_utf8_char(const u8* p, const u8* end, i32& cp) {
  u32 byte = *p;
  if (ZOT_LIKELY(byte < 0x80)) {
    cp = static_cast<i32>(byte);
    return p + 1;
  }
  u32 state = tables::kUtf8Accept;
  u32 code = 0;
  const u8* q = p;
  do {
    byte = *q;
    u32 type = tables::utf8_dfa[byte];
    code = state != tables::kUtf8Accept ? (byte & 0x3Fu) | (code << 6) : (0xFFu >> type) & byte;
    state = tables::utf8_dfa[256 + state + type];
    if (ZOT_UNLIKELY(state == tables::kUtf8Reject)) {
      cp = -1;
      return q == p ? p + 1 : q;
    }
    ++q;
  } while (state != tables::kUtf8Accept && q < end);
  cp = state == tables::kUtf8Accept ? static_cast<i32>(code) : -1;
  return q;
}

// The bytes with every part that is not well-formed UTF-8 replaced by U+FFFD
// (text from the OS that must show, whatever it holds).
std::string lossy_utf8(const u8* bytes, std::size_t n);
// Drops the CR of every CR LF, in place (a lone CR stays).
void drop_cr_before_lf(std::string& bytes);

// Code points between start and end, stepping as decode_utf8_char does.
std::size_t count_utf8_chars(const u8* start, const u8* end);

// p advanced by up to count code points, never past end.
const u8* skip_utf8_chars(const u8* p, const u8* end, std::size_t count);

// Length announced by a lead byte: 4 when its top four bits are set, 3 for
// the top three, 2 for the top two, else 0.
constexpr int utf8_sequence_length(u8 lead) {
  return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
}

// UTF-8 bytes of one code point; above U+10FFFF raises.
ZOT_INLINE int utf8_length(u32 cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000) return 3;
  if (ZOT_LIKELY(cp <= kMaxCodePoint)) return 4;
  raise_bad_code_point(cp);
}

// UTF-8 bytes needed for the text between start and end stored in the given
// unit. A unit other than 1, 2 or 4 is a fatal error.
std::size_t utf8_size(const u8* start, const u8* end, int unit);

// Writes the UTF-8 form of cp to out (room for 4 bytes); returns the bytes
// written. Above U+10FFFF raises. A lone surrogate (kept from UTF-16 input or
// an escape) has no UTF-8 form: it is written as U+FFFD, so every text that
// leaves as UTF-8 (printed, written, converted to bytes) is valid.
int encode_utf8_char(u32 cp, u8* out);

// As encode_utf8_char, but writes only when the whole sequence fits in room;
// returns the bytes written (0 when it does not fit).
int encode_utf8_char_bounded(u32 cp, u8* out, std::size_t room);

// Decodes one code point from the count bytes at p. Returns the code point and
// sets count to the length of its sequence; returns -1 when the bytes end
// inside a well-formed sequence (count is then the length the lead byte
// announces, 0 for no bytes). Malformed UTF-8 (bad lead or continuation byte,
// overlong form, surrogate, above U+10FFFF) raises.
i32 decode_utf8_strict(const u8* p, std::size_t& count);

// Encodes count units of text (unit 1, 2 or 4) at src as UTF-8 into dest,
// writing whole sequences only and never more than room bytes; with crlf a CR
// goes before each LF. Returns the bytes written; *used, when given, receives
// the units consumed. A code point above U+10FFFF raises.
std::size_t units_to_utf8(const u8* src, std::size_t count, int unit, u8* dest, std::size_t room,
                          bool crlf, std::size_t* used = nullptr);

// ---------------------------------------------------------------------------
// UTF-16LE

// Writes cp as UTF-16LE to out (room for 4 bytes). Returns the units written:
// 1, 2 for a surrogate pair above 0xFFFF, 0 above U+10FFFF. A lone surrogate
// code point is written as its own unit.
ZOT_INLINE int encode_utf16_char(u32 cp, u8* out) {
  if (cp <= 0xFFFF) {
    out[0] = static_cast<u8>(cp);
    out[1] = static_cast<u8>(cp >> 8);
    return 1;
  }
  if (cp > kMaxCodePoint) return 0;
  u32 v = cp - 0x10000;
  u32 hi = 0xD800 | (v >> 10);
  u32 lo = 0xDC00 | (v & 0x3FF);
  out[0] = static_cast<u8>(hi);
  out[1] = static_cast<u8>(hi >> 8);
  out[2] = static_cast<u8>(lo);
  out[3] = static_cast<u8>(lo >> 8);
  return 2;
}

// Decodes one code point from the UTF-16LE units at p (p + 2 <= end). A high
// surrogate followed by a low one makes one code point; any other surrogate
// unit is kept as a code point of its own. Returns the address after it.
ZOT_INLINE const u8* decode_utf16le_char(const u8* p, const u8* end, u32& cp) {
  u32 unit = p[0] | (static_cast<u32>(p[1]) << 8);
  if (ZOT_UNLIKELY(unit - 0xD800 < 0x400) && end - p >= 4) {
    u32 next = p[2] | (static_cast<u32>(p[3]) << 8);
    if (next - 0xDC00 < 0x400) {
      cp = 0x10000 + ((unit & 0x3FF) << 10) + (next & 0x3FF);
      return p + 4;
    }
  }
  cp = unit;
  return p + 2;
}

// The narrowest string unit for the given UTF-16LE units: 4 when any unit is
// a surrogate, else 2 when any is above 0xFF, else 1.
int utf16le_unit_needed(const u8* bytes, std::size_t units);

// Encodes count units of text (unit 1, 2 or 4) at src as UTF-16LE into dest,
// whole characters only and never more than room units; with crlf a CR unit
// goes before each LF. Returns the units written, or -1 when a code point is
// above U+10FFFF.
i64 units_to_utf16le(const u8* src, std::size_t count, int unit, u8* dest, std::size_t room,
                     bool crlf);

// NUL-terminated bytes to NUL-terminated UTF-16LE, one unit per byte; dest
// needs room for (length + 1) units. Returns the units written before the NUL.
std::size_t latin1_to_utf16(const u8* src, u8* dest);

// ---------------------------------------------------------------------------
// Display width

// True when cp lies in one of the count sorted ranges.
bool in_ranges(u32 cp, const Range* table, std::size_t count);

namespace detail {
int char_width_table(u32 cp);
}

// Columns a terminal gives the character: 0, 1 or 2.
ZOT_INLINE int char_width(u32 cp) {
  if (ZOT_LIKELY(cp < 0x300)) return cp == 0 ? 0 : 1;
  return detail::char_width_table(cp);
}

// As char_width, with the East Asian Ambiguous characters taking 2 columns.
int char_width_wide_ambiguous(u32 cp);

}  // namespace zot::unicode

// `case` is a C++ keyword, hence the underscore.
namespace zot::case_ {

namespace detail {
// The mapping of every BMP code point, 0 where it has none.
struct CaseTable {
  u16 map[0x10000];
};
// The table of (code point, mapping) pairs.
template <std::size_t N>
constexpr CaseTable bmp_case_table(const u16 (&pairs)[N][2]) {
  CaseTable t{};
  for (std::size_t i = 0; i < N; ++i) t.map[pairs[i][0]] = pairs[i][1];
  return t;
}
// Built at compile time from the generated pair lists (unicode_tables.cpp).
extern const CaseTable upper_table;
extern const CaseTable lower_table;
u32 fold_astral(u32 cp, bool upper);
}  // namespace detail

// cp mapped to upper (or lower) case, or cp itself when it has no mapping.
ZOT_INLINE u32 fold_char(u32 cp, bool upper) {
  if (ZOT_LIKELY(cp <= 0xFFFF)) {
    u32 m = (upper ? detail::upper_table : detail::lower_table).map[cp];
    return m ? m : cp;
  }
  return detail::fold_astral(cp, upper);
}

ZOT_INLINE u32 upper_char(u32 cp) { return fold_char(cp, true); }

// Upper case, or lower case when upper case changes nothing.
ZOT_INLINE u32 toggle_char(u32 cp) {
  u32 u = fold_char(cp, true);
  return u != cp ? u : fold_char(cp, false);
}

}  // namespace zot::case_

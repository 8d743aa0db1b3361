// Conversions between string buffers and outside encodings, and widening a
// buffer's unit in place.

#include <vector>

#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/unicode.h"

namespace zot::unicode {

using mem::Node;
using mem::Series;

namespace {

// Set on buffers filled from UTF-16LE input.
constexpr u32 kFromUtf16 = 0x00040000u;

ZOT_INLINE void put_unit(u8* p, u32 unit, u32 cp) {
  if (unit == 1) {
    *p = u8(cp);
  } else if (unit == 2) {
    p[0] = u8(cp);
    p[1] = u8(cp >> 8);
  } else {
    std::memcpy(p, &cp, 4);
  }
}

ZOT_NORETURN ZOT_NOINLINE void bad_unit() { runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS()); }

ZOT_INLINE void check_unit(u32 unit) {
  if (ZOT_UNLIKELY(unit != 1 && unit != 2 && unit != 4)) bad_unit();
}

// The buffer with room for bytes more bytes after its head (expanded when not).
Series* ensure_size_from_head(Series* b, u64 bytes) {
  if (u64(b->head) + bytes <= b->size) return b;
  if (bytes > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  return mem::expand_series(b, u32(align_up(bytes, 16)));
}

Series* widen(Series* b, u32 from, u32 to) {
  u32 count = b->length();
  // Room for the widened text plus one more unit.
  b = ensure_size_from_head(b, (u64(count) + 1) * to);
  u8* p = b->head_ptr();
  // Last to first, so nothing is overwritten before it is read.
  for (u32 i = count; i-- > 0;) put_unit(p + u64(i) * to, to, string::get_char(p + u64(i) * from, from));
  b->tail = b->head + count * to;
  b->flags = (b->flags & ~mem::kUnitMask) | to;
  return b;
}

// A process-wide conversion area for text handed to the OS layer.
std::vector<u8>& scratch() {
  static std::vector<u8> buf;
  return buf;
}

// The stretch of a string value: from its head or its index (clamped into
// the text), at most part units (-1 = all).
struct Stretch {
  const u8* start;
  u32 count;
  u32 unit;
};

Stretch stretch_of(const Cell* s, bool from_head, i32 part) {
  Series* b = string::buffer_of(s);
  u32 unit = b->unit();
  check_unit(unit);
  i32 total = i32(b->length());
  i32 idx = from_head ? 0 : string::index_of(s);
  if (idx < 0) idx = 0;
  if (idx > total) idx = total;
  i32 n = total - idx;
  if (part >= 0 && part < n) n = part;
  return Stretch{b->head_ptr() + u64(idx) * unit, u32(n), unit};
}

}  // namespace

Series* widen_1_to_2(Series* b) { return widen(b, 1, 2); }
Series* widen_1_to_4(Series* b) { return widen(b, 1, 4); }
Series* widen_2_to_4(Series* b) { return widen(b, 2, 4); }

Node utf8_to_string(const u8* bytes, std::size_t length, Node target, std::size_t* out_length, bool crlf) {
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    bytes += 3;
    length -= 3;
  }
  if (length > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  RootedNode n(target);  // a new string is held while it widens
  Series* b;
  if (n) {
    b = ensure_size_from_head(mem::series_of(n), length ? length * mem::series_of(n)->unit() : 1);
  } else {
    n = mem::alloc_series(length ? u32(length) : 1, 1, 0);
    b = mem::series_of(n);
  }
  u32 unit = b->unit();
  check_unit(unit);
  b->tail = b->head;
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < length) {
    std::size_t used = length - i;
    i32 cp = decode_utf8_strict(bytes + i, used);
    if (cp < 0) break;  // the bytes end inside a sequence
    i += used;
    if (crlf && cp == '\r') {
      if (i < length && bytes[i] == '\n') continue;
      cp = '\n';
    }
    u32 c = u32(cp);
    if ((unit == 1 && c > 0xFF) || (unit == 2 && c > 0xFFFF)) {
      u32 wider = c > 0xFFFF ? 4 : 2;
      b = unit == 1 ? (wider == 2 ? widen_1_to_2(b) : widen_1_to_4(b)) : widen_2_to_4(b);
      unit = wider;
      // Room for everything still to come: no more code points than bytes.
      b = ensure_size_from_head(b, (u64(count) + (length - i) + 1) * unit);
    }
    put_unit(b->tail_ptr(), unit, c);
    b->tail += unit;
    ++count;
  }
  if (out_length) *out_length = count;
  return n;
}

Node utf16le_to_string(const u8* bytes, std::size_t units, Node target, bool crlf) {
  if (units * 2 > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  u32 unit = u32(utf16le_unit_needed(bytes, units));
  Node n = target;
  Series* b;
  if (n) {
    b = mem::series_of(n);
    b->tail = b->head;
    u32 have = b->unit();
    check_unit(have);
    if (have > unit) unit = have;
    else if (have < unit) b = string::widen_to(b, have, unit);
    b = ensure_size_from_head(b, (u64(units) + 1) * unit);
  } else {
    n = mem::alloc_series(units ? u32(units) : 1, unit, 0);
    b = mem::series_of(n);
  }
  b->flags |= kFromUtf16;
  u8* out = b->head_ptr();
  const u8* end = bytes + units * 2;
  for (const u8* p = bytes; p < end;) {
    u32 cp;
    if (unit == 4) {
      // A surrogate pair makes one code point; a lone half is kept as it came.
      p = decode_utf16le_char(p, end, cp);
    } else {
      cp = p[0] | (u32(p[1]) << 8);
      p += 2;
    }
    if (crlf && cp == '\r') continue;
    put_unit(out, unit, cp);
    out += unit;
  }
  b->tail = u32(out - b->data());
  return n;
}

std::size_t utf8_size_of(const Cell* s, i32 part) {
  Stretch t = stretch_of(s, false, part);
  return utf8_size(t.start, t.start + u64(t.count) * t.unit, int(t.unit));
}

std::size_t write_utf8_bounded(const Cell* s, u8* dest, std::size_t room, i32 part, bool terminate) {
  if (terminate) {
    if (room == 0) return 0;
    --room;
  }
  Stretch t = stretch_of(s, false, part);
  std::size_t w = t.count ? units_to_utf8(t.start, t.count, int(t.unit), dest, room, false) : 0;
  if (terminate) dest[w] = 0;
  return w;
}

std::size_t write_utf8(const Cell* s, u8* dest, i32 part, bool terminate) {
  return write_utf8_bounded(s, dest, SIZE_MAX, part, terminate);
}

const u8* to_utf8_buffer(const Cell* s, i32* part, bool crlf) {
  Stretch t = stretch_of(s, true, part ? *part : -1);
  std::size_t room = (std::size_t(t.count) + 1) * (t.unit == 4 ? 4 : t.unit + 1);
  std::vector<u8>& buf = scratch();
  if (buf.size() < room) buf.resize(room);
  std::size_t w = units_to_utf8(t.start, t.count, int(t.unit), buf.data(), room - 1, crlf);
  buf[w] = 0;
  if (part) *part = i32(w);
  return buf.data();
}

const u8* to_utf16_part(const Cell* s, i32* length, bool crlf) {
  Stretch t = stretch_of(s, true, length ? *length : -1);
  // At most two UTF-16 units per code point (a pair, or CR before LF), and the NUL.
  std::size_t room = std::size_t(t.count) * 2 + 1;
  std::vector<u8>& buf = scratch();
  if (buf.size() < room * 2) buf.resize(room * 2);
  i64 w = units_to_utf16le(t.start, t.count, int(t.unit), buf.data(), room - 1, crlf);
  if (w < 0) return nullptr;
  buf[std::size_t(w) * 2] = 0;
  buf[std::size_t(w) * 2 + 1] = 0;
  if (length) *length = i32(w);
  return buf.data();
}

}  // namespace zot::unicode

// Unicode conversions, case tables and display width: see unicode.h.

#include "runtime/unicode.h"

#include <cstdlib>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot::unicode {

namespace tables {

// Byte classes: 0 ASCII; 1 continuation 80-8F; 9 continuation 90-9F;
// 7 continuation A0-BF; 8 never valid (C0, C1, F5-FF); 2 lead C2-DF;
// 10 lead E0 (overlong guard); 3 leads E1-EC, EE-EF; 4 lead ED (surrogate
// guard); 11 lead F0 (overlong guard); 6 leads F1-F3; 5 lead F4 (limit guard).
// States are multiples of 12 so that state + class indexes the transitions.
extern const u8 utf8_dfa[256 + 108] = {
    // 00-7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 80-9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    // A0-BF
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // C0-DF
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // E0-FF
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // Transitions: one row of 12 classes per state.
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,        // 0: start
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,       // 12: reject
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,          // 24: one continuation left
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,       // 36: two left
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,       // 48: after E0, needs A0-BF
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,       // 60: after ED, needs 80-9F
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,       // 72: after F0, needs 90-BF
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,       // 84: after F1-F3
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,       // 96: after F4, needs 80-8F
};

}  // namespace tables

// ---------------------------------------------------------------------------
// Errors

namespace {

ZOT_NORETURN void default_bad_code_point(u32 cp) {
  Cell arg;
  set_integer(&arg, static_cast<i32>(cp));
  raise_error(Err::ScriptInvalidChar, &arg);
}

// The error names the bad bytes (at most four). They are copied aside first:
// they may lie in a series buffer that the allocation moves.
ZOT_NORETURN void default_invalid_utf8(const u8* bytes, std::size_t count) {
  u8 copy[4];
  u32 n = u32(count < 4 ? count : 4);
  std::memcpy(copy, bytes, n);
  Cell bad;
  set_none(&bad);
  Cell* arg = stack::push(&bad);
  mem::Node node = mem::alloc_bytes(n);
  mem::Series* s = mem::series_of(node);
  std::memcpy(s->head_ptr(), copy, n);
  s->tail = s->head + n;
  make_cell(arg, T_BINARY, 0, node, 0);
  raise_error(Err::AccessInvalidUtf8, arg);
}

}  // namespace

void raise_bad_code_point(u32 code_point) {
  (g_services.bad_code_point ? g_services.bad_code_point : default_bad_code_point)(code_point);
  std::abort();  // a handler must not return
}

void raise_invalid_utf8(const u8* bytes, std::size_t count) {
  (g_services.invalid_utf8 ? g_services.invalid_utf8 : default_invalid_utf8)(bytes, count < 4 ? count : 4);
  std::abort();
}

// ---------------------------------------------------------------------------
// UTF-8

std::string lossy_utf8(const u8* bytes, std::size_t n) {
  std::string r;
  r.reserve(n);
  const u8* end = bytes + n;
  while (bytes < end) {
    i32 cp;
    const u8* next = decode_utf8_char(bytes, end, cp);
    if (cp < 0) r += "\xEF\xBF\xBD";
    else r.append(reinterpret_cast<const char*>(bytes), std::size_t(next - bytes));
    bytes = next;
  }
  return r;
}

void drop_cr_before_lf(std::string& bytes) {
  std::size_t to = bytes.find('\r');
  if (to == std::string::npos) return;
  for (std::size_t from = to; from < bytes.size(); from++)
    if (bytes[from] != '\r' || from + 1 >= bytes.size() || bytes[from + 1] != '\n') bytes[to++] = bytes[from];
  bytes.resize(to);
}

std::size_t count_utf8_chars(const u8* start, const u8* end) {
  std::size_t n = 0;
  i32 cp;
  while (start < end) {
    start = decode_utf8_char(start, end, cp);
    ++n;
  }
  return n;
}

const u8* skip_utf8_chars(const u8* p, const u8* end, std::size_t count) {
  i32 cp;
  while (count > 0 && p < end) {
    p = decode_utf8_char(p, end, cp);
    --count;
  }
  return p;
}

namespace {

ZOT_INLINE u32 load_unit(const u8* p, int unit) {
  if (unit == 1) return *p;
  if (unit == 2) return p[0] | (static_cast<u32>(p[1]) << 8);
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}

ZOT_NORETURN ZOT_NOINLINE void bad_unit() {
  runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
}

ZOT_INLINE void check_unit(int unit) {
  if (ZOT_UNLIKELY(unit != 1 && unit != 2 && unit != 4)) bad_unit();
}

}  // namespace

std::size_t utf8_size(const u8* start, const u8* end, int unit) {
  check_unit(unit);
  std::size_t n = 0;
  if (unit == 1) {
    for (const u8* p = start; p < end; ++p) n += 1 + (*p >> 7);
    return n;
  }
  for (const u8* p = start; p + unit <= end; p += unit) n += utf8_length(load_unit(p, unit));
  return n;
}

int encode_utf8_char(u32 cp, u8* out) {
  if (cp < 0x80) {
    out[0] = static_cast<u8>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<u8>(0xC0 | (cp >> 6));
    out[1] = static_cast<u8>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    // UTF-8 has no form for a surrogate (a string may hold one alone).
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacementChar;
    out[0] = static_cast<u8>(0xE0 | (cp >> 12));
    out[1] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<u8>(0x80 | (cp & 0x3F));
    return 3;
  }
  if (cp > kMaxCodePoint) raise_bad_code_point(cp);
  out[0] = static_cast<u8>(0xF0 | (cp >> 18));
  out[1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<u8>(0x80 | (cp & 0x3F));
  return 4;
}

int encode_utf8_char_bounded(u32 cp, u8* out, std::size_t room) {
  // A sequence cut at the end of the room would be malformed UTF-8.
  if (static_cast<std::size_t>(utf8_length(cp)) > room) return 0;
  return encode_utf8_char(cp, out);
}

i32 decode_utf8_strict(const u8* p, std::size_t& count) {
  std::size_t avail = count;
  if (avail == 0) return -1;
  if (p[0] < 0x80) {
    count = 1;
    return p[0];
  }
  u32 state = tables::kUtf8Accept;
  u32 code = 0;
  for (std::size_t i = 0; i < avail; ++i) {
    u32 byte = p[i];
    u32 type = tables::utf8_dfa[byte];
    code = state != tables::kUtf8Accept ? (byte & 0x3Fu) | (code << 6) : (0xFFu >> type) & byte;
    state = tables::utf8_dfa[256 + state + type];
    if (state == tables::kUtf8Reject) raise_invalid_utf8(p, avail);
    if (state == tables::kUtf8Accept) {
      count = i + 1;
      return static_cast<i32>(code);
    }
  }
  // Every byte so far fits a sequence that needs more.
  count = static_cast<std::size_t>(utf8_sequence_length(p[0]));
  return -1;
}

std::size_t units_to_utf8(const u8* src, std::size_t count, int unit, u8* dest, std::size_t room,
                          bool crlf, std::size_t* used) {
  check_unit(unit);
  std::size_t out = 0;
  std::size_t i = 0;
  for (; i < count; ++i) {
    u32 cp = load_unit(src + i * unit, unit);
    if (cp < 0x80) {
      std::size_t need = (crlf && cp == '\n') ? 2 : 1;
      if (room - out < need) break;
      if (need == 2) dest[out++] = '\r';
      dest[out++] = static_cast<u8>(cp);
      continue;
    }
    int n = encode_utf8_char_bounded(cp, dest + out, room - out);
    if (n == 0) break;
    out += static_cast<std::size_t>(n);
  }
  if (used) *used = i;
  return out;
}

// ---------------------------------------------------------------------------
// UTF-16LE

int utf16le_unit_needed(const u8* bytes, std::size_t units) {
  int unit = 1;
  for (std::size_t i = 0; i < units; ++i) {
    u8 high = bytes[2 * i + 1];
    if (high >= 0xD8 && high <= 0xDF) return 4;
    if (high != 0) unit = 2;
  }
  return unit;
}

i64 units_to_utf16le(const u8* src, std::size_t count, int unit, u8* dest, std::size_t room,
                     bool crlf) {
  check_unit(unit);
  std::size_t out = 0;
  for (std::size_t i = 0; i < count; ++i) {
    u32 cp = load_unit(src + i * unit, unit);
    if (cp > kMaxCodePoint) return -1;
    std::size_t need = (cp > 0xFFFF ? 2 : 1) + ((crlf && cp == '\n') ? 1 : 0);
    if (room - out < need) break;
    if (crlf && cp == '\n') {
      dest[2 * out] = '\r';
      dest[2 * out + 1] = 0;
      ++out;
    }
    out += static_cast<std::size_t>(encode_utf16_char(cp, dest + 2 * out));
  }
  return static_cast<i64>(out);
}

std::size_t latin1_to_utf16(const u8* src, u8* dest) {
  std::size_t n = 0;
  for (; src[n]; ++n) {
    dest[2 * n] = src[n];
    dest[2 * n + 1] = 0;
  }
  dest[2 * n] = 0;
  dest[2 * n + 1] = 0;
  return n;
}

// ---------------------------------------------------------------------------
// Display width

bool in_ranges(u32 cp, const Range* table, std::size_t count) {
  if (count == 0 || cp < table[0].low || cp > table[count - 1].high) return false;
  std::size_t lo = 0, hi = count;  // the range holding cp, if any, is in [lo, hi)
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (cp < table[mid].low) {
      hi = mid;
    } else if (cp > table[mid].high) {
      lo = mid + 1;
    } else {
      return true;
    }
  }
  return false;
}

namespace detail {

int char_width_table(u32 cp) {
  if (cp == 0) return 0;
  if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
  if (in_ranges(cp, tables::zero_width, tables::zero_width_count)) return 0;
  if (in_ranges(cp, tables::double_width, tables::double_width_count)) return 2;
  return 1;
}

}  // namespace detail

int char_width_wide_ambiguous(u32 cp) {
  if (in_ranges(cp, tables::ambiguous_width, tables::ambiguous_width_count)) return 2;
  return char_width(cp);
}

}  // namespace zot::unicode

// ---------------------------------------------------------------------------
// Case mapping

namespace zot::case_ {

namespace detail {

namespace {

u32 search_pairs(const u32 (*pairs)[2], std::size_t count, u32 cp) {
  std::size_t lo = 0, hi = count;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (pairs[mid][0] < cp) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < count && pairs[lo][0] == cp ? pairs[lo][1] : cp;
}

}  // namespace

u32 fold_astral(u32 cp, bool upper) {
  using namespace unicode::tables;
  return upper ? search_pairs(upper_astral, upper_astral_count, cp)
               : search_pairs(lower_astral, lower_astral_count, cp);
}

}  // namespace detail

}  // namespace zot::case_

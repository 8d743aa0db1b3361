// Text buffers: building, reading, changing, comparing and molding strings.

#include "datatypes/string.h"

#include <string>
#include <type_traits>

#include "runtime/actions.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/print.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::string {

namespace {

ZOT_NORETURN ZOT_NOINLINE void bad_unit() { runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS()); }

// The unit of a text buffer; anything but 1, 2 or 4 is an internal fault.
ZOT_INLINE u32 unit_of(const Series* b) {
  u32 unit = b->unit();
  if (ZOT_UNLIKELY(unit != 1 && unit != 2 && unit != 4)) bad_unit();
  return unit;
}

ZOT_INLINE void put_char(u8* p, u32 unit, u32 cp) {
  if (unit == 1) {
    *p = u8(cp);
  } else if (unit == 2) {
    p[0] = u8(cp);
    p[1] = u8(cp >> 8);
  } else {
    std::memcpy(p, &cp, 4);
  }
}

// The buffer with room for extra more bytes at its tail; a full buffer at
// least doubles, so appending stays amortised constant time.
Series* grow(Series* b, u64 extra) {
  if (ZOT_LIKELY(u64(b->tail) + extra <= b->size)) return b;
  u64 used = b->tail - b->head;
  u64 want = b->size ? u64(b->size) * 2 : 16;
  while (want < used + extra) want *= 2;
  if (want > mem::kMaxSeriesBytes) {
    if (used + extra > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
    want = mem::kMaxSeriesBytes;
  }
  return mem::expand_series(b, u32(align_up(want, 16)));
}

// Appending at the tail: unit 1 takes 0-127 only.
ZOT_INLINE Series* widen_for_append(Series* b, u32 cp) {
  u32 unit = unit_of(b);
  if (unit == 1 && cp > 0x7F) return cp > 0xFFFF ? unicode::widen_1_to_4(b) : unicode::widen_1_to_2(b);
  if (unit == 2 && cp > 0xFFFF) return unicode::widen_2_to_4(b);
  return b;
}

// Writing over a unit, inserting or poking: unit 1 takes 0-255.
ZOT_INLINE Series* widen_for_write(Series* b, u32 cp) {
  u32 unit = unit_of(b);
  if (unit == 1 && cp > 0xFF) return cp > 0xFFFF ? unicode::widen_1_to_4(b) : unicode::widen_1_to_2(b);
  if (unit == 2 && cp > 0xFFFF) return unicode::widen_2_to_4(b);
  return b;
}

// The index of a value clamped into [0, length], without writing it back.
ZOT_INLINE i32 clamped_index(const Cell* s, const Series* b) {
  i32 idx = index_of(s);
  i32 len = i32(b->length());
  return idx < 0 ? 0 : idx > len ? len : idx;
}

// The node holding a text value's units, and the index to read from.
struct TextRef {
  Node node;
  i32 index;
};

// The name of a symbol as a string! (made once, then kept in the symbol cell).
Node symbol_name(const Cell* sym) {
  if (sym->symbol_string()) return sym->symbol_string();
  mem::Series* table = mem::series_of(symbol::g_block);
  u32 id;
  if (sym >= table->cells() && sym < table->cells_tail()) {
    id = u32(sym - table->cells()) + 1;
  } else {
    // A copy of a symbol cell: find its id by its name.
    mem::Series* name = mem::series_of(sym->symbol_bytes());
    std::string text(reinterpret_cast<const char*>(name->head_ptr()), name->length());
    id = symbol::make_from_bytes(reinterpret_cast<const u8*>(text.data()), u32(text.size()));
  }
  std::size_t len = 0;
  // The name lives in a buffer that the new string's allocation may move.
  std::string name(symbol::name_text(id), symbol::name_length(id));
  Node n = unicode::utf8_to_new_string(reinterpret_cast<const u8*>(name.data()), u32(name.size()), &len, false);
  symbol::get(id)->set_symbol_string(n);
  return n;
}

TextRef text_of(const Cell* v) {
  if (v->is(T_SYMBOL)) return TextRef{symbol_name(v), 0};
  return TextRef{v->series_node(), index_of(v)};
}

// Units from the index to the tail (0 for an index outside the text).
ZOT_INLINE i32 units_from(const Series* b, i32 index) {
  i32 len = i32(b->length());
  if (index < 0) index = 0;
  return index >= len ? 0 : len - index;
}

bool is_text_key(TypeId t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_EMAIL || t == T_REF;
}

// The letter after "^" in molded text for code points 0-94 (0 = none).
constexpr char kEscapes[95] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-', '/', 'K', 'L', 'M', 'N', 'O',   // 0-15
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', '^', '_',  // 16-31
    0,   0,   '"', 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 32-47
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 48-63
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 64-79
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   '^',       // 80-94
};

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

// ---------------------------------------------------------------------------
// Making

Cell* make_at(Cell* cell, u32 capacity) {
  Node n = mem::alloc_series(capacity ? capacity : 1, 1, 0);
  return make_cell(cell, T_STRING, 0, n, 0);
}

Cell* make_at_unit(Cell* cell, u32 capacity, u32 unit) {
  if (unit != 1 && unit != 2 && unit != 4) bad_unit();
  Node n = mem::alloc_series(capacity ? capacity : 1, unit, 0);
  return make_cell(cell, (cell->header & ~kCellTypeMask) | T_STRING, 0, n, 0);
}

Cell* push(const Cell* s) { return stack::push(s); }

// ---------------------------------------------------------------------------
// Lengths and positions

i32 total_length(const Cell* s) { return i32(buffer_of(s)->length()); }

bool index_at_tail(const Cell* s) {
  const Series* b = buffer_of(s);
  return index_of(s) >= i32(b->length());
}

u8* index_pointer(Cell* s) {
  Series* b = buffer_of(s);
  i32 len = i32(b->length());
  i32 idx = index_of(s);
  if (idx > len) {
    idx = len;
    s->set_series_index(len);
  }
  if (idx < 0) idx = 0;
  return b->head_ptr() + u64(idx) * unit_of(b);
}

u8* tail_pointer(const Cell* s) { return buffer_of(s)->tail_ptr(); }

// ---------------------------------------------------------------------------
// Reading

u32 char_at(const Cell* s, i32 index) {
  Series* b = buffer_of(s);
  u32 unit = unit_of(b);
  return get_char(b->head_ptr() + u64(index) * unit, unit);
}

i32 find_char(const Cell* s, u32 cp) {
  Series* b = buffer_of(s);
  u32 unit = unit_of(b);
  i32 idx = clamped_index(s, b);
  i32 n = i32(b->length()) - idx;
  const u8* p = b->head_ptr() + u64(idx) * unit;
  for (i32 i = 0; i < n; ++i)
    if (get_char(p + u64(i) * unit, unit) == cp) return i;
  return -1;
}

bool char_in_records(const Cell* s, u32 cp, i32 record, bool case_sensitive) {
  Series* b = buffer_of(s);
  u32 unit = unit_of(b);
  if (record < 1) record = 1;
  if (!case_sensitive) cp = case_::upper_char(cp);
  i32 len = i32(b->length());
  for (i32 i = clamped_index(s, b); i < len; i += record) {
    u32 c = get_char(b->head_ptr() + u64(i) * unit, unit);
    if (!case_sensitive) c = case_::upper_char(c);
    if (c == cp) return true;
  }
  return false;
}

bool starts_with(const Cell* s, const char* text) {
  Series* b = buffer_of(s);
  u32 unit = unit_of(b);
  i32 idx = clamped_index(s, b);
  i32 n = i32(b->length()) - idx;
  const u8* p = b->head_ptr() + u64(idx) * unit;
  i32 i = 0;
  for (; text[i]; ++i) {
    if (i >= n) return false;
    if (get_char(p + u64(i) * unit, unit) != u8(text[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Changing

Cell* reset(Cell* s) {
  Series* b = buffer_of(s);
  b->tail = b->head;
  b->flags = (b->flags & ~mem::kUnitMask) | 1u;
  s->set_series_index(0);
  return s;
}

Series* truncate_at(Series* b, i32 index) {
  if (index < 0) return b;
  u64 at = b->head + u64(index) * unit_of(b);
  if (at < b->size && at < b->tail) b->tail = u32(at);
  return b;
}

Cell* remove_part(Cell* s, i32 index, i32 count) {
  Series* b = buffer_of(s);
  u32 unit = unit_of(b);
  i32 len = i32(b->length());
  if (index < 0 || index >= len || count <= 0) return s;
  if (count > len - index) count = len - index;
  u8* p = b->head_ptr() + u64(index) * unit;
  std::memmove(p, p + u64(count) * unit, u64(len - index - count) * unit);
  b->tail -= u32(count) * unit;
  return s;
}

Cell* remove_char(Cell* s, i32 index) { return remove_part(s, index, 1); }

Series* append_char(Series* b, u32 cp) {
  b = widen_for_append(b, cp);
  u32 unit = b->unit();
  b = grow(b, unit);
  put_char(b->tail_ptr(), unit, cp);
  b->tail += unit;
  return b;
}

Series* poke_char(Series* b, i32 index, u32 cp) {
  b = widen_for_write(b, cp);
  u32 unit = b->unit();
  i32 len = i32(b->length());
  if (index < 0) index = 0;
  if (index >= len) {
    b = grow(b, unit);
    put_char(b->tail_ptr(), unit, cp);
    b->tail += unit;
    return b;
  }
  put_char(b->head_ptr() + u64(index) * unit, unit, cp);
  return b;
}

Series* insert_char(Series* b, i32 index, u32 cp) {
  b = widen_for_write(b, cp);
  u32 unit = b->unit();
  b = grow(b, unit);
  i32 len = i32(b->length());
  if (index < 0) index = 0;
  if (index > len) index = len;
  u8* p = b->head_ptr() + u64(index) * unit;
  std::memmove(p + unit, p, u64(len - index) * unit);
  put_char(p, unit, cp);
  b->tail += unit;
  return b;
}

Series* write_char(Series* b, u8* at, u32 cp) {
  i32 index = i32((at - b->head_ptr()) / i64(unit_of(b)));
  return poke_char(b, index, cp);
}

Series* widen_to(Series* b, u32 current, u32 wanted) {
  if (wanted <= current) return b;
  if (current == 1) return wanted == 2 ? unicode::widen_1_to_2(b) : unicode::widen_1_to_4(b);
  return unicode::widen_2_to_4(b);
}

Series* copy_widened(Series* src, Series* dst, u32 new_unit, int mode, i32 from, i32 to, i32 end) {
  u32 unit = unit_of(src);
  if (new_unit != 1 && new_unit != 2 && new_unit != 4) bad_unit();
  if (from < 0) from = 0;
  if (to < from) to = from;
  if (!dst) {
    Node sn = src->node;
    i32 room = end > to - from ? end : to - from;
    dst = mem::series_of(mem::alloc_series(u32(room ? room : 1), new_unit, 0));
    if (sn) src = mem::series_of(sn);  // the allocation may have moved it
  }
  const u8* s = src->head_ptr();
  u8* d = dst->head_ptr();
  for (i32 i = from; i < to; ++i) put_char(d + u64(i - from) * new_unit, new_unit, get_char(s + u64(i) * unit, unit));
  if (mode == 0) {
    dst->tail = dst->head + u32(to - from) * new_unit;
    dst->flags = (dst->flags & ~mem::kUnitMask) | new_unit;
  }
  return dst;
}

Series* append_c_text_n(Cell* s, const char* text, std::size_t n) {
  Series* b = buffer_of(s);
  u32 unit = unit_of(b);
  const u8* t = reinterpret_cast<const u8*>(text);
  if (unit == 1) {
    std::size_t ascii = 0;
    while (ascii < n && t[ascii] < 0x80) ++ascii;
    b = grow(b, ascii);
    std::memcpy(b->tail_ptr(), t, ascii);
    b->tail += u32(ascii);
    if (ascii == n) return b;
    // A byte from 128 widens the buffer; the rest goes unit by unit.
    t += ascii;
    n -= ascii;
    b = widen_for_append(b, t[0]);
    unit = b->unit();
  }
  b = grow(b, u64(n) * unit);
  u8* p = b->tail_ptr();
  for (std::size_t i = 0; i < n; ++i) put_char(p + i * unit, unit, t[i]);
  b->tail += u32(n) * unit;
  return b;
}

Series* append_c_text(Cell* s, const char* text) { return append_c_text_n(s, text, std::strlen(text)); }

std::size_t append_utf8_text(Cell* s, const char* text, std::size_t n) {
  const u8* p = reinterpret_cast<const u8*>(text);
  const u8* end = p + n;
  std::size_t count = 0;
  while (p < end) {
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, end, cp);
    if (next <= p) next = p + 1;
    append_char(buffer_of(s), cp < 0 ? 0xFFFD : u32(cp));
    p = next;
    count++;
  }
  return count;
}

Series* concatenate(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source, int mode) {
  TextRef src = text_of(source);
  Node tn = target->series_node();
  Series* b = mem::series_of(tn);
  u32 tu = unit_of(b);
  u32 su = unit_of(mem::series_of(src.node));
  if (tu < su) {
    b = widen_to(b, tu, su);
    tu = su;
  } else if (tu > su && !keep_source) {
    widen_to(mem::series_of(src.node), su, tu);
    su = tu;
    b = mem::series_of(tn);  // the widening may have allocated
  }
  i32 count = units_from(mem::series_of(src.node), src.index);
  if (part >= 0 && part < count) count = part;
  if (count <= 0) return b;
  if (src.index < 0) src.index = 0;

  u64 added = u64(count) * tu;
  if (u64(b->tail) + added > b->size) {
    u64 want = 2 * (u64(b->tail - b->head) + added);
    if (want > mem::kMaxSeriesBytes) {
      if (u64(b->tail - b->head) + added > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
      want = mem::kMaxSeriesBytes;
    }
    b = mem::expand_series(b, u32(align_up(want, 16)));
  }
  // Only now may raw pointers be taken: nothing below allocates.
  Series* sb = mem::series_of(src.node);
  i32 len = i32(b->length());
  i32 pos = len;
  if (mode != kConcatAppend) {
    pos = clamped_index(target, b) + offset;
    pos = pos < 0 ? 0 : pos > len ? len : pos;
  }
  u8* dst = b->head_ptr() + u64(pos) * tu;
  const u8* from = sb->head_ptr() + u64(src.index) * su;
  u32 old_tail = b->tail;
  if (mode == kConcatInsert) {
    std::memmove(dst + added, dst, u64(len - pos) * tu);
    if (sb == b && src.index + count > pos) {
      // Inserting a string into itself: the part of the source at or after
      // the insertion point has just moved up by count units.
      i32 before = pos > src.index ? pos - src.index : 0;
      std::memmove(dst, from, u64(before) * tu);
      std::memmove(dst + u64(before) * tu, from + (u64(before) + u64(count)) * tu, u64(count - before) * tu);
      b->tail = old_tail + u32(added);
      return b;
    }
  }
  if (su == tu) {
    std::memmove(dst, from, added);
  } else {
    // A narrower source kept as it is: units are converted one by one.
    for (i32 i = 0; i < count; ++i) put_char(dst + u64(i) * tu, tu, get_char(from + u64(i) * su, su));
  }
  u32 copy_end = u32(dst + added - b->data());
  if (mode == kConcatAppend) b->tail = copy_end;
  else if (mode == kConcatInsert) b->tail = old_tail + u32(added);
  else b->tail = copy_end > old_tail ? copy_end : old_tail;
  return b;
}

void move_units(Cell* source, Cell* target, i32 count) {
  i32 avail = length_at(source);
  if (count > avail) count = avail;
  if (count <= 0) return;
  i32 si = index_of(source) < 0 ? 0 : index_of(source);
  i32 ti = clamped_index(target, buffer_of(target));
  for (i32 i = 0; i < count; ++i) insert_char(buffer_of(target), ti + i, char_at(source, si + i));
  remove_part(source, si, count);
}

// ---------------------------------------------------------------------------
// Comparison

i32 compare_values(const Cell* a, const Cell* b, i32 op, bool match) {
  bool same = !a->is(T_SYMBOL) && !b->is(T_SYMBOL) && a->series_node() == b->series_node() &&
              a->series_index() == b->series_index();
  if (op == actions::kSame) return same ? 0 : -1;
  if (same && (op == actions::kEqual || op == actions::kNotEqual || op == actions::kStrictEqual ||
               op == actions::kFindEqual))
    return 0;
  TextRef ra = text_of(a);
  TextRef rb = text_of(b);
  // Symbol names are made above; nothing below allocates.
  Series* sa = mem::series_of(ra.node);
  Series* sb = mem::series_of(rb.node);
  u32 ua = unit_of(sa), ub = unit_of(sb);
  i32 len_a = units_from(sa, ra.index);
  i32 len_b = units_from(sb, rb.index);
  i32 n;
  if (match) {
    if (len_b == 0) return op == actions::kFindEqual ? 1 : 0;
    if (len_a < len_b) return 1;
    n = len_b;
  } else {
    if (len_a != len_b) {
      if (op == actions::kEqual || op == actions::kNotEqual || op == actions::kStrictEqual ||
          op == actions::kFindEqual || len_b == 0)
        return 1;
    } else if (len_a == 0) {
      return 0;
    }
    n = len_a < len_b ? len_a : len_b;
  }
  const u8* pa = sa->head_ptr() + u64(ra.index < 0 ? 0 : ra.index) * ua;
  const u8* pb = sb->head_ptr() + u64(rb.index < 0 ? 0 : rb.index) * ub;
  // Case folding maps both sides to upper case whatever their units, so
  // equal letters compare alike in any pair of widths.
  bool fold = op != actions::kStrictEqual && op != actions::kCaseSortOrder;
  for (i32 i = 0; i < n; ++i) {
    u32 ca = get_char(pa + u64(i) * ua, ua);
    u32 cb = get_char(pb + u64(i) * ub, ub);
    if (fold) {
      ca = case_::upper_char(ca);
      cb = case_::upper_char(cb);
    }
    if (ca != cb) return ca > cb ? 1 : -1;
  }
  if (match) return 0;
  return len_a < len_b ? -1 : len_a > len_b ? 1 : 0;
}

bool angle_enclosed(const Cell* series, const Cell* key) {
  const Series* b = buffer_of(series);
  i32 len = i32(b->length());
  i32 idx = index_of(series);
  i32 key_len = units_from(buffer_of(key), index_of(key));
  if (idx < 0 || i64(idx) + key_len + 1 >= len) return false;
  return char_at(series, idx) == '<' && char_at(series, idx + key_len + 1) == '>';
}

bool match_at(const Cell* series, const Cell* key, i32 op) {
  TypeId t = key->type();
  if (is_text_key(t)) return compare_values(series, key, op, true) == 0;
  if (t == T_CHAR) {
    const Series* b = buffer_of(series);
    i32 idx = index_of(series);
    if (idx < 0 || idx >= i32(b->length())) return false;
    u32 c = char_at(series, idx);
    u32 k = key->char_value();
    if (op != actions::kStrictEqual) {
      c = case_::upper_char(c);
      k = case_::upper_char(k);
    }
    return c == k;
  }
  if (t == T_TAG) {
    if (!angle_enclosed(series, key)) return false;
    Cell inner = *series;
    inner.set_series_index(inner.series_index() + 1);
    return compare_values(&inner, key, op, true) == 0;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Text of values

const char* byte_to_hex(u8 byte) {
  static char text[3];
  text[0] = kHexDigits[byte >> 4];
  text[1] = kHexDigits[byte & 15];
  text[2] = 0;
  return text;
}

const char* to_hex(i32 value, bool trim) {
  static char text[9];
  text[8] = 0;
  int i = 8;
  i32 stop = value < 0 ? -1 : 0;
  for (i32 v = value; v != stop && i > 0; v >>= 4) text[--i] = kHexDigits[v & 15];
  if (trim) return value == 0 ? "00" : text + i;
  while (i > 0) text[--i] = value < 0 ? 'F' : '0';
  return text;
}

double to_float(const char* text, i32 length, bool* error) {
  int unread = 0;
  double d = dtoa::text_to_float(text, text + (length < 0 ? 0 : length), 0, &unread);
  if (error) *error = unread != 0 || length <= 0;
  return d;
}

Series* append_escaped_char(Cell* out, u32 cp, bool all) {
  Series* b = buffer_of(out);
  // A lone surrogate is escaped too: written plain it has no UTF-8 form, and
  // the escape loads back to it.
  if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127) || (cp >= 0xD800 && cp <= 0xDFFF)) {
    b = append_char(b, '^');
    b = append_char(b, '(');
    for (const char* h = to_hex(i32(cp), true); *h; ++h) b = append_char(b, u8(*h));
    return append_char(b, ')');
  }
  if (cp < 95 && kEscapes[cp]) {
    b = append_char(b, '^');
    return append_char(b, u8(kEscapes[cp]));
  }
  if (cp == 127) {
    b = append_char(b, '^');
    return append_char(b, '~');
  }
  return append_char(b, cp);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  // The value may share its buffer with out: its units are read again through
  // the node after every append.
  TextRef src = text_of(value);
  Series* sb = mem::series_of(src.node);
  i32 idx = src.index < 0 ? 0 : src.index;
  i32 rest = units_from(sb, idx);
  i32 n = rest;
  if (o.limit && part < n) n = part < 0 ? 0 : part;

  // Delimiters: braces for text with 3 or more line feeds, any double quote,
  // or 50 units or more. In braces, the first "{" that no "}" closes and every
  // "{" after it are escaped.
  i32 quotes = 0, lines = 0, depth = 0;
  i32 unclosed = n;  // index of the first unclosed "{", n when none
  {
    u32 u = unit_of(sb);
    const u8* p = sb->head_ptr() + u64(idx) * u;
    i32 bottom = n;
    for (i32 i = 0; i < n; ++i) {
      u32 c = get_char(p + u64(i) * u, u);
      if (c == '"') ++quotes;
      else if (c == '\n') ++lines;
      else if (c == '{') {
        if (depth == 0) bottom = i;
        ++depth;
      } else if (c == '}' && depth > 0) {
        --depth;
      }
    }
    if (depth > 0) unclosed = bottom;
  }
  bool braces = lines >= 3 || quotes > 0 || rest >= 50;

  Series* ob = append_char(buffer_of(out), braces ? '{' : '"');
  depth = 0;
  for (i32 i = 0; i < n; ++i) {
    Series* s = mem::series_of(src.node);
    u32 u = unit_of(s);
    u32 c = get_char(s->head_ptr() + u64(idx + i) * u, u);
    if (braces) {
      if (c == '{') {
        if (i < unclosed) {
          ++depth;
          ob = append_char(ob, '{');
        } else {
          ob = append_char(ob, '^');
          ob = append_char(ob, '{');
        }
        continue;
      }
      if (c == '}') {
        if (depth == 0) {
          ob = append_char(ob, '^');
        } else {
          --depth;
        }
        ob = append_char(ob, '}');
        continue;
      }
      if (c == '"') {
        ob = append_char(ob, '"');
        continue;
      }
    }
    ob = append_escaped_char(out, c, o.all);
  }
  append_char(buffer_of(out), braces ? '}' : '"');
  return part - n - 2;
}

static_assert(std::is_same_v<decltype(&mold), actions::MoldFn>, "mold fills the mold slot");
static_assert(std::is_same_v<decltype(&form), actions::FormFn>, "form fills the form slot");

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  TextRef src = text_of(value);
  i32 n = units_from(mem::series_of(src.node), src.index);
  if (limit) {
    if (part <= 0) return part;
    if (part < n) n = part;
  }
  concatenate(out, value, n, 0, true, kConcatAppend);
  return part - n;
}

// ---------------------------------------------------------------------------
// Loading bytes

Cell* load_bytes_at(const u8* bytes, u32 length, Cell* target, int encoding) {
  Cell* cell = target ? target : stack::reserve_slot();
  set_unset(cell);
  Node n;
  if (encoding == kEncodingUtf8) {
    n = unicode::utf8_to_new_string(bytes, length, nullptr, false);
  } else if (encoding == kEncodingUtf16le) {
    n = unicode::utf16le_to_string(bytes, length / 2, 0, false);
  } else {
    static const char kMessage[] = "*** Loading Error: input encoding unsupported\n";
    runtime::print_text(kMessage, sizeof kMessage - 1);
    // A caller asking for an encoding that does not exist is a fault of the
    // program, not a normal end: the status says so.
    runtime::exit_process(1);
  }
  return make_cell(cell, T_STRING, 0, n, 0);
}

Cell* load_bytes(const u8* bytes, u32 length, int encoding) {
  return load_bytes_at(bytes, length, nullptr, encoding);
}

// ---------------------------------------------------------------------------
// C++ conveniences

std::string to_utf8(const Cell* s) {
  std::string text(unicode::utf8_size_of(s, -1), '\0');
  if (!text.empty()) unicode::write_utf8(s, reinterpret_cast<u8*>(text.data()), -1, false);
  return text;
}

Cell* make_from_utf8(Cell* out, const char* text, std::size_t length) {
  Node n = unicode::utf8_to_new_string(reinterpret_cast<const u8*>(text), length, nullptr, false);
  return make_cell(out, T_STRING, 0, n, 0);
}

}  // namespace zot::string

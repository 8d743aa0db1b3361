// string! actions: conversion, path access, search, sort, the modifying
// actions and the set operations on text.
//
// Raw unit pointers are taken only after the last step that may allocate,
// raise an error or run Zot code; everything before that holds nodes and
// indexes.

#include "datatypes/string_actions.h"

#include "datatypes/bitset.h"

#include <algorithm>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "runtime/actions.h"
#include "runtime/comparator.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/services.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zot::string {

using series::bad_refine;
using series::Change;

namespace {

constexpr i32 kNoLimit = 0x7FFFFFFF;
// bitset! buffers: the negation flag answers for code points past the bits.


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

ZOT_INLINE u32 unit_at(const Series* b, i64 i) {
  u32 unit = b->unit();
  return get_char(b->head_ptr() + u64(i) * unit, unit);
}

ZOT_NORETURN void out_of_range(const Cell* v) { raise_error(Err::ScriptOutOfRange, v); }

ZOT_NORETURN void no_memory() { raise_error(Err::InternalNoMemory); }


Cell* push_none() { return stack::push(&datatype::g_none); }

// The index clamped to [0, tail], written back when it lay past the tail.
ZOT_INLINE bool same_series(const Cell* s, const Cell* other) {
  return other->type() == s->type() && other->series_node() == s->series_node();
}

// Room for extra more bytes at the tail; a full buffer at least doubles.
Series* ensure_room(Node n, u64 extra) {
  Series* b = mem::series_of(n);
  if (u64(b->tail) + extra <= b->size) return b;
  u64 used = b->bytes_used();
  if (used + extra > mem::kMaxSeriesBytes) no_memory();
  u64 want = std::max<u64>(u64(b->size) * 2, used + extra);
  if (want > mem::kMaxSeriesBytes) want = mem::kMaxSeriesBytes;
  return mem::expand_series(b, u32(align_up(want, 16)));
}

// The series cut back to len units (the tail only moves down).
void truncate_units(Node n, i32 len) {
  Series* b = mem::series_of(n);
  if (i32(b->length()) > len) b->tail = b->head + u32(len) * b->unit();
}

// Forms any value onto the string's tail through its own form slot.
void form_onto(Cell* out, const Cell* value, const Cell* limit, i32 part) {
  Cell v = *value;
  actions::lookup<actions::kForm>(v.type())(&v, out, limit, part);
}

// ---------------------------------------------------------------------------
// The text of a value, appended at the tail (append, insert, change, to)

// Units the value's text takes and the unit it needs, when known before it is
// written (text and char!); false for values that are formed.
bool known_text_size(const Cell* v, i32 part, u64* count, u32* unit) {
  u32 t = v->type();
  if (t == T_CHAR) {
    *count = 1;
    *unit = unit_for_char(v->char_value());
    return true;
  }
  if (!is_any_string(t)) return false;
  Cell c = *v;
  i64 n = length_at(&c) + (t == T_TAG ? 2 : 0);
  if (part >= 0 && part < n) n = part;
  *count = u64(n);
  *unit = buffer_of(v)->unit();
  return true;
}

// The size check that runs before anything is changed: the new size in
// bytes must fit a series.
void check_size(const Cell* s, const Cell* v, i32 part, i32 dup) {
  u64 count;
  u32 unit;
  if (!known_text_size(v, part, &count, &unit)) return;
  const Series* b = buffer_of(s);
  u64 units = count * u64(dup) + b->length();
  if (units * std::max(unit, b->unit()) > mem::kMaxSeriesBytes) no_memory();
}

// Appends the value's text at the series' tail; returns the units added.
// part limits text units (for a block: elements, or with only units).
i32 append_text(Cell* s, const Cell* value, i32 part, bool only) {
  Node n = s->series_node();
  i32 before = i32(mem::series_of(n)->length());
  Cell v = *value;
  u32 t = v.type();
  if (t == T_CHAR) {
    append_char(mem::series_of(n), v.char_value());
  } else if (t == T_TAG) {
    i32 len = length_at(&v);
    i64 budget = len + 2;
    if (part >= 0 && part < budget) budget = part;
    if (budget-- > 0) append_char(mem::series_of(n), '<');
    if (budget > 0) {
      i32 k = i32(std::min<i64>(budget, len));
      if (k > 0) concatenate(s, &v, k, 0, false, kConcatAppend);
      budget -= k;
    }
    if (budget > 0) append_char(mem::series_of(n), '>');
  } else if (is_any_string(t)) {
    concatenate(s, &v, part, 0, false, kConcatAppend);
  } else if (is_any_block(t)) {
    i32 total = i32(series::buffer_of(&v)->length());
    i32 first = std::clamp(series::index_of(&v), 0, total);
    i32 last = total;
    if (!only && part >= 0 && part < total - first) last = first + part;
    i32 budget = only && part >= 0 ? part : -1;
    for (i32 i = first; i < last; i++) {
      if (budget == 0) break;
      Series* bb = series::buffer_of(&v);
      if (i >= i32(bb->length())) break;
      Cell elem = bb->cells()[i];
      if (budget < 0) {
        form_onto(s, &elem, nullptr, kNoLimit);
        continue;
      }
      i32 at = i32(mem::series_of(n)->length());
      Cell lim;
      set_integer(&lim, budget);
      form_onto(s, &elem, &lim, budget);
      i32 added = i32(mem::series_of(n)->length()) - at;
      if (added > budget) {
        truncate_units(n, at + budget);
        added = budget;
      }
      budget -= added;
    }
  } else if (only && part >= 0) {
    Cell lim;
    set_integer(&lim, part);
    form_onto(s, &v, &lim, part);
    truncate_units(n, before + part);
  } else {
    form_onto(s, &v, nullptr, kNoLimit);
  }
  return i32(mem::series_of(n)->length()) - before;
}

// The added units [from, from + added) repeated to dup copies in place.
// Returns the units added in all. Past the size limit the added text is taken
// back before the error, so the series is as it was.
i32 repeat_added(Cell* s, i32 from, i32 added, i32 dup) {
  if (dup < 2 || added == 0) return added;
  Node n = s->series_node();
  u32 unit = mem::series_of(n)->unit();
  u64 more = u64(added) * u64(dup - 1) * unit;
  if (u64(mem::series_of(n)->bytes_used()) + more > mem::kMaxSeriesBytes) {
    truncate_units(n, from);
    no_memory();
  }
  Series* b = ensure_room(n, more);
  mem::copy_repeat(b->head_ptr() + u64(from) * unit, u32(added) * unit, u32(dup));
  b->tail += u32(more);
  return added * dup;
}

// Units [mid, end) moved in front of [from, mid).
void rotate_units(Node n, i32 from, i32 mid, i32 end) {
  if (from >= mid || mid >= end) return;
  Series* b = mem::series_of(n);
  u32 unit = b->unit();
  u8* base = b->head_ptr();
  std::rotate(base + u64(from) * unit, base + u64(mid) * unit, base + u64(end) * unit);
}

// A new string! pushed on the stack.
Cell* push_string(u32 capacity) {
  Cell* r = push_none();
  make_at(r, capacity);
  return r;
}

// ---------------------------------------------------------------------------
// Search

ZOT_INLINE u32 fold_upper(u32 cp) { return case_::upper_char(cp); }


bool numbers_equal(const Cell* a, const Cell* b) {
  if (a->is(T_INTEGER) && b->is(T_INTEGER)) return a->int_value() == b->int_value();
  double x = a->is(T_FLOAT) ? a->float_value() : double(a->int_value());
  double y = b->is(T_FLOAT) ? b->float_value() : double(b->int_value());
  return x == y;
}

struct Search {
  i32 pos = -1;  // where the match starts, -1 when none
  i32 len = 0;   // units matched
};

// The search behind find and select.
Search search(Cell* s, Cell* value, const actions::FindOptions& o) {
  Search none;
  u32 st = s->type();
  i32 total = total_length(s);
  if (total == 0) return none;
  if (index_of(s) >= total && !o.reverse) return none;
  if (o.any || o.with) raise_error(Err::InternalNotDone);
  i32 step = 1;
  if (o.skip) {
    if (!o.skip->is(T_INTEGER)) bad_refine("skip", o.skip);
    step = o.skip->int_value();
    if (step < 1) out_of_range(o.skip);
  }
  i32 idx = clamp_index(s);
  i32 end = total;  // forward range [idx, end); backward range [low, idx)
  i32 low = 0;
  if (o.part) {
    i64 len;
    if (o.part->is(T_INTEGER)) {
      len = o.part->int_value();
    } else if (same_series(s, o.part)) {
      len = i64(std::clamp(index_of(o.part), 0, total)) - idx;
      if (o.reverse && len < 0) len = -len;
    } else {
      bad_refine("part", o.part);
    }
    if (len < 1) return none;
    end = i32(std::min<i64>(i64(idx) + len, total));
    low = i32(std::max<i64>(i64(idx) - len, 0));
  }
  if (o.reverse && (o.match || idx == 0)) return none;

  // The key: one unit tested by a rule, or a sequence of units.
  enum Kind { kUnit, kBitset, kNumber, kUnits } kind = kUnits;
  u32 cp = 0;
  Cell key = *value;
  u32 kt = key.type();
  bool binary = st == T_BINARY, vector = st == T_VECTOR;
  stack::TopMark mark;
  if (kt == T_CHAR) {
    kind = kUnit;
    cp = key.char_value();
  } else if (kt == T_BITSET) {
    kind = kBitset;
  } else if ((kt == T_INTEGER || kt == T_FLOAT) && (binary || vector)) {
    kind = kNumber;
    if (binary) cp = u32(runtime::float_to_int(&key));
  } else if (kt == T_BINARY) {
    if (!binary) raise_error(Err::ScriptInvalidArg, &key);
  } else if (!is_any_string(kt)) {
    Cell* tmp = push_string(16);
    form_onto(tmp, &key, nullptr, kNoLimit);
    key = *tmp;
  }
  i32 klen = 1;
  if (kind == kUnits) {
    klen = length_at(&key);
    if (klen == 0) return none;
  }
  bool fold = is_any_string(st) && !o.case_ && !o.same;
  if (fold && kind == kUnit) cp = fold_upper(cp);

  // Nothing below allocates, so raw pointers hold (vector elements are read
  // through the vector service, which writes into a local cell).
  auto matches_at = [&](i32 i) -> bool {
    if (i < 0 || i64(i) + klen > total) return false;
    if (kind == kNumber && vector) {
      Cell elem;
      vector::get_at(s, i, &elem);
      return numbers_equal(&elem, &key);
    }
    const Series* b = buffer_of(s);
    if (kind != kUnits) {
      u32 c = unit_at(b, i);
      if (kind == kBitset) return bitset::has(&key, c);
      if (kind == kNumber) return c == cp;
      return (fold ? fold_upper(c) : c) == cp;
    }
    const Series* kb = buffer_of(&key);
    i32 ki = std::max(index_of(&key), 0);
    for (i32 k = 0; k < klen; k++) {
      u32 a = unit_at(b, i64(i) + k), c = unit_at(kb, i64(ki) + k);
      if (fold) {
        a = fold_upper(a);
        c = fold_upper(c);
      }
      if (a != c) return false;
    }
    return true;
  };

  Search found;
  found.len = klen;
  if (o.match) {
    if (idx + klen <= end && matches_at(idx)) found.pos = idx;
    return found;
  }
  if (o.reverse) {
    for (i64 i = i64(idx) - 1; i >= low; i -= step)
      if (matches_at(i32(i))) {
        found.pos = i32(i);
        return found;
      }
    return found;
  }
  i64 top = i64(end) - klen;  // the last start whose match fits the range
  if (top < idx) return found;
  if (o.last) {
    for (i64 i = idx + (top - idx) / step * step; i >= idx; i -= step)
      if (matches_at(i32(i))) {
        found.pos = i32(i);
        return found;
      }
    return found;
  }
  for (i64 i = idx; i <= top; i += step)
    if (matches_at(i32(i))) {
      found.pos = i32(i);
      return found;
    }
  return found;
}

// Element i (from the head) of a text, binary or vector series as a value.
void element_value(const Cell* s, i32 i, Cell* out) {
  u32 t = s->type();
  if (t == T_VECTOR) {
    vector::get_at(s, i, out);
    return;
  }
  u32 c = unit_at(buffer_of(s), i);
  if (t == T_BINARY)
    set_integer(out, i32(c));
  else
    make_cell(out, T_CHAR, 0, c, 0);
}

// ---------------------------------------------------------------------------
// Sort

// Folding of the default comparator. Text folds every width to upper case,
// as comparison does, so a text sorts the same whatever widths its history
// gave its buffer; binary! folds the ASCII letters only.
enum Fold : u8 { kFoldNone, kFoldUpper, kFoldAscii };

ZOT_INLINE u32 fold_by(u32 c, Fold f) {
  if (f == kFoldUpper) return case_::upper_char(c);
  if (f == kFoldAscii && c >= 'A' && c <= 'Z') return c + 32;
  return c;
}

struct UnitOrder {
  u32 unit;
  u32 offset;  // unit of the record that is compared (not with all)
  u32 count;   // units compared: 1, or the record size with all
  Fold fold;
  bool reverse;
};

int unit_order(const void* a, const void* b, void* context) {
  const UnitOrder& o = *static_cast<const UnitOrder*>(context);
  const u8* pa = static_cast<const u8*>(a) + o.offset * o.unit;
  const u8* pb = static_cast<const u8*>(b) + o.offset * o.unit;
  for (u32 i = 0; i < o.count; i++) {
    u32 x = fold_by(get_char(pa + i * o.unit, o.unit), o.fold);
    u32 y = fold_by(get_char(pb + i * o.unit, o.unit), o.fold);
    if (x != y) {
      int r = x < y ? -1 : 1;
      return o.reverse ? -r : r;
    }
  }
  return 0;
}

// A function comparator works on a copy of the records (code points in 32-bit
// units, outside any series), since the function may run Zot code that moves
// or changes the string; the sorted copy is written back afterwards.
struct CallOrder {
  const Cell* function;
  u32 size;  // units per record
  bool all;
  bool reverse;
  Cell* first;  // work strings for whole records (all)
  Cell* second;
};

void fill_record(Cell* s, const u32* rec, u32 size) {
  reset(s);
  for (u32 i = 0; i < size; i++) append_char(buffer_of(s), rec[i]);
}

int call_order(const void* a, const void* b, void* context) {
  const CallOrder& o = *static_cast<const CallOrder*>(context);
  const u32* ra = static_cast<const u32*>(a);
  const u32* rb = static_cast<const u32*>(b);
  if (o.all) {
    fill_record(o.first, ra, o.size);
    fill_record(o.second, rb, o.size);
    return comparator::order(o.function, o.first, o.second, o.reverse);
  }
  Cell x, y;
  make_cell(&x, T_CHAR, 0, ra[0], 0);
  make_cell(&y, T_CHAR, 0, rb[0], 0);
  return comparator::order(o.function, &x, &y, o.reverse);
}


// ---------------------------------------------------------------------------
// Trim

bool is_space(u32 c) {
  return (c >= 1 && c <= 32) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The spaces that may stand at the start or end of a line inside the text.
bool is_line_space(u32 c) {
  return c == 9 || c == 32 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

// The stretch [from, tail) rewritten in place by a filter that writes no more
// units than it reads; the tail ends after the last unit written.
struct Rewriter {
  Series* b;
  u32 unit;
  u8* base;
  i32 w;
  Rewriter(Series* buf, i32 from) : b(buf), unit(buf->unit()), base(buf->head_ptr()), w(from) {}
  u32 at(i32 i) const { return get_char(base + u64(i) * unit, unit); }
  void put(u32 c) { put_unit(base + u64(w++) * unit, unit, c); }
  void finish() { b->tail = b->head + u32(w) * unit; }
};

void trim_all(Cell* s, i32 idx, const Cell* with) {
  u32 one = 0;
  bool single = false;
  Cell set;
  if (with) {
    if (with->is(T_CHAR) || with->is(T_INTEGER)) {
      single = true;
      one = with->is(T_CHAR) ? with->char_value() : u32(with->int_value());
    } else if (with->is(T_STRING) || with->is(T_BINARY)) {
      set = *with;
    } else {
      raise_error(Err::ScriptInvalidArg, with);
    }
  }
  i32 set_len = 0, set_idx = 0;
  if (with && !single) {
    set_len = length_at(&set);
    set_idx = std::max(index_of(&set), 0);
  }
  auto removed = [&](u32 c) {
    if (!with) return c == 9 || c == 10 || c == 13 || c == 32;
    if (single) return c == one;
    const Series* sb = buffer_of(&set);
    for (i32 k = 0; k < set_len; k++)
      if (unit_at(sb, set_idx + k) == c) return true;
    return false;
  };
  Series* b = buffer_of(s);
  Rewriter r(b, idx);
  i32 total = i32(b->length());
  for (i32 i = idx; i < total; i++) {
    u32 c = r.at(i);
    if (!removed(c)) r.put(c);
  }
  r.finish();
}

void trim_lines(Cell* s, i32 idx) {
  Series* b = buffer_of(s);
  Rewriter r(b, idx);
  i32 total = i32(b->length());
  bool pending = false;
  for (i32 i = idx; i < total; i++) {
    u32 c = r.at(i);
    if (is_space(c)) {
      pending = r.w > idx;
      continue;
    }
    if (pending) r.put(' ');
    pending = false;
    r.put(c);
  }
  r.finish();
}

void trim_head_tail(Cell* s, i32 idx, bool head, bool tail) {
  Series* b = buffer_of(s);
  Rewriter r(b, idx);
  i32 start = idx, end = i32(b->length());
  if (head || !tail)
    while (start < end && is_space(r.at(start))) start++;
  bool had_line_feed = false;
  if (tail || !head) {
    while (end > start && is_space(r.at(end - 1))) {
      if (r.at(end - 1) == '\n') had_line_feed = true;
      end--;
    }
  }
  bool inner = !head && !tail;
  i32 spaces = -1;  // start of the line spaces not yet written, -1 when none
  bool line_start = false;
  for (i32 i = start; i < end; i++) {
    u32 c = r.at(i);
    if (inner && is_line_space(c)) {
      if (line_start) continue;  // spaces opening a line are dropped
      if (spaces < 0) spaces = i;
      continue;
    }
    if (spaces >= 0) {
      // Spaces before a line feed end a line: dropped; any others are kept.
      if (c != '\n')
        for (i32 k = spaces; k < i; k++) r.put(r.at(k));
      spaces = -1;
    }
    line_start = inner && c == '\n';
    r.put(c);
  }
  if (spaces >= 0)
    for (i32 k = spaces; k < end; k++) r.put(r.at(k));
  if (inner && had_line_feed) r.put('\n');
  r.finish();
}

}  // namespace

// ---------------------------------------------------------------------------
// make and to

Cell* make(Cell* proto, Cell* spec, int type) {
  u32 t = spec->type();
  if (t == T_INTEGER || t == T_FLOAT) {
    i32 n = runtime::float_to_int(spec);
    if (n < 0) out_of_range(spec);
    return set_type(push_string(u32(n)), u8(type));
  }
  if (type == T_BINARY) {
    if (t == T_MONEY) {
      raise_with_type(Err::ScriptBadMakeArg, T_BINARY, spec);
    }
    return actions::lookup<actions::kTo>(T_BINARY)(proto, spec, type);
  }
  return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)proto;
  Cell v = *spec;
  u32 t = v.type();
  Cell* r;
  if (t == T_NONE) {
    raise_with_type(Err::ScriptBadToArg, T_STRING, spec);
  }
  if (is_any_block(t)) {
    r = push_string(16);
    append_text(r, &v, -1, false);
  } else if (is_any_string(t)) {
    r = push_none();
    series::copy(&v, r, nullptr, false, nullptr);
  } else if (t == T_BINARY) {
    const Series* b = series::buffer_of(&v);
    i32 total = i32(b->length());
    i32 from = std::clamp(series::index_of(&v), 0, total);
    const u8* p = b->head_ptr() + from;
    const u8* end = b->head_ptr() + total;
    // The bytes are checked first, so the error can hold the bad rest.
    for (const u8* q = p; q < end;) {
      i32 cp;
      const u8* next = unicode::decode_utf8_char(q, end, cp);
      if (cp < 0) {
        Cell* bad = push_none();
        u32 n = u32(end - q);
        u32 off = u32(q - b->head_ptr());
        Node bn = mem::alloc_bytes(n);
        const Series* src = series::buffer_of(&v);  // the allocation may have moved it
        Series* dst = mem::series_of(bn);
        std::memcpy(dst->head_ptr(), src->head_ptr() + off, n);
        dst->tail = dst->head + n;
        make_cell(bad, T_BINARY, 0, bn, 0);
        raise_error(Err::AccessInvalidUtf8, bad);
      }
      q = next;
    }
    // Decoding allocates, which may move the binary's buffer: it reads a
    // private copy of the bytes.
    std::vector<u8> bytes(p, end);
    r = push_none();
    Node n = unicode::utf8_to_new_string(bytes.data(), bytes.size(), nullptr, false);
    make_cell(r, T_STRING, 0, n, 0);
  } else {
    r = push_string(16);
    if (t == T_REFINEMENT && type != T_STRING) {
      Cell x = v;
      actions::lookup<actions::kMold>(T_REFINEMENT)(&x, r, actions::MoldOptions{}, kNoLimit);
    } else {
      form_onto(r, &v, nullptr, kNoLimit);
    }
  }
  r->header &= ~kCellNewLine;
  return set_type(r, u8(type));
}

// ---------------------------------------------------------------------------
// Path access

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  if (element->is(T_INTEGER)) {
    if (value) return series::poke(parent, element->int_value(), value, element);
    return series::pick(parent, element->int_value(), element);
  }
  if (element->is(T_WORD)) raise_error(Err::ScriptInvalidPath, o.path, element);
  actions::FindOptions search;
  search.case_ = o.case_;
  if (!value) return select(parent, element, search);
  Cell* found = find(parent, element, search);
  if (!same_series(parent, found)) raise_error(Err::ScriptBadPathSet, o.path, element);
  Cell at = *found;
  return series::poke(&at, 2, value, nullptr);
}

// ---------------------------------------------------------------------------
// compare

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (a->type() != b->type() &&
      (!is_any_string(b->type()) || (op != actions::kEqual && op != actions::kNotEqual)))
    return actions::kNotComparable;
  return compare_values(a, b, op, false);
}

// ---------------------------------------------------------------------------
// append, insert, change

void append(Cell* s, Cell* value, const actions::InsertOptions& o) {
  if (o.dup < 1) return;
  Cell v = *value;
  i32 total = 0, idx = 0;
  bool at_tail = false;
  auto plan = [&] {
    total = total_length(s);
    idx = clamp_index(s);
    at_tail = o.append || idx >= total;
    check_size(s, &v, o.part, o.dup);
  };
  plan();
  bool owned =
      series::ownership_check(s, o.append ? Change::kAppend : Change::kInsert, value, at_tail ? total : idx, o.part);
  if (owned) plan();
  i32 added = append_text(s, &v, o.part, o.only);
  added = repeat_added(s, total, added, o.dup);
  if (!at_tail) rotate_units(s->series_node(), idx, total, total + added);
  if (owned)
    series::ownership_done(s, o.append ? Change::kAppended : Change::kInserted, value, at_tail ? total : idx,
                           o.part < 0 ? 1 : o.part);
  s->set_series_index(o.append ? 0 : (at_tail ? total + added : idx + added));
}

void change(Cell* s, Cell* value, const actions::InsertOptions& o) {
  if (o.dup < 1) return;
  Cell v = *value;
  i32 total = 0, idx = 0, left = 0;
  auto plan = [&] {
    total = total_length(s);
    idx = clamp_index(s);
    left = total - idx;
    check_size(s, &v, -1, o.dup);
  };
  plan();
  // One code point over one unit is written in place by the write rule.
  bool one = v.is(T_CHAR) && o.dup == 1 && (o.part < 0 || o.part == 1);
  i32 noted = one && left > 0 ? 1 : o.part >= 0 ? std::min(o.part, left) : 0;
  bool owned = series::ownership_check(s, Change::kChange, value, idx, noted);
  if (owned) plan();
  if (one && left > 0) {
    poke_char(buffer_of(s), idx, v.char_value());
    if (owned) series::ownership_done(s, Change::kChanged, nullptr, idx, 1);
    s->set_series_index(idx + 1);
    return;
  }
  i32 replaced = o.part >= 0 ? std::min(o.part, left) : -1;
  // The new text goes to the tail first (from the series' own buffer, when
  // it is the value), then moves over the replaced units.
  i32 added = append_text(s, &v, -1, o.only);
  added = repeat_added(s, total, added, o.dup);
  if (replaced < 0) replaced = std::min(added, left);
  rotate_units(s->series_node(), idx + replaced, total, total + added);
  remove_part(s, idx, replaced);
  if (owned) series::ownership_done(s, Change::kChanged, nullptr, idx, added);
  s->set_series_index(idx + added);
}

// ---------------------------------------------------------------------------
// find and select

Cell* find(Cell* s, Cell* value, const actions::FindOptions& o) {
  Search f = search(s, value, o);
  Cell* r = push_none();
  if (f.pos < 0) return r;
  *r = *s;
  r->header &= ~kCellNewLine;
  r->set_series_index(o.tail ? f.pos + f.len : f.pos);
  return r;
}

Cell* select(Cell* s, Cell* value, const actions::FindOptions& o) {
  actions::FindOptions no_match = o;
  no_match.match = false;
  Search f = search(s, value, no_match);
  Cell* r = push_none();
  if (f.pos < 0) return r;
  // The value after the whole match: a formed key counts all its units.
  i32 after = f.pos + f.len;
  if (after >= total_length(s)) return r;
  element_value(s, after, r);
  return r;
}

// ---------------------------------------------------------------------------
// sort

// Also vector!'s sort: the plan reads the generic series position.
Cell* sort(Cell* s, const actions::SortOptions& o) {
  using series::index_of;
  using series::total_length;
  i32 idx = clamp_index(s);
  i32 total = total_length(s);
  i32 start = idx, len = total - idx;
  if (o.part) {
    i64 n;
    if (o.part->is(T_INTEGER))
      n = o.part->int_value();
    else if (same_series(s, o.part))
      n = i64(std::clamp(index_of(o.part), 0, total)) - idx;
    else
      bad_refine("part", o.part);
    if (n < 0) {
      start = i32(std::max<i64>(i64(idx) + n, 0));
      len = idx - start;
    } else if (n < len) {
      len = i32(n);
    }
  }
  i32 size = 1;
  if (o.skip) {
    if (!o.skip->is(T_INTEGER) || o.skip->int_value() < 1) bad_refine("skip", o.skip);
    size = o.skip->int_value();
    if (len > 0 && (len < size || len % size)) bad_refine("skip", o.skip);
  }
  if (o.all && !o.skip) raise_error(Err::ScriptBadRefines);
  u32 offset = 0;
  bool call = false;
  if (o.comparator) {
    if (o.comparator->is(T_INTEGER)) {
      if (!o.skip || o.all) raise_error(Err::ScriptBadRefines);
      i32 at = o.comparator->int_value();
      if (at < 1 || at > size) out_of_range(o.comparator);
      offset = u32(at - 1);
    } else if (comparator::is_function(o.comparator)) {
      call = true;
    } else {
      bad_refine("compare", o.comparator);
    }
  }
  u32 records = u32(len / size);
  if (records < 2) return s;

  bool owned = series::ownership_check(s, Change::kSort, nullptr, start, 0);
  // The owner's handler may have shortened the string.
  i32 left = std::max(total_length(s) - start, 0);
  if (len > left) {
    len = left / size * size;
    records = u32(len / size);
  }
  if (records >= 2) {
    if (s->is(T_VECTOR)) {
      vector::sort_records(s, start, records, u32(size), offset, o.all, o.reverse, o.stable,
                           call ? o.comparator : nullptr);
    } else if (!call) {
      Fold fold = o.case_ ? kFoldNone : s->is(T_BINARY) ? kFoldAscii : kFoldUpper;
      Series* b = buffer_of(s);
      u32 unit = b->unit();
      UnitOrder order{unit, offset, o.all ? u32(size) : 1u, fold, o.reverse};
      sort::records(b->head_ptr() + u64(start) * unit, records, std::size_t(size) * unit, &unit_order, &order, o.stable);
    } else {
      std::vector<u32> work(static_cast<std::size_t>(len));
      const Series* b = buffer_of(s);
      for (i32 i = 0; i < len; i++) work[std::size_t(i)] = unit_at(b, start + i);
      stack::TopMark mark;
      Cell fn = *o.comparator;
      Cell* first = nullptr;
      Cell* second = nullptr;
      if (o.all) {
        first = push_string(u32(size));
        second = push_string(u32(size));
      }
      CallOrder order{&fn, u32(size), o.all, o.reverse, first, second};
      sort::records(work.data(), records, std::size_t(size) * 4, &call_order, &order, o.stable);
      // The comparator may have changed the string: only units that are still
      // there are written back.
      Series* w = buffer_of(s);
      i32 now = i32(w->length());
      for (i32 i = 0; i < len && start + i < now; i++) w = poke_char(w, start + i, work[std::size_t(i)]);
    }
  }
  if (owned) series::ownership_done(s, Change::kSorted, nullptr, start, 0);
  return s;
}

// ---------------------------------------------------------------------------
// swap, take

void swap(Cell* a, Cell* b) {
  u32 tb = b->type();
  if (!is_any_string(tb) && tb != T_BINARY) raise_error(Err::ScriptInvalidArg, b);
  if (index_at_tail(a) || index_at_tail(b)) return;
  i32 ia = std::max(index_of(a), 0), ib = std::max(index_of(b), 0);
  u32 ca = 0, cb = 0;
  auto read = [&] {
    ca = char_at(a, ia);
    cb = char_at(b, ib);
    // A byte series holds bytes only: a wider code point cannot go into it.
    if ((a->is(T_BINARY) && cb > 0xFF) || (b->is(T_BINARY) && ca > 0xFF)) raise_error(Err::ScriptInvalidArg, b);
  };
  read();
  bool oa = series::ownership_check(a, Change::kSwap, nullptr, ia, 1);
  bool ob = series::ownership_check(b, Change::kSwap, nullptr, ib, 1);
  // Either handler may have shortened or rewritten either series.
  bool both = true;
  if (oa || ob) {
    both = !index_at_tail(a) && !index_at_tail(b);
    if (both) read();
  }
  if (both) {
    poke_char(buffer_of(a), ia, cb);
    poke_char(buffer_of(b), ib, ca);
  }
  if (oa) series::ownership_done(a, Change::kSwaped, nullptr, ia, 1);
  if (ob) series::ownership_done(b, Change::kSwaped, nullptr, ib, 1);
}

Cell* take(Cell* s, Cell* part, bool deep, bool last) {
  Cell* r = series::take(s, part, deep, last);
  if (r->is(T_NONE) || part) return r;
  if (series::total_length(r) == 1) {
    Cell taken = *r;
    element_value(&taken, 0, r);
  }
  return r;
}

// ---------------------------------------------------------------------------
// trim

void trim(Cell* s, const actions::TrimOptions& o) {
  if (!o.all && !o.with && o.auto_) raise_error(Err::InternalNotDone);
  i32 idx = clamp_index(s);
  bool owned = series::ownership_check(s, Change::kTrim, nullptr, idx, 0);
  if (owned) idx = clamp_index(s);
  if (o.all || o.with)
    trim_all(s, idx, o.with);
  else if (o.lines)
    trim_lines(s, idx);
  else
    trim_head_tail(s, idx, o.head, o.tail);
  if (owned) series::ownership_done(s, Change::kTrimmed, nullptr, idx, 0);
}

// ---------------------------------------------------------------------------
// Set operations

void set_operation(bool case_, const Cell* skip, int op) {
  i32 size = 1;
  if (skip) {
    if (!skip->is(T_INTEGER) || skip->int_value() < 1) bad_refine("skip", skip);
    size = skip->int_value();
  }
  Cell* first = stack::g_base;
  Cell* second = op == kUnique ? nullptr : stack::g_base + 1;
  clamp_index(first);
  if (second) clamp_index(second);
  u32 room = u32(length_at(first)) + (op == kUnion ? u32(length_at(second)) : 0u);
  stack::TopMark mark;
  Cell* result = push_string(room);
  set_type(result, first->type());

  // Appends the records of from that pass the test against other.
  auto walk = [&](const Cell* from, const Cell* other, bool keep_if_found) {
    Cell rec = *from;
    i32 total = total_length(&rec);
    for (i32 i = index_of(&rec); i < total; i += size) {
      u32 cp = char_at(&rec, i);
      if (char_in_records(result, cp, size, case_)) continue;
      if (other && char_in_records(other, cp, size, case_) != keep_if_found) continue;
      Cell at = rec;
      at.set_series_index(i);
      concatenate(result, &at, size, 0, true, kConcatAppend);
    }
  };
  switch (op) {
    case kUnique:
      walk(first, nullptr, false);
      break;
    case kUnion:
      walk(first, nullptr, false);
      walk(second, nullptr, false);
      break;
    case kIntersect:
      walk(first, second, true);
      break;
    case kExclude:
      walk(first, second, false);
      break;
    case kDifference:
      walk(first, second, false);
      walk(second, first, false);
      break;
    default:
      raise_error(Err::InternalNotDone);
  }
  *first = *result;
  first->header &= ~kCellNewLine;
  stack::g_top = stack::g_base + 1;
  mark.top = stack::g_top;
}

// ---------------------------------------------------------------------------
// Registration

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kRandom, kReflect, kAt, kBack, kClear, kCopy, kHead, kHeadQ, kIndexQ, kLengthQ, kMove, kNext,
                 kPick, kPoke, kRemove, kReverse, kSkip, kTail, kTailQ, kModify})
    slots.inherit(s);
  slots.set<kMake>(&make);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kAppend>(&append);
  slots.set<kChange>(&change);
  slots.set<kFind>(&find);
  slots.set<kInsert>(&append);
  slots.set<kSelect>(&select);
  slots.set<kSort>(&sort);
  slots.set<kSwap>(&swap);
  slots.set<kTake>(&take);
  slots.set<kTrim>(&trim);
  datatype::register_type(T_STRING, T_SERIES, "string!", slots);
}

}  // namespace zot::string

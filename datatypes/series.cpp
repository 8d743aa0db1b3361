#include "datatypes/series.h"

#include <algorithm>

#include "datatypes/context.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/words.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::series {

using mem::Series;


namespace {

// Slot functions that answer "none" hand back this cell; callers copy it.
Cell g_none_answer;

Cell* none_answer() { return set_none(&g_none_answer); }

ZOT_NORETURN void out_of_range(i32 n) {
  Cell c;
  set_integer(&c, n);
  raise_error(Err::ScriptOutOfRange, &c);
}


ZOT_NORETURN void move_bad(u32 a, u32 b) {
  Cell db = datatype_cell(b);
  raise_with_type(Err::ScriptMoveBad, a, &db);
}

ZOT_INLINE bool same_series(const Cell* s, const Cell* other) {
  return other->type() == s->type() && other->series_node() == s->series_node();
}

// The /part argument of remove and reverse as a unit count.
i32 part_count(const Cell* s, const Cell* part) {
  if (part->is(T_INTEGER)) return part->int_value();
  if (same_series(s, part)) return part->series_index() - index_of(s);
  bad_refine("part", part);
}

ZOT_INLINE u8* unit_ptr(Series* b, i64 i) { return b->head_ptr() + (u64(i) << b->unit_shift()); }

// Exchanges n bytes between two places that do not overlap, through a small
// local buffer.
void swap_bytes(u8* a, u8* b, u32 n) {
  u8 tmp[64];
  while (n) {
    u32 k = n < sizeof tmp ? n : u32(sizeof tmp);
    std::memcpy(tmp, a, k);
    std::memcpy(a, b, k);
    std::memcpy(b, tmp, k);
    a += k;
    b += k;
    n -= k;
  }
}

// The element index for pick and poke (from the head), or -1 when out of range.
i64 element_index(const Cell* s, i32 n) {
  if (n == 0) return -1;
  i64 i = i64(index_of(s)) + (n > 0 ? i64(n) - 1 : i64(n));
  if (i < 0 || i >= total_length(s)) return -1;
  return i;
}

// Element i (from the head) of a series that is not a block, as a value.
void read_element(const Cell* s, i64 i, Cell* out) {
  u32 t = s->type();
  if (t == T_VECTOR) {
    vector::get_at(s, i32(i), out);
    return;
  }
  Series* b = buffer_of(s);
  const u8* p = unit_ptr(b, i);
  if (t == T_BINARY) {
    set_integer(out, *p);
    return;
  }
  u32 unit = b->unit();
  make_cell(out, T_CHAR, 0, string::get_char(p, unit > 4 ? 4 : unit), 0);
}

}  // namespace

// ---- shared routines

bool index_at_tail(const Cell* s) { return i64(index_of(s)) >= i64(total_length(s)); }

i32 total_length(const Cell* s) { return i32(buffer_of(s)->length()); }

bool skip_index(Cell* s, i32 n) {
  i64 next = i64(index_of(s)) + n;
  i64 total = total_length(s);
  if (next <= total) s->set_series_index(i32(next));
  return next >= total;
}

void bad_refine(const char* word, const Cell* arg) {
  Cell w = word::name(word);
  raise_error(Err::ScriptInvalidRefineArg, &w, arg);
}

i32 length_at(const Cell* s) {
  i32 total = total_length(s);
  i32 i = std::max(index_of(s), 0);
  return i >= total ? 0 : total - i;
}

i32 clamp_index(Cell* s) {
  i32 total = total_length(s);
  if (index_of(s) > total) s->set_series_index(total);
  return std::max(index_of(s), 0);
}

i32 clamped_length_at(Cell* s) {
  clamp_index(s);
  return length_at(s);
}

i32 position_at(int adjust) {
  Cell* s = stack::g_base;
  Cell* offset = stack::g_base + 1;
  if (!offset->is(T_INTEGER)) raise_error(Err::ScriptInvalidArg, offset);
  i64 off = offset->int_value();
  if (adjust == 1 && off < 1) adjust = 0;
  i64 i = i64(index_of(s)) + off - adjust;
  i64 total = total_length(s);
  if (i < 0) i = 0;
  if (i > total) i = total;
  return i32(i);
}

// ---- owner notifications

namespace {
const w::Id kChangeWords[] = {
    w::poke, w::poked, w::clear, w::cleared, w::remove, w::removed, w::reverse, w::reversed, w::move,
    w::moved, w::take, w::taken, w::random, w::randomized, w::insert, w::inserted, w::append, w::appended,
    w::change, w::changed, w::put, w::put_ed, w::swap, w::swaped, w::trim, w::trimmed, w::sort, w::sorted,
};

bool notify_owner(const Cell* s, Change c, const Cell* value, i32 index, i32 part) {
  if (g_services.series_change) return g_services.series_change(s, int(c), value, index, part);
  // Most series are not owned: one flag test and out.
  if (s->type() != T_IMAGE && !(mem::series_of(ownership::buffer_node(s))->flags & mem::kOwned)) return false;
  return ownership::check(s, words::word(kChangeWords[int(c)]), value, index, part);
}
}  // namespace

const char* change_word(Change c) { return words::text(kChangeWords[int(c)]); }

bool ownership_check(const Cell* s, Change c, const Cell* value, i32 index, i32 part) {
  return notify_owner(s, c, value, index, part);
}

void ownership_done(const Cell* s, Change c, const Cell* value, i32 index, i32 part) {
  notify_owner(s, c, value, index, part);
}

// ---- hash! re-indexing: the table (w3) keeps the block position of every
// cell counted from the head. A hash! without a table is left alone.

namespace {
ZOT_INLINE mem::Node hash_table_of(const Cell* h) { return mem::Node(h->hash_table()); }
}  // namespace

void hash_removed(Cell* h, i32 index, i32 count) {
  mem::Node t = hash_table_of(h);
  if (!t || count <= 0 || index < 0) return;
  // Positions after the removed ones, counted on the block as it stands (some
  // callers report before the cells leave; the extra positions hold nothing).
  u32 after = u32(std::max(total_length(h) - index, 0));
  hashtable::shift_indexes(t, -count, u32(index) + u32(count), after, true);
}

void hash_inserted(Cell* h, i32 index, i32 count) {
  mem::Node t = hash_table_of(h);
  if (!t || count <= 0 || index < 0) return;
  u32 after = u32(std::max(total_length(h) - index - count, 0));
  hashtable::shift_indexes(t, count, u32(index), after, true);
  for (i32 i = index; i < index + count; i++) {
    int status = 0;
    hashtable::put_key_status(t, buffer_of(h)->cells() + i, &status);
    if (status == 2) break;  // the whole block was indexed again
  }
}

void hash_replaced(Cell* h, i32 index) {
  mem::Node t = hash_table_of(h);
  if (!t || index < 0 || index >= total_length(h)) return;
  hashtable::delete_key(t, buffer_of(h)->cells() + index);
  hashtable::put_key(t, buffer_of(h)->cells() + index);
}

void hash_rebuild(Cell* h) {
  mem::Node t = hash_table_of(h);
  if (!t) return;
  // Stale positions beyond the new tail must not survive the rebuild.
  hashtable::fill(mem::Node(hashtable::record(t)->indexes), 0xFF);
  hashtable::rebuild(t, u32(std::max(total_length(h), 4)));
}

void hash_moved(Cell* h, i32 from, i32 to, i32 count) {
  mem::Node t = hash_table_of(h);
  if (!t || from == to || count <= 0 || from < 0 || to < 0) return;
  // A forward move is given by the last position the range ends on.
  u32 target = to > from ? u32(to + count - 1) : u32(to);
  hashtable::move_indexes(t, target, u32(from), u32(count));
}

void hash_new_table(Cell* h) {
  i32 n = std::max(total_length(h), 1);
  mem::Node t = hashtable::init(u32(n), h, hashtable::kHash, 0);
  h->set_hash_table(t);
}

Cell* make_like(const Cell* src, u32 units, Cell* out) {
  mem::Node sn = src->series_node();
  u32 type = src->type();
  u32 per_type = type == T_VECTOR ? src->vector_type() : 0;
  mem::Node n = mem::alloc_units(units, mem::series_of(sn)->unit());
  // The allocation may have moved the source buffer.
  Series* s = mem::series_of(sn);
  Series* d = mem::series_of(n);
  d->flags = (s->flags & ~(mem::kPlacementFlags | mem::kOwned)) | (d->flags & mem::kBig);
  return make_cell(out, type, 0, n, per_type);
}

// ---- cursor actions (frame functions: the series is the result slot)

void at() { stack::g_base->set_series_index(position_at(1)); }
void skip() { stack::g_base->set_series_index(position_at(0)); }

void back() {
  Cell* s = stack::g_base;
  if (index_of(s) > 0) s->set_series_index(index_of(s) - 1);
}

void next() { skip_index(stack::g_base, 1); }
void head() { stack::g_base->set_series_index(0); }
void tail() { stack::g_base->set_series_index(total_length(stack::g_base)); }
void head_q() { set_logic(stack::g_base, index_of(stack::g_base) == 0); }
void tail_q() { set_logic(stack::g_base, index_at_tail(stack::g_base)); }
void index_q() { set_integer(stack::g_base, index_of(stack::g_base) + 1); }

// The entry hands over its own frame cell, so writing a clamped index back is
// what the length rule asks.
i32 length_q(const Cell* s) { return length_at(s); }

// ---- element access

Cell* pick(Cell* s, i32 n, Cell* index_cell) {
  (void)index_cell;
  i64 i = element_index(s, n);
  if (i < 0) return none_answer();
  u32 t = s->type();
  if (is_any_block(t) || t == T_MAP) return buffer_of(s)->cells() + i;
  Cell* out = stack::push(&datatype::g_none);
  read_element(s, i, out);
  return out;
}

Cell* poke(Cell* s_in, i32 n, Cell* value, Cell* index_cell) {
  (void)index_cell;
  // A path hands over the cell that holds the series (an object's field, a
  // block's cell): the owner's handler may replace or move it, and then only
  // this copy keeps the series alive (a wider char allocates after it).
  Rooted kept(*s_in);
  Cell& s = kept.cell;
  Cell v = *value;
  i64 i = element_index(&s, n);
  if (i < 0) out_of_range(n);
  u32 t = s.type();
  bool block = is_any_block(t);
  // The value is checked before the owner hears of a change that would fail.
  if (t == T_BINARY) {
    if (!v.is(T_INTEGER) && !v.is(T_CHAR)) raise_error(Err::ScriptInvalidArg, &v);
  } else if (!block && t != T_VECTOR && !v.is(T_CHAR)) {
    raise_error(Err::ScriptInvalidArg, &v);
  }
  bool owned = ownership_check(&s, Change::kPoke, &v, i32(i), 1);
  if (owned && (i = element_index(&s, n)) < 0) out_of_range(n);
  if (block) {
    buffer_of(&s)->cells()[i] = v;
    if (t == T_HASH) hash_replaced(&s, i32(i));
  } else if (t == T_VECTOR) {
    if (!vector::set_at(&s, i32(i), &v)) raise_error(Err::ScriptInvalidArg, &v);
  } else if (t == T_BINARY) {
    *unit_ptr(buffer_of(&s), i) = u8(v.is(T_CHAR) ? v.char_value() : u32(v.int_value()));
  } else {
    Series* b = buffer_of(&s);
    string::write_char(b, unit_ptr(b, i), v.char_value());
  }
  if (owned) ownership_done(&s, Change::kPoked, &v, i32(i), 1);
  return value;
}

// ---- modifying actions

void clear(Cell* s) {
  i32 i = std::max(index_of(s), 0);
  i32 n = total_length(s) - i;
  if (n <= 0) return;
  bool owned = ownership_check(s, Change::kClear, nullptr, i, n);
  if (owned) {
    i = std::max(index_of(s), 0);
    n = total_length(s) - i;
  }
  if (n > 0) {
    if (s->is(T_HASH)) hash_removed(s, i, n);
    Series* b = buffer_of(s);
    b->tail = b->head + (u32(i) << b->unit_shift());
  }
  ownership_done(s, Change::kCleared, nullptr, i, 0);
}

void remove(Cell* s, Cell* part, Cell* key) {
  i32 count = part ? part_count(s, part) : 1;
  if (count < 1) return;
  if (key) {
    auto find = actions::lookup<actions::kFind>(s->type());
    actions::FindOptions o;
    o.case_ = true;
    Cell* found = find(s, key, o);
    if (!found->is(s->type()) || found->series_node() != s->series_node()) {
      set_none(s);
      return;
    }
    s->set_series_index(found->series_index());
    count++;
  }
  i32 i = std::max(index_of(s), 0);
  if (i >= total_length(s)) return;
  bool owned = ownership_check(s, Change::kRemove, nullptr, i, count);
  if (owned) i = std::max(index_of(s), 0);
  i32 total = total_length(s);
  if (i < total) {
    Series* b = buffer_of(s);
    u32 sh = b->unit_shift();
    if (i64(i) + count < total) {
      u8* at = unit_ptr(b, i);
      std::memmove(at, at + (u32(count) << sh), u32(total - i - count) << sh);
      b->tail -= u32(count) << sh;
    } else {
      b->tail = b->head + (u32(i) << sh);
    }
    if (s->is(T_HASH)) hash_removed(s, i, count);
  }
  ownership_done(s, Change::kRemoved, nullptr, i, 0);
}

void reverse(Cell* s, Cell* part, Cell* skip) {
  if (index_at_tail(s)) return;
  i32 len = clamped_length_at(s);
  i32 count = part ? part_count(s, part) : len;
  if (count < 1) return;
  // A /part beyond the tail reverses what is there, never memory past it.
  if (count > len) count = len;
  i32 size = 1;
  if (skip) {
    if (!skip->is(T_INTEGER)) bad_refine("skip", skip);
    size = skip->int_value();
    if (size == count) return;
    if (size < 1) out_of_range(size);
    if (size > count || count % size) bad_refine("skip", skip);
  }
  i32 i = std::max(index_of(s), 0);
  bool owned = ownership_check(s, Change::kReverse, nullptr, i, count);
  if (owned) {
    // What is left of the stretch, in whole records.
    count = std::min(count, clamped_length_at(s));
    count -= count % size;
    i = std::max(index_of(s), 0);
  }
  if (count > size) {
    Series* b = buffer_of(s);
    u32 rec = u32(size) << b->unit_shift();
    u8* lo = unit_ptr(b, i);
    u8* hi = unit_ptr(b, i64(i) + count - size);
    while (lo < hi) {
      swap_bytes(lo, hi, rec);
      lo += rec;
      hi -= rec;
    }
    if (s->is(T_HASH)) hash_rebuild(s);
  }
  ownership_done(s, Change::kReversed, nullptr, i, count);
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
  u32 tt = target->type();
  if (!is_any_series(tt)) {
    Cell fn = stack::calling_word();
    Cell dt = datatype_cell(tt);
    Cell arg = word::name("target");
    raise_error(Err::ScriptExpectArg, &fn, &dt, &arg);
  }
  i32 want = 1;
  if (part) {
    if (!part->is(T_INTEGER)) bad_refine("part", part);
    want = part->int_value();
    if (want < 1) return target;
  }
  const bool same = origin->series_node() == target->series_node();
  u32 st = origin->type();
  if (!same) {
    bool sblock = is_any_block(st), tblock = is_any_block(tt);
    if ((sblock && is_any_string(tt)) || (is_any_string(st) && tblock)) move_bad(st, tt);
    // Vector elements go only to a vector of their own kind.
    if ((st == T_VECTOR || tt == T_VECTOR) && (st != tt || origin->vector_type() != target->vector_type())) move_bad(st, tt);
  }
  // The stretch: count units from the origin's index s, to the target's index t.
  struct Plan {
    i32 count, s, t;
  } p;
  auto plan = [&] {
    p.count = std::min(want, clamped_length_at(origin));
    p.s = std::max(index_of(origin), 0);
    p.t = std::clamp(index_of(target), 0, total_length(target));
    // Nothing moves onto itself; a target inside the moved range would move
    // the range into itself.
    return p.count > 0 && !(same && p.t >= p.s && p.t < p.s + p.count);
  };
  if (!plan()) return same && p.count > 0 && p.t != p.s ? origin : target;
  bool owned = ownership_check(target, Change::kMove, origin, p.s, p.count);
  if (owned && !plan()) {
    ownership_done(target, Change::kMoved, nullptr, p.t, 0);
    return target;
  }
  i32 count = p.count, s = p.s, t = p.t;

  if (same) {
    Series* b = buffer_of(target);
    u32 sh = b->unit_shift();
    u8* base = b->head_ptr();
    i32 dest;
    if (t > s) {
      std::rotate(base + (u32(s) << sh), base + (u32(s + count) << sh), base + (u32(t) << sh));
      dest = t - count;
    } else {
      std::rotate(base + (u32(t) << sh), base + (u32(s) << sh), base + (u32(s + count) << sh));
      dest = t;
    }
    if (tt == T_HASH) hash_moved(target, s, dest, count);
    ownership_done(target, Change::kMoved, nullptr, dest, count);
    return target;
  }

  u32 su = buffer_of(origin)->unit(), tu = buffer_of(target)->unit();
  if (su != tu) {
    // Only text of different widths can meet: anything else would mix units.
    if (!is_any_string(st) || !is_any_string(tt)) move_bad(st, tt);
    string::move_units(origin, target, count);
    ownership_done(target, Change::kMoved, nullptr, t, count);
    return target;
  }
  u32 sh = buffer_of(target)->unit_shift();
  u32 bytes = u32(count) << sh;
  Series* tb = buffer_of(target);
  if (tb->room() < bytes) {
    u64 grown = align_up((u64(tb->bytes_used()) + bytes) * 2, 16);
    if (grown > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
    tb = mem::expand_series(tb, u32(grown));
  }
  Series* sb = buffer_of(origin);  // re-derived: the expansion may have moved it
  i32 ttotal = total_length(target);
  u8* at = unit_ptr(tb, t);
  std::memmove(at + bytes, at, u32(ttotal - t) << sh);
  std::memcpy(at, unit_ptr(sb, s), bytes);
  tb->tail += bytes;
  u8* gap = unit_ptr(sb, s);
  std::memmove(gap, gap + bytes, u32(total_length(origin) - s - count) << sh);
  sb->tail -= bytes;
  if (st == T_HASH) hash_removed(origin, s, count);
  if (tt == T_HASH) hash_inserted(target, t, count);
  ownership_done(target, Change::kMoved, nullptr, t, count);
  return target;
}

Cell* take(Cell* s, Cell* part, bool deep, bool last) {
  (void)deep;
  if (clamped_length_at(s) < 1) return none_answer();
  i64 n = 1;
  if (part) {
    if (part->is(T_INTEGER)) {
      n = part->int_value();
    } else if (same_series(s, part)) {
      i64 d = i64(part->series_index()) - index_of(s);
      n = d < 0 ? 0 : (last ? clamped_length_at(s) - d : d);
      if (n < 0) n = 0;
    } else {
      bad_refine("part", part);
    }
  }
  // The stretch taken: forwards from the index (or the last units with /last),
  // backwards the units before the index; /part 0 takes nothing.
  i64 start = 0, count = 0;
  auto plan = [&] {
    i32 len = clamped_length_at(s);
    i32 i = std::max(index_of(s), 0);
    start = i;
    count = 0;
    if (n > 0) {
      count = std::min<i64>(n, len);
      start = last ? total_length(s) - count : i;
    } else if (n < 0 && !last) {
      count = std::min<i64>(-n, i);
      start = i - count;
    }
  };
  plan();
  bool owned = false;
  if (count > 0) {
    owned = ownership_check(s, Change::kTake, nullptr, index_of(s), i32(std::clamp<i64>(n, INT32_MIN, INT32_MAX)));
    if (owned && clamped_length_at(s) < 1) {
      // The handler left nothing to take.
      ownership_done(s, Change::kTaken, nullptr, index_of(s), 0);
      return none_answer();
    }
    if (owned) plan();
  }
  Cell* out = stack::push(&datatype::g_none);
  make_like(s, u32(count), out);
  if (count > 0) {
    Series* src = buffer_of(s);
    Series* dst = buffer_of(out);
    u32 sh = src->unit_shift();
    u32 bytes = u32(count) << sh;
    u8* from = unit_ptr(src, start);
    std::memcpy(dst->head_ptr(), from, bytes);
    dst->tail = dst->head + bytes;
    std::memmove(from, from + bytes, u32(total_length(s) - start - count) << sh);
    src->tail -= bytes;
    if (s->is(T_HASH)) {
      hash_removed(s, i32(start), i32(count));
      hash_new_table(out);
    }
  }
  if (count > 0) ownership_done(s, Change::kTaken, nullptr, index_of(s), 0);
  return out;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
  (void)deep, (void)kind;
  i64 i = index_of(value);
  i64 total = total_length(value);
  i64 start = i, count = std::max<i64>(total - i, 0);
  if (part) {
    if (part->is(T_INTEGER)) {
      count = part->int_value();
    } else if (part->is(T_PAIR)) {
      i64 x = pair::x_of(part), y = pair::y_of(part);
      start = x < 0 ? i + x : i + x - 1;
      if (start < 0) start = 0;
      count = y < x ? 0 : y - x;
    } else if (same_series(value, part)) {
      count = i64(part->series_index()) - i;
    } else {
      bad_refine("part", part);
    }
    if (count < 0) {
      start += count;
      count = -count;
      if (start < 0) {
        start = 0;
        count = i;
      }
    }
  }
  if (start > total) {
    start = total;
    count = 0;
  }
  if (start + count > total) count = total - start;
  u32 keep = value->header & kCellNewLine;
  make_like(value, u32(count), result);
  result->header |= keep;
  Series* src = buffer_of(value);
  Series* dst = buffer_of(result);
  u32 bytes = u32(count) << src->unit_shift();
  std::memcpy(dst->head_ptr(), unit_ptr(src, start), bytes);
  dst->tail = dst->head + bytes;
  return result;
}

void random(Cell* value, bool seed, bool secure, bool only) {
  if (seed) {
    if (!g_services.hash_bytes) service_missing();
    i32 len = clamped_length_at(value);
    Series* b = buffer_of(value);
    u32 h = g_services.hash_bytes(unit_ptr(b, index_of(value)), u32(len) << b->unit_shift());
    return random_seed_value(value, h);
  }
  i32 len = clamped_length_at(value);
  i32 i = index_of(value);
  if (only) {
    if (len < 1) {
      set_none(value);
      return;
    }
    i64 at = i64(i) + random_range(len, secure) - 1;
    if (is_any_block(value->type()))
      *value = buffer_of(value)->cells()[at];
    else
      read_element(value, at, value);
    return;
  }
  bool owned = ownership_check(value, Change::kRandom, nullptr, i, len);
  if (owned) {
    len = clamped_length_at(value);
    i = index_of(value);
  }
  for (i32 pos = i, left = len; left > 0; pos++, left--) {
    i32 r = random_range(left, secure);
    if (r == 1) continue;
    Series* b = buffer_of(value);
    swap_bytes(unit_ptr(b, pos), unit_ptr(b, i64(pos) + r - 1), b->unit());
  }
  if (value->is(T_HASH)) hash_rebuild(value);
  if (owned) ownership_done(value, Change::kRandomized, nullptr, i, len);
}

// Ownership is not tracked yet: no series has an owner to report.
void reflect(Cell* value, u32 field_symbol) {
  u32 owned = words::sym(w::owned);
  if (!owned || symbol::resolve(field_symbol) != symbol::resolve(owned)) raise_error(Err::InternalNotDone);
  set_none(value);
}

// Only the field `owned` acts: none unbinds the series from its owner, a
// block [owner word] binds it (an object's handlers then hear its changes);
// every other field is ignored.
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
  (void)case_;
  u32 owned = words::sym(w::owned);
  if (!owned || !(field->is(T_WORD) || field->is(T_LIT_WORD)) ||
      symbol::resolve(field->word_symbol()) != symbol::resolve(owned))
    return value;
  Cell t = *target, v = *value;
  if (v.is(T_NONE)) {
    ownership::unbind(&t);
  } else if (v.is(T_BLOCK)) {
    mem::Series* b = mem::series_of(v.series_node());
    const u32 at = u32(v.series_index());
    if (at + 1 >= b->length() || !b->cells()[at].is(T_OBJECT)) raise_error(Err::ScriptInvalidArg, &v);
    Cell owner = b->cells()[at], word = b->cells()[at + 1];
    ownership::set_owner(&t, &owner, &word);
  } else {
    raise_error(Err::ScriptInvalidArg, &v);
  }
  return value;
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kRandom>(&random);
  slots.set<kReflect>(&reflect);
  slots.set<kAt>(&at);
  slots.set<kBack>(&back);
  slots.set<kClear>(&clear);
  slots.set<kCopy>(&copy);
  slots.set<kHead>(&head);
  slots.set<kHeadQ>(&head_q);
  slots.set<kIndexQ>(&index_q);
  slots.set<kLengthQ>(&length_q);
  slots.set<kMove>(&move);
  slots.set<kNext>(&next);
  slots.set<kPick>(&pick);
  slots.set<kPoke>(&poke);
  slots.set<kRemove>(&remove);
  slots.set<kReverse>(&reverse);
  slots.set<kSkip>(&skip);
  slots.set<kTail>(&tail);
  slots.set<kTailQ>(&tail_q);
  slots.set<kTake>(&take);
  slots.set<kModify>(&modify);
  datatype::register_type(T_SERIES, 0, "series!", slots);
}

}  // namespace zot::series
